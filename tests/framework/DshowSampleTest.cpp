// Media samples, the memory allocator and the media-type and string helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DshowTestFilters.h"
#include "framework/dshow/CMemAllocator.h"

using namespace dshowtest;

namespace {

InterfacePtr<IMemAllocator> makeAllocator(LONG count, LONG size, LONG align = 1, LONG prefix = 0,
                                          ALLOCATOR_PROPERTIES* actualOut = nullptr) {
    InterfacePtr<IMemAllocator> alloc;
    EXPECT_EQ(CMemAllocator::create(nullptr, IMemAllocator::iid, alloc.putVoid()), S_OK);
    ALLOCATOR_PROPERTIES req{count, size, align, prefix}, actual{};
    EXPECT_EQ(alloc->SetProperties(&req, &actual), S_OK);
    if (actualOut) *actualOut = actual;
    return alloc;
}

TEST(DshowAllocator, PropertiesAreCheckedAndRoundedForAlignment) {
    InterfacePtr<IMemAllocator> alloc;
    ASSERT_EQ(CMemAllocator::create(nullptr, IMemAllocator::iid, alloc.putVoid()), S_OK);
    ALLOCATOR_PROPERTIES actual{};
    ALLOCATOR_PROPERTIES bad{2, 100, 3, 0};
    EXPECT_EQ(alloc->SetProperties(&bad, &actual), VFW_E_BADALIGN);
    bad.cbAlign = 0;
    EXPECT_EQ(alloc->SetProperties(&bad, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(alloc->Commit(), VFW_E_SIZENOTSET);

    ALLOCATOR_PROPERTIES req{3, 100, 32, 12};
    ASSERT_EQ(alloc->SetProperties(&req, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 3);
    EXPECT_EQ(actual.cbAlign, 32);
    EXPECT_EQ(actual.cbPrefix, 12);
    EXPECT_EQ(actual.cbBuffer, 128 - 12);  // prefix + buffer fill whole aligned slots

    ASSERT_EQ(alloc->Commit(), S_OK);
    EXPECT_EQ(alloc->SetProperties(&req, &actual), VFW_E_ALREADY_COMMITTED);
    IMediaSample* samples[3] = {};
    for (auto& s : samples) {
        ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        BYTE* p = nullptr;
        s->GetPointer(&p);
        EXPECT_EQ((reinterpret_cast<uintptr_t>(p) - 12) % 32, 0u);
        EXPECT_EQ(s->GetSize(), 116);
    }
    // All out: a non-blocking request fails at once.
    IMediaSample* extra = nullptr;
    EXPECT_EQ(alloc->GetBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    alloc->Decommit();
    // Decommitted with samples out: properties cannot change until they are back.
    EXPECT_EQ(alloc->SetProperties(&req, &actual), VFW_E_BUFFERS_OUTSTANDING);
    for (auto* s : samples) s->Release();
    EXPECT_EQ(alloc->SetProperties(&req, &actual), S_OK);
}

TEST(DshowAllocator, GetBufferWaitsForAReturnedSample) {
    auto alloc = makeAllocator(1, 64);
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

    std::atomic<bool> got{false};
    IMediaSample* second = nullptr;
    std::thread waiter([&] {
        EXPECT_EQ(alloc->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
        got = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got.load());
    held->Release();
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(second, held);  // the one buffer, recycled
    second->Release();
    alloc->Decommit();
}

TEST(DshowAllocator, DecommitWakesWaitersAndFreesLater) {
    auto alloc = makeAllocator(1, 64);
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    HRESULT waited = S_OK;
    std::thread waiter([&] {
        IMediaSample* s = nullptr;
        waited = alloc->GetBuffer(&s, nullptr, nullptr, 0);
        if (s) s->Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(alloc->Decommit(), S_OK);
    waiter.join();
    EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);

    // The outstanding sample still works and returns; a new commit reuses the memory.
    BYTE* p = nullptr;
    held->GetPointer(&p);
    p[0] = 7;
    held->Release();
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* again = nullptr;
    EXPECT_EQ(alloc->GetBuffer(&again, nullptr, nullptr, 0), S_OK);
    again->Release();
    alloc->Decommit();
}

TEST(DshowAllocator, OutstandingSampleKeepsAllocatorAlive) {
    auto alloc = makeAllocator(2, 16);
    alloc->Commit();
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    alloc->Decommit();
    alloc.reset();  // the sample's reference keeps it
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::memset(p, 1, 16);
    s->Release();  // the last reference: allocator and memory go
}

TEST(DshowSample, TimesFlagsAndLength) {
    auto alloc = makeAllocator(1, 32);
    alloc->Commit();
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->GetActualDataLength(), 32);

    REFERENCE_TIME a = -1, b = -1;
    EXPECT_EQ(s->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME start = 100, stop = 200;
    s->SetTime(&start, nullptr);
    EXPECT_EQ(s->GetTime(&a, &b), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(a, 100);
    EXPECT_EQ(b, 101);
    s->SetTime(&start, &stop);
    EXPECT_EQ(s->GetTime(&a, &b), S_OK);
    EXPECT_EQ(b, 200);
    s->SetTime(nullptr, nullptr);
    EXPECT_EQ(s->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);

    LONGLONG m0 = 0, m1 = 0, ms = 5, me = (LONGLONG{1} << 40);
    EXPECT_EQ(s->GetMediaTime(&m0, &m1), VFW_E_MEDIA_TIME_NOT_SET);
    s->SetMediaTime(&ms, &me);
    EXPECT_EQ(s->GetMediaTime(&m0, &m1), S_OK);
    EXPECT_EQ(m1, LONGLONG{1} << 40);  // kept whole, not as a 32-bit difference

    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    s->SetSyncPoint(TRUE);
    s->SetPreroll(TRUE);
    s->SetDiscontinuity(TRUE);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);
    EXPECT_EQ(s->IsPreroll(), S_OK);
    EXPECT_EQ(s->IsDiscontinuity(), S_OK);

    EXPECT_EQ(s->SetActualDataLength(33), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(10), S_OK);

    CMediaType mt = videoType();
    AM_MEDIA_TYPE* got = nullptr;
    EXPECT_EQ(s->GetMediaType(&got), S_FALSE);
    EXPECT_EQ(got, nullptr);
    s->SetMediaType(&mt);
    ASSERT_EQ(s->GetMediaType(&got), S_OK);
    EXPECT_TRUE(mediaTypesEqual(*got, mt));
    DeleteMediaType(got);

    // Back in the pool, the next user starts clean.
    s->Release();
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, AM_GBF_PREVFRAMESKIPPED), S_OK);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->IsPreroll(), S_FALSE);
    EXPECT_EQ(s->IsDiscontinuity(), S_OK);  // a skipped frame before this one
    EXPECT_EQ(s->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->GetMediaType(&got), S_FALSE);
    s->Release();
    alloc->Decommit();
}

TEST(DshowSample, PropertiesRoundTripAndShortRecordsAreSafe) {
    auto alloc = makeAllocator(1, 32);
    alloc->Commit();
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    InterfacePtr<IMediaSample2> s2 = InterfacePtr<IMediaSample>(s).as<IMediaSample2>();
    ASSERT_TRUE(s2);

    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = sizeof props;
    props.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    props.lActual = 20;
    props.tStart = 10;
    props.tStop = 30;
    ASSERT_EQ(s2->SetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), S_OK);
    REFERENCE_TIME a, b;
    EXPECT_EQ(s->GetTime(&a, &b), S_OK);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(s->GetActualDataLength(), 20);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);

    AM_SAMPLE2_PROPERTIES back{};
    ASSERT_EQ(s2->GetProperties(sizeof back, reinterpret_cast<BYTE*>(&back)), S_OK);
    EXPECT_EQ(back.tStop, 30);
    EXPECT_EQ(back.lActual, 20);
    EXPECT_EQ(back.cbBuffer, 32);

    // A record claiming more than it holds, or a length past the buffer, is refused.
    props.cbData = sizeof props + 100;
    EXPECT_EQ(s2->SetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), E_INVALIDARG);
    props.cbData = sizeof props;
    props.lActual = 33;
    EXPECT_EQ(s2->SetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), VFW_E_BUFFER_OVERFLOW);
    // A short record only touches what it covers.
    DWORD tiny = 4;
    EXPECT_EQ(s2->SetProperties(sizeof tiny, reinterpret_cast<BYTE*>(&tiny)), S_OK);
    s2.reset();
    s->Release();
    alloc->Decommit();
}

TEST(DshowMediaType, CopiesOwnTheirFormatBlock) {
    CMediaType a = videoType();
    CMediaType b(a);
    ASSERT_NE(a.pbFormat, b.pbFormat);
    EXPECT_TRUE(a == b);
    reinterpret_cast<VIDEOINFOHEADER*>(b.pbFormat)->bmiHeader.biWidth = 99;
    EXPECT_FALSE(a == b);

    AM_MEDIA_TYPE* heap = CreateMediaType(&a);
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(mediaTypesEqual(*heap, a));
    DeleteMediaType(heap);

    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_YV12);
    EXPECT_FALSE(a.MatchesPartial(&partial));

    a.InitMediaType();
    EXPECT_EQ(a.pbFormat, nullptr);
    EXPECT_EQ(a.cbFormat, 0u);
    EXPECT_FALSE(a.IsValid());
}

TEST(DshowMediaType, BitmapHeaderNeedsAWholeBlock) {
    CMediaType mt = videoType();
    const BITMAPINFOHEADER* h = bitmapHeaderOf(mt.formattype, mt.pbFormat, mt.cbFormat);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, kWidth);
    EXPECT_EQ(bitmapHeaderOf(mt.formattype, mt.pbFormat, mt.cbFormat - 1), nullptr);
    EXPECT_EQ(bitmapHeaderOf(FORMAT_VideoInfo2, mt.pbFormat, mt.cbFormat), nullptr);  // 88 < 112
    EXPECT_EQ(bitmapHeaderOf(FORMAT_WaveFormatEx, mt.pbFormat, mt.cbFormat), nullptr);
    EXPECT_EQ(bitmapHeaderOf(FORMAT_VideoInfo, nullptr, 88), nullptr);
}

TEST(DshowMediaType, IdentifiersKeepThePlatformValues) {
    EXPECT_EQ(guidToString(MEDIATYPE_Video), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidToString(MEDIASUBTYPE_YV12), "{32315659-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidToString(MEDIASUBTYPE_PCM), "{00000001-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(static_cast<uint32_t>(VFW_E_TYPE_NOT_ACCEPTED), 0x8004022Au);
    EXPECT_EQ(static_cast<uint32_t>(VFW_E_UNSUPPORTED_AUDIO), 0x8004025Cu);
    EXPECT_EQ(static_cast<uint32_t>(VFW_E_NO_TYPES), 0x80040206u);
}

TEST(DshowVariant, StringsCarryTheirLength) {
    BSTR s = SysAllocString(u"FriendlyName");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 12u);
    EXPECT_EQ(std::u16string(s), u"FriendlyName");
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    EXPECT_EQ(VariantClear(&v), S_OK);  // frees the string
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR empty = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 3u);
    EXPECT_EQ(empty[3], 0);
    SysFreeString(empty);
    SysFreeString(nullptr);
}

}  // namespace
