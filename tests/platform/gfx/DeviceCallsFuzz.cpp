// Drives the software device with call sequences and arguments read from the input:
// resources of odd sizes and formats, locks, copies with arbitrary rectangles, states of
// any value, draws of arbitrary vertex and index data, clears, resets and forced
// conditions. Whatever the input, the device answers with result codes and never
// crashes, reads or writes out of bounds, or leaks.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace {

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool more() const { return at_ < n_; }
    uint32_t u8() { return at_ < n_ ? d_[at_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= u8() << (8 * i);
        return v;
    }
    int32_t small() { return int32_t(u8()) - 16; }
    float f32() {
        uint32_t v = u32();
        float f;
        std::memcpy(&f, &v, 4);
        return f;
    }
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out(count);
        for (auto& b : out) b = static_cast<uint8_t>(u8());
        return out;
    }

private:
    const uint8_t* d_;
    size_t n_;
    size_t at_ = 0;
};

const D3DFORMAT kFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A4R4G4B4,
                              D3DFMT_R8G8B8,   D3DFMT_A8,       D3DFMT_L8,     D3DFMT_DXT1};

RECT readRect(Reader& r) {
    return RECT{r.small(), r.small(), r.small(), r.small()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    auto adapter = std::make_shared<gfx::SoftwareAdapter>();
    auto d3d = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter, true));
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 1 + in.u8() % 40;
    p.BackBufferHeight = 1 + in.u8() % 40;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = in.u8() & 1;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    bool ex = in.u8() & 1;
    InterfacePtr<IDirect3DDevice9> device;
    InterfacePtr<IDirect3DDevice9Ex> deviceEx;
    if (ex) {
        if (FAILED(
                d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1), 0x24, &p, nullptr, deviceEx.put())))
            return 0;
        device = deviceEx.get();
    } else if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1), 0x24, &p, device.put()))) {
        return 0;
    }
    std::vector<InterfacePtr<IDirect3DTexture9>> textures;
    std::vector<InterfacePtr<IDirect3DSurface9>> surfaces;
    InterfacePtr<IDirect3DVertexBuffer9> vb;
    InterfacePtr<IDirect3DIndexBuffer9> ib;
    auto surface = [&](Reader& r) -> IDirect3DSurface9* {
        if (surfaces.empty()) return nullptr;
        return surfaces[r.u8() % surfaces.size()].get();
    };

    for (int step = 0; step < 64 && in.more(); ++step) {
        switch (in.u8() % 16) {
            case 0: {
                InterfacePtr<IDirect3DTexture9> t;
                UINT w = in.u8() % 70, h = in.u8() % 70, levels = in.u8() % 4;
                DWORD usage = (in.u8() & 1) ? D3DUSAGE_RENDERTARGET : 0;
                if (SUCCEEDED(device->CreateTexture(w, h, levels, usage, kFormats[in.u8() % 8], D3DPOOL(in.u8() % 4),
                                                    t.put(), nullptr))) {
                    InterfacePtr<IDirect3DSurface9> level;
                    if (SUCCEEDED(t->GetSurfaceLevel(in.u8() % 3, level.put()))) surfaces.push_back(level);
                    textures.push_back(t);
                }
                break;
            }
            case 1: {
                InterfacePtr<IDirect3DSurface9> s;
                if (SUCCEEDED(device->CreateOffscreenPlainSurface(in.u8() % 70, in.u8() % 70, kFormats[in.u8() % 8],
                                                                  D3DPOOL(in.u8() % 4), s.put(), nullptr)))
                    surfaces.push_back(s);
                break;
            }
            case 2: {
                IDirect3DSurface9* s = surface(in);
                if (!s) break;
                RECT r = readRect(in);
                D3DLOCKED_RECT lr{};
                bool whole = in.u8() & 1;
                if (SUCCEEDED(s->LockRect(&lr, whole ? nullptr : &r, 0))) {
                    D3DSURFACE_DESC desc{};
                    s->GetDesc(&desc);
                    UINT rows = whole ? desc.Height : UINT(r.bottom - r.top);
                    for (UINT y = 0; y < rows; ++y)
                        std::memset(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, int(in.u8()), 1);
                    s->UnlockRect();
                }
                break;
            }
            case 3: {
                RECT r = readRect(in);
                POINT pt{in.small(), in.small()};
                device->UpdateSurface(surface(in), (in.u8() & 1) ? &r : nullptr, surface(in),
                                      (in.u8() & 1) ? &pt : nullptr);
                break;
            }
            case 4: {
                RECT a = readRect(in), b = readRect(in);
                device->StretchRect(surface(in), (in.u8() & 1) ? &a : nullptr, surface(in),
                                    (in.u8() & 1) ? &b : nullptr, D3DTEXTUREFILTERTYPE(in.u8() % 4));
                break;
            }
            case 5: {
                RECT r = readRect(in);
                device->ColorFill(surface(in), (in.u8() & 1) ? &r : nullptr, in.u32());
                break;
            }
            case 6:
                device->SetRenderState(D3DRENDERSTATETYPE(in.u8()), in.u32() % 300);
                break;
            case 7:
                device->SetSamplerState(in.u8() % 9, D3DSAMPLERSTATETYPE(in.u8() % 15), in.u32() % 9);
                break;
            case 8:
                device->SetTextureStageState(in.u8() % 9, D3DTEXTURESTAGESTATETYPE(in.u8() % 34), in.u32() % 40);
                break;
            case 9:
                if (!textures.empty()) device->SetTexture(in.u8() % 9, textures[in.u8() % textures.size()].get());
                break;
            case 10: {
                // Vertex data of any content: positions may be huge, negative or not numbers.
                UINT length = 1 + in.u8() * 4;
                DWORD fvf = (in.u8() & 1) ? (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1) : in.u32();
                if (SUCCEEDED(device->CreateVertexBuffer(length, 0, 0, D3DPOOL_DEFAULT, vb.put(), nullptr))) {
                    void* v = nullptr;
                    if (SUCCEEDED(vb->Lock(0, 0, &v, 0))) {
                        for (UINT i = 0; i + 4 <= length; i += 4) {
                            float f = (in.u8() & 3) ? float(in.small()) * 3.0f : in.f32();
                            std::memcpy(static_cast<uint8_t*>(v) + i, &f, 4);
                        }
                        vb->Unlock();
                    }
                }
                device->SetFVF(fvf);
                device->SetStreamSource(0, vb.get(), in.u8() % 64, in.u8() % 64);
                break;
            }
            case 11: {
                UINT length = 2 + in.u8() * 2;
                if (SUCCEEDED(device->CreateIndexBuffer(length, 0, (in.u8() & 1) ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                                        D3DPOOL_DEFAULT, ib.put(), nullptr))) {
                    void* v = nullptr;
                    if (SUCCEEDED(ib->Lock(0, 0, &v, 0))) {
                        auto b = in.bytes(length);
                        std::memcpy(v, b.data(), length);
                        ib->Unlock();
                    }
                    device->SetIndices(ib.get());
                }
                break;
            }
            case 12: {
                device->BeginScene();
                D3DPRIMITIVETYPE type = D3DPRIMITIVETYPE(in.u8() % 8);
                if (in.u8() & 1)
                    device->DrawIndexedPrimitive(type, in.small(), 0, 0, in.u8(), in.u8() % 8);
                else
                    device->DrawPrimitive(type, in.u8(), in.u8() % 8);
                device->EndScene();
                break;
            }
            case 13: {
                D3DRECT r{in.small(), in.small(), in.small(), in.small()};
                device->Clear(in.u8() & 1, &r, 1 + in.u8() % 7, in.u32(), float(in.u8()) / 200.0f, 0);
                D3DVIEWPORT9 vp{in.u8() % 40, in.u8() % 40, in.u8() % 40, in.u8() % 40, 0.0f, 1.0f};
                device->SetViewport(&vp);
                break;
            }
            case 14: {
                gfx::softwareDevice(device.get())->forceCondition(gfx::DeviceCondition(in.u8() % 7));
                device->Present(nullptr, nullptr, nullptr, nullptr);
                break;
            }
            default: {
                // A reset: the plain path refuses while default-pool resources are held.
                if (in.u8() & 1) {
                    textures.clear();
                    surfaces.clear();
                    vb.reset();
                    ib.reset();
                }
                D3DPRESENT_PARAMETERS q = p;
                q.BackBufferWidth = in.u8() % 50;
                device->Reset(&q);
                break;
            }
        }
    }
    return 0;
}

// Long pseudo-random call sequences as seeds, so mutants reach deep into a session.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    uint32_t state = 12345;
    for (int s = 0; s < 12; ++s) {
        std::vector<uint8_t> seed(700);
        for (auto& b : seed) {
            state = state * 1103515245u + 12345u;
            b = static_cast<uint8_t>(state >> 16);
        }
        seeds->push_back(std::move(seed));
    }
}
