// Pin connection, media-type negotiation and allocator negotiation of the filter base
// classes, with pins connected by hand.
#include <gtest/gtest.h>

#include "DshowTestFilters.h"

using namespace dshowtest;

namespace {

struct Chain : ::testing::Test {
    InterfacePtr<TestSource> source{new TestSource};
    InterfacePtr<InvertTransform> transform{new InvertTransform};
    InterfacePtr<RecordingRenderer> renderer{new RecordingRenderer};

    IPin* out() { return source->GetPin(0); }
    IPin* xin() { return transform->GetPin(0); }
    IPin* xout() { return transform->GetPin(1); }
    IPin* rin() { return renderer->GetPin(0); }

    // Connected pins hold each other's filters, as in a graph: break the links.
    void TearDown() override {
        renderer->Stop();
        transform->Stop();
        source->Stop();
        for (IPin* p : {out(), xin(), xout(), rin()}) static_cast<CBasePin*>(p)->DisconnectInternal();
    }
};

TEST_F(Chain, NegotiatesTheFirstTypeBothSidesAccept) {
    // The source prefers a type the transform refuses; negotiation moves on to the next.
    source->pin()->offered.insert(source->pin()->offered.begin(), videoType(MEDIASUBTYPE_YUY2));
    ASSERT_EQ(out()->Connect(xin(), nullptr), S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(xin()->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    FreeMediaType(mt);

    IPin* peer = nullptr;
    ASSERT_EQ(xin()->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer, out());
    peer->Release();
    EXPECT_EQ(out()->Connect(xin(), nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(Chain, RefusalsCarryTheReason) {
    // Nothing acceptable: the refusal of the last specific check is reported.
    source->pin()->offered = {videoType(MEDIASUBTYPE_YUY2)};
    EXPECT_EQ(out()->Connect(xin(), nullptr), VFW_E_INVALIDSUBTYPE);
    EXPECT_FALSE(source->pin()->IsConnected());
    EXPECT_FALSE(transform->InputPin()->IsConnected());

    // A full type given by the caller is tried alone.
    source->pin()->offered = {videoType(), videoType(MEDIASUBTYPE_YUY2)};
    CMediaType yuy2 = videoType(MEDIASUBTYPE_YUY2);
    EXPECT_EQ(out()->Connect(xin(), &yuy2), VFW_E_INVALIDSUBTYPE);
    CMediaType rgb = videoType();
    EXPECT_EQ(out()->Connect(xin(), &rgb), S_OK);
}

TEST_F(Chain, PartialTypeRestrictsTheCandidates) {
    source->pin()->offered = {videoType(MEDIASUBTYPE_RGB32, 8, 8), videoType()};
    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    partial.SetSubtype(&MEDIASUBTYPE_RGB32);  // format left open
    ASSERT_EQ(out()->Connect(xin(), &partial), S_OK);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(transform->InputPin()->CurrentMediaType().pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, 8);
    ASSERT_EQ(out()->Disconnect(), S_OK);
    ASSERT_EQ(xin()->Disconnect(), S_OK);

    CMediaType audio;
    audio.SetType(&MEDIATYPE_Audio);
    EXPECT_TRUE(FAILED(out()->Connect(xin(), &audio)));
}

TEST_F(Chain, DirectionAndStateAreChecked) {
    EXPECT_EQ(xin()->Connect(rin(), nullptr), VFW_E_INVALID_DIRECTION);
    // The transform's output needs its input first: its types depend on it.
    EXPECT_TRUE(FAILED(xout()->Connect(rin(), nullptr)));
    ASSERT_EQ(out()->Connect(xin(), nullptr), S_OK);
    ASSERT_EQ(xout()->Connect(rin(), nullptr), S_OK);

    ASSERT_EQ(renderer->Pause(), S_FALSE);  // waits for a first sample
    EXPECT_EQ(rin()->Disconnect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(renderer->Stop(), S_OK);
    EXPECT_EQ(rin()->Disconnect(), S_OK);
    EXPECT_EQ(rin()->Disconnect(), S_FALSE);
}

TEST_F(Chain, OutputAllocatorFollowsDecideBufferSize) {
    source->pin()->buffers = 5;
    source->pin()->align = 64;
    source->pin()->prefix = 8;
    ASSERT_EQ(out()->Connect(xin(), nullptr), S_OK);

    // The transform's input offered its own allocator; the source sized it.
    IMemAllocator* alloc = source->pin()->Allocator();
    ASSERT_NE(alloc, nullptr);
    EXPECT_EQ(alloc, transform->InputPin()->Allocator());
    ALLOCATOR_PROPERTIES props{};
    alloc->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 5);
    EXPECT_EQ(props.cbAlign, 64);
    EXPECT_EQ(props.cbPrefix, 8);
    EXPECT_GE(props.cbBuffer, kFrameBytes);
    EXPECT_EQ((props.cbBuffer + props.cbPrefix) % 64, 0);

    ASSERT_EQ(xout()->Connect(rin(), nullptr), S_OK);
    ALLOCATOR_PROPERTIES xprops{};
    transform->OutputPin()->Allocator()->GetProperties(&xprops);
    EXPECT_EQ(xprops.cBuffers, 2);
    EXPECT_EQ(xprops.cbAlign, 16);

    // Samples come out aligned, with the prefix in front.
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    BYTE* p = nullptr;
    s->GetPointer(&p);
    EXPECT_EQ((reinterpret_cast<uintptr_t>(p) - 8) % 64, 0u);
    s->Release();
    alloc->Decommit();
}

TEST_F(Chain, AllocatorRefusingTheSizeFailsTheConnection) {
    // Asking for an impossible buffer count makes DecideBufferSize fail.
    source->pin()->buffers = -1;
    EXPECT_TRUE(FAILED(out()->Connect(xin(), nullptr)));
    EXPECT_FALSE(source->pin()->IsConnected());
    EXPECT_FALSE(transform->InputPin()->IsConnected());
    source->pin()->buffers = 2;
    EXPECT_EQ(out()->Connect(xin(), nullptr), S_OK);
}

TEST_F(Chain, EnumeratorsListPinsAndTypes) {
    IEnumPins* pins = nullptr;
    ASSERT_EQ(transform->EnumPins(&pins), S_OK);
    IPin* got[3] = {};
    ULONG n = 0;
    EXPECT_EQ(pins->Next(3, got, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    PIN_DIRECTION d0, d1;
    got[0]->QueryDirection(&d0);
    got[1]->QueryDirection(&d1);
    EXPECT_EQ(d0, PINDIR_INPUT);
    EXPECT_EQ(d1, PINDIR_OUTPUT);
    got[0]->Release();
    got[1]->Release();
    pins->Release();

    IPin* found = nullptr;
    ASSERT_EQ(transform->FindPin(u"XForm Out", &found), S_OK);
    EXPECT_EQ(found, xout());
    found->Release();
    EXPECT_EQ(transform->FindPin(u"Nope", &found), VFW_E_NOT_FOUND);

    // The transform output offers nothing until its input is connected.
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(xout()->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(types->Next(1, &mt, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    types->Release();

    source->pin()->offered = {videoType(), videoType(MEDIASUBTYPE_RGB32, 8, 8)};
    ASSERT_EQ(out()->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* two[2] = {};
    ASSERT_EQ(types->Next(2, two, &n), S_OK);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(two[1]->pbFormat)->bmiHeader.biWidth, 8);
    DeleteMediaType(two[0]);
    DeleteMediaType(two[1]);
    // A change of the offered types puts running enumerators out of step.
    source->pin()->IncrementTypeVersion();
    EXPECT_EQ(types->Next(1, &mt, &n), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Next(1, &mt, &n), S_OK);
    DeleteMediaType(mt);
    types->Release();
}

TEST_F(Chain, PinInfoNamesAndReferences) {
    PIN_INFO info{};
    ASSERT_EQ(rin()->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), u"In");
    EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(renderer.get()));
    info.pFilter->Release();
    LPWSTR id = nullptr;
    ASSERT_EQ(xin()->QueryId(&id), S_OK);
    EXPECT_EQ(std::u16string(id), u"XForm In");
    CoTaskMemFree(id);

    CMediaType rgb = videoType(), yuy = videoType(MEDIASUBTYPE_YUY2);
    EXPECT_EQ(rin()->QueryAccept(&rgb), S_OK);
    EXPECT_EQ(rin()->QueryAccept(&yuy), S_FALSE);
}

TEST_F(Chain, FilterJoinsGraphWithoutHoldingIt) {
    InterfacePtr<GraphStub> graph(new GraphStub);
    ULONG before = graph->referenceCount();
    ASSERT_EQ(graph->AddFilter(renderer.get(), u"Texture"), S_OK);
    EXPECT_EQ(graph->referenceCount(), before);
    FILTER_INFO info{};
    ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), u"Texture");
    EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph.get()));
    info.pGraph->Release();
    // An unconnected renderer has nothing to wait for: pausing completes the stream.
    EXPECT_EQ(renderer->Pause(), S_OK);
    EXPECT_EQ(graph->count(EC_COMPLETE), 1);
    renderer->Stop();
    graph->RemoveFilter(renderer.get());
}

}  // namespace
