#pragma once
// Shared by the renderer and converter tests: a compositor on the software device, video
// types with a bitmap header, samples over test buffers, reading a texture back, and the
// YUV conversion written out plainly from its definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/WindowApi.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/Image.h"
#include "graphics/LayerTexture.h"
#include "graphics/TextureFactory.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/SoftwareAdapter.h"

namespace videotest {

class SoftwareCompositor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registerDirect3DModule());
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
        WindowApi api;
        api.GetClientRect = [](HWND, RECT* r) -> BOOL {
            *r = RECT{0, 0, 64, 48};
            return TRUE;
        };
        installWindowApi(api);
        config_ = std::make_unique<DisplayConfig>();  // after the module is registered
        config_->setOptions(0);
        config_->setWindowedSize(64, 48);
        drawBase_ = std::make_unique<DrawBase>(reinterpret_cast<HWND>(uintptr_t(0x7A11)), *config_);
        ASSERT_NE(drawBase_->device(), nullptr);
    }
    void TearDown() override {
        drawBase_.reset();
        config_.reset();
        uninstallWindowApi();
    }
    TextureFactory& factory() { return drawBase_->textureFactory(); }

    std::unique_ptr<DisplayConfig> config_;
    std::unique_ptr<DrawBase> drawBase_;
};

inline CMediaType videoType(const GUID& subtype, LONG width, LONG height, WORD bits, bool info2 = false) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(info2 ? &FORMAT_VideoInfo2 : &FORMAT_VideoInfo);
    BYTE* block = mt.AllocFormatBuffer(info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
    auto* h = const_cast<BITMAPINFOHEADER*>(bitmapHeaderOf(mt.formattype, block, mt.cbFormat));
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = width;
    h->biHeight = height;
    h->biBitCount = bits;
    return mt;
}

// The sample deletes itself when released; the buffer stays the test's.
inline InterfacePtr<IMediaSample> sampleOver(std::vector<uint8_t>& buffer) {
    HRESULT hr = S_OK;
    return InterfacePtr<IMediaSample>(new CMediaSample(u"test", nullptr, &hr, buffer.data(), LONG(buffer.size())));
}

// A 32-bit texture's pixels without the top byte, rows top first.
inline std::vector<uint32_t> readRgb(LayerTexture& texture) {
    int32_t w = 0, h = 0;
    texture.size(&w, &h);
    std::vector<uint32_t> out;
    InterfacePtr<Image> view = texture.openImage();
    void* bits = nullptr;
    int32_t pitch = 0;
    if (!view || !view->lock(&bits, &pitch)) return out;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t p;
            std::memcpy(&p, static_cast<uint8_t*>(bits) + y * pitch + x * 4, 4);
            out.push_back(p & 0xFFFFFF);
        }
    view->unlock();
    texture.commitImage(view.get(), nullptr);
    return out;
}

// Coefficient sets: luma scale, luma offset, Cr->R, Cr->G, Cb->G, Cb->B.
constexpr int kReference[4][6] = {
    {4769, 16, 7343, -2183, -873, 8652},
    {4096, 0, 5742, -2925, -1410, 7258},
    {4769, 16, 6537, -3330, -1604, 8262},
    {4096, 0, 6450, -1917, -767, 7601},
};

inline uint32_t referencePixel(int standard, int y, int u, int v) {
    const int* c = kReference[standard];
    const int ys = (y - c[1]) * c[0], cb = u - 128, cr = v - 128;
    // Division rounding toward minus infinity, then the clamp.
    auto channel = [](int sum) {
        return uint32_t(std::clamp(sum >= 0 ? sum / 4096 : -((-sum + 4095) / 4096), 0, 255));
    };
    return 0xFF000000u | channel(ys + c[2] * cr) << 16 | channel(ys + c[3] * cr + c[4] * cb) << 8 |
           channel(ys + c[5] * cb);
}

}  // namespace videotest
