// YV12 to RGB32 conversion of full-HD pictures, scalar rows against SSE2 rows and the
// whole filter Transform, with libswscale doing the same conversion (one thread) for
// scale; and the Texture Renderer's copy of a full-HD RGB32 picture into a layer texture
// on the software device (convert, upload), bottom-up and top-down.
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>
#include <random>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"
#include "graphics/LayerTexture.h"
#include "media/TextureRenderer.h"
#include "media/Yv12Rows.h"
#include "media/Yv12ToRgb32Filter.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Yv12Picture {
    Yv12ToRgb32Filter::PlaneGeometry g;
    std::vector<uint8_t> planes;
    std::vector<uint8_t> rgb;
    Yv12Picture() {
        Yv12ToRgb32Filter::planeGeometry(kWidth, kHeight, false, &g);
        planes.resize(size_t(g.inputSize()));
        std::mt19937 random(7);
        for (uint8_t& b : planes) b = uint8_t(random());
        rgb.resize(size_t(g.rgbImageSize));
    }
};

Yv12Picture& picture() {
    static Yv12Picture p;
    return p;
}

void setFrameRate(benchmark::State& state) {
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void convertWith(YuvRowConverter convert, Yv12Picture& p) {
    const auto& g = p.g;
    const YuvCoefficientSet& c = yuvCoefficients(kColourStandardBt709Studio);
    for (int r = 0; r < g.height; ++r)
        convert(p.rgb.data() + size_t(r) * g.rgbStride, p.planes.data() + size_t(r) * g.lumaStride,
                p.planes.data() + g.uOffset + size_t(r / 2) * g.uStride,
                p.planes.data() + g.vOffset + size_t(r / 2) * g.vStride, c, 0, uint32_t(g.width));
}

void BM_Yv12RowsScalar(benchmark::State& state) {
    Yv12Picture& p = picture();
    for (auto _ : state) {
        convertWith(&convertYuvRowScalar, p);
        benchmark::DoNotOptimize(p.rgb.data());
    }
    setFrameRate(state);
}
BENCHMARK(BM_Yv12RowsScalar)->Unit(benchmark::kMillisecond);

void BM_Yv12RowsSse2(benchmark::State& state) {
    YuvRowConverter sse2 = sse2YuvRowConverter();
    if (!sse2) {
        state.SkipWithError("no SSE2");
        return;
    }
    Yv12Picture& p = picture();
    for (auto _ : state) {
        convertWith(sse2, p);
        benchmark::DoNotOptimize(p.rgb.data());
    }
    setFrameRate(state);
}
BENCHMARK(BM_Yv12RowsSse2)->Unit(benchmark::kMillisecond);

InterfacePtr<IMediaSample> sampleOver(std::vector<uint8_t>& buffer) {
    HRESULT hr = S_OK;
    return InterfacePtr<IMediaSample>(new CMediaSample(u"bench", nullptr, &hr, buffer.data(), LONG(buffer.size())));
}

CMediaType videoType(const GUID& subtype, LONG width, LONG height, WORD bits) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bits;
    return mt;
}

// The filter's Transform with the routine chosen for this processor.
void BM_Yv12FilterTransform(benchmark::State& state) {
    Yv12Picture& p = picture();
    HRESULT hr = S_OK;
    InterfacePtr<Yv12ToRgb32Filter> filter(new Yv12ToRgb32Filter(&hr));
    CMediaType in = videoType(MEDIASUBTYPE_YV12, kWidth, kHeight, 12);
    filter->SetMediaType(PINDIR_INPUT, &in);
    auto src = sampleOver(p.planes);
    auto dst = sampleOver(p.rgb);
    for (auto _ : state) benchmark::DoNotOptimize(filter->Transform(src.get(), dst.get()));
    setFrameRate(state);
}
BENCHMARK(BM_Yv12FilterTransform)->Unit(benchmark::kMillisecond);

// libswscale converting the same planes to BGRA at the same size, one thread.
void BM_SwscaleYuv420ToBgra(benchmark::State& state) {
    Yv12Picture& p = picture();
    const auto& g = p.g;
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGRA, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (!sws) {
        state.SkipWithError("libswscale refused the conversion");
        return;
    }
    const uint8_t* planes[3] = {p.planes.data(), p.planes.data() + g.uOffset, p.planes.data() + g.vOffset};
    const int strides[3] = {g.lumaStride, g.uStride, g.vStride};
    uint8_t* out[1] = {p.rgb.data()};
    const int outStride[1] = {g.rgbStride};
    for (auto _ : state) benchmark::DoNotOptimize(sws_scale(sws, planes, strides, 0, kHeight, out, outStride));
    sws_freeContext(sws);
    setFrameRate(state);
}
BENCHMARK(BM_SwscaleYuv420ToBgra)->Unit(benchmark::kMillisecond);

// The Texture Renderer writing a full-HD RGB32 picture into a layer texture: the row
// copy into the staging image and the upload to the texture. Argument: 1 bottom-up.
void BM_TextureRendererCopy(benchmark::State& state) {
    const bool bottomUp = state.range(0) != 0;
    InterfacePtr<IDirect3D9> d3d =
        InterfacePtr<IDirect3D9>::adopt(gfx::SoftwareDirect3D::create(std::make_shared<gfx::SoftwareAdapter>(), false));
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 64;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = reinterpret_cast<HWND>(uintptr_t(1));
    pp.Windowed = TRUE;
    InterfacePtr<IDirect3DDevice9> device;
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, device.put());
    if (!device) {
        state.SkipWithError("no software device");
        return;
    }
    InterfacePtr<LayerTexture> texture(new LayerTexture(nullptr, device.get()));
    HRESULT hr = S_OK;
    InterfacePtr<TextureRenderer> renderer(new TextureRenderer(device.get(), &hr));
    CMediaType mt = videoType(MEDIASUBTYPE_RGB32, kWidth, bottomUp ? kHeight : -kHeight, 32);
    if (!texture->create(kWidth, kHeight, D3DFMT_X8R8G8B8, 1, false) || renderer->SetMediaType(&mt) != S_OK ||
        renderer->frameSource().attach(texture.get()) != 1) {
        state.SkipWithError("texture or renderer could not be set up");
        return;
    }
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 4, 0x40);
    auto sample = sampleOver(frame);
    for (auto _ : state) benchmark::DoNotOptimize(renderer->DoRenderSample(sample.get()));
    setFrameRate(state);
}
BENCHMARK(BM_TextureRendererCopy)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
