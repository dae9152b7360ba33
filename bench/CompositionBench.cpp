// Frame time of the software device for the compositor's work: clear, N full-HD layers
// (opaque or at opacity 128, unscaled or scaled 1.5x), present; and upload throughput.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "platform/gfx/CompositeKernels.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace {

constexpr UINT kWidth = 1920, kHeight = 1080;

struct Vertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float u, v;
};

struct Scene {
    std::shared_ptr<gfx::SoftwareAdapter> adapter = std::make_shared<gfx::SoftwareAdapter>();
    InterfacePtr<IDirect3D9Ex> d3d;
    InterfacePtr<IDirect3DDevice9> device;
    std::vector<InterfacePtr<IDirect3DTexture9>> textures;
    std::vector<InterfacePtr<IDirect3DVertexBuffer9>> vertices;
    InterfacePtr<IDirect3DIndexBuffer9> indices;

    Scene(int layers, DWORD opacity, bool scaled) {
        d3d = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter, true));
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1), 0x24, &p, device.put());
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
        d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        std::mt19937 rng(5);
        InterfacePtr<IDirect3DSurface9> staging;
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
};

void composition(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)), static_cast<DWORD>(state.range(1)), state.range(2) != 0);
    for (auto _ : state) scene.frame();
    state.counters["layers"] = double(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0) * kWidth * kHeight);
}
BENCHMARK(composition)
    ->ArgNames({"layers", "opacity", "scaled"})
    ->ArgsProduct({{1, 4, 16}, {255, 128}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void updateSurface(benchmark::State& state) {
    Scene scene(1, 255, false);
    InterfacePtr<IDirect3DSurface9> staging, level;
    scene.device->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, staging.put(),
                                              nullptr);
    scene.textures[0]->GetSurfaceLevel(0, level.put());
    for (auto _ : state) scene.device->UpdateSurface(staging.get(), nullptr, level.get(), nullptr);
    state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * kHeight * 4);
}
BENCHMARK(updateSurface)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

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

BENCHMARK_MAIN();
