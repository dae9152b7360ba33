// The Texture Renderer inside a real filter graph on the system clock: a test source
// delivers timed planar YUV pictures through the colour converter, and they land in a
// layer texture on the software device under the entry's lock. Every picture is checked
// pixel by pixel, and none is written before its time.
#include <gtest/gtest.h>

#include <mutex>

#include "PictureSource.h"
#include "VideoTestHarness.h"
#include "framework/dshow/EventCodes.h"
#include "media/TextureRenderer.h"
#include "media/Yv12ToRgb32Filter.h"
#include "platform/dshow/FilterGraph.h"

namespace {

using namespace videotest;

constexpr REFERENCE_TIME kPeriod = 30 * MILLISECONDS;

struct Drawn {
    REFERENCE_TIME sampleStart, streamTime;
    std::vector<uint32_t> texels;  // the texture right after the copy
};

// Records the texture after each timed picture (not the one shown while pausing).
class RecordingRenderer : public TextureRenderer {
public:
    using TextureRenderer::TextureRenderer;
    HRESULT DoRenderSample(IMediaSample* sample) override {
        HRESULT hr = TextureRenderer::DoRenderSample(sample);
        if (prerolling_ || !texture) return hr;
        Drawn d{0, 0, {}};
        REFERENCE_TIME stop = 0, now = 0;
        sample->GetTime(&d.sampleStart, &stop);
        if (m_pClock && SUCCEEDED(m_pClock->GetTime(&now))) d.streamTime = now - startTime();
        {
            ScopedLock hold(*lock);
            d.texels = readRgb(*texture);
        }
        std::lock_guard<std::mutex> g(mutex_);
        drawn_.push_back(std::move(d));
        return hr;
    }
    void OnReceiveFirstSample(IMediaSample* sample) override {
        prerolling_ = true;
        TextureRenderer::OnReceiveFirstSample(sample);
        prerolling_ = false;
    }
    std::vector<Drawn> drawn() {
        std::lock_guard<std::mutex> g(mutex_);
        return drawn_;
    }
    LayerTexture* texture = nullptr;
    CriticalSection* lock = nullptr;

private:
    bool prerolling_ = false;
    std::mutex mutex_;
    std::vector<Drawn> drawn_;
};

class FrameRendererGraphTest : public SoftwareCompositor {
protected:
    void SetUp() override {
        SoftwareCompositor::SetUp();
        HRESULT hr = S_OK;
        renderer_ = InterfacePtr<RecordingRenderer>(new RecordingRenderer(drawBase_->device(), &hr));
        ASSERT_EQ(hr, S_OK);
        renderer_->setFormats(&factory());
        ASSERT_EQ(graph_->AddFilter(renderer_.get(), TextureRenderer::kName), S_OK);
    }
    void TearDown() override {
        graph_->Stop();
        graph_.reset();
        SoftwareCompositor::TearDown();
    }
    // The application's side of the hand-off, then play to the end; the timed pictures.
    std::vector<Drawn> attachAndPlay() {
        VideoFrameSource& source = renderer_->frameSource();
        uint32_t w = 0, h = 0;
        source.size(&w, &h);
        texture_ = drawBase_->createLayerTexture(w, h, source.textureFormat(), 1, false);
        EXPECT_EQ(source.attach(texture_.get()), 1);
        EXPECT_EQ(source.setLock(&itemLock_), 1);
        renderer_->texture = texture_.get();
        renderer_->lock = &itemLock_;
        EXPECT_TRUE(SUCCEEDED(graph_->Run()));
        LONG code = 0;
        EXPECT_EQ(graph_->WaitForCompletion(60000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        EXPECT_EQ(graph_->Stop(), S_OK);
        std::vector<Drawn> drawn = renderer_->drawn();
        for (size_t n = 0; n < drawn.size(); ++n) {
            EXPECT_EQ(drawn[n].sampleStart, REFERENCE_TIME(n) * kPeriod);
            EXPECT_GE(drawn[n].streamTime, drawn[n].sampleStart) << "picture " << n << " written early";
        }
        return drawn;
    }

    InterfacePtr<FilterGraph> graph_{new FilterGraph()};
    InterfacePtr<RecordingRenderer> renderer_;
    InterfacePtr<LayerTexture> texture_;
    CriticalSection itemLock_;
};

TEST_F(FrameRendererGraphTest, Yv12PicturesPassTheConverterIntoTheTexture) {
    constexpr int kW = 10, kH = 6, kFrames = 4;
    Yv12ToRgb32Filter::PlaneGeometry g;
    ASSERT_TRUE(Yv12ToRgb32Filter::planeGeometry(kW, kH, false, &g));
    auto lumaOf = [](int n, int x, int y) { return 16 + (n * 37 + x * 19 + y * 23) % 220; };
    auto uOf = [](int n, int cx, int cy) { return (n * 11 + cx * 53 + cy * 29) % 256; };
    auto vOf = [](int n, int cx, int cy) { return (n * 71 + cx * 13 + cy * 97) % 256; };
    InterfacePtr<PictureSource> source(new PictureSource(
        videoType(MEDIASUBTYPE_YV12, kW, kH, 12), LONG(g.inputSize()), kFrames, kPeriod, [&](int n, uint8_t* p) {
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) p[y * g.lumaStride + x] = uint8_t(lumaOf(n, x, y));
            for (int cy = 0; cy < kH / 2; ++cy)
                for (int cx = 0; cx < kW / 2; ++cx) {
                    p[g.uOffset + cy * g.uStride + cx] = uint8_t(uOf(n, cx, cy));
                    p[g.vOffset + cy * g.vStride + cx] = uint8_t(vOf(n, cx, cy));
                }
        }));
    HRESULT hr = S_OK;
    InterfacePtr<Yv12ToRgb32Filter> converter(new Yv12ToRgb32Filter(&hr));
    ASSERT_EQ(graph_->AddFilter(source.get(), u"Picture Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(converter.get(), Yv12ToRgb32Filter::kName), S_OK);
    // The renderer refuses YUV: the pictures must pass the converter.
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(source->GetPin(0), renderer_->GetPin(0), nullptr)));
    ASSERT_EQ(graph_->Connect(source->GetPin(0), converter->GetPin(0)), S_OK);
    ASSERT_EQ(graph_->Connect(converter->GetPin(1), renderer_->GetPin(0)), S_OK);
    EXPECT_EQ(renderer_->frameSource().textureFormat(), D3DFMT_X8R8G8B8);
    std::vector<Drawn> drawn = attachAndPlay();
    ASSERT_EQ(drawn.size(), size_t(kFrames));
    for (int n = 0; n < kFrames; ++n)
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                ASSERT_EQ(drawn[n].texels[y * kW + x],
                          referencePixel(0, lumaOf(n, x, y), uOf(n, x / 2, y / 2), vOf(n, x / 2, y / 2)) & 0xFFFFFF)
                    << n << ": " << x << "," << y;
}

}  // namespace
