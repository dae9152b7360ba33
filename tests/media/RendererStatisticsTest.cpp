// The counts a player's owner reads from a renderer's frame source: pictures written
// into the target, pictures the renderer dropped as too late, and pictures overwritten
// before any composed frame showed them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "VideoTestHarness.h"
#include "media/SurfaceRenderer.h"
#include "media/TextureRenderer.h"
#include "platform/dshow/SystemClock.h"

namespace {

using namespace videotest;

class RendererStatisticsTest : public SoftwareCompositor {
protected:
    // A Texture Renderer for w x 1 top-down RGB32 pictures, attached to a texture.
    InterfacePtr<TextureRenderer> attachedRenderer(int32_t w, InterfacePtr<LayerTexture>* texture) {
        HRESULT hr = S_OK;
        InterfacePtr<TextureRenderer> r(new TextureRenderer(drawBase_->device(), &hr));
        EXPECT_EQ(hr, S_OK);
        CMediaType mt = videoType(MEDIASUBTYPE_RGB32, w, -1, 32);
        EXPECT_EQ(r->SetMediaType(&mt), S_OK);
        *texture = drawBase_->createLayerTexture(uint32_t(w), 1, D3DFMT_X8R8G8B8, 1, false);
        EXPECT_EQ(r->frameSource().attach(texture->get()), 1);
        return r;
    }
};

// One top-down row of w pixels all holding `value`.
std::vector<uint8_t> row(int32_t w, uint32_t value) {
    std::vector<uint8_t> buffer(size_t(w) * 4);
    for (int32_t x = 0; x < w; ++x) std::memcpy(buffer.data() + x * 4, &value, 4);
    return buffer;
}

TEST_F(RendererStatisticsTest, CountsOnlyPicturesWrittenIntoATarget) {
    HRESULT hr = S_OK;
    InterfacePtr<TextureRenderer> r(new TextureRenderer(drawBase_->device(), &hr));
    std::vector<uint8_t> picture = row(4, 0x112233);
    // No format, then no target: nothing reaches a picture, nothing is counted.
    CMediaType yuv = videoType(MEDIASUBTYPE_YV12, 4, -1, 12);
    ASSERT_EQ(r->SetMediaType(&yuv), S_OK);
    auto texture = drawBase_->createLayerTexture(4, 1, D3DFMT_X8R8G8B8, 1, false);
    EXPECT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_FALSE);
    ASSERT_EQ(r->frameSource().attach(texture.get()), 1);
    EXPECT_EQ(r->DoRenderSample(sampleOver(picture).get()), E_FAIL);
    EXPECT_EQ(r->frameSource().statistics().drawn, 0u);

    CMediaType rgb = videoType(MEDIASUBTYPE_RGB32, 4, -1, 32);
    ASSERT_EQ(r->SetMediaType(&rgb), S_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    const VideoFrameSource::Statistics s = r->frameSource().statistics();
    EXPECT_EQ(s.drawn, 3u);
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_EQ(s.notShown, 0u);  // nothing composed yet: nothing judged
    EXPECT_EQ(s.composed, 0u);

    // The Surface Renderer counts the same way into its image.
    InterfacePtr<SurfaceRenderer> surface(new SurfaceRenderer(nullptr, &hr));
    ASSERT_EQ(surface->SetMediaType(&rgb), S_OK);
    EXPECT_EQ(surface->DoRenderSample(sampleOver(picture).get()), S_FALSE);
    auto image = drawBase_->createImage(4, 1, false);
    ASSERT_EQ(surface->frameSource().attach(image.get()), 1);
    EXPECT_EQ(surface->DoRenderSample(sampleOver(picture).get()), S_OK);
    EXPECT_EQ(surface->frameSource().statistics().drawn, 1u);
}

TEST_F(RendererStatisticsTest, CountsLatePicturesTheRendererDrops) {
    InterfacePtr<LayerTexture> texture;
    auto r = attachedRenderer(2, &texture);
    InterfacePtr<SystemClock> clock(new SystemClock());
    ASSERT_EQ(r->SetSyncSource(clock.get()), S_OK);
    std::vector<uint8_t> buffer = row(2, 0);
    auto sample = sampleOver(buffer);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    REFERENCE_TIME end = now + 1;

    // On time, and slightly late: drawn after the clock's wait, never dropped.
    REFERENCE_TIME start = now + 1000 * MILLISECONDS;
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), S_FALSE);
    start = now - 10 * MILLISECONDS;
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), S_FALSE);
    // Far too late but a key frame: kept.
    start = now - 10000 * MILLISECONDS;
    sample->SetSyncPoint(TRUE);
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), S_FALSE);
    EXPECT_EQ(r->frameSource().statistics().dropped, 0u);

    // Far too late pictures that are not key frames: dropped, but only a few in a row.
    sample->SetSyncPoint(FALSE);
    int refused = 0;
    for (int i = 0; i < CBaseVideoRenderer::kMaxConsecutiveDrops + 2; ++i)
        refused += FAILED(r->ShouldDrawSampleNow(sample.get(), &start, &end));
    EXPECT_EQ(refused, CBaseVideoRenderer::kMaxConsecutiveDrops + 1);
    const VideoFrameSource::Statistics s = r->frameSource().statistics();
    EXPECT_EQ(s.dropped, uint64_t(refused));
    int base = 0;
    ASSERT_EQ(r->get_FramesDroppedInRenderer(&base), S_OK);
    EXPECT_EQ(s.dropped, uint64_t(base));
    EXPECT_EQ(s.drawn, 0u);
    r->SetSyncSource(nullptr);
}

TEST_F(RendererStatisticsTest, PicturesOverwrittenBetweenCompositionsAreNotShown) {
    InterfacePtr<LayerTexture> texture;
    auto r = attachedRenderer(2, &texture);
    VideoFrameSource& source = r->frameSource();
    std::vector<uint8_t> picture = row(2, 7);
    auto write = [&](int n) {
        for (int i = 0; i < n; ++i) ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    };
    write(1);
    source.noteComposed();  // shows the one picture
    write(2);
    source.noteComposed();  // the first of the two was never seen
    source.noteComposed();  // nothing new: the same picture again, nothing lost
    write(3);
    source.noteComposed();  // two of three lost
    write(2);               // not yet composed: not judged
    VideoFrameSource::Statistics s = source.statistics();
    EXPECT_EQ(s.drawn, 8u);
    EXPECT_EQ(s.notShown, 3u);
    EXPECT_EQ(s.composed, 4u);
    source.noteComposed();
    s = source.statistics();
    EXPECT_EQ(s.notShown, 4u);
    EXPECT_EQ(s.composed, 5u);
    EXPECT_EQ(s.dropped, 0u);
}

TEST_F(RendererStatisticsTest, ConcurrentWritesAndCompositionsAgreeWithWhatWasSeen) {
    // The streaming thread writes numbered pictures under the entry's lock while a
    // compositor reads the texture and counts its frame under the same lock; every
    // number it never saw must be counted as not shown.
    InterfacePtr<LayerTexture> texture;
    auto r = attachedRenderer(1, &texture);
    texture->fill(0xFF000000u, nullptr);
    VideoFrameSource& source = r->frameSource();
    CriticalSection entryLock;
    source.setLock(&entryLock);
    constexpr uint32_t kPictures = 400;
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (uint32_t n = 1; n <= kPictures; ++n) {
            std::vector<uint8_t> picture = row(1, n);
            r->DoRenderSample(sampleOver(picture).get());
            if (n % 8 == 0) std::this_thread::yield();
        }
        done = true;
    });
    uint32_t seen = 0, last = 0;
    auto compose = [&] {
        ScopedLock hold(entryLock);
        const uint32_t now = readRgb(*texture).at(0);
        if (now != last) ++seen;
        last = now;
        source.noteComposed();
    };
    while (!done.load()) compose();
    streaming.join();
    compose();
    const VideoFrameSource::Statistics s = source.statistics();
    EXPECT_EQ(last, kPictures);
    EXPECT_EQ(s.drawn, kPictures);
    EXPECT_EQ(s.notShown, kPictures - seen);
}

}  // namespace
