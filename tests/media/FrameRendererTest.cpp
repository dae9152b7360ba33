// The engine's video renderers and their frame source: media-type checks, the stride
// rule, upright copies, attach rules, the lock and the frame event, and pictures that do
// not fit the target (a type change after attach, a short sample).
#include <gtest/gtest.h>

#include <thread>

#include "VideoTestHarness.h"
#include "framework/dshow/DshowErrors.h"
#include "graphics/PixelFormat.h"
#include "media/SurfaceRenderer.h"
#include "media/TextureRenderer.h"
#include "platform/dshow/SystemClock.h"

namespace {

using namespace videotest;

template <class R>
InterfacePtr<R> makeRenderer(IUnknown* device = nullptr) {
    HRESULT hr = S_OK;
    InterfacePtr<R> r(new R(device, &hr));
    EXPECT_EQ(hr, S_OK);
    return r;
}

// w x |h| 32-bit pixels, upright value y << 8 | x, stored bottom-up when h > 0.
std::vector<uint8_t> rgb32Picture(int32_t w, int32_t h) {
    std::vector<uint8_t> buffer;
    for (int32_t row = 0; row < std::abs(h); ++row)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t y = uint32_t(h > 0 ? h - 1 - row : row);
            const uint8_t p[4] = {uint8_t(x), uint8_t(y), 0, 0xFF};
            buffer.insert(buffer.end(), p, p + 4);
        }
    return buffer;
}

class FrameRendererTest : public SoftwareCompositor {
protected:
    // A Texture Renderer of the given type attached to an X8R8G8B8 texture of its size.
    InterfacePtr<TextureRenderer> attached(const CMediaType& mt, InterfacePtr<LayerTexture>* texture) {
        auto r = makeRenderer<TextureRenderer>(drawBase_->device());
        EXPECT_EQ(r->CheckMediaType(&mt), S_OK);
        EXPECT_EQ(r->SetMediaType(&mt), S_OK);
        uint32_t w = 0, h = 0;
        r->frameSource().size(&w, &h);
        *texture = drawBase_->createLayerTexture(w, h, D3DFMT_X8R8G8B8, 1, false);
        (*texture)->fill(0xFF000000u, nullptr);
        EXPECT_EQ(r->frameSource().attach(texture->get()), 1);
        return r;
    }
    // Whether the texture holds the upright picture of rgb32Picture inside w x h, 0 outside.
    static void expectUpright(LayerTexture& texture, int32_t w, int32_t h) {
        int32_t tw = 0, th = 0;
        texture.size(&tw, &th);
        std::vector<uint32_t> got = readRgb(texture);
        for (int32_t y = 0; y < th; ++y)
            for (int32_t x = 0; x < tw; ++x)
                ASSERT_EQ(got[size_t(y * tw + x)], (x < w && y < h) ? uint32_t(y) << 8 | uint32_t(x) : 0u)
                    << x << "," << y;
    }
};

TEST_F(FrameRendererTest, CopiesBottomUpAndTopDownPicturesUpright) {
    // 3 RGB24 pixels make 9 bytes, padded to a stride of 12; the bottom row comes first.
    InterfacePtr<LayerTexture> texture;
    auto r = attached(videoType(MEDIASUBTYPE_RGB24, 3, 2, 24), &texture);
    EXPECT_EQ(r->frameSource().pixelFormat(), uint32_t(kPixelFormatR8G8B8));
    EXPECT_EQ(r->frameSource().textureFormat(), D3DFMT_R8G8B8);
    std::vector<uint8_t> rgb24 = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE,
                                  11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(r->DoRenderSample(sampleOver(rgb24).get()), S_OK);
    EXPECT_EQ(readRgb(*texture), (std::vector<uint32_t>{0x0D0C0B, 0x100F0E, 0x131211, 0x030201, 0x060504, 0x090807}));

    for (int32_t h : {5, -5}) {
        auto r32 = attached(videoType(MEDIASUBTYPE_RGB32, 7, h, 32), &texture);
        std::vector<uint8_t> picture = rgb32Picture(7, h);
        ASSERT_EQ(r32->DoRenderSample(sampleOver(picture).get()), S_OK);
        expectUpright(*texture, 7, 5);
    }
}

TEST_F(FrameRendererTest, DropsPicturesWithoutTargetOrFormat) {
    auto r = makeRenderer<TextureRenderer>();
    std::vector<uint8_t> buffer(64);
    EXPECT_EQ(r->DoRenderSample(nullptr), E_POINTER);
    EXPECT_EQ(r->DoRenderSample(sampleOver(buffer).get()), S_FALSE);
    // A subtype outside the table sets the size but no format.
    CMediaType yuv = videoType(MEDIASUBTYPE_YV12, 4, 4, 12);
    ASSERT_EQ(r->SetMediaType(&yuv), S_OK);
    EXPECT_FALSE(r->frameSource().hasFormat());
    auto texture = drawBase_->createLayerTexture(4, 4, D3DFMT_X8R8G8B8, 1, false);
    ASSERT_EQ(r->frameSource().attach(texture.get()), 1);
    EXPECT_EQ(r->DoRenderSample(sampleOver(buffer).get()), E_FAIL);
    EXPECT_FALSE(r->frameSource().frameSignalled());
}

TEST_F(FrameRendererTest, AttachRules) {
    auto r = makeRenderer<TextureRenderer>();
    CMediaType mt = videoType(MEDIASUBTYPE_RGB32, 4, -3, 32);
    ASSERT_EQ(r->SetMediaType(&mt), S_OK);
    VideoFrameSource& source = r->frameSource();
    uint32_t w = 0, h = 0;
    EXPECT_EQ(source.size(nullptr, nullptr), 0);
    EXPECT_EQ(source.size(&w, &h), 1);
    EXPECT_EQ(h, 3u);

    auto wrong = drawBase_->createLayerTexture(4, 4, D3DFMT_X8R8G8B8, 1, false);
    const uint32_t refs = wrong->referenceCount();
    EXPECT_EQ(source.attach(wrong.get()), E_INVALIDARG);
    EXPECT_EQ(wrong->referenceCount(), refs);
    auto image = drawBase_->createImage(4, 3, false);
    EXPECT_EQ(source.attach(image.get()), 0);  // not a texture

    auto first = drawBase_->createLayerTexture(4, 3, D3DFMT_X8R8G8B8, 1, false);
    auto second = drawBase_->createLayerTexture(4, 3, D3DFMT_X8R8G8B8, 1, false);
    second->fill(0xFF000000u, nullptr);
    EXPECT_EQ(source.attach(first.get()), 1);
    EXPECT_EQ(source.attach(second.get()), 0);
    std::vector<uint8_t> picture = rgb32Picture(4, -3);
    ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    expectUpright(*first, 4, 3);
    expectUpright(*second, 0, 0);
    const uint32_t held = first->referenceCount();
    r.reset();
    EXPECT_EQ(first->referenceCount(), held - 1);

    // The Surface Renderer takes images instead.
    auto surface = makeRenderer<SurfaceRenderer>();
    ASSERT_EQ(surface->SetMediaType(&mt), S_OK);
    EXPECT_EQ(surface->frameSource().attach(second.get()), 0);
    EXPECT_EQ(surface->frameSource().attach(image.get()), 1);
    EXPECT_EQ(surface->DoRenderSample(sampleOver(picture).get()), S_OK);
}

TEST_F(FrameRendererTest, MediaTypeChecksAndAcceptedFormats) {
    auto texture = makeRenderer<TextureRenderer>();
    EXPECT_EQ(texture->CheckMediaType(nullptr), E_POINTER);
    CMediaType mt = videoType(MEDIASUBTYPE_RGB32, 4, 4, 32);
    mt.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(texture->CheckMediaType(&mt), VFW_E_INVALIDMEDIATYPE);
    mt = videoType(MEDIASUBTYPE_RGB32, 4, 4, 32);
    mt.ReallocFormatBuffer(60);  // too short for its header
    EXPECT_EQ(texture->CheckMediaType(&mt), VFW_E_NO_TYPES);
    mt.SetFormatType(&FORMAT_None);
    EXPECT_EQ(texture->CheckMediaType(&mt), VFW_E_NO_TYPES);
    EXPECT_EQ(texture->SetMediaType(&mt), VFW_E_NO_TYPES);
    CMediaType yuv = videoType(MEDIASUBTYPE_YV12, 4, 4, 12);
    EXPECT_EQ(texture->CheckMediaType(&yuv), VFW_E_INVALIDSUBTYPE);
    // Without accepted formats every row of the table passes.
    for (const VideoFormat& row : videoFormatTable()) {
        CMediaType t = videoType(row.subtype, 4, 4, 32, true);
        EXPECT_EQ(texture->CheckMediaType(&t), S_OK);
    }
    CMediaType rgb565 = videoType(MEDIASUBTYPE_RGB565, 4, 4, 16), argb = videoType(MEDIASUBTYPE_ARGB32, 4, 4, 32);
    texture->setFormats(&factory());
    EXPECT_EQ(texture->acceptedFormat(0), uint32_t(D3DFMT_X8R8G8B8));
    EXPECT_EQ(texture->acceptedFormat(1), uint32_t(D3DFMT_A8R8G8B8));
    EXPECT_EQ(texture->CheckMediaType(&rgb565), VFW_E_INVALIDSUBTYPE);
    EXPECT_EQ(texture->CheckMediaType(&argb), S_OK);

    // Pixel format numbers for the Surface Renderer: the desktop's without a factory.
    auto surface = makeRenderer<SurfaceRenderer>(drawBase_->device());
    surface->setFormats(nullptr);
    EXPECT_EQ(surface->acceptedFormat(0), uint32_t(kPixelFormatX8R8G8B8));
    EXPECT_EQ(surface->acceptedFormat(1), uint32_t(kPixelFormatA8R8G8B8));
    EXPECT_EQ(surface->CheckMediaType(&rgb565), VFW_E_INVALIDSUBTYPE);
    EXPECT_EQ(surface->CheckMediaType(&argb), S_OK);

    // A device object that is not a device fails construction with the query's error.
    HRESULT hr = S_OK;
    InterfacePtr<TextureRenderer> failed(new TextureRenderer(static_cast<IBaseFilter*>(surface.get()), &hr));
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_EQ(surface->device(), drawBase_->device());
}

TEST_F(FrameRendererTest, PicturesThatDoNotFitAreClippedToTargetAndSample) {
    InterfacePtr<LayerTexture> texture;
    auto r = attached(videoType(MEDIASUBTYPE_RGB32, 4, 3, 32), &texture);
    // A larger bottom-up picture after a type change: its top-left 4 x 3.
    CMediaType large = videoType(MEDIASUBTYPE_RGB32, 9, 7, 32);
    ASSERT_EQ(r->SetMediaType(&large), S_OK);
    std::vector<uint8_t> picture = rgb32Picture(9, 7);
    ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    expectUpright(*texture, 4, 3);
    // A smaller one changes only its own rectangle.
    texture->fill(0xFF000000u, nullptr);
    CMediaType small = videoType(MEDIASUBTYPE_RGB32, 2, -2, 32);
    ASSERT_EQ(r->SetMediaType(&small), S_OK);
    picture = rgb32Picture(2, -2);
    ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    expectUpright(*texture, 2, 2);
    // A sample holding only the two bottom rows of a bottom-up picture leaves the rest.
    texture->fill(0xFF000000u, nullptr);
    CMediaType full = videoType(MEDIASUBTYPE_RGB32, 4, 3, 32);
    ASSERT_EQ(r->SetMediaType(&full), S_OK);
    picture = rgb32Picture(4, 3);
    picture.resize(32);
    ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    std::vector<uint32_t> got = readRgb(*texture);
    EXPECT_EQ(got[0], 0u);
    EXPECT_EQ(got[4 * 2 + 3], 0x203u);
}

// Counts its use and sees whether the frame was signalled before the copy ended.
class RecordingLock : public CriticalSection {
public:
    explicit RecordingLock(VideoFrameSource& source) : source_(source) {}
    void lock() override {
        ++locks;
        CriticalSection::lock();
    }
    bool unlock() override {
        signalledInside = signalledInside || source_.frameSignalled();
        return CriticalSection::unlock();
    }
    int locks = 0;
    bool signalledInside = false;

private:
    VideoFrameSource& source_;
};

TEST_F(FrameRendererTest, CopiesUnderTheLockThenSignalsTheFrame) {
    InterfacePtr<LayerTexture> texture;
    auto r = attached(videoType(MEDIASUBTYPE_RGB32, 4, 3, 32), &texture);
    VideoFrameSource& source = r->frameSource();
    RecordingLock lock(source);
    EXPECT_EQ(source.setLock(&lock), 1);
    EXPECT_EQ(source.waitForFrame(0), VideoFrameSource::kWaitTimeout);
    std::vector<uint8_t> picture = rgb32Picture(4, 3);
    ASSERT_EQ(r->DoRenderSample(sampleOver(picture).get()), S_OK);
    EXPECT_EQ(lock.locks, 1);
    EXPECT_FALSE(lock.signalledInside);
    EXPECT_EQ(source.waitForFrame(0), VideoFrameSource::kWaitObject0);
    EXPECT_TRUE(source.frameSignalled());  // manual reset
    source.resetFrame();
    EXPECT_FALSE(source.frameSignalled());

    // While another thread holds the lock the picture waits for it.
    lock.lock();
    std::thread streaming([&] { r->DoRenderSample(sampleOver(picture).get()); });
    EXPECT_EQ(source.waitForFrame(50), VideoFrameSource::kWaitTimeout);
    lock.unlock();
    EXPECT_EQ(source.waitForFrame(INFINITE), VideoFrameSource::kWaitObject0);
    streaming.join();
}

TEST_F(FrameRendererTest, NeverDrawsAheadOfTheTimeStamp) {
    auto r = makeRenderer<TextureRenderer>();
    std::vector<uint8_t> buffer(16);
    auto sample = sampleOver(buffer);
    REFERENCE_TIME start = 0, end = 1;
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), S_FALSE);  // no clock
    InterfacePtr<SystemClock> clock(new SystemClock());
    ASSERT_EQ(r->SetSyncSource(clock.get()), S_OK);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    // Late: still waits on the clock (which fires at once) instead of drawing at once.
    start = now - 10 * MILLISECONDS;
    sample->SetSyncPoint(TRUE);
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), S_FALSE);
    // Far too late and no key frame: the base's drop passes through.
    start = now - 10000 * MILLISECONDS;
    sample->SetSyncPoint(FALSE);
    EXPECT_EQ(r->ShouldDrawSampleNow(sample.get(), &start, &end), E_FAIL);
    r->SetSyncSource(nullptr);
}

}  // namespace
