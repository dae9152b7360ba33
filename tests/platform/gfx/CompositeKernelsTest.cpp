// The SSE2 span routine must give exactly what the scalar one gives, and both must round
// as the blending rules say; the fast layer path must equal the general pipeline.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "DeviceFixture.h"
#include "platform/gfx/CompositeKernels.h"

using namespace gfx;

namespace {

TEST(CompositeKernels, Div255RoundsToNearestOverTheWholeRange) {
    for (uint32_t t = 0; t <= 255 * 255; ++t) ASSERT_EQ((t + 127) / 255, div255(t)) << t;
}

TEST(CompositeKernels, VectorSpanEqualsScalarSpanOnRandomAndEdgeInputs) {
    if (!__builtin_cpu_supports("sse2")) GTEST_SKIP() << "no SSE2";
    std::mt19937 rng(7);
    const DWORD funcs[] = {D3DCMP_NEVER,   D3DCMP_LESS,     D3DCMP_EQUAL,        D3DCMP_LESSEQUAL,
                           D3DCMP_GREATER, D3DCMP_NOTEQUAL, D3DCMP_GREATEREQUAL, D3DCMP_ALWAYS};
    const StageSource sources[] = {StageSource::Modulate, StageSource::Texture, StageSource::Diffuse};
    for (int round = 0; round < 3000; ++round) {
        uint32_t count = rng() % 40;
        uint32_t offset = rng() % 4;  // unaligned starts
        std::vector<uint32_t> texels(count + 4), dst(count + 4), depth(count + 4);
        bool opaquePicture = rng() % 2;  // the vector routine's shortcut for opaque texels
        for (auto& v : texels) {
            v = rng();
            if (rng() % 4 == 0) v &= 0x00FFFFFF;                                    // alpha 0
            if (opaquePicture ? rng() % 16 != 0 : rng() % 4 == 0) v |= 0xFF000000;  // alpha 255
        }
        for (auto& v : dst) v = rng();
        uint32_t zq = rng() % 4 == 0 ? 0xFFFFFFFFu : rng() % 8;
        for (auto& v : depth) v = rng() % 3 == 0 ? 0xFFFFFFFFu : (rng() % 2 ? zq : rng() % 8);
        SpanJob job;
        job.texels = texels.data() + offset;
        job.count = count;
        job.diffuse = rng() % 3 == 0 ? 0xFFFFFFFFu : (rng() % 2 ? (rng() | 0xFFFFFF) : uint32_t(rng()));
        job.color = sources[rng() % 3];
        job.alpha = sources[rng() % 3];
        job.alphaFunc = funcs[rng() % 8];
        job.alphaRef = rng() % 3 == 0 ? 0 : rng() % 256;
        job.blend = rng() % 2;
        job.depthFunc = funcs[rng() % 8];
        job.depthValue = zq;
        job.depthWrite = rng() % 2;
        job.outputOr = rng() % 2 ? 0xFF000000u : 0;
        bool withDepth = rng() % 2;

        std::vector<uint32_t> dstA = dst, dstB = dst, depthA = depth, depthB = depth;
        SpanJob a = job, b = job;
        a.dst = dstA.data() + offset;
        b.dst = dstB.data() + offset;
        a.depth = withDepth ? depthA.data() + offset : nullptr;
        b.depth = withDepth ? depthB.data() + offset : nullptr;
        shadeSpanScalar(a);
        shadeSpanSse2(b);
        ASSERT_EQ(dstA, dstB) << "round " << round;
        ASSERT_EQ(depthA, depthB) << "round " << round;
    }
}

TEST(CompositeKernels, BlendedPixelFollowsTheRule) {
    uint32_t texel = 0xC0804020u, dst = 0xFF10E0F0u;
    SpanJob job;
    job.texels = &texel;
    job.dst = &dst;
    job.count = 1;
    job.diffuse = 0x80FFFFFFu;
    job.blend = true;
    job.alphaFunc = D3DCMP_GREATER;
    shadeSpanScalar(job);
    uint32_t a = (0xC0 * 0x80 + 127) / 255;  // modulated alpha
    auto mix = [&](uint32_t s, uint32_t d) { return (s * a + d * (255 - a) + 127) / 255; };
    uint32_t want = (mix(a, 0xFF) << 24) | (mix(0x80, 0x10) << 16) | (mix(0x40, 0xE0) << 8) | mix(0x20, 0xF0);
    EXPECT_EQ(want, dst);
}

class PathAgreement : public gfxtest::DeviceFixture {};

// Random layer scenes under varied states, drawn once with the fast layer path and once
// with the general pipeline only: the pictures and depth must be identical.
TEST_F(PathAgreement, FastLayerPathEqualsGeneralPipeline) {
    makeDevice(96, 64);
    std::mt19937 rng(11);
    for (int scene = 0; scene < 30; ++scene) {
        std::vector<InterfacePtr<IDirect3DTexture9>> textures;
        struct Draw {
            RECT dest, source;
            DWORD color;
            UINT tw, th;
        };
        std::vector<Draw> draws;
        for (int n = 0; n < 3; ++n) {
            UINT tw = 1 + rng() % 40, th = 1 + rng() % 40;
            std::vector<uint32_t> t(size_t(tw) * th);
            for (auto& v : t) v = rng() % 4 == 0 ? (rng() & 0xFFFFFF) : rng();
            textures.push_back(makeTexture(tw, th, rng() % 3 ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, t));
            auto c = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
            Draw d{{c(-30, 120), c(-30, 90), c(-30, 120), c(-30, 90)},
                   {c(-5, 45), c(-5, 45), c(-5, 45), c(-5, 45)},
                   uint32_t(rng()),
                   tw,
                   th};
            draws.push_back(d);
        }
        DWORD blend = rng() % 2, alphaTest = rng() % 2, alphaFunc = 1 + rng() % 8, alphaRef = rng() % 256;
        DWORD colorOp = rng() % 3 == 0 ? D3DTOP_SELECTARG1 : D3DTOP_MODULATE;
        DWORD alphaOp = rng() % 3 == 0 ? D3DTOP_SELECTARG2 : D3DTOP_MODULATE;
        DWORD zFunc = 1 + rng() % 8;
        DWORD address = rng() % 2 ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
        std::vector<uint32_t> pictures[2];
        for (int pass = 0; pass < 2; ++pass) {
            software()->setFastPaths(pass == 0);
            installBaseline();
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest);
            device_->SetRenderState(D3DRS_ALPHAFUNC, alphaFunc);
            device_->SetRenderState(D3DRS_ALPHAREF, alphaRef);
            device_->SetRenderState(D3DRS_ZFUNC, zFunc);
            device_->SetTextureStageState(0, D3DTSS_COLOROP, colorOp);
            device_->SetTextureStageState(0, D3DTSS_ALPHAOP, alphaOp);
            device_->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
            device_->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
            ASSERT_EQ(D3D_OK, device_->BeginScene());
            ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF204060, 0.75f, 0));
            for (size_t i = 0; i < draws.size(); ++i)
                ASSERT_EQ(D3D_OK, drawLayer(textures[i].get(), draws[i].dest, draws[i].source, draws[i].color,
                                            draws[i].tw, draws[i].th));
            ASSERT_EQ(D3D_OK, device_->EndScene());
            pictures[pass] = readBackBuffer();
        }
        ASSERT_EQ(pictures[0], pictures[1]) << "scene " << scene;
    }
}

}  // namespace
