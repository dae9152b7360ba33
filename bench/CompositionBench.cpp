// Frame time of the compositor's work on both devices: clear, N full-HD layers (opaque or
// at opacity 128, unscaled or scaled 1.5x), present; and upload throughput. The OpenGL
// cases need a display (run under xvfb-run) and are skipped with a message without one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "platform/gfx/CompositeKernels.h"
#include "platform/gfx/GlDevice.h"
#include "platform/gfx/GlDirect3D.h"
#include "platform/gfx/GlWindow.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace {

constexpr UINT kWidth = 1920, kHeight = 1080;

struct Vertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float u, v;
};

enum class Kind { Software, OpenGl };

// The window the OpenGL device presents into; made once on the main thread and closed
// before the process ends (Qt's own globals go first at exit).
std::unique_ptr<gfx::GlSurfaceWindow>& glWindowHolder() {
    static std::unique_ptr<gfx::GlSurfaceWindow> window;
    return window;
}

gfx::GlSurfaceWindow* glWindow() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (gfx::glWindowsAvailable()) glWindowHolder() = std::make_unique<gfx::GlSurfaceWindow>(kWidth, kHeight);
    }
    return glWindowHolder().get();
}

struct Scene {
    std::shared_ptr<gfx::SoftwareAdapter> adapter = std::make_shared<gfx::SoftwareAdapter>();
    InterfacePtr<IDirect3D9Ex> d3d;
    InterfacePtr<IDirect3DDevice9> device;
    InterfacePtr<IDirect3DSurface9> staging;
    std::vector<InterfacePtr<IDirect3DTexture9>> textures;
    std::vector<InterfacePtr<IDirect3DVertexBuffer9>> vertices;
    InterfacePtr<IDirect3DIndexBuffer9> indices;

    // False (with a reason) when the device cannot be made.
    bool open(Kind kind, const char** why) {
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        if (kind == Kind::Software) {
            d3d = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter, true));
            d3d->CreateDevice(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1), 0x24, &p, device.put());
            return device.get() != nullptr;
        }
        gfx::GlSurfaceWindow* window = glWindow();
        if (!window) {
            *why = "no display with OpenGL (run under xvfb-run)";
            return false;
        }
        d3d = InterfacePtr<IDirect3D9Ex>::adopt(gfx::GlDirect3D::create(adapter, true));
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, window->handle(), 0x24, &p, device.put());
        if (!device || !gfx::glDevice(device.get())) {
            *why = "the window cannot carry an OpenGL 3.3 core context";
            return false;
        }
        return true;
    }

    // scaled: 0 unscaled, 1 enlarged 1.5x with point sampling (the compositor's baseline),
    // 2 the same with linear filtering.
    void build(int layers, DWORD opacity, int scaled) {
        IDirect3DDevice9* d = device.get();
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        DWORD filter = scaled == 2 ? D3DTEXF_LINEAR : D3DTEXF_POINT;
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
        d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
        d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        std::mt19937 rng(5);
        d->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, staging.put(), nullptr);
        D3DLOCKED_RECT lr{};
        staging->LockRect(&lr, nullptr, 0);
        for (UINT y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch);
            for (UINT x = 0; x < kWidth; ++x) row[x] = 0xFF000000u | (rng() & 0xFFFFFF);
        }
        staging->UnlockRect();
        uint16_t idx[6] = {0, 1, 3, 3, 2, 0};
        d->CreateIndexBuffer(sizeof idx, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, indices.put(), nullptr);
        void* data = nullptr;
        indices->Lock(0, 0, &data, 0);
        std::memcpy(data, idx, sizeof idx);
        indices->Unlock();
        for (int i = 0; i < layers; ++i) {
            InterfacePtr<IDirect3DTexture9> t;
            d->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr);
            InterfacePtr<IDirect3DSurface9> level;
            t->GetSurfaceLevel(0, level.put());
            d->UpdateSurface(staging.get(), nullptr, level.get(), nullptr);
            textures.push_back(t);
            // Scaled layers show a 1280x720 part enlarged 1.5 times over the whole area.
            float sw = scaled ? 1280.0f : float(kWidth), sh = scaled ? 720.0f : float(kHeight);
            float u0 = 0.5f / kWidth, v0 = 0.5f / kHeight, u1 = (sw + 0.5f) / kWidth, v1 = (sh + 0.5f) / kHeight;
            DWORD c = (opacity << 24) | 0xFFFFFF;
            Vertex v[4] = {{0, 0, 1, 1, c, u0, v0},
                           {float(kWidth), 0, 1, 1, c, u1, v0},
                           {0, float(kHeight), 1, 1, c, u0, v1},
                           {float(kWidth), float(kHeight), 1, 1, c, u1, v1}};
            InterfacePtr<IDirect3DVertexBuffer9> vb;
            d->CreateVertexBuffer(sizeof v, D3DUSAGE_WRITEONLY, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1,
                                  D3DPOOL_DEFAULT, vb.put(), nullptr);
            vb->Lock(0, 0, &data, 0);
            std::memcpy(data, v, sizeof v);
            vb->Unlock();
            vertices.push_back(vb);
        }
    }

    void frame() {
        IDirect3DDevice9* d = device.get();
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        for (size_t i = 0; i < textures.size(); ++i) {
            d->SetStreamSource(0, vertices[i].get(), 0, sizeof(Vertex));
            d->SetIndices(indices.get());
            d->SetTexture(0, textures[i].get());
            d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2);
        }
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
    }

    // A new picture into the first layer's texture, as a movie's renderer delivers it.
    void upload() {
        InterfacePtr<IDirect3DSurface9> level;
        textures[0]->GetSurfaceLevel(0, level.put());
        device->UpdateSurface(staging.get(), nullptr, level.get(), nullptr);
    }
};

// Arguments: layers, opacity, scaled (0 no, 1 point, 2 linear).
template <Kind kind>
void composition(benchmark::State& state) {
    Scene scene;
    const char* why = "";
    if (!scene.open(kind, &why)) {
        state.SkipWithError(why);
        return;
    }
    scene.build(static_cast<int>(state.range(0)), static_cast<DWORD>(state.range(1)), int(state.range(2)));
    scene.frame();  // first uploads happen outside the measured frames
    for (auto _ : state) scene.frame();
    state.counters["layers"] = double(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0) * kWidth * kHeight);
}
BENCHMARK_TEMPLATE(composition, Kind::Software)
    ->Name("composition/software")
    ->ArgNames({"layers", "opacity", "scaled"})
    ->ArgsProduct({{1, 4, 16}, {255, 128}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_TEMPLATE(composition, Kind::OpenGl)
    ->Name("composition/opengl")
    ->ArgNames({"layers", "opacity", "scaled"})
    ->ArgsProduct({{1, 4, 16}, {255, 128}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// UpdateSurface alone (argument 0), or followed by a frame that shows the new picture
// (argument 1): on the OpenGL device the copy to OpenGL happens when the texture is drawn.
template <Kind kind>
void updateSurface(benchmark::State& state) {
    Scene scene;
    const char* why = "";
    if (!scene.open(kind, &why)) {
        state.SkipWithError(why);
        return;
    }
    scene.build(1, 255, 0);
    scene.frame();
    bool withFrame = state.range(0) != 0;
    for (auto _ : state) {
        scene.upload();
        if (withFrame) scene.frame();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * kHeight * 4);
}
BENCHMARK_TEMPLATE(updateSurface, Kind::Software)
    ->Name("updateSurface/software")
    ->ArgName("frame")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_TEMPLATE(updateSurface, Kind::OpenGl)
    ->Name("updateSurface/opengl")
    ->ArgName("frame")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// One row of the layer loop in cache: the vector routine against its scalar twin.
// Arguments: routine (0 scalar, 1 SSE2), opacity, texels opaque (1) or of mixed alpha (0).
void spanRow(benchmark::State& state) {
    std::mt19937 rng(9);
    std::vector<uint32_t> texels(kWidth), dst(kWidth), depth(kWidth, 0xFFFF);
    bool opaque = state.range(2) != 0;
    for (auto& t : texels) t = opaque ? (0xFF000000u | (rng() & 0xFFFFFF)) : uint32_t(rng());
    gfx::SpanJob job;
    job.dst = dst.data();
    job.texels = texels.data();
    job.depth = depth.data();
    job.count = kWidth;
    job.diffuse = (uint32_t(state.range(1)) << 24) | 0xFFFFFF;
    job.alphaFunc = D3DCMP_GREATER;
    job.blend = true;
    job.depthFunc = D3DCMP_LESSEQUAL;
    job.depthValue = 0xFFFF;
    job.depthWrite = true;
    job.outputOr = 0xFF000000u;
    gfx::SpanKernel kernel = state.range(0) ? gfx::shadeSpanSse2 : gfx::shadeSpanScalar;
    for (auto _ : state) {
        kernel(job);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth);
}
BENCHMARK(spanRow)->ArgNames({"sse2", "opacity", "opaque"})->ArgsProduct({{0, 1}, {255, 128}, {1, 0}});

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    glWindowHolder().reset();
    return 0;
}
