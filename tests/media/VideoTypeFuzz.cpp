// Hostile video types (any subtype, format type, block length and bitmap header) against
// the colour converter's type handling and plane geometry and the renderers' stride rule
// and copy: refused cleanly, or converted and copied with no access outside the samples
// and the target. Input: [subtype][format type][block length][input cut][block...].
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"
#include "graphics/Image.h"
#include "media/SurfaceRenderer.h"
#include "media/Yv12ToRgb32Filter.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace {

void requireAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "video type fuzz: check at line %d failed\n", line);
    std::abort();
}
#define require(c) requireAt((c), __LINE__)

const GUID* const kSubtypes[] = {&MEDIASUBTYPE_YV12,   &MEDIASUBTYPE_I420,     &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24,
                                 &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_ARGB4444, &MEDIATYPE_Video};
const GUID* const kFormats[] = {&FORMAT_VideoInfo, &FORMAT_VideoInfo2, &FORMAT_None};

InterfacePtr<IMediaSample> sampleOver(std::vector<uint8_t>& buffer) {
    buffer.reserve(1);  // a buffer even when empty
    HRESULT hr = S_OK;
    return InterfacePtr<IMediaSample>(new CMediaSample(u"fuzz", nullptr, &hr, buffer.data(), LONG(buffer.size())));
}

void converter(const CMediaType& type, size_t cut) {
    HRESULT hr = S_OK;
    InterfacePtr<Yv12ToRgb32Filter> filter(new Yv12ToRgb32Filter(&hr));
    const bool accepted = filter->CheckInputType(&type) == S_OK;
    CMediaType offered;
    if (filter->SetMediaType(PINDIR_INPUT, &type) != S_OK) {
        require(filter->GetMediaType(0, &offered) == VFW_S_NO_MORE_ITEMS);
        return;
    }
    const Yv12ToRgb32Filter::PlaneGeometry g = filter->geometry();
    require(g.width >= 2 && g.height > 0 && int64_t(g.rgbImageSize) == int64_t(g.width) * 4 * g.height);
    require(filter->GetMediaType(0, &offered) == S_OK);
    const BITMAPINFOHEADER* h = bitmapHeaderOf(offered.formattype, offered.Format(), offered.FormatLength());
    require(h && h->biHeight == -g.height && h->biSizeImage == DWORD(g.rgbImageSize));
    if (accepted) require(filter->CheckTransform(&type, &offered) == S_OK);
    if (g.inputSize() > (1 << 20) || g.rgbImageSize > (1 << 20)) return;

    // Mid-grey planes, possibly cut short; the output alternately cut short too.
    std::vector<uint8_t> input(size_t(std::max<int64_t>(0, g.inputSize() - int64_t(cut))), 0x80);
    std::vector<uint8_t> output(size_t(g.rgbImageSize) - (cut & 1), 0);
    const bool whole = cut == 0;
    require(filter->Transform(sampleOver(input).get(), sampleOver(output).get()) == (whole ? S_OK : S_FALSE));
    if (whole)
        for (size_t i = 4; i < output.size(); i += 4) require(std::memcmp(&output[i], &output[0], 4) == 0);
}

// An 8 x 6 image attached under an 8 x 6 type, then the hostile type arrives.
void renderer(const CMediaType& type, size_t cut) {
    static InterfacePtr<IDirect3DDevice9> device = [] {
        InterfacePtr<IDirect3D9> d3d = InterfacePtr<IDirect3D9>::adopt(
            gfx::SoftwareDirect3D::create(std::make_shared<gfx::SoftwareAdapter>(), false));
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = pp.BackBufferHeight = 8;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = reinterpret_cast<HWND>(uintptr_t(0x1234));
        pp.Windowed = TRUE;
        InterfacePtr<IDirect3DDevice9> made;
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, made.put());
        return made;
    }();
    require(device.get() != nullptr);
    HRESULT hr = S_OK;
    InterfacePtr<SurfaceRenderer> r(new SurfaceRenderer(nullptr, &hr));
    CMediaType first;
    first.SetType(&MEDIATYPE_Video);
    first.SetSubtype(&MEDIASUBTYPE_RGB32);
    first.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(first.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biWidth = 8;
    vih->bmiHeader.biHeight = 6;
    vih->bmiHeader.biBitCount = 32;
    require(r->SetMediaType(&first) == S_OK);
    InterfacePtr<Image> image(new Image(device.get(), D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8));
    require(image->create(8, 6, false) && r->frameSource().attach(image.get()) == 1);
    r->CheckMediaType(&type);
    r->SetMediaType(&type);
    std::vector<uint8_t> buffer(cut * 37, 0x5C);
    require(r->DoRenderSample(sampleOver(buffer).get()) == S_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto byte = [&](size_t i) -> uint8_t { return i < size ? data[i] : 0; };
    CMediaType type;
    type.SetType(&MEDIATYPE_Video);
    type.SetSubtype(kSubtypes[byte(0) % std::size(kSubtypes)]);
    type.SetFormatType(kFormats[byte(1) % std::size(kFormats)]);
    std::vector<BYTE> block(byte(2) % 130);
    for (size_t i = 0; i < block.size(); ++i) block[i] = byte(4 + i);
    if (!block.empty()) type.SetFormat(block.data(), ULONG(block.size()));
    const size_t cut = byte(3) % 4 == 0 ? 0 : byte(3);
    converter(type, cut);
    renderer(type, cut);
    return 0;
}

// Valid headers of a few sizes in either block, for the mutations to start from.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    struct Seed {
        uint8_t subtype, format;
        int32_t width, height;
        uint16_t bits;
    };
    for (Seed s : {Seed{0, 0, 16, 8, 12}, Seed{1, 1, 9, -5, 12}, Seed{0, 1, 17, 3, 12}, Seed{2, 0, 8, 6, 32},
                   Seed{3, 0, 3, -2, 24}, Seed{4, 1, 12, 12, 16}}) {
        const bool info2 = s.format == 1;
        std::vector<uint8_t> block(info2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
        const size_t at = info2 ? offsetof(VIDEOINFOHEADER2, bmiHeader) : offsetof(VIDEOINFOHEADER, bmiHeader);
        std::memcpy(&block[at + offsetof(BITMAPINFOHEADER, biWidth)], &s.width, 4);
        std::memcpy(&block[at + offsetof(BITMAPINFOHEADER, biHeight)], &s.height, 4);
        std::memcpy(&block[at + offsetof(BITMAPINFOHEADER, biBitCount)], &s.bits, 2);
        std::vector<uint8_t> seed = {s.subtype, s.format, uint8_t(block.size()), 0};
        seed.insert(seed.end(), block.begin(), block.end());
        seeds->push_back(seed);
    }
}
