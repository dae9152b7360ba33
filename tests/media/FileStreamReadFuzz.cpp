// Arbitrary byte ranges, sample times and stream positions against the file source's read
// paths: no crash or overrun, data always from the right place, positions inside the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MemoryFiles.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/Dshow.h"
#include "media/FileStreamFilter.h"

namespace {

void requireAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "file source read path: check at line %d failed\n", line);
    std::abort();
}
#define require(c) requireAt((c), __LINE__)

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    template <class T>
    T take() {
        T v{};
        size_t n = std::min(sizeof v, size - at);
        std::memcpy(&v, data + at, n);
        at += n;
        return v;
    }
    bool done() const { return at >= size; }
};

constexpr LONG kBuffer = 4096;

bool matches(const BYTE* p, int64_t from, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        if (p[i] != static_cast<BYTE>((from + i) % 251)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    memoryfiles::MemoryFile file;
    int64_t length = in.take<uint16_t>() % 20000;
    file.bytes = memoryfiles::pattern(static_cast<size_t>(length));
    memoryfiles::Registration reg(u"fuzz.mbc", &file);

    InterfacePtr<FileStreamFilter> filter(new FileStreamFilter(memoryfiles::callbacks()));
    require(filter->Load(u"fuzz.mbc", nullptr) == S_OK);
    InterfacePtr<IAsyncReader> reader;
    InterfacePtr<IStream> stream;
    require(filter->GetPin(0)->QueryInterface(IAsyncReader::iid, reader.putVoid()) == S_OK);
    require(filter->GetPin(0)->QueryInterface(IStream::iid, stream.putVoid()) == S_OK);
    InterfacePtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES want{2, kBuffer, 1, 0}, got{};
    require(reader->RequestAllocator(nullptr, &want, allocator.put()) == S_OK);
    require(allocator->SetProperties(&want, &got) == S_OK && allocator->Commit() == S_OK);
    std::vector<BYTE> buffer(kBuffer);

    for (int step = 0; step < 32 && !in.done(); ++step) {
        switch (in.take<uint8_t>() % 4) {
            case 0: {  // a synchronous read inside the caller's buffer
                int64_t pos = in.take<int64_t>();
                LONG len = static_cast<LONG>(in.take<uint16_t>() % (kBuffer + 1));
                HRESULT hr = reader->SyncRead(pos, len, buffer.data());
                if (hr == S_OK) require(pos >= 0 && pos <= length - len && matches(buffer.data(), pos, len));
                break;
            }
            case 1:    // a queued read of arbitrary times
            case 2: {  // the same, read at once
                InterfacePtr<IMediaSample> sample;
                require(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0) == S_OK);
                REFERENCE_TIME start = in.take<int64_t>(), stop = in.take<int64_t>();
                sample->SetTime(&start, &stop);
                bool queued = (data[in.at - 1] & 1) == 0;
                HRESULT hr;
                IMediaSample* done = sample.get();
                if (queued) {
                    hr = reader->Request(sample.get(), 7);
                    if (FAILED(hr)) break;
                    DWORD_PTR context = 0;
                    hr = reader->WaitForNext(INFINITE, &done, &context);
                    require(done == sample.get() && context == 7);
                    done->Release();
                } else {
                    hr = reader->SyncReadAligned(sample.get());
                }
                if (SUCCEEDED(hr)) {
                    REFERENCE_TIME s = 0, e = 0;
                    sample->GetTime(&s, &e);
                    LONG actual = sample->GetActualDataLength();
                    BYTE* p = nullptr;
                    sample->GetPointer(&p);
                    require(actual >= 0 && actual <= kBuffer && s / UNITS + actual <= length);
                    require(matches(p, s / UNITS, actual));
                }
                break;
            }
            case 3: {  // stream positions stay inside the file
                LARGE_INTEGER move{in.take<int64_t>()};
                DWORD origin = in.take<uint8_t>() % 4;
                ULARGE_INTEGER at{};
                if (SUCCEEDED(stream->Seek(move, origin, &at))) {
                    require(at.QuadPart <= static_cast<ULONGLONG>(length));
                    ULONG read = 0;
                    require(stream->Read(buffer.data(), kBuffer, &read) == S_OK);
                    require(at.QuadPart + read <= static_cast<ULONGLONG>(length));
                    require(matches(buffer.data(), static_cast<int64_t>(at.QuadPart), read));
                }
                break;
            }
        }
    }
    allocator->Decommit();
    return 0;
}

// Seeds: a file of a few thousand bytes and one step of each kind around its end.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    auto put = [](std::vector<uint8_t>& v, auto value) {
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        v.insert(v.end(), p, p + sizeof value);
    };
    std::vector<uint8_t> s;
    put(s, uint16_t{3000});
    put(s, uint8_t{0});
    put(s, int64_t{2900});
    put(s, uint16_t{200});
    for (uint8_t kind : {uint8_t{1}, uint8_t{2}}) {
        put(s, kind);
        put(s, int64_t{2800} * UNITS);
        put(s, int64_t{3300} * UNITS);
    }
    put(s, uint8_t{3});
    put(s, int64_t{-100});
    put(s, uint8_t{2});
    seeds->push_back(s);
}
