// The file source: loading and the announced type, the container table, the pull
// interface's request queue (end of file, time-outs, flushing), the stream view and the
// rule that only a pin asking for the pull interface may connect.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "MemoryFiles.h"
#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/CMemAllocator.h"
#include "framework/dshow/Dshow.h"
#include "media/ContainerFormatTable.h"
#include "media/FileStreamFilter.h"

using namespace memoryfiles;

namespace {

struct Loaded {
    explicit Loaded(size_t size, std::u16string name = u"movie.mbc") : reg(name, &file) {
        file.bytes = pattern(size);
        filter = InterfacePtr<FileStreamFilter>(new FileStreamFilter(callbacks()));
        EXPECT_EQ(filter->Load(name.c_str(), nullptr), S_OK);
        IPin* pin = filter->GetPin(0);
        EXPECT_EQ(pin->QueryInterface(IAsyncReader::iid, reader.putVoid()), S_OK);
    }
    // A committed allocator of count buffers of size bytes.
    InterfacePtr<IMemAllocator> allocator(LONG count, LONG size) {
        InterfacePtr<IMemAllocator> a;
        ALLOCATOR_PROPERTIES want{count, size, 1, 0}, got{};
        EXPECT_EQ(reader->RequestAllocator(nullptr, &want, a.put()), S_OK);
        EXPECT_EQ(a->SetProperties(&want, &got), S_OK);
        EXPECT_EQ(a->Commit(), S_OK);
        return a;
    }
    static InterfacePtr<IMediaSample> sampleFor(IMemAllocator* a, int64_t from, int64_t to) {
        InterfacePtr<IMediaSample> s;
        EXPECT_EQ(a->GetBuffer(s.put(), nullptr, nullptr, 0), S_OK);
        REFERENCE_TIME start = from * UNITS, stop = to * UNITS;
        s->SetTime(&start, &stop);
        return s;
    }

    MemoryFile file;
    Registration reg;
    InterfacePtr<FileStreamFilter> filter;
    InterfacePtr<IAsyncReader> reader;
};

bool bytesMatch(IMediaSample* s, int64_t from) {
    BYTE* p = nullptr;
    s->GetPointer(&p);
    for (LONG i = 0; i < s->GetActualDataLength(); ++i)
        if (p[i] != static_cast<BYTE>((from + i) % 251)) return false;
    return true;
}

// An input pin that may or may not ask for the pull interface while connecting.
class PlainInputPin : public CBasePin {
public:
    PlainInputPin(CBaseFilter* f, CriticalSection* lock, bool ask)
        : CBasePin(u"In", f, lock, nullptr, u"In", PINDIR_INPUT), ask_(ask) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT CompleteConnect(IPin* peer) override {
        if (ask_) {
            InterfacePtr<IAsyncReader> r;
            peer->QueryInterface(IAsyncReader::iid, r.putVoid());
        }
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

private:
    bool ask_;
};

class PlainSink : public CBaseFilter {
public:
    explicit PlainSink(bool ask) : CBaseFilter(u"Plain Sink", &lock_, GUID_NULL), pin_(this, &lock_, ask) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

private:
    CriticalSection lock_;
    PlainInputPin pin_;
};

}  // namespace

TEST(ContainerFormatTableTest, ExtensionsMapToStreamSubtypes) {
    EXPECT_EQ(ContainerFormatTable::rows().size(), 16u);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"MBC"), guidOf("{AB11E48A-AB30-45E6-9CF3-F3591C47479D}"));
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"WeBm"), MEDIASUBTYPE_WebMStream);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"mpeg"), MEDIASUBTYPE_MPEG1System);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"m1v"), MEDIASUBTYPE_MPEG1Video);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"xyz"), GUID_NULL);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u""), GUID_NULL);
    EXPECT_EQ(ContainerFormatTable::subtypeForExtension(u"mbcmbcmbc"), GUID_NULL);
    // Two extensions share the Windows Media subtype; the first row answers for it.
    const ContainerFormat* row = ContainerFormatTable::findBySubtype(MEDIASUBTYPE_Asf);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->extension, u"wma");
    EXPECT_EQ(row->handler, ContainerHandler::WindowsMedia);
    EXPECT_EQ(ContainerFormatTable::findByExtension(u"avi")->handler, ContainerHandler::NotHandled);
}

TEST(FileStreamFilterTest, LoadAnnouncesTheContainerOfTheExtension) {
    MemoryFile file;
    file.bytes = pattern(100);
    Registration a(u"dir.v2/clip.OGV", &file), b(u"dir.v2/noext", &file), c(u"x.unknown", &file);

    InterfacePtr<FileStreamFilter> f(new FileStreamFilter(callbacks()));
    CMediaType type;
    EXPECT_EQ(f->GetPin(0)->GetMediaType(0, &type), E_UNEXPECTED);
    LPOLESTR name = nullptr;
    EXPECT_EQ(f->GetCurFile(&name, nullptr), E_FAIL);
    EXPECT_EQ(f->Load(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(f->Load(u"missing.mbc", nullptr), E_INVALIDARG);
    ASSERT_EQ(f->Load(u"dir.v2/clip.OGV", nullptr), S_OK);
    EXPECT_EQ(f->Load(u"x.unknown", nullptr), E_FAIL);  // the first file stays

    ASSERT_EQ(f->GetPin(0)->GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_OggStream);
    EXPECT_EQ(type.lSampleSize, 1u);
    EXPECT_TRUE(type.IsFixedSize());
    EXPECT_EQ(f->GetPin(0)->GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(f->GetPin(0)->GetMediaType(-1, &type), E_INVALIDARG);

    AM_MEDIA_TYPE got{};
    ASSERT_EQ(f->GetCurFile(&name, &got), S_OK);
    EXPECT_EQ(std::u16string(name), u"dir.v2/clip.OGV");
    EXPECT_EQ(got.subtype, MEDIASUBTYPE_OggStream);
    CoTaskMemFree(name);
    FreeMediaType(got);
    EXPECT_EQ(f->GetCurFile(nullptr, nullptr), E_POINTER);

    // A dot in a folder name is no extension; an unknown one announces GUID_NULL, which
    // lets any stream subtype through.
    for (const char16_t* n : {u"dir.v2/noext", u"x.unknown"}) {
        InterfacePtr<FileStreamFilter> g(new FileStreamFilter(callbacks()));
        ASSERT_EQ(g->Load(n, nullptr), S_OK);
        ASSERT_EQ(g->GetPin(0)->GetMediaType(0, &type), S_OK);
        EXPECT_EQ(type.subtype, GUID_NULL);
        CMediaType any;
        any.SetType(&MEDIATYPE_Stream);
        any.SetSubtype(&MEDIASUBTYPE_Avi);
        EXPECT_EQ(g->GetPin(0)->QueryAccept(&any), S_OK);
        any.SetType(&MEDIATYPE_Video);
        EXPECT_EQ(g->GetPin(0)->QueryAccept(&any), S_FALSE);
    }
    f.reset();
    EXPECT_TRUE(file.closed);
}

TEST(FileStreamFilterTest, RequestPastTheEndIsCutAndRestamped) {
    Loaded l(1000);
    InterfacePtr<IMemAllocator> a = l.allocator(8, 512);
    InterfacePtr<IMediaSample> s = Loaded::sampleFor(a.get(), 800, 1200);
    ASSERT_EQ(l.reader->Request(s.get(), 42), S_OK);
    IMediaSample* done = nullptr;
    DWORD_PTR context = 0;
    ASSERT_EQ(l.reader->WaitForNext(INFINITE, &done, &context), S_OK);
    EXPECT_EQ(done, s.get());
    EXPECT_EQ(context, 42u);
    EXPECT_EQ(done->GetActualDataLength(), 200);
    REFERENCE_TIME start = 0, stop = 0;
    done->GetTime(&start, &stop);
    EXPECT_EQ(start, 800 * UNITS);
    EXPECT_EQ(stop, 1000 * UNITS);
    EXPECT_TRUE(bytesMatch(done, 800));
    done->Release();

    // Nothing of the range inside the file, or more than the buffer holds: refused.
    InterfacePtr<IMediaSample> beyond = Loaded::sampleFor(a.get(), 1000, 1100);
    EXPECT_TRUE(FAILED(l.reader->Request(beyond.get(), 0)));
    InterfacePtr<IMediaSample> huge = Loaded::sampleFor(a.get(), 0, 900);
    EXPECT_EQ(l.reader->Request(huge.get(), 0), VFW_E_BUFFER_OVERFLOW);

    // Requests are served in the order they came.
    std::vector<InterfacePtr<IMediaSample>> held;
    for (int i = 0; i < 2; ++i) {
        held.push_back(Loaded::sampleFor(a.get(), i * 100, i * 100 + 100));
        ASSERT_EQ(l.reader->Request(held.back().get(), static_cast<DWORD_PTR>(i)), S_OK);
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(l.reader->WaitForNext(INFINITE, &done, &context), S_OK);
        EXPECT_EQ(context, static_cast<DWORD_PTR>(i));
        EXPECT_TRUE(bytesMatch(done, i * 100));
        done->Release();
    }
}

TEST(FileStreamFilterTest, SynchronousReadsAndLength) {
    Loaded l(1000);
    std::vector<BYTE> buffer(300);
    EXPECT_EQ(l.reader->SyncRead(100, 300, buffer.data()), S_OK);
    EXPECT_EQ(buffer[0], 100);
    EXPECT_EQ(l.reader->SyncRead(900, 300, buffer.data()), S_FALSE);  // short at the end
    EXPECT_EQ(buffer[99], static_cast<BYTE>(999 % 251));
    EXPECT_EQ(l.reader->SyncRead(-1, 10, buffer.data()), E_INVALIDARG);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(l.reader->Length(&total, &available), S_OK);
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(available, 1000);

    InterfacePtr<IMemAllocator> a = l.allocator(1, 512);
    InterfacePtr<IMediaSample> s = Loaded::sampleFor(a.get(), 700, 1100);
    EXPECT_EQ(l.reader->SyncReadAligned(s.get()), S_OK);
    EXPECT_EQ(s->GetActualDataLength(), 300);
    EXPECT_TRUE(bytesMatch(s.get(), 700));
}

TEST(FileStreamFilterTest, WaitForNextWithTimeoutZeroReturnsAtOnce) {
    Loaded l(100);
    IMediaSample* s = nullptr;
    DWORD_PTR context = 0;
    EXPECT_EQ(l.reader->WaitForNext(0, &s, &context), VFW_E_TIMEOUT);
    EXPECT_EQ(s, nullptr);
}

TEST(FileStreamFilterTest, BeginFlushWaitsForTheReadInProgress) {
    Loaded l(1000);
    InterfacePtr<IMemAllocator> a = l.allocator(4, 256);
    l.file.hold();
    InterfacePtr<IMediaSample> first = Loaded::sampleFor(a.get(), 0, 100);
    InterfacePtr<IMediaSample> second = Loaded::sampleFor(a.get(), 100, 200);
    ASSERT_EQ(l.reader->Request(first.get(), 1), S_OK);
    ASSERT_EQ(l.reader->Request(second.get(), 2), S_OK);
    l.file.waitUntilAReadWaits();  // the first request is being read

    std::atomic<bool> flushed{false};
    std::thread flusher([&] {
        l.reader->BeginFlush();
        flushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(flushed.load());
    l.file.release();
    flusher.join();
    EXPECT_TRUE(flushed.load());

    // The queued request comes back unread, the one in progress with its data.
    IMediaSample* done = nullptr;
    DWORD_PTR context = 0;
    std::map<DWORD_PTR, HRESULT> results;
    for (int i = 0; i < 2; ++i) {
        HRESULT hr = l.reader->WaitForNext(INFINITE, &done, &context);
        ASSERT_NE(done, nullptr);
        results[context] = hr;
        done->Release();
    }
    EXPECT_EQ(results[1], S_OK);
    EXPECT_EQ(results[2], VFW_E_WRONG_STATE);
    EXPECT_EQ(l.reader->WaitForNext(INFINITE, &done, &context), VFW_E_WRONG_STATE);
    EXPECT_EQ(l.reader->Request(first.get(), 3), VFW_E_WRONG_STATE);

    l.reader->EndFlush();
    EXPECT_EQ(l.reader->WaitForNext(0, &done, &context), VFW_E_TIMEOUT);
    ASSERT_EQ(l.reader->Request(first.get(), 4), S_OK);
    ASSERT_EQ(l.reader->WaitForNext(INFINITE, &done, &context), S_OK);
    EXPECT_EQ(context, 4u);
    done->Release();
}

TEST(FileStreamFilterTest, StreamViewReadsSeeksAndClones) {
    Loaded l(1000);
    InterfacePtr<IStream> stream;
    ASSERT_EQ(l.filter->GetPin(0)->QueryInterface(IStream::iid, stream.putVoid()), S_OK);
    ULARGE_INTEGER at{};
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{-50}, STREAM_SEEK_SET, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 0u);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{5000}, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 1000u);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{-100}, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 900u);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, 7, &at), STG_E_INVALIDFUNCTION);

    std::vector<BYTE> buffer(300);
    ULONG got = 0;
    ASSERT_EQ(stream->Read(buffer.data(), 300, &got), S_OK);
    EXPECT_EQ(got, 100u);  // clamped to the end
    EXPECT_EQ(buffer[0], static_cast<BYTE>(900 % 251));
    ASSERT_EQ(stream->Read(buffer.data(), 300, &got), S_OK);
    EXPECT_EQ(got, 0u);

    stream->Seek(LARGE_INTEGER{10}, STREAM_SEEK_SET, nullptr);
    InterfacePtr<IStream> clone;
    ASSERT_EQ(stream->Clone(clone.put()), S_OK);
    clone->Seek(LARGE_INTEGER{500}, STREAM_SEEK_CUR, nullptr);
    ASSERT_EQ(stream->Read(buffer.data(), 1, &got), S_OK);
    EXPECT_EQ(buffer[0], 10);  // the original did not move
    ASSERT_EQ(clone->Read(buffer.data(), 1, &got), S_OK);
    EXPECT_EQ(buffer[0], static_cast<BYTE>(510 % 251));

    STATSTG stat{};
    EXPECT_EQ(stream->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), E_INVALIDARG);
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize.QuadPart, 1000u);
    EXPECT_NE(stat.mtime.dwHighDateTime, 0u);

    ULONG written = 0;
    EXPECT_EQ(stream->Write(buffer.data(), 1, &written), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{1}), STG_E_INVALIDFUNCTION);

    // Copying into a view that accepts nothing.
    ULARGE_INTEGER read{}, wrote{};
    stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(stream->CopyTo(clone.get(), ULARGE_INTEGER{100}, &read, &wrote), STG_E_MEDIUMFULL);
    EXPECT_EQ(wrote.QuadPart, 0u);
    // The clone keeps the filter (and the file) alive on its own.
    stream.reset();
    l.reader.reset();
    l.filter.reset();
    ASSERT_EQ(clone->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(clone->Read(buffer.data(), 4, &got), S_OK);
    EXPECT_EQ(got, 4u);
}

TEST(FileStreamFilterTest, OnlyAPinThatAskedForThePullInterfaceConnects) {
    MemoryFile file;
    file.bytes = pattern(100);
    Registration reg(u"a.mbc", &file);
    InterfacePtr<FileStreamFilter> filter(new FileStreamFilter(callbacks()));
    ASSERT_EQ(filter->Load(u"a.mbc", nullptr), S_OK);
    InterfacePtr<PlainSink> silent(new PlainSink(false)), asking(new PlainSink(true));
    IPin* out = filter->GetPin(0);
    EXPECT_EQ(out->Connect(silent->GetPin(0), nullptr), VFW_E_NO_TRANSPORT);
    EXPECT_FALSE(filter->GetPin(0)->IsConnected());
    EXPECT_FALSE(silent->GetPin(0)->IsConnected());
    ASSERT_EQ(out->Connect(asking->GetPin(0), nullptr), S_OK);
    // A disconnection forgets that it was asked.
    ASSERT_EQ(out->Disconnect(), S_OK);
    asking->GetPin(0)->Disconnect();
    EXPECT_EQ(out->Connect(silent->GetPin(0), nullptr), VFW_E_NO_TRANSPORT);
}
