#pragma once
// Shared by the compositor tests: the built-in "d3d9.dll" on a fresh process adapter, a
// window whose client size the test sets, a presentation target that keeps the last
// presented picture, and an independent reference of the layer composition rules from
// which expected pictures are computed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/WindowApi.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/Image.h"
#include "graphics/LayerDrawer.h"
#include "graphics/LayerTexture.h"
#include "graphics/TextureFactory.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/PresentationTarget.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/gfx/SoftwareDevice.h"

namespace harness {

inline HWND testWindow() {
    return reinterpret_cast<HWND>(uintptr_t(0x5150));
}

// The client size GetClientRect reports for the test window.
inline RECT& clientRect() {
    static RECT r{0, 0, 64, 48};
    return r;
}

inline void installClientWindow() {
    WindowApi api;
    api.GetClientRect = [](HWND w, RECT* r) -> BOOL {
        if (w != testWindow() || !r) return FALSE;
        *r = clientRect();
        return TRUE;
    };
    installWindowApi(api);
}

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, rows top first
    uint32_t at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

class CaptureTarget : public gfx::PresentationTarget {
public:
    void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) override {
        std::lock_guard<std::mutex> hold(mutex_);
        last_.width = width;
        last_.height = height;
        last_.pixels.resize(size_t(width) * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = bgra + size_t(y) * stride + size_t(x) * 4;
                last_.pixels[size_t(y) * width + x] =
                    uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
            }
        ++count_;
    }
    Picture last() {
        std::lock_guard<std::mutex> hold(mutex_);
        return last_;
    }
    int count() {
        std::lock_guard<std::mutex> hold(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    Picture last_;
    int count_ = 0;
};

// Process adapter back to its defaults, the module registered, a capture target on the
// test window. Tests change capabilities on adapter() before making the compositor.
class CompositorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registerDirect3DModule());
        adapter().restoreDefaults();
        capture_ = std::make_shared<CaptureTarget>();
        adapter().setPresentationTarget(testWindow(), capture_);
        clientRect() = RECT{0, 0, 64, 48};
        installClientWindow();
    }
    void TearDown() override {
        drawBase_.reset();
        config_.reset();
        adapter().restoreDefaults();
        uninstallWindowApi();
    }

    static gfx::SoftwareAdapter& adapter() { return *gfx::SoftwareAdapter::processAdapter(); }

    // The player's way: options 128 (9Ex when there), windowed w x h.
    DrawBase& makeCompositor(int32_t width, int32_t height, uint32_t options = 128) {
        config_ = std::make_unique<DisplayConfig>();
        config_->setOptions(options);
        config_->setWindowedSize(width, height);
        clientRect() = RECT{0, 0, width, height};
        drawBase_ = std::make_unique<DrawBase>(testWindow(), *config_);
        return *drawBase_;
    }

    gfx::SoftwareDevice* software() { return gfx::softwareDevice(drawBase_->device()); }

    // A texture of the given A8R8G8B8 / X8R8G8B8 texels.
    InterfacePtr<LayerTexture> makeTexture(uint32_t w, uint32_t h, D3DFORMAT format,
                                           const std::vector<uint32_t>& texels) {
        InterfacePtr<LayerTexture> t = drawBase_->createLayerTexture(w, h, format, 1, false);
        EXPECT_TRUE(t);
        if (!t) return t;
        InterfacePtr<Image> view = t->openImage();
        EXPECT_TRUE(view);
        void* bits = nullptr;
        int32_t pitch = 0;
        EXPECT_TRUE(view->lock(&bits, &pitch));
        for (uint32_t y = 0; y < h; ++y)
            std::copy_n(texels.data() + size_t(y) * w, w,
                        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(bits) + size_t(y) * pitch));
        view->unlock();
        EXPECT_TRUE(t->commitImage(view.get(), nullptr));
        return t;
    }

    // What an item does each frame for a dirty layer, then its draw.
    bool drawLayer(LayerTexture& t, const RECT& dest, const RECT* source, D3DCOLOR colour) {
        EXPECT_TRUE(t.setGeometry(dest, source, colour, 1.0f, 0.0f));
        EXPECT_TRUE(t.mesh().uploadVertices());
        EXPECT_TRUE(t.mesh().uploadIndices());
        RefObject* list[1] = {&t};
        return drawBase_->layerDrawer().drawObjects(list, 1, 0, nullptr, 0, 0);
    }

    // One frame: clear to the background, draw the layers (last drawn on top), present.
    struct Layer {
        LayerTexture* texture;
        RECT dest;
        const RECT* source;
        D3DCOLOR colour;
        bool dirty = true;  // clean layers draw with the geometry they have
    };
    bool frame(D3DCOLOR background, const std::vector<Layer>& layers) {
        ScopedLock hold(drawBase_->sceneLock());
        bool began = !drawBase_->isInScene();
        if (began) drawBase_->beginScene();
        drawBase_->layerDrawer().clear(nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
        for (const Layer& l : layers) {
            if (l.dirty) {
                drawLayer(*l.texture, l.dest, l.source, l.colour);
            } else {
                RefObject* list[1] = {l.texture};
                drawBase_->layerDrawer().drawObjects(list, 1, 0, nullptr, 0, 0);
            }
        }
        if (began) drawBase_->endScene();
        return drawBase_->present();
    }

    std::unique_ptr<DisplayConfig> config_;
    std::unique_ptr<DrawBase> drawBase_;
    std::shared_ptr<CaptureTarget> capture_;
};

// ---- the reference rules ----------------------------------------------------------------

inline uint32_t channel(uint32_t c, int shift) {
    return (c >> shift) & 0xFF;
}
// x / 255 rounded to nearest.
inline uint32_t roundDiv255(uint64_t x) {
    return uint32_t((2 * x + 255) / 510);
}
inline int64_t floorDiv(int64_t a, int64_t b) {
    if (b < 0) a = -a, b = -b;
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

struct RefTexture {
    uint32_t width, height;
    bool alpha;                    // formats without alpha read as opaque
    std::vector<uint32_t> texels;  // 0xAARRGGBB
};

// Where a pixel centre lands in the texture along one axis: the source edge plus half a
// texel, interpolated linearly over the destination, rounded to 1/256 texel, then the
// texel under it, wrapped.
inline uint32_t texelIndex(int64_t pixel, LONG d0, LONG d1, LONG s0, LONG s1, uint32_t size) {
    int64_t dw = int64_t(d1) - d0, sw = int64_t(s1) - s0;
    // position = s0 + 0.5 + (pixel - d0) * sw / dw = num / (2 dw)
    int64_t num = (2 * int64_t(s0) + 1) * dw + 2 * (pixel - d0) * sw;
    int64_t den = 2 * dw;
    int64_t fixed = floorDiv(2 * num * 256 + den, 2 * den);  // nearest 1/256
    int64_t texel = floorDiv(fixed, 256);
    int64_t wrapped = texel % int64_t(size);
    return uint32_t(wrapped < 0 ? wrapped + size : wrapped);
}

// Draws one layer over the picture by the rules: point sampling, texel times diffuse,
// alpha test "greater than 0", source-alpha blending; pixel centres at integers, left and
// top edges included, right and bottom excluded, either orientation.
inline void referenceLayer(Picture& pic, const RefTexture& t, RECT d, const RECT* sourceOrNull, D3DCOLOR colour) {
    RECT s = sourceOrNull ? *sourceOrNull : RECT{0, 0, LONG(t.width), LONG(t.height)};
    LONG x0 = std::min(d.left, d.right), x1 = std::max(d.left, d.right);
    LONG y0 = std::min(d.top, d.bottom), y1 = std::max(d.top, d.bottom);
    for (LONG y = std::max<LONG>(y0, 0); y < std::min<LONG>(y1, LONG(pic.height)); ++y)
        for (LONG x = std::max<LONG>(x0, 0); x < std::min<LONG>(x1, LONG(pic.width)); ++x) {
            uint32_t tu = texelIndex(x, d.left, d.right, s.left, s.right, t.width);
            uint32_t tv = texelIndex(y, d.top, d.bottom, s.top, s.bottom, t.height);
            uint32_t texel = t.texels[size_t(tv) * t.width + tu];
            if (!t.alpha) texel |= 0xFF000000u;
            uint32_t src[4];
            for (int c = 0; c < 4; ++c) src[c] = roundDiv255(uint64_t(channel(texel, c * 8)) * channel(colour, c * 8));
            uint32_t a = src[3];
            if (a == 0) continue;
            uint32_t& dst = pic.pixels[size_t(y) * pic.width + x];
            uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                uint64_t v = uint64_t(src[c]) * a + uint64_t(channel(dst, c * 8)) * (255 - a);
                out |= std::min<uint32_t>(255, roundDiv255(v)) << (c * 8);
            }
            dst = out;
        }
}

inline Picture referenceClear(uint32_t w, uint32_t h, D3DCOLOR background) {
    Picture p;
    p.width = w;
    p.height = h;
    p.pixels.assign(size_t(w) * h, background);
    return p;
}

// What a window shows: opaque.
inline Picture shown(Picture p) {
    for (uint32_t& v : p.pixels) v |= 0xFF000000u;
    return p;
}

// Index of the first differing pixel, or -1.
inline long firstDifference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) return 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        if (a.pixels[i] != b.pixels[i]) return long(i);
    return -1;
}

}  // namespace harness

#define EXPECT_PICTURE(expected, actual)                                                                               \
    do {                                                                                                               \
        long at_ = harness::firstDifference(expected, actual);                                                         \
        EXPECT_EQ(at_, -1) << "first difference at (" << (at_ % long((expected).width ? (expected).width : 1)) << ", " \
                           << (at_ / long((expected).width ? (expected).width : 1)) << "): expected " << std::hex      \
                           << (at_ >= 0 && size_t(at_) < (expected).pixels.size() ? (expected).pixels[size_t(at_)]     \
                                                                                  : 0u)                                \
                           << " got "                                                                                  \
                           << (at_ >= 0 && size_t(at_) < (actual).pixels.size() ? (actual).pixels[size_t(at_)] : 0u);  \
    } while (0)
