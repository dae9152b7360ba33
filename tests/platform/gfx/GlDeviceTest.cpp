// The OpenGL device against the software device: the same scenes, drawn the way the
// compositor draws layers, must give the same pictures (exactly where nothing is scaled,
// within one level per channel otherwise). Needs an X display with OpenGL; skipped without.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "DeviceFixture.h"
#include "platform/gfx/GlDevice.h"
#include "platform/gfx/GlDirect3D.h"
#include "platform/gfx/GlWindow.h"

// Under the leak checker: the same libraries keep process-lifetime allocations (Qt 6.4
// also keeps the function tables it made for each context).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\n"
           "leak:libLLVM\n"
           "leak:libGLX_mesa.so.0\n"
           "leak:libGLX.so.0\n"
           "leak:libEGL_mesa.so.0\n"
           "leak:libglapi.so.0\n"
           "leak:libX11.so.6\n"
           "leak:libxcb.so.1\n"
           "leak:libqxcb-glx-integration.so\n"
           "leak:libQt6XcbQpa.so.6\n"
           "leak:libQt6Gui.so.6\n"
           "leak:libQt6OpenGL.so.6\n"
           "leak:libQt6Core.so.6\n"
           "leak:libQt6DBus.so.6\n"
           "leak:libfontconfig.so.1\n"
           "leak:libdbus-1.so.3\n"
           "leak:libglib-2.0.so.0\n";
}

// Under the thread sanitizer: the OpenGL driver and the window system libraries are not
// instrumented, and their own threads would be reported; the device's code still is checked.
extern "C" const char* __tsan_default_suppressions() {
    return "race:swrast_dri.so\n"
           "deadlock:swrast_dri.so\n"
           "mutex:swrast_dri.so\n"
           "race:libGLX_mesa.so.0\n"
           "deadlock:libGLX_mesa.so.0\n"
           "mutex:libGLX_mesa.so.0\n"
           "race:libGLX.so.0\n"
           "deadlock:libGLX.so.0\n"
           "mutex:libGLX.so.0\n"
           "race:libGL.so.1\n"
           "deadlock:libGL.so.1\n"
           "mutex:libGL.so.1\n"
           "race:libOpenGL.so.0\n"
           "deadlock:libOpenGL.so.0\n"
           "mutex:libOpenGL.so.0\n"
           "race:libEGL.so.1\n"
           "deadlock:libEGL.so.1\n"
           "mutex:libEGL.so.1\n"
           "race:libEGL_mesa.so.0\n"
           "deadlock:libEGL_mesa.so.0\n"
           "mutex:libEGL_mesa.so.0\n"
           "race:libGLdispatch.so.0\n"
           "deadlock:libGLdispatch.so.0\n"
           "mutex:libGLdispatch.so.0\n"
           "race:libglapi.so.0\n"
           "deadlock:libglapi.so.0\n"
           "mutex:libglapi.so.0\n"
           "race:libgbm.so.1\n"
           "deadlock:libgbm.so.1\n"
           "mutex:libgbm.so.1\n"
           "race:libX11.so.6\n"
           "deadlock:libX11.so.6\n"
           "mutex:libX11.so.6\n"
           "race:libxcb.so.1\n"
           "deadlock:libxcb.so.1\n"
           "mutex:libxcb.so.1\n"
           "race:libLLVM\n"
           "deadlock:libLLVM\n"
           "mutex:libLLVM\n"
           "race:libqxcb-glx-integration.so\n"
           "deadlock:libqxcb-glx-integration.so\n"
           "mutex:libqxcb-glx-integration.so\n"
           "race:libQt6XcbQpa.so.6\n"
           "deadlock:libQt6XcbQpa.so.6\n"
           "mutex:libQt6XcbQpa.so.6\n"
           "race:libQt6Gui.so.6\n"
           "deadlock:libQt6Gui.so.6\n"
           "mutex:libQt6Gui.so.6\n"
           "race:libQt6Core.so.6\n"
           "deadlock:libQt6Core.so.6\n"
           "mutex:libQt6Core.so.6\n"
           "race:libQt6DBus.so.6\n"
           "deadlock:libQt6DBus.so.6\n"
           "mutex:libQt6DBus.so.6\n"
           "race:libglib-2.0.so.0\n"
           "deadlock:libglib-2.0.so.0\n"
           "mutex:libglib-2.0.so.0\n"
           "race:libdbus-1.so.3\n"
           "deadlock:libdbus-1.so.3\n"
           "mutex:libdbus-1.so.3\n"
           "race:libfontconfig.so.1\n"
           "deadlock:libfontconfig.so.1\n"
           "mutex:libfontconfig.so.1\n";
}

namespace {

using gfxtest::kLayerFvf;
using gfxtest::LayerVertex;

constexpr UINT kWidth = 320, kHeight = 240;

std::vector<uint32_t> randomPixels(UINT w, UINT h, uint32_t seed, bool opaque) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> p(size_t(w) * h);
    for (auto& v : p) {
        v = rng();
        if (opaque) v |= 0xFF000000u;
        // Some fully transparent and some fully opaque texels, for the alpha test.
        else if ((v & 7) == 0)
            v &= 0x00FFFFFFu;
        else if ((v & 7) == 1)
            v |= 0xFF000000u;
    }
    return p;
}

// One device of either kind with the compositor's habits.
class Rig {
public:
    explicit Rig(IDirect3DDevice9* device) : d_(device) {}

    void baseline() {
        d_->SetRenderState(D3DRS_ZENABLE, TRUE);
        d_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        d_->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        d_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        d_->SetRenderState(D3DRS_ALPHAREF, 0);
        d_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d_->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        d_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d_->SetRenderState(D3DRS_COLORWRITEENABLE, 15);
        d_->SetRenderState(D3DRS_LIGHTING, FALSE);
        d_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        filter(D3DTEXF_POINT);
        d_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        d_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        d_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d_->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }

    void filter(D3DTEXTUREFILTERTYPE f) {
        d_->SetSamplerState(0, D3DSAMP_MAGFILTER, f);
        d_->SetSamplerState(0, D3DSAMP_MINFILTER, f);
    }

    // A default-pool texture filled through a system-memory surface and UpdateSurface.
    InterfacePtr<IDirect3DTexture9> texture(UINT w, UINT h, D3DFORMAT format, const std::vector<uint32_t>& pixels) {
        InterfacePtr<IDirect3DTexture9> t;
        EXPECT_EQ(D3D_OK, d_->CreateTexture(w, h, 1, 0, format, D3DPOOL_DEFAULT, t.put(), nullptr));
        if (t) upload(t.get(), w, h, format, pixels);
        return t;
    }

    // The pixels into all of the texture, or into the part `part` of it (the pixels then
    // cover that part only).
    void upload(IDirect3DTexture9* t, UINT w, UINT h, D3DFORMAT format, const std::vector<uint32_t>& pixels,
                const RECT* part = nullptr) {
        if (part) {
            w = UINT(part->right - part->left);
            h = UINT(part->bottom - part->top);
        }
        InterfacePtr<IDirect3DSurface9> staging, level;
        ASSERT_EQ(D3D_OK, d_->CreateOffscreenPlainSurface(w, h, format, D3DPOOL_SYSTEMMEM, staging.put(), nullptr));
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(D3D_OK, staging->LockRect(&lr, nullptr, 0));
        for (UINT y = 0; y < h; ++y)
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, pixels.data() + size_t(y) * w, w * 4);
        staging->UnlockRect();
        ASSERT_EQ(D3D_OK, t->GetSurfaceLevel(0, level.put()));
        POINT at = part ? POINT{part->left, part->top} : POINT{0, 0};
        ASSERT_EQ(D3D_OK, d_->UpdateSurface(staging.get(), nullptr, level.get(), &at));
    }

    // A layer as the compositor draws it (half-texel offset on both source edges).
    void layer(IDirect3DTexture9* t, RECT dst, RECT src, DWORD color, UINT tw, UINT th, float z = 1.0f) {
        float u0 = (src.left + 0.5f) / float(tw), v0 = (src.top + 0.5f) / float(th);
        float u1 = (src.right + 0.5f) / float(tw), v1 = (src.bottom + 0.5f) / float(th);
        float l = float(dst.left), tp = float(dst.top), r = float(dst.right), b = float(dst.bottom);
        LayerVertex v[4] = {{l, tp, z, 1, color, u0, v0},
                            {r, tp, z, 1, color, u1, v0},
                            {l, b, z, 1, color, u0, v1},
                            {r, b, z, 1, color, u1, v1}};
        uint16_t idx[6] = {0, 1, 3, 3, 2, 0};
        InterfacePtr<IDirect3DVertexBuffer9> vb;
        InterfacePtr<IDirect3DIndexBuffer9> ib;
        ASSERT_EQ(D3D_OK,
                  d_->CreateVertexBuffer(sizeof v, D3DUSAGE_WRITEONLY, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr));
        ASSERT_EQ(D3D_OK, d_->CreateIndexBuffer(sizeof idx, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                                ib.put(), nullptr));
        void* p = nullptr;
        vb->Lock(0, 0, &p, 0);
        std::memcpy(p, v, sizeof v);
        vb->Unlock();
        ib->Lock(0, 0, &p, 0);
        std::memcpy(p, idx, sizeof idx);
        ib->Unlock();
        d_->SetFVF(kLayerFvf);
        d_->SetStreamSource(0, vb.get(), 0, sizeof(LayerVertex));
        d_->SetIndices(ib.get());
        d_->SetTexture(0, t);
        EXPECT_EQ(D3D_OK, d_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2));
        d_->SetTexture(0, nullptr);
        d_->SetIndices(nullptr);
        d_->SetStreamSource(0, nullptr, 0, 0);
    }

    void begin(D3DCOLOR background, float z = 1.0f) {
        ASSERT_EQ(D3D_OK, d_->BeginScene());
        ASSERT_EQ(D3D_OK, d_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, z, 0));
    }

    void end() {
        ASSERT_EQ(D3D_OK, d_->EndScene());
        ASSERT_EQ(D3D_OK, d_->Present(nullptr, nullptr, nullptr, nullptr));
    }

    // The back buffer through the contract (GetBackBuffer and a lock), opaque.
    std::vector<uint32_t> picture() {
        InterfacePtr<IDirect3DSurface9> back;
        EXPECT_EQ(D3D_OK, d_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()));
        D3DSURFACE_DESC desc{};
        back->GetDesc(&desc);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(D3D_OK, back->LockRect(&lr, nullptr, D3DLOCK_READONLY));
        std::vector<uint32_t> out(size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                out[size_t(y) * desc.Width + x] =
                    reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch)[x] |
                    0xFF000000u;
        back->UnlockRect();
        return out;
    }

    IDirect3DDevice9* d_;
};

// Largest channel difference and where it is.
struct Difference {
    int worst = 0;
    size_t at = 0, count = 0;
};

Difference compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    Difference d;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        int worst = 0;
        for (int s = 0; s < 32; s += 8)
            worst = std::max(worst, std::abs(int((a[i] >> s) & 255) - int((b[i] >> s) & 255)));
        if (worst) ++d.count;
        if (worst > d.worst) {
            d.worst = worst;
            d.at = i;
        }
    }
    return d;
}

class GlDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gfx::glWindowsAvailable()) GTEST_SKIP() << "no display with OpenGL: the OpenGL device is not tested";
        window_ = std::make_unique<gfx::GlSurfaceWindow>(kWidth, kHeight);
        makeDevices(false);
    }

    void makeDevices(bool ex) {
        gl_ = nullptr;
        device_.reset();
        reference_.reset();
        D3DPRESENT_PARAMETERS p = gfxtest::windowedParameters(kWidth, kHeight);
        auto adapter = std::make_shared<gfx::SoftwareAdapter>();
        softwareD3d_ = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter, true));
        glD3d_ =
            InterfacePtr<IDirect3D9Ex>::adopt(gfx::GlDirect3D::create(std::make_shared<gfx::SoftwareAdapter>(), true));
        if (ex) {
            InterfacePtr<IDirect3DDevice9Ex> a, b;
            ASSERT_EQ(D3D_OK, softwareD3d_->CreateDeviceEx(0, D3DDEVTYPE_HAL, gfxtest::fakeWindow(), 0x24, &p, nullptr,
                                                           a.put()));
            p = gfxtest::windowedParameters(kWidth, kHeight);
            ASSERT_EQ(D3D_OK, glD3d_->CreateDeviceEx(0, D3DDEVTYPE_HAL, window_->handle(), 0x24, &p, nullptr, b.put()));
            reference_ = InterfacePtr<IDirect3DDevice9>(a.get());
            device_ = InterfacePtr<IDirect3DDevice9>(b.get());
        } else {
            ASSERT_EQ(D3D_OK,
                      softwareD3d_->CreateDevice(0, D3DDEVTYPE_HAL, gfxtest::fakeWindow(), 0x24, &p, reference_.put()));
            p = gfxtest::windowedParameters(kWidth, kHeight);
            ASSERT_EQ(D3D_OK, glD3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->handle(), 0x24, &p, device_.put()));
        }
        // The reference is the software device's general pixel path: the rules themselves.
        gfx::softwareDevice(reference_.get())->setFastPaths(false);
        gl_ = gfx::glDevice(device_.get());
        if (!gl_) GTEST_SKIP() << "the window cannot carry an OpenGL 3.3 context: the OpenGL device is not tested";
        gl_->setCapturePresented(true);
        Rig(reference_.get()).baseline();
        Rig(device_.get()).baseline();
    }

    // Runs the scene on both devices and compares the presented pictures.
    template <typename Scene>
    Difference run(Scene scene) {
        Rig soft(reference_.get()), gl(device_.get());
        scene(soft);
        scene(gl);
        std::vector<uint32_t> expected = soft.picture(), presented;
        uint32_t w = 0, h = 0;
        EXPECT_TRUE(gl_->presentedPicture(&presented, &w, &h));
        EXPECT_EQ(kWidth, w);
        EXPECT_EQ(kHeight, h);
        // Reading the back buffer through the contract gives the same picture.
        EXPECT_EQ(presented, gl.picture());
        Difference d = compare(expected, presented);
        if (d.worst)
            ADD_FAILURE_AT(__FILE__, __LINE__)
                << "" << d.count << " pixels differ; worst " << d.worst << " at (" << d.at % kWidth << ", "
                << d.at / kWidth << "): expected " << std::hex << expected[d.at] << " got " << presented[d.at];
        return d;
    }

    std::unique_ptr<gfx::GlSurfaceWindow> window_;
    InterfacePtr<IDirect3D9Ex> softwareD3d_, glD3d_;
    InterfacePtr<IDirect3DDevice9> reference_, device_;
    gfx::GlDevice* gl_ = nullptr;
};

#define EXPECT_WITHIN(limit, d)                                                                  \
    do {                                                                                         \
        Difference diff_ = (d);                                                                  \
        EXPECT_LE(diff_.worst, limit) << diff_.count << " pixels differ, worst at " << diff_.at; \
    } while (0)

TEST_F(GlDeviceTest, UnscaledLayersMatchExactly) {
    auto opaque = randomPixels(96, 64, 1, true);
    auto alpha = randomPixels(80, 50, 2, false);
    Difference d = run([&](Rig& r) {
        auto a = r.texture(96, 64, D3DFMT_X8R8G8B8, opaque);
        auto b = r.texture(80, 50, D3DFMT_A8R8G8B8, alpha);
        r.begin(0xFF204060);
        r.layer(a.get(), {10, 20, 106, 84}, {0, 0, 96, 64}, 0xFFFFFFFF, 96, 64);
        // Transparent texels are discarded by the alpha test, the rest blended.
        r.layer(b.get(), {50, 40, 130, 90}, {0, 0, 80, 50}, 0xFFFFFFFF, 80, 50);
        // Opacity 128 and a tinted diffuse colour.
        r.layer(a.get(), {150, 100, 246, 164}, {0, 0, 96, 64}, 0x80FF8040, 96, 64);
        // A sub-rectangle of the picture.
        r.layer(b.get(), {200, 10, 240, 40}, {20, 10, 60, 40}, 0xFFFFFFFF, 80, 50);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
}

TEST_F(GlDeviceTest, OpacityAndAlphaRules) {
    std::vector<uint32_t> white(16 * 16, 0xFFFFFFFFu), clear(16 * 16, 0u);
    Difference d = run([&](Rig& r) {
        auto w = r.texture(16, 16, D3DFMT_A8R8G8B8, white);
        auto c = r.texture(16, 16, D3DFMT_A8R8G8B8, clear);
        auto x = r.texture(16, 16, D3DFMT_X8R8G8B8, clear);
        r.begin(0xFF000000);
        r.layer(w.get(), {0, 0, 16, 16}, {0, 0, 16, 16}, 0x80FFFFFF, 16, 16);   // 128 of white
        r.layer(w.get(), {20, 0, 36, 16}, {0, 0, 16, 16}, 0x00FFFFFF, 16, 16);  // opacity 0: nothing
        r.layer(c.get(), {40, 0, 56, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);  // alpha 0 texels: discarded
        r.layer(x.get(), {60, 0, 76, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);  // no alpha: black shows
        r.end();
    });
    EXPECT_EQ(0, d.worst);
    std::vector<uint32_t> pixels;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gl_->presentedPicture(&pixels, &w, &h));
    EXPECT_EQ(0xFF808080u, pixels[5 * kWidth + 5]);
}

TEST_F(GlDeviceTest, ScaledMirroredAndClippedLayers) {
    auto pixels = randomPixels(64, 48, 3, false);
    // Doubled with point sampling, mirrored, beyond the window, repeating source.
    Difference point = run([&](Rig& r) {
        auto t = r.texture(64, 48, D3DFMT_A8R8G8B8, pixels);
        r.begin(0xFF102030);
        r.layer(t.get(), {0, 0, 128, 96}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.layer(t.get(), {260, 100, 140, 200}, {0, 0, 64, 48}, 0xC0FFFFFF, 64, 48);
        r.layer(t.get(), {280, 180, 400, 300}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.layer(t.get(), {0, 120, 96, 216}, {-16, -16, 80, 80}, 0xFFFFFFFF, 64, 48);
        r.end();
    });
    EXPECT_WITHIN(1, point);
    // 1.5 times and shrunk, with each filter for magnification and minification.
    Difference linear = run([&](Rig& r) {
        auto t = r.texture(64, 48, D3DFMT_A8R8G8B8, pixels);
        r.begin(0xFF000000);
        r.filter(D3DTEXF_LINEAR);
        r.layer(t.get(), {5, 7, 101, 79}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.layer(t.get(), {150, 20, 182, 44}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.d_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        r.layer(t.get(), {5, 110, 101, 182}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.layer(t.get(), {150, 110, 182, 134}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.d_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        r.d_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        r.layer(t.get(), {200, 110, 296, 182}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.layer(t.get(), {200, 190, 232, 214}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48);
        r.end();
        r.filter(D3DTEXF_POINT);
    });
    EXPECT_WITHIN(1, linear);
}

TEST_F(GlDeviceTest, CopiesAndOffscreenTargetsReachThePicture) {
    auto pixels = randomPixels(48, 32, 7, true);
    Difference d = run([&](Rig& r) {
        IDirect3DDevice9* dev = r.d_;
        // StretchRect reads render targets only.
        InterfacePtr<IDirect3DTexture9> source;
        ASSERT_EQ(D3D_OK, dev->CreateTexture(48, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                             source.put(), nullptr));
        r.upload(source.get(), 48, 32, D3DFMT_X8R8G8B8, pixels);
        // A render-target texture filled by StretchRect and ColorFill, as a presenter does.
        InterfacePtr<IDirect3DTexture9> target;
        ASSERT_EQ(D3D_OK, dev->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                             target.put(), nullptr));
        InterfacePtr<IDirect3DSurface9> from, to;
        source->GetSurfaceLevel(0, from.put());
        target->GetSurfaceLevel(0, to.put());
        RECT part{0, 0, 32, 32};
        ASSERT_EQ(D3D_OK, dev->StretchRect(from.get(), nullptr, to.get(), &part, D3DTEXF_LINEAR));
        RECT corner{0, 0, 8, 8};
        ASSERT_EQ(D3D_OK, dev->ColorFill(to.get(), &corner, 0xFFFF0000));
        // Drawn into that texture with the device (an offscreen target), then shown.
        InterfacePtr<IDirect3DSurface9> back;
        ASSERT_EQ(D3D_OK, dev->GetRenderTarget(0, back.put()));
        ASSERT_EQ(D3D_OK, dev->SetRenderTarget(0, to.get()));
        ASSERT_EQ(D3D_OK, dev->BeginScene());
        D3DRECT band{0, 24, 32, 28};
        ASSERT_EQ(D3D_OK, dev->Clear(1, &band, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0));
        r.layer(source.get(), {16, 16, 32, 32}, {0, 0, 16, 16}, 0xFFFFFFFF, 48, 32);
        ASSERT_EQ(D3D_OK, dev->EndScene());
        ASSERT_EQ(D3D_OK, dev->SetRenderTarget(0, back.get()));
        r.begin(0xFF0000FF);
        // Clears limited by rectangles and by the viewport.
        D3DRECT rects[2] = {{100, 100, 140, 120}, {300, 200, 400, 300}};
        ASSERT_EQ(D3D_OK, dev->Clear(2, rects, D3DCLEAR_TARGET, 0xFFFFFF00, 1.0f, 0));
        D3DVIEWPORT9 full{}, small{200, 20, 60, 40, 0.0f, 1.0f};
        dev->GetViewport(&full);
        dev->SetViewport(&small);
        ASSERT_EQ(D3D_OK, dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF808080, 1.0f, 0));
        // A layer clipped by the viewport.
        r.layer(target.get(), {190, 10, 254, 74}, {0, 0, 32, 32}, 0xFFFFFFFF, 32, 32);
        dev->SetViewport(&full);
        r.layer(target.get(), {10, 10, 42, 42}, {0, 0, 32, 32}, 0xFFFFFFFF, 32, 32);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
}

TEST_F(GlDeviceTest, LayersShowTheirPictureAfterReset) {
    auto first = randomPixels(40, 30, 4, true), second = randomPixels(40, 30, 5, true);
    for (IDirect3DDevice9* d : {reference_.get(), device_.get()}) {
        Rig r(d);
        auto t = r.texture(40, 30, D3DFMT_X8R8G8B8, first);
        r.begin(0xFF000000);
        r.layer(t.get(), {0, 0, 40, 30}, {0, 0, 40, 30}, 0xFFFFFFFF, 40, 30);
        r.end();
    }
    // Default-pool resources must all be gone before a reset; the OpenGL copies may not
    // keep them alive.
    for (IDirect3DDevice9* d : {reference_.get(), device_.get()}) {
        D3DPRESENT_PARAMETERS p = gfxtest::windowedParameters(kWidth, kHeight);
        ASSERT_EQ(D3D_OK, d->Reset(&p));
        Rig(d).baseline();
    }
    // A texture made after the reset may reuse the old one's memory: it must not show the
    // old picture.
    Difference d = run([&](Rig& r) {
        auto t = r.texture(40, 30, D3DFMT_X8R8G8B8, second);
        r.begin(0xFF000000);
        r.layer(t.get(), {3, 3, 43, 33}, {0, 0, 40, 30}, 0xFFFFFFFF, 40, 30);
        r.layer(t.get(), {23, 13, 63, 43}, {0, 0, 40, 30}, 0x80FFFFFF, 40, 30);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
}

TEST_F(GlDeviceTest, NewPicturesReachTheTexture) {
    // Every frame a new picture is uploaded into the same texture from another thread, as a
    // movie's renderer does; each presented frame shows the latest one.
    Rig gl(device_.get()), soft(reference_.get());
    auto t = gl.texture(32, 32, D3DFMT_X8R8G8B8, randomPixels(32, 32, 10, true));
    auto s = soft.texture(32, 32, D3DFMT_X8R8G8B8, randomPixels(32, 32, 10, true));
    for (uint32_t frame = 0; frame < 4; ++frame) {
        auto pixels = randomPixels(32, 32, 100 + frame, true);
        std::thread writer([&] { gl.upload(t.get(), 32, 32, D3DFMT_X8R8G8B8, pixels); });
        writer.join();
        soft.upload(s.get(), 32, 32, D3DFMT_X8R8G8B8, pixels);
        for (auto [rig, tex] : {std::pair{&gl, t.get()}, std::pair{&soft, s.get()}}) {
            rig->begin(0xFF000000);
            rig->layer(tex, {8, 8, 40, 40}, {0, 0, 32, 32}, 0xFFFFFFFF, 32, 32);
            rig->end();
        }
        EXPECT_EQ(soft.picture(), gl.picture()) << "frame " << frame;
    }
}

TEST_F(GlDeviceTest, CallsFromSeveralThreads) {
    // Uploads from two streaming threads while the render thread composes: no call is lost
    // or torn, and the last pictures are what the final frame shows.
    Rig gl(device_.get());
    auto a = gl.texture(16, 16, D3DFMT_X8R8G8B8, randomPixels(16, 16, 20, true));
    auto b = gl.texture(16, 16, D3DFMT_X8R8G8B8, randomPixels(16, 16, 21, true));
    std::atomic<bool> stop{false};
    auto stream = [&](IDirect3DTexture9* t, uint32_t seed) {
        for (uint32_t i = 0; i < 20 && !stop; ++i)
            Rig(device_.get()).upload(t, 16, 16, D3DFMT_X8R8G8B8, randomPixels(16, 16, seed + i, true));
    };
    std::thread one(stream, a.get(), 300), two(stream, b.get(), 400);
    for (int frame = 0; frame < 10; ++frame) {
        gl.begin(0xFF000000);
        gl.layer(a.get(), {0, 0, 16, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);
        gl.layer(b.get(), {20, 0, 36, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);
        gl.end();
    }
    one.join();
    two.join();
    gl.begin(0xFF000000);
    gl.layer(a.get(), {0, 0, 16, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);
    gl.layer(b.get(), {20, 0, 36, 16}, {0, 0, 16, 16}, 0xFFFFFFFF, 16, 16);
    gl.end();
    auto shown = gl.picture();
    auto lastA = randomPixels(16, 16, 319, true), lastB = randomPixels(16, 16, 419, true);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(lastA[y * 16 + x], shown[y * kWidth + x]);
            ASSERT_EQ(lastB[y * 16 + x], shown[y * kWidth + 20 + x]);
        }
}

TEST_F(GlDeviceTest, ExPathAndRuntimeChoice) {
    makeDevices(true);
    if (!gl_) return;
    InterfacePtr<IDirect3DDevice9Ex> ex;
    ASSERT_EQ(S_OK, device_->QueryInterface(IDirect3DDevice9Ex::iid, reinterpret_cast<void**>(ex.put())));
    EXPECT_EQ(S_OK, ex->CheckDeviceState(window_->handle()));
    auto pixels = randomPixels(50, 40, 6, false);
    Difference d = run([&](Rig& r) {
        auto t = r.texture(50, 40, D3DFMT_A8R8G8B8, pixels);
        r.begin(0xFF336699);
        r.layer(t.get(), {30, 30, 80, 70}, {0, 0, 50, 40}, 0xFFFFFFFF, 50, 40);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
    // A lost device answers through the OpenGL device as through the software one.
    gl_->software()->forceCondition(gfx::DeviceCondition::Hung);
    EXPECT_EQ(D3DERR_DEVICEHUNG, ex->PresentEx(nullptr, nullptr, nullptr, nullptr, 0));
    gl_->software()->forceCondition(gfx::DeviceCondition::Ok);

    // A window without an OpenGL surface gets the software device.
    D3DPRESENT_PARAMETERS p = gfxtest::windowedParameters(64, 64);
    InterfacePtr<IDirect3DDevice9> plain;
    ASSERT_EQ(D3D_OK, glD3d_->CreateDevice(0, D3DDEVTYPE_HAL, gfxtest::fakeWindow(0x2000), 0x24, &p, plain.put()));
    EXPECT_EQ(nullptr, gfx::glDevice(plain.get()));
    EXPECT_NE(nullptr, gfx::softwareDevice(plain.get()));
}

// The compositor's common draws take the layer program; opaque unscaled ones are plain
// copies. Exact in every case, over what earlier layers left.
TEST_F(GlDeviceTest, LayerProgramMatchesExactly) {
    auto opaque = randomPixels(120, 90, 30, true), mixed = randomPixels(100, 70, 31, false);
    std::vector<uint32_t> solid(100 * 70);
    for (size_t i = 0; i < solid.size(); ++i) solid[i] = mixed[i] | 0xFF000000u;  // all alpha 255, A8R8G8B8
    gfx::GlDevice::DrawCounts before = gl_->drawCounts();
    Difference d = run([&](Rig& r) {
        auto x = r.texture(120, 90, D3DFMT_X8R8G8B8, opaque);
        auto a = r.texture(100, 70, D3DFMT_A8R8G8B8, mixed);
        auto s = r.texture(100, 70, D3DFMT_A8R8G8B8, solid);
        r.begin(0xFF102030);
        // Opaque, unscaled: copies (also at the picture's edge and partly outside it).
        r.layer(x.get(), {0, 0, 120, 90}, {0, 0, 120, 90}, 0xFFFFFFFF, 120, 90);
        r.layer(s.get(), {250, 190, 350, 260}, {0, 0, 100, 70}, 0xFFFFFFFF, 100, 70);
        // Opacity 128 over other layers, plain and tinted.
        r.layer(x.get(), {60, 40, 180, 130}, {0, 0, 120, 90}, 0x80FFFFFF, 120, 90);
        r.layer(s.get(), {100, 100, 200, 170}, {0, 0, 100, 70}, 0x80FF8040, 100, 70);
        // Texels of every alpha: alpha test and blending per pixel.
        r.layer(a.get(), {20, 120, 120, 190}, {0, 0, 100, 70}, 0xFFFFFFFF, 100, 70);
        r.layer(a.get(), {140, 20, 240, 90}, {0, 0, 100, 70}, 0xC0FFFFFF, 100, 70);
        // A stricter alpha test.
        r.d_->SetRenderState(D3DRS_ALPHAREF, 0x90);
        r.d_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
        r.layer(a.get(), {200, 120, 300, 190}, {0, 0, 100, 70}, 0xFFFFFFFF, 100, 70);
        r.layer(x.get(), {240, 0, 320, 60}, {10, 10, 90, 70}, 0x8FFFFFFF, 120, 90);  // 143 < 144: nothing
        r.d_->SetRenderState(D3DRS_ALPHAREF, 0);
        r.d_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        // Opacity 0 changes nothing.
        r.layer(x.get(), {0, 0, 120, 90}, {0, 0, 120, 90}, 0x00FFFFFF, 120, 90);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
    gfx::GlDevice::DrawCounts after = gl_->drawCounts();
    EXPECT_EQ(9u, after.draws - before.draws);
    EXPECT_EQ(9u, after.layer - before.layer);
    EXPECT_EQ(2u, after.copy - before.copy);
}

TEST_F(GlDeviceTest, ScaledLayersWithinOneLevel) {
    auto pixels = randomPixels(160, 120, 32, true), mixed = randomPixels(160, 120, 33, false);
    gfx::GlDevice::DrawCounts before = gl_->drawCounts();
    // 1.5 times, with point sampling (OpenGL's own nearest texel where it is the same) and
    // with linear filtering; opaque and at opacity 128.
    Difference d = run([&](Rig& r) {
        auto t = r.texture(160, 120, D3DFMT_X8R8G8B8, pixels);
        auto m = r.texture(160, 120, D3DFMT_A8R8G8B8, mixed);
        r.begin(0xFF000000);
        r.layer(t.get(), {0, 0, 240, 180}, {0, 0, 160, 120}, 0xFFFFFFFF, 160, 120);
        r.layer(m.get(), {100, 60, 220, 150}, {0, 0, 80, 60}, 0x80FFFFFF, 160, 120);
        r.filter(D3DTEXF_LINEAR);
        r.layer(t.get(), {150, 0, 300, 60}, {20, 20, 120, 60}, 0x80FFFFFF, 160, 120);
        r.layer(m.get(), {10, 150, 160, 240}, {0, 0, 100, 60}, 0xFFFFFFFF, 160, 120);
        r.filter(D3DTEXF_POINT);
        r.end();
    });
    EXPECT_WITHIN(1, d);
    gfx::GlDevice::DrawCounts after = gl_->drawCounts();
    EXPECT_EQ(4u, after.layer - before.layer);
}

TEST_F(GlDeviceTest, PartialUploadsReachTheLayer) {
    // An opaque picture gets a part with transparent texels, then an opaque part again: the
    // texture's copy and what the device knows about its alpha must follow each upload.
    auto base = randomPixels(64, 64, 40, true), holes = randomPixels(20, 16, 41, false);
    auto patch = randomPixels(24, 8, 42, true);
    for (auto& p : holes) p &= 0x00FFFFFFu;
    RECT first{10, 12, 30, 28}, second{30, 40, 54, 48};
    Rig gl(device_.get()), soft(reference_.get());
    auto t = gl.texture(64, 64, D3DFMT_A8R8G8B8, base);
    auto s = soft.texture(64, 64, D3DFMT_A8R8G8B8, base);
    for (int step = 0; step < 3; ++step) {
        if (step == 1) {
            gl.upload(t.get(), 64, 64, D3DFMT_A8R8G8B8, holes, &first);
            soft.upload(s.get(), 64, 64, D3DFMT_A8R8G8B8, holes, &first);
        } else if (step == 2) {
            gl.upload(t.get(), 64, 64, D3DFMT_A8R8G8B8, patch, &second);
            soft.upload(s.get(), 64, 64, D3DFMT_A8R8G8B8, patch, &second);
        }
        for (auto [rig, tex] : {std::pair{&gl, t.get()}, std::pair{&soft, s.get()}}) {
            rig->begin(0xFF4080C0);
            rig->layer(tex, {16, 16, 80, 80}, {0, 0, 64, 64}, 0xFFFFFFFF, 64, 64);
            rig->end();
        }
        EXPECT_EQ(soft.picture(), gl.picture()) << "step " << step;
    }
}

TEST_F(GlDeviceTest, DepthTestsAgainstTheClearedBuffer) {
    // Layers at other depths than the cleared one: some fail everywhere, some pass and
    // write, and later layers test against what they wrote.
    auto one = randomPixels(64, 48, 50, true), two = randomPixels(64, 48, 51, true);
    Difference d = run([&](Rig& r) {
        auto a = r.texture(64, 48, D3DFMT_X8R8G8B8, one);
        auto b = r.texture(64, 48, D3DFMT_X8R8G8B8, two);
        r.begin(0xFF000000, 0.5f);
        r.layer(a.get(), {0, 0, 64, 48}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48, 0.75f);  // behind: nothing
        r.layer(a.get(), {10, 10, 74, 58}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48, 0.25f);
        r.layer(b.get(), {40, 30, 104, 78}, {0, 0, 64, 48}, 0x80FFFFFF, 64, 48, 0.4f);     // only beside it
        r.layer(b.get(), {200, 100, 264, 148}, {0, 0, 64, 48}, 0xFFFFFFFF, 64, 48, 0.5f);  // equal: passes
        r.end();
    });
    EXPECT_EQ(0, d.worst);
}

TEST_F(GlDeviceTest, BlendingWithoutFramebufferFetch) {
    // Drivers without framebuffer fetch blend against copies of the picture: still exact.
    gfx::GlDevice::allowFramebufferFetch(false);
    makeDevices(false);
    gfx::GlDevice::allowFramebufferFetch(true);
    if (!gl_) return;
    auto pixels = randomPixels(80, 60, 60, false), opaque = randomPixels(80, 60, 61, true);
    Difference d = run([&](Rig& r) {
        auto t = r.texture(80, 60, D3DFMT_A8R8G8B8, pixels);
        auto o = r.texture(80, 60, D3DFMT_X8R8G8B8, opaque);
        r.begin(0xFF203040);
        r.layer(o.get(), {0, 0, 80, 60}, {0, 0, 80, 60}, 0xFFFFFFFF, 80, 60);
        r.layer(o.get(), {40, 30, 120, 90}, {0, 0, 80, 60}, 0x80FFFFFF, 80, 60);
        r.layer(t.get(), {60, 40, 140, 100}, {0, 0, 80, 60}, 0xFFFFFFFF, 80, 60);
        r.end();
    });
    EXPECT_EQ(0, d.worst);
}

}  // namespace
