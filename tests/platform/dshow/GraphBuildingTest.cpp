// Building graphs: names and membership, intelligent connect through registered
// transforms in merit order, Render down to renderers, RenderFile through a registered
// source, and clean failure when nothing fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "SyntheticFilters.h"
#include "framework/ComUser.h"
#include "framework/WideString.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PipelineClasses.h"
#include "tests/support/TestSupport.h"

using namespace synthetic;

namespace {

constexpr CLSID kLowTransform = guidOf("{6A3E2001-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kHighTransform = guidOf("{6A3E2002-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kBrokenTransform = guidOf("{6A3E2003-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kUnusableTransform = guidOf("{6A3E2004-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kRegisteredSink = guidOf("{6A3E2005-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kFileSource = guidOf("{6A3E2006-1F0C-4E0B-9E51-3C7D2A8B9F01}");

std::atomic<int> g_liveTransforms{0};

class CountedTransform : public ConvertingTransform {
public:
    CountedTransform(const CLSID& clsid, bool refuse) : ConvertingTransform(clsid, kSubtypeA, kSubtypeB, refuse) {
        ++g_liveTransforms;
    }
    ~CountedTransform() override { --g_liveTransforms; }
};

template <class T>
HRESULT handOut(T* object, REFIID riid, void** out) {
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

FilterRegistration transformEntry(const CLSID& clsid, const char16_t* name, DWORD merit, bool refuse) {
    FilterRegistration r;
    r.clsid = clsid;
    r.name = name;
    r.merit = merit;
    r.create = [clsid, refuse](REFIID riid, void** out) {
        return handOut(new CountedTransform(clsid, refuse), riid, out);
    };
    // The broken one claims the type it will refuse, as a stale registration would.
    r.pins = {{false, false, {{MEDIATYPE_Video, kSubtypeA}}}, {true, false, {{MEDIATYPE_Video, kSubtypeB}}}};
    return r;
}

// A frame source that loads "files": the extension and leading bytes chose it.
class FileFrameSource : public FrameSource, public IFileSourceFilter {
public:
    FileFrameSource() : FrameSource(MEDIATYPE_Video, kSubtypeB, 3, 400000) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return FrameSource::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return FrameSource::AddRef(); }
    ULONG Release() override { return FrameSource::Release(); }
    HRESULT Load(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        loaded = name;
        return S_OK;
    }
    HRESULT GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    std::u16string loaded;

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid != IFileSourceFilter::iid) return FrameSource::queryOther(riid, ppv);
        *ppv = static_cast<IFileSourceFilter*>(this);
        AddRef();
        return S_OK;
    }
};

class GraphBuildingTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerPipelineClasses();
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, graph.put())));
    }
    void TearDown() override {
        graph.reset();
        for (const CLSID& c :
             {kLowTransform, kHighTransform, kBrokenTransform, kUnusableTransform, kRegisteredSink, kFileSource})
            FilterRegistry::instance().unregisterFilter(c);
        EXPECT_EQ(g_liveTransforms.load(), 0) << "a transform the graph tried was not released";
    }

    std::vector<InterfacePtr<IBaseFilter>> members() {
        std::vector<InterfacePtr<IBaseFilter>> out;
        InterfacePtr<IEnumFilters> e;
        EXPECT_EQ(graph->EnumFilters(e.put()), S_OK);
        IBaseFilter* f = nullptr;
        ULONG got = 0;
        while (e->Next(1, &f, &got) == S_OK) out.push_back(InterfacePtr<IBaseFilter>::adopt(f));
        return out;
    }
    std::vector<CLSID> memberClasses() {
        std::vector<CLSID> out;
        for (auto& f : members()) {
            CLSID c{};
            f->GetClassID(&c);
            out.push_back(c);
        }
        return out;
    }
    static IBaseFilter* ownerOf(IPin* pin) {
        InterfacePtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(peer.put()))) return nullptr;
        PIN_INFO info{};
        peer->QueryPinInfo(&info);
        info.pFilter->Release();
        return info.pFilter;
    }

    InterfacePtr<IGraphBuilder> graph;
};

TEST_F(GraphBuildingTest, NamesAreUniqueAndEnumeratorsNoticeChanges) {
    InterfacePtr<IBaseFilter> a(new RecordingSink(MEDIATYPE_Video, kSubtypeB));
    InterfacePtr<IBaseFilter> b(new RecordingSink(MEDIATYPE_Video, kSubtypeB));
    InterfacePtr<IBaseFilter> c(new RecordingSink(MEDIATYPE_Video, kSubtypeB));
    ASSERT_EQ(graph->AddFilter(a.get(), u"Sink"), S_OK);
    InterfacePtr<IEnumFilters> e;
    ASSERT_EQ(graph->EnumFilters(e.put()), S_OK);
    EXPECT_EQ(graph->AddFilter(b.get(), u"Sink"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(c.get(), nullptr), S_OK);
    EXPECT_EQ(graph->AddFilter(a.get(), u"Again"), VFW_E_DUPLICATE_NAME) << "a filter joins a graph once";

    FILTER_INFO info{};
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), u"Sink 0001");
    ASSERT_NE(info.pGraph, nullptr);
    info.pGraph->Release();

    InterfacePtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(u"Sink 0001", found.put()), S_OK);
    EXPECT_EQ(found.get(), b.get());
    EXPECT_EQ(graph->FindFilterByName(u"Nobody", found.put()), VFW_E_NOT_FOUND);

    IBaseFilter* f = nullptr;
    ULONG got = 0;
    EXPECT_EQ(e->Next(1, &f, &got), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(members().size(), 3u);

    EXPECT_EQ(graph->RemoveFilter(b.get()), S_OK);
    EXPECT_EQ(graph->RemoveFilter(b.get()), VFW_E_NOT_FOUND);
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr) << "a removed filter leaves the graph";
    EXPECT_EQ(members().size(), 2u);
}

TEST_F(GraphBuildingTest, ConnectInsertsTheBestRegisteredTransformThatWorks) {
    auto& registry = FilterRegistry::instance();
    ASSERT_TRUE(registry.registerFilter(transformEntry(kLowTransform, u"Low", MERIT_UNLIKELY, false)));
    ASSERT_TRUE(registry.registerFilter(transformEntry(kHighTransform, u"High", MERIT_NORMAL, false)));
    ASSERT_TRUE(registry.registerFilter(transformEntry(kBrokenTransform, u"Broken", MERIT_PREFERRED, true)));
    ASSERT_TRUE(registry.registerFilter(transformEntry(kUnusableTransform, u"Unusable", MERIT_DO_NOT_USE, false)));

    auto* source = new FrameSource(MEDIATYPE_Video, kSubtypeA, 5, 10000);
    auto* sink = new RecordingSink(MEDIATYPE_Video, kSubtypeB);
    InterfacePtr<IBaseFilter> s(source), k(sink);
    ASSERT_EQ(graph->AddFilter(s.get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(k.get(), u"Sink"), S_OK);
    IPin* out = source->GetPin(0);
    IPin* in = sink->GetPin(0);
    EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);

    ASSERT_EQ(graph->Connect(out, in), S_OK);
    std::vector<CLSID> classes = memberClasses();
    ASSERT_EQ(classes.size(), 3u);
    EXPECT_NE(std::find(classes.begin(), classes.end(), kHighTransform), classes.end());
    EXPECT_EQ(std::find(classes.begin(), classes.end(), kBrokenTransform), classes.end())
        << "a transform that refused the connection is taken out again";
    IBaseFilter* middle = ownerOf(out);
    ASSERT_NE(middle, nullptr);
    EXPECT_EQ(ownerOf(in), middle);
    InterfacePtr<IBaseFilter> named;
    EXPECT_EQ(graph->FindFilterByName(u"High", named.put()), S_OK) << "added under its friendly name";

    // Samples flow through the inserted transform.
    auto control = graph.as<IMediaControl>();
    auto events = graph.as<IMediaEventEx>();
    auto mediaFilter = graph.as<IMediaFilter>();
    ASSERT_EQ(mediaFilter->SetSyncSource(nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(sink->frames(), (std::vector<int32_t>{0, 1, 2, 3, 4}));

    // Taking the transform out leaves both neighbours unconnected.
    EXPECT_EQ(graph->RemoveFilter(middle), S_OK);
    EXPECT_FALSE(source->GetPin(0)->IsConnected());
    EXPECT_FALSE(sink->GetPin(0)->IsConnected());
}

TEST_F(GraphBuildingTest, ConnectFailsCleanlyWhenNothingFits) {
    ASSERT_TRUE(
        FilterRegistry::instance().registerFilter(transformEntry(kHighTransform, u"High", MERIT_NORMAL, false)));
    auto* source = new FrameSource(MEDIATYPE_Video, kSubtypeA, 1, 10000);
    auto* sink = new RecordingSink(MEDIATYPE_Video, kSubtypeC);
    InterfacePtr<IBaseFilter> s(source), k(sink);
    ASSERT_EQ(graph->AddFilter(s.get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(k.get(), u"Sink"), S_OK);
    EXPECT_EQ(graph->Connect(source->GetPin(0), sink->GetPin(0)), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(members().size(), 2u);
    EXPECT_FALSE(source->GetPin(0)->IsConnected());
    EXPECT_FALSE(sink->GetPin(0)->IsConnected());
    EXPECT_EQ(g_liveTransforms.load(), 0);
    EXPECT_EQ(graph->Render(source->GetPin(0)), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(members().size(), 2u);

    // Wrong directions and filters outside the graph are refused before anything is tried.
    EXPECT_EQ(graph->Connect(sink->GetPin(0), source->GetPin(0)), VFW_E_INVALID_DIRECTION);
    InterfacePtr<IBaseFilter> stranger(new RecordingSink(MEDIATYPE_Video, kSubtypeA));
    auto* strangerSink = static_cast<RecordingSink*>(stranger.get());
    EXPECT_EQ(graph->Connect(source->GetPin(0), strangerSink->GetPin(0)), VFW_E_NOT_IN_GRAPH);
}

TEST_F(GraphBuildingTest, RenderPrefersFiltersInTheGraphThenRegisteredOnes) {
    ASSERT_TRUE(
        FilterRegistry::instance().registerFilter(transformEntry(kHighTransform, u"High", MERIT_NORMAL, false)));
    FilterRegistration sinkEntry;
    sinkEntry.clsid = kRegisteredSink;
    sinkEntry.name = u"Registered Sink";
    sinkEntry.merit = MERIT_NORMAL;
    sinkEntry.create = [](REFIID riid, void** out) {
        return handOut(new RecordingSink(MEDIATYPE_Video, kSubtypeB, kRegisteredSink), riid, out);
    };
    sinkEntry.pins = {{false, true, {{MEDIATYPE_Video, kSubtypeB}}}};
    ASSERT_TRUE(FilterRegistry::instance().registerFilter(sinkEntry));

    // Already in the graph: a sink for B takes the B source directly.
    auto* sourceB = new FrameSource(MEDIATYPE_Video, kSubtypeB, 1, 10000);
    auto* ownSink = new RecordingSink(MEDIATYPE_Video, kSubtypeB);
    InterfacePtr<IBaseFilter> sb(sourceB), own(ownSink);
    ASSERT_EQ(graph->AddFilter(own.get(), u"Own Sink"), S_OK);
    ASSERT_EQ(graph->AddFilter(sb.get(), u"Source B"), S_OK);
    ASSERT_EQ(graph->Render(sourceB->GetPin(0)), S_OK);
    EXPECT_EQ(ownerOf(sourceB->GetPin(0)), own.get());
    EXPECT_EQ(graph->Render(sourceB->GetPin(0)), VFW_E_ALREADY_CONNECTED);

    // Nothing free in the graph: the A source goes through the transform to a new sink.
    auto* sourceA = new FrameSource(MEDIATYPE_Video, kSubtypeA, 1, 10000);
    InterfacePtr<IBaseFilter> sa(sourceA);
    ASSERT_EQ(graph->AddFilter(sa.get(), u"Source A"), S_OK);
    ASSERT_EQ(graph->Render(sourceA->GetPin(0)), S_OK);
    std::vector<CLSID> classes = memberClasses();
    EXPECT_EQ(classes.size(), 5u);
    EXPECT_EQ(std::count(classes.begin(), classes.end(), kRegisteredSink), 1);
    EXPECT_EQ(std::count(classes.begin(), classes.end(), kHighTransform), 1);
}

TEST_F(GraphBuildingTest, RenderFileFindsTheSourceByBytesOrExtension) {
    FilterRegistration sourceEntry;
    sourceEntry.clsid = kFileSource;
    sourceEntry.name = u"Synthetic File Source";
    sourceEntry.create = [](REFIID riid, void** out) {
        auto* s = new FileFrameSource();
        s->FrameSource::AddRef();
        HRESULT hr = s->FrameSource::QueryInterface(riid, out);
        s->FrameSource::Release();
        return hr;
    };
    sourceEntry.extensions = {u".synth"};
    sourceEntry.patterns = {{ByteCheck{4, {0xFF, 0xDF}, {'S', 'Y'}}}};
    ASSERT_TRUE(FilterRegistry::instance().registerFilter(sourceEntry));
    auto* sink = new RecordingSink(MEDIATYPE_Video, kSubtypeB);
    InterfacePtr<IBaseFilter> k(sink);
    ASSERT_EQ(graph->AddFilter(k.get(), u"Sink"), S_OK);

    testsupport::TempDir dir;
    testsupport::writeFile(dir / "clip.bin", {0, 0, 0, 0, 'S', 'y', 1, 2});  // masked: 'y' matches 'Y'
    testsupport::writeFile(dir / "plain.SYNTH", {1, 2, 3});
    testsupport::writeFile(dir / "other.bin", {1, 2, 3, 4, 5, 6, 7, 8});
    std::u16string byBytes = fromUtf8((dir / "clip.bin").string());
    std::u16string byName = fromUtf8((dir / "plain.SYNTH").string());
    std::u16string unknown = fromUtf8((dir / "other.bin").string());
    std::u16string missing = fromUtf8((dir / "none.synth").string());

    ASSERT_EQ(graph->RenderFile(byBytes.c_str(), nullptr), S_OK);
    InterfacePtr<IBaseFilter> source;
    ASSERT_EQ(graph->FindFilterByName(byBytes.c_str(), source.put()), S_OK) << "the source is named after its file";
    EXPECT_EQ(ownerOf(sink->GetPin(0)), source.get());

    // The only sink is taken, so this source cannot be rendered and is removed again.
    EXPECT_EQ(graph->RenderFile(byName.c_str(), nullptr), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(graph->FindFilterByName(byName.c_str(), source.put()), VFW_E_NOT_FOUND);
    InterfacePtr<IBaseFilter> loaded;
    ASSERT_EQ(graph->AddSourceFilter(byName.c_str(), u"Loaded", loaded.put()), S_OK);
    EXPECT_EQ(dynamic_cast<FileFrameSource*>(static_cast<FrameSource*>(loaded.get()))->loaded, byName);

    EXPECT_EQ(graph->RenderFile(unknown.c_str(), nullptr), VFW_E_UNKNOWN_FILE_TYPE);
    EXPECT_EQ(graph->RenderFile(missing.c_str(), nullptr), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(graph->RenderFile(nullptr, nullptr), E_POINTER);
}

}  // namespace
