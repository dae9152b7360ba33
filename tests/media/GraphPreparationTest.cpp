// Graph building on the real pipeline engine: the container table's preparations, the
// extension library (a real plug-in loaded by name) for files the table does not handle,
// the graph's own source choice, the colour converter that is never doubled, the WebM
// filter set behind its process-wide class factory, and the renderer repair.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "PostedMessages.h"
#include "PullSink.h"
#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/LibraryTable.h"
#include "framework/WideString.h"
#include "framework/dshow/Dshow.h"
#include "media/ContainerFormatTable.h"
#include "media/ContainerHandlers.h"
#include "media/DirectShowMoviePlayer.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/FileStreamFilter.h"
#include "media/MediaClasses.h"
#include "media/WebmFactoryReference.h"
#include "media/Yv12ToRgb32Filter.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PipelineClasses.h"
#include "splitters/MbcSplitter.h"
#include "tests/support/TestSupport.h"

using pullsink::PullSink;

namespace {

HWND const kWindow = reinterpret_cast<HWND>(0x7000);
constexpr uint32_t kFileStream = MoviePlayerFactory::OpenFileStreamSource;
constexpr CLSID kSinkClass = guidOf("{0B7E55A1-2C41-4E3A-9D0F-6E1A2B3C4D01}");

std::map<std::u16string, int> filterNames(IGraphBuilder* graph) {
    std::map<std::u16string, int> names;
    InterfacePtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.put()))) return names;
    for (;;) {
        InterfacePtr<IBaseFilter> f;
        ULONG n = 0;
        if (filters->Next(1, f.put(), &n) != S_OK) break;
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        ++names[info.achName];
    }
    return names;
}

InterfacePtr<IGraphBuilder> newGraph() {
    InterfacePtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, graph.put());
    return graph;
}

// The hook and the plug-in's own record, found in the library by name.
struct ExtensionLibrary {
    HMODULE module = nullptr;
    DecodeFilterHook hook = nullptr;
    int (*callCount)() = nullptr;
    void (*lastCall)(IGraphBuilder**, IBaseFilter**, uintptr_t*, int*, HRESULT*) = nullptr;
    void (*setFilter)(IBaseFilter*) = nullptr;

    bool load() {
        module = loadLibrary(u"extcodec.dll");
        if (!module) return false;
        hook = reinterpret_cast<DecodeFilterHook>(getProcAddress(module, "AddMediaDecodeFilter"));
        callCount = reinterpret_cast<int (*)()>(getProcAddress(module, "extcodecCallCount"));
        lastCall = reinterpret_cast<decltype(lastCall)>(getProcAddress(module, "extcodecLastCall"));
        setFilter = reinterpret_cast<void (*)(IBaseFilter*)>(getProcAddress(module, "extcodecSetFilter"));
        return hook && callCount && lastCall && setFilter;
    }
    ~ExtensionLibrary() {
        if (setFilter) setFilter(nullptr);
        if (module) freeLibrary(module);
    }
};

// The WebM filter set stood in by pull sinks: only the splitter takes the file's stream.
class TestWebmClassFactory : public WebmClassFactory {
public:
    static inline int alive = 0;
    TestWebmClassFactory() { ++alive; }
    ~TestWebmClassFactory() override { --alive; }
    HRESULT createFilter(WebmFilter which, IUnknown* outer, REFIID riid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        GUID subtype = which == WebmFilter::Splitter ? MEDIASUBTYPE_WebMStream : kUnusedSubtype;
        InterfacePtr<PullSink> f(new PullSink(kSinkClass, subtype));
        return f->QueryInterface(riid, out);
    }
    static constexpr GUID kUnusedSubtype = guidOf("{0B7E55A1-2C41-4E3A-9D0F-6E1A2B3C4D02}");
};

class GraphPreparationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registerPipelineClasses();
        registerMediaClasses();
    }
    void SetUp() override { fakegraph::installRecordingWindowApi(); }
    void TearDown() override { uninstallWindowApi(); }

    std::u16string file(const std::string& name, const std::string& content = "not a movie at all") {
        std::filesystem::path p = dir_ / name;
        testsupport::writeFile(p, std::vector<uint8_t>(content.begin(), content.end()));
        return fromUtf8(p.string());
    }
    static HRESULT lastReadyResult() {
        auto ready = fakegraph::postedMessages(DirectShowPlayerFactory::kMediaReadyMessage);
        return ready.empty() ? S_FALSE : static_cast<HRESULT>(ready.back().wParam);
    }

    testsupport::TempDir dir_;
};

TEST_F(GraphPreparationTest, FilesTheTableDoesNotHandleGoThroughTheExtensionLibrary) {
    ExtensionLibrary ext;
    ASSERT_TRUE(ext.load()) << "libextcodec.so beside the test";
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    factory.setDecodeFilterHook(ext.hook);

    struct Case {
        std::string name;
        GUID announced;
    };
    // ".avi" declines to prepare; an unknown extension and a name without one announce
    // GUID_NULL and have no row at all.
    const Case cases[] = {{"clip.avi", MEDIASUBTYPE_Avi}, {"clip.xyz", GUID_NULL}, {"clip", GUID_NULL}};
    for (const Case& c : cases) {
        InterfacePtr<PullSink> decoder(new PullSink(kSinkClass, c.announced));
        ext.setFilter(decoder.get());
        int before = ext.callCount();
        auto* player = static_cast<DirectShowMoviePlayer*>(factory.open(file(c.name), kFileStream, 5));
        ASSERT_NE(player, nullptr) << c.name;
        EXPECT_EQ(ext.callCount(), before + 1) << c.name;

        IGraphBuilder* graph = nullptr;
        IBaseFilter* source = nullptr;
        uintptr_t reserved = 1;
        int joined = 0;
        HRESULT added = E_FAIL;
        ext.lastCall(&graph, &source, &reserved, &joined, &added);
        EXPECT_EQ(graph, player->graph()) << c.name;
        InterfacePtr<IBaseFilter> fileSource;
        ASSERT_EQ(player->graph()->FindFilterByName(FileStreamFilter::kName, fileSource.put()), S_OK);
        EXPECT_EQ(source, fileSource.get()) << c.name;
        EXPECT_EQ(reserved, 0u) << c.name;
        EXPECT_EQ(joined, 1) << c.name;
        EXPECT_EQ(added, S_OK) << c.name;
        // Render then found the plug-in's filter for the source's pin.
        EXPECT_TRUE(decoder->connected()) << c.name;
        EXPECT_EQ(lastReadyResult(), S_OK) << c.name;
        player->close();
        player->release();
    }
}

TEST_F(GraphPreparationTest, WithoutAnExtensionLibraryAnUnhandledFileFailsCleanly) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    EXPECT_EQ(factory.open(file("clip.avi"), kFileStream, 1), nullptr);
    EXPECT_LT(lastReadyResult(), 0);
    EXPECT_EQ(factory.open(fromUtf8((dir_ / "absent.mbc").string()), kFileStream, 2), nullptr);
    EXPECT_LT(lastReadyResult(), 0);
}

TEST_F(GraphPreparationTest, TheGraphChoosesTheSourceWhenNotAskedForTheOwnOne) {
    ExtensionLibrary ext;
    ASSERT_TRUE(ext.load());
    // A source class found by the file's first bytes and a sink that takes its stream.
    FilterRegistration source;
    source.clsid = CLSID_FileStreamFilter;
    source.name = u"Test Source";
    source.patterns = {{ByteCheck{0, {}, {'L', 'D', 'S', 'R', 'C'}}}};
    ASSERT_TRUE(FilterRegistry::instance().registerFilter(source));
    FilterRegistration sink;
    sink.clsid = kSinkClass;
    sink.name = u"Test Stream Sink";
    sink.create = [](REFIID riid, void** out) {
        InterfacePtr<PullSink> f(new PullSink(kSinkClass, GUID_NULL));
        return f->QueryInterface(riid, out);
    };
    sink.pins = {RegisteredPin{false, true, {{MEDIATYPE_Stream, GUID_NULL}}}};
    ASSERT_TRUE(FilterRegistry::instance().registerFilter(sink));

    DirectShowPlayerFactory factory(kWindow, 640, 480);
    factory.setDecodeFilterHook(ext.hook);
    int before = ext.callCount();
    auto* player = static_cast<DirectShowMoviePlayer*>(factory.open(file("noextension", "LDSRC..."), 0, 3));
    ASSERT_NE(player, nullptr);
    // No preparation and no hook on this path; the graph found source and sink itself.
    EXPECT_EQ(ext.callCount(), before);
    auto names = filterNames(player->graph());
    EXPECT_EQ(names.count(FileStreamFilter::kName), 0u);
    EXPECT_EQ(names[u"Test Stream Sink"], 1);
    EXPECT_EQ(names.size(), 2u);  // the graph's source and the sink, nothing prepared
    player->close();
    player->release();

    FilterRegistry::instance().unregisterFilter(kSinkClass);
    FilterRegistry::instance().unregisterFilter(CLSID_FileStreamFilter);
    registerMediaClasses();
}

TEST_F(GraphPreparationTest, TheColourConverterIsNeverDoubled) {
    InterfacePtr<IGraphBuilder> graph = newGraph();
    ASSERT_TRUE(graph);
    EXPECT_EQ(ContainerHandlers::ensureColourConverter(graph.get()), 0);
    EXPECT_EQ(ContainerHandlers::ensureColourConverter(graph.get()), 1);
    EXPECT_EQ(filterNames(graph.get())[Yv12ToRgb32Filter::kName], 1);

    // Any filter of the converter's class counts, whatever its name.
    InterfacePtr<IGraphBuilder> other = newGraph();
    InterfacePtr<PullSink> lookalike(new PullSink(Yv12ToRgb32Filter::kClassId, GUID_NULL));
    ASSERT_EQ(other->AddFilter(lookalike.get(), u"Already Here"), S_OK);
    EXPECT_EQ(ContainerHandlers::prepare(ContainerHandler::WebM, other.get(), nullptr),
              REGDB_E_CLASSNOTREG);  // no WebM filter set installed
    EXPECT_EQ(ContainerHandlers::prepare(ContainerHandler::ColourConverterOnly, other.get(), nullptr), 1);
    EXPECT_EQ(filterNames(other.get()).count(Yv12ToRgb32Filter::kName), 0u);
}

TEST_F(GraphPreparationTest, WebmGraphsUseTheSharedClassFactory) {
    registerComClass(CLSID_VorbisDecodeFilter, [](REFIID riid, void** out) {
        InterfacePtr<PullSink> f(new PullSink(CLSID_VorbisDecodeFilter, TestWebmClassFactory::kUnusedSubtype));
        return f->QueryInterface(riid, out);
    });
    {
        // Without the filter set the open fails with the class error.
        DirectShowPlayerFactory factory(kWindow, 640, 480);
        EXPECT_EQ(factory.open(file("a.webm"), kFileStream | MoviePlayerFactory::OpenTextureRenderer, 1), nullptr);
        EXPECT_EQ(lastReadyResult(), REGDB_E_CLASSNOTREG);
    }
    WebmFactoryReference::setMaker([] { return std::make_unique<TestWebmClassFactory>(); });
    {
        DirectShowPlayerFactory first(kWindow, 640, 480);
        auto second = std::make_unique<DirectShowPlayerFactory>(kWindow, 640, 480);
        EXPECT_FALSE(WebmFactoryReference::factoryExists());  // made when first needed

        auto* player = static_cast<DirectShowMoviePlayer*>(second->open(file("b.webm"), kFileStream, 2));
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(TestWebmClassFactory::alive, 1);
        auto names = filterNames(player->graph());
        for (const char16_t* name : {u"WebM Splitter", u"VP8 Decoce Filter", u"VP9 Decoce Filter",
                                     u"Vorbis Decode Filter", Yv12ToRgb32Filter::kName})
            EXPECT_EQ(names[name], 1) << toUtf8(name);
        player->close();
        player->release();

        // It outlives the graphs and the first factory to go; the last one takes it down.
        second.reset();
        EXPECT_EQ(TestWebmClassFactory::alive, 1);
    }
    EXPECT_EQ(TestWebmClassFactory::alive, 0);
    EXPECT_FALSE(WebmFactoryReference::factoryExists());
    WebmFactoryReference::setMaker(nullptr);
    unregisterComClass(CLSID_VorbisDecodeFilter);
}

TEST_F(GraphPreparationTest, ContainerFiltersComeByClassAndFailCleanlyWhenMissing) {
    InterfacePtr<IGraphBuilder> graph = newGraph();
    EXPECT_EQ(ContainerHandlers::prepare(ContainerHandler::Mbc, graph.get(), nullptr), S_OK);
    EXPECT_EQ(filterNames(graph.get())[MbcSplitter::kName], 1);
    EXPECT_EQ(ContainerHandlers::prepare(ContainerHandler::NotHandled, graph.get(), nullptr),
              ContainerHandlers::kNotHandled);
    EXPECT_EQ(ContainerHandlers::prepare(ContainerHandler::None, graph.get(), nullptr), ContainerHandlers::kNotHandled);

    // Filters nobody registered end the open with the creation error, hook or not.
    unregisterComClass(CLSID_TheoraMediaSplitter);
    unregisterComClass(CLSID_WindowsMediaSplitter);
    ExtensionLibrary ext;
    ASSERT_TRUE(ext.load());
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    factory.setDecodeFilterHook(ext.hook);
    int before = ext.callCount();
    for (const char* name : {"clip.ogv", "clip.WMV", "clip.wma"}) {
        EXPECT_EQ(factory.open(file(name), kFileStream, 7), nullptr) << name;
        EXPECT_EQ(lastReadyResult(), REGDB_E_CLASSNOTREG) << name;
    }
    EXPECT_EQ(ext.callCount(), before);
}

TEST_F(GraphPreparationTest, RepairConnectsAFreeOutputToTheRenderer) {
    InterfacePtr<IGraphBuilder> graph = newGraph();
    HRESULT hr = S_OK;
    InterfacePtr<FileStreamFilter> source(new FileStreamFilter(systemFileCallbacks(), &hr));
    ASSERT_EQ(graph->AddFilter(source.get(), FileStreamFilter::kName), S_OK);
    ASSERT_EQ(source->Load(file("clip.mkv").c_str(), nullptr), S_OK);

    InterfacePtr<PullSink> wrongKind(new PullSink(kSinkClass, MEDIASUBTYPE_Avi));
    ASSERT_EQ(graph->AddFilter(wrongKind.get(), u"Wrong Kind"), S_OK);
    EXPECT_EQ(DirectShowMoviePlayer::repairRenderer(graph.get(), wrongKind.get()), E_FAIL);

    InterfacePtr<PullSink> renderer(new PullSink(kSinkClass, MEDIASUBTYPE_MkvStream));
    ASSERT_EQ(graph->AddFilter(renderer.get(), u"Renderer"), S_OK);
    EXPECT_EQ(DirectShowMoviePlayer::repairRenderer(graph.get(), renderer.get()), S_OK);
    EXPECT_TRUE(renderer->connected());
    EXPECT_EQ(DirectShowMoviePlayer::repairRenderer(graph.get(), renderer.get()), 1);
}

}  // namespace
