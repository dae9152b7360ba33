// Device life: creation rules, capabilities and formats a test can set, the lost /
// not-reset / removed / hung / driver-error conditions on both the 9 and 9Ex paths, what
// Reset demands of default-pool resources, and the built-in "d3d9.dll".
#include <thread>

#include "DeviceFixture.h"
#include "framework/LibraryTable.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/SoftwareFormats.h"

using namespace gfxtest;
using gfx::DeviceCondition;

namespace {

class DeviceState : public DeviceFixture {};

TEST_F(DeviceState, CreationFillsInParametersAndKeepsTheBehaviourFlags) {
    adapter_ = std::make_shared<gfx::SoftwareAdapter>();
    d3d_ = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter_, true));
    D3DPRESENT_PARAMETERS p = windowedParameters(320, 200);
    p.BackBufferCount = 0;
    ASSERT_EQ(D3D_OK, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x84, &p, device_.put()));
    EXPECT_EQ(D3DFMT_X8R8G8B8, p.BackBufferFormat);
    EXPECT_EQ(1u, p.BackBufferCount);
    D3DDEVICE_CREATION_PARAMETERS cp{};
    ASSERT_EQ(D3D_OK, device_->GetCreationParameters(&cp));
    EXPECT_EQ(0x84u, cp.BehaviorFlags);
    EXPECT_EQ(fakeWindow(), cp.hFocusWindow);
    InterfacePtr<IDirect3DDevice9Ex> ex;
    EXPECT_EQ(E_NOINTERFACE, queryInterface(device_.get(), ex.put())) << "a plain device is not 9Ex";
}

TEST_F(DeviceState, CreationRefusesBadArgumentsAndInjectedFailures) {
    adapter_ = std::make_shared<gfx::SoftwareAdapter>();
    d3d_ = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter_, true));
    D3DPRESENT_PARAMETERS p = windowedParameters(64, 64);
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, nullptr, device_.put()));
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x04, &p, device_.put()));
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x64, &p, device_.put()));
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(1, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &p, device_.put()));
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x24, &p, device_.put()));
    D3DPRESENT_PARAMETERS bad = p;
    bad.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &bad, device_.put()));
    bad = p;
    bad.AutoDepthStencilFormat = D3DFMT_A8R8G8B8;
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &bad, device_.put()));
    EXPECT_EQ(nullptr, device_.get());

    // The compositor's try order: an injected failure of the first flags lets the next run.
    adapter_->failDeviceCreation(0x84, D3DERR_NOTAVAILABLE);
    EXPECT_EQ(D3DERR_NOTAVAILABLE, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x84, &p, device_.put()));
    EXPECT_EQ(D3D_OK, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &p, device_.put()));
    // Without hardware vertex processing only software processing is accepted.
    D3DCAPS9 caps = adapter_->caps();
    caps.DevCaps &= ~D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    adapter_->setCaps(caps);
    InterfacePtr<IDirect3DDevice9> other;
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x80, &p, other.put()));
}

TEST_F(DeviceState, CapabilitiesAndFormatsFollowTheTestSettings) {
    makeDevice(64, 64);
    adapter_->setVertexShaderVersion(D3DVS_VERSION(0, 0));
    adapter_->setStretchRectFilterCaps(D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT);
    adapter_->setMaxTextureSize(256, 128);
    D3DCAPS9 caps{};
    ASSERT_EQ(D3D_OK, d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
    EXPECT_EQ(0u, D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion));
    EXPECT_EQ(256u, caps.MaxTextureWidth);
    ASSERT_EQ(D3D_OK, device_->GetDeviceCaps(&caps));
    EXPECT_EQ(128u, caps.MaxTextureHeight);
    EXPECT_FALSE(caps.StretchRectFilterCaps & D3DPTFILTERCAPS_MINFLINEAR);

    InterfacePtr<IDirect3DTexture9> t;
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(257, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
    EXPECT_EQ(D3D_OK, device_->CreateTexture(256, 128, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));

    // Linear StretchRect is refused once the caps lack it; point still works.
    InterfacePtr<IDirect3DSurface9> src, dst;
    ASSERT_EQ(D3D_OK, device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, src.put(), nullptr));
    ASSERT_EQ(D3D_OK,
              device_->CreateRenderTarget(16, 16, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, dst.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->StretchRect(src.get(), nullptr, dst.get(), nullptr, D3DTEXF_LINEAR));
    EXPECT_EQ(D3D_OK, device_->StretchRect(src.get(), nullptr, dst.get(), nullptr, D3DTEXF_POINT));

    auto check = [&](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT f) {
        return d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, f);
    };
    EXPECT_EQ(D3D_OK, check(0, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5));
    EXPECT_EQ(D3D_OK, check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16));
    EXPECT_EQ(D3DERR_NOTAVAILABLE, check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5));
    EXPECT_EQ(D3DERR_NOTAVAILABLE, check(0, D3DRTYPE_TEXTURE, D3DFMT_DXT1));
    adapter_->setFormatUses(D3DFMT_A8R8G8B8, gfx::kUseSurface);
    EXPECT_EQ(D3DERR_NOTAVAILABLE, check(0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8));
    EXPECT_EQ(D3D_OK, check(0, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
}

TEST_F(DeviceState, PlainDeviceGoesThroughLostAndNotResetToReset) {
    makeDevice(32, 32);
    EXPECT_EQ(D3D_OK, device_->TestCooperativeLevel());
    software()->forceCondition(DeviceCondition::Lost);
    EXPECT_EQ(D3DERR_DEVICELOST, device_->TestCooperativeLevel());
    EXPECT_EQ(D3DERR_DEVICELOST, device_->Present(nullptr, nullptr, nullptr, nullptr));
    D3DPRESENT_PARAMETERS p = windowedParameters(32, 32);
    EXPECT_EQ(D3DERR_DEVICELOST, device_->Reset(&p)) << "not resettable while lost";
    // Drawing while lost is accepted and shows nothing.
    ASSERT_EQ(D3D_OK, device_->BeginScene());
    EXPECT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0));
    ASSERT_EQ(D3D_OK, device_->EndScene());

    software()->forceCondition(DeviceCondition::NotReset);
    EXPECT_EQ(D3DERR_DEVICENOTRESET, device_->TestCooperativeLevel());
    EXPECT_EQ(D3D_OK, device_->Reset(&p));
    EXPECT_EQ(D3D_OK, device_->TestCooperativeLevel());
    EXPECT_EQ(D3D_OK, device_->Present(nullptr, nullptr, nullptr, nullptr));

    software()->forceCondition(DeviceCondition::DriverInternalError);
    EXPECT_EQ(D3DERR_DRIVERINTERNALERROR, device_->TestCooperativeLevel());
    EXPECT_EQ(D3DERR_DRIVERINTERNALERROR, device_->Reset(&p));
    // Removed and hung have no codes of their own on the plain path.
    software()->forceCondition(DeviceCondition::Hung);
    EXPECT_EQ(D3DERR_DEVICELOST, device_->TestCooperativeLevel());
    // The adapter reaches every live device.
    adapter_->forceCondition(DeviceCondition::Ok);
    EXPECT_EQ(D3D_OK, device_->TestCooperativeLevel());
}

TEST_F(DeviceState, ResetOnThePlainPathDemandsDefaultPoolResourcesBeReleased) {
    makeDevice(32, 32);
    InterfacePtr<IDirect3DTexture9> texture, managed;
    InterfacePtr<IDirect3DSurface9> staging;
    InterfacePtr<IDirect3DVertexBuffer9> vb;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, texture.put(), nullptr));
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, managed.put(), nullptr));
    ASSERT_EQ(D3D_OK,
              device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, staging.put(), nullptr));
    ASSERT_EQ(D3D_OK,
              device_->CreateVertexBuffer(112, D3DUSAGE_WRITEONLY, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr));
    ASSERT_EQ(D3D_OK, device_->SetTexture(0, texture.get()));
    EXPECT_EQ(2u, software()->defaultPoolResources());

    software()->forceCondition(DeviceCondition::NotReset);
    D3DPRESENT_PARAMETERS p = windowedParameters(48, 40);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Reset(&p));
    EXPECT_EQ(D3DERR_DEVICENOTRESET, device_->TestCooperativeLevel());
    texture.reset();
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Reset(&p)) << "the vertex buffer is still held";
    vb.reset();
    // A held back buffer blocks the reset too.
    InterfacePtr<IDirect3DSurface9> back;
    ASSERT_EQ(D3D_OK, device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Reset(&p));
    back.reset();
    ASSERT_EQ(D3D_OK, device_->Reset(&p));
    EXPECT_EQ(0u, software()->defaultPoolResources());
    // System-memory and managed resources survive; the new back buffer has the new size.
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(D3D_OK, staging->LockRect(&lr, nullptr, 0));
    staging->UnlockRect();
    EXPECT_EQ(D3D_OK, managed->LockRect(0, &lr, nullptr, 0));
    managed->UnlockRect(0);
    ASSERT_EQ(D3D_OK, device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()));
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(48u, desc.Width);
    EXPECT_EQ(40u, desc.Height);
    // Reset restores the default states.
    DWORD value = 0;
    device_->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(DWORD(D3DCULL_CCW), value);
}

TEST_F(DeviceState, ExDeviceReportsItsOwnCodesAndKeepsResourcesOverReset) {
    makeDevice(32, 32, true);
    InterfacePtr<IDirect3DTexture9> texture;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, texture.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.put(), nullptr))
        << "9Ex has no managed pool";
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, texture.put(), nullptr));
    struct Case {
        DeviceCondition condition;
        HRESULT state, present;
    } cases[] = {{DeviceCondition::Ok, D3D_OK, D3D_OK},
                 {DeviceCondition::Lost, D3DERR_DEVICELOST, D3DERR_DEVICELOST},
                 {DeviceCondition::Removed, D3DERR_DEVICEREMOVED, D3DERR_DEVICEREMOVED},
                 {DeviceCondition::Hung, D3DERR_DEVICEHUNG, D3DERR_DEVICEHUNG},
                 {DeviceCondition::Occluded, S_PRESENT_OCCLUDED, S_PRESENT_OCCLUDED}};
    for (const Case& c : cases) {
        software()->forceCondition(c.condition);
        EXPECT_EQ(c.state, deviceEx_->CheckDeviceState(fakeWindow()));
        EXPECT_EQ(c.present, deviceEx_->PresentEx(nullptr, nullptr, nullptr, nullptr, 0));
        EXPECT_EQ(D3D_OK, device_->TestCooperativeLevel()) << "9Ex always answers S_OK here";
    }
    D3DPRESENT_PARAMETERS p = windowedParameters(40, 30);
    software()->forceCondition(DeviceCondition::Removed);
    EXPECT_EQ(D3DERR_DEVICEREMOVED, deviceEx_->ResetEx(&p, nullptr));
    software()->forceCondition(DeviceCondition::Hung);
    EXPECT_EQ(D3DERR_INVALIDCALL, deviceEx_->ResetEx(nullptr, nullptr));
    D3DDISPLAYMODEEX mode{sizeof(D3DDISPLAYMODEEX), 40, 30, 60, D3DFMT_X8R8G8B8, D3DSCANLINEORDERING_PROGRESSIVE};
    EXPECT_EQ(D3DERR_INVALIDCALL, deviceEx_->ResetEx(&p, &mode)) << "windowed takes no display mode";
    ASSERT_EQ(D3D_OK, deviceEx_->ResetEx(&p, nullptr)) << "the texture may stay alive with 9Ex";
    EXPECT_EQ(D3D_OK, deviceEx_->CheckDeviceState(fakeWindow()));
    EXPECT_EQ(D3D_OK, device_->SetTexture(0, texture.get()));
}

TEST_F(DeviceState, BadArgumentsGiveInvalidCall) {
    makeDevice(32, 32);
    InterfacePtr<IDirect3DTexture9> t;
    InterfacePtr<IDirect3DSurface9> s;
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(8, 8, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, t.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(8, 8, 9, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                                         D3DPOOL_SYSTEMMEM, t.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, nullptr, nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, s.put(), nullptr));
    // Sizes no memory can hold fail cleanly.
    EXPECT_TRUE(FAILED(
        device_->CreateOffscreenPlainSurface(16384, 16384, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, s.put(), nullptr)));
    InterfacePtr<IDirect3DVertexBuffer9> vb;
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->CreateVertexBuffer(0, 0, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->CreateVertexBuffer(27, 0, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr));
    InterfacePtr<IDirect3DIndexBuffer9> ib;
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, ib.put(), nullptr));

    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetRenderState(D3DRENDERSTATETYPE(0), 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetRenderState(D3DRENDERSTATETYPE(5000), 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetTextureStageState(8, D3DTSS_COLOROP, 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetSamplerState(0, D3DSAMPLERSTATETYPE(99), 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetTexture(8, nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetRenderTarget(0, nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetRenderTarget(1, nullptr));
    D3DVIEWPORT9 vp{16, 16, 32, 32, 0, 1};
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetViewport(&vp)) << "beyond the target";
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->SetViewport(nullptr));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->EndScene());
    ASSERT_EQ(D3D_OK, device_->BeginScene());
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->BeginScene());
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->Present(nullptr, nullptr, nullptr, nullptr)) << "inside a scene";

    // Draws: no stream, a stride too small, indices beyond the buffer, nothing to draw.
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1));
    ASSERT_EQ(D3D_OK, device_->CreateVertexBuffer(4 * 28, 0, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr));
    ASSERT_EQ(D3D_OK, device_->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib.put(), nullptr));
    void* data = nullptr;
    ASSERT_EQ(D3D_OK, ib->Lock(0, 0, &data, 0));
    uint16_t idx[6] = {0, 1, 3, 3, 2, 400};
    std::memcpy(data, idx, sizeof idx);
    ib->Unlock();
    device_->SetFVF(kLayerFvf);
    device_->SetStreamSource(0, vb.get(), 0, 20);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1));
    device_->SetStreamSource(0, vb.get(), 0, 28);
    device_->SetIndices(ib.get());
    EXPECT_EQ(D3D_OK, device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 4, 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 4, 0, 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPRIMITIVETYPE(9), 0, 1));
    device_->SetFVF(0);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1));
    ASSERT_EQ(D3D_OK, device_->EndScene());
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1)) << "outside a scene";
}

TEST_F(DeviceState, ReleasingTheDeviceFreesResourcesStillBound) {
    makeDevice(16, 16);
    InterfacePtr<IDirect3DTexture9> texture;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                             texture.put(), nullptr));
    InterfacePtr<IDirect3DSurface9> level;
    ASSERT_EQ(D3D_OK, texture->GetSurfaceLevel(0, level.put()));
    ASSERT_EQ(D3D_OK, device_->SetRenderTarget(0, level.get()));
    ASSERT_EQ(D3D_OK, device_->SetTexture(1, texture.get()));
    D3DVIEWPORT9 vp{};
    device_->GetViewport(&vp);
    EXPECT_EQ(4u, vp.Width) << "setting a render target resets the viewport";
    level.reset();
    // The texture keeps the device alive, the device holds the texture only while referenced.
    device_.reset();
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(D3D_OK, texture->GetDevice(&owner));
    ASSERT_NE(nullptr, owner);
    owner->Release();
    texture.reset();
}

TEST(Direct3DModule, RegistersTheTwoExportsUnderItsName) {
    ASSERT_TRUE(registerDirect3DModule());
    HMODULE module = loadLibrary(u"d3d9.dll");
    ASSERT_NE(nullptr, module);
    auto create9 = reinterpret_cast<Direct3DCreate9Function>(getProcAddress(module, "Direct3DCreate9"));
    auto create9Ex = reinterpret_cast<Direct3DCreate9ExFunction>(getProcAddress(module, "Direct3DCreate9Ex"));
    ASSERT_NE(nullptr, create9);
    ASSERT_NE(nullptr, create9Ex);
    EXPECT_EQ(nullptr, create9(31)) << "only SDK version 32";
    auto d3d = InterfacePtr<IDirect3D9>::adopt(create9(D3D_SDK_VERSION));
    ASSERT_NE(nullptr, d3d.get());
    InterfacePtr<IDirect3D9Ex> ex;
    EXPECT_EQ(E_NOINTERFACE, queryInterface(d3d.get(), ex.put()));
    ASSERT_EQ(D3D_OK, create9Ex(D3D_SDK_VERSION, ex.put()));
    EXPECT_EQ(1u, ex->GetAdapterCount());
    freeLibrary(module);
    EXPECT_TRUE(unregisterBuiltinModule(std::string_view("d3d9.dll")));
    EXPECT_EQ(nullptr, loadLibrary(u"d3d9.dll"));
}

// Streaming threads upload while the render thread draws and presents, as in the player;
// run under the thread sanitizer this checks the device's own locking.
TEST_F(DeviceState, UploadsFromOtherThreadsWhileDrawing) {
    makeDevice(256, 128);
    installBaseline();
    constexpr int kLayers = 3;
    std::vector<InterfacePtr<IDirect3DTexture9>> textures;
    std::vector<InterfacePtr<IDirect3DSurface9>> staging;
    for (int i = 0; i < kLayers; ++i) {
        textures.push_back(makeTexture(128, 128, D3DFMT_A8R8G8B8, std::vector<uint32_t>(128 * 128, 0xFF000000u | i)));
        InterfacePtr<IDirect3DSurface9> s;
        ASSERT_EQ(D3D_OK,
                  device_->CreateOffscreenPlainSurface(128, 128, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, s.put(), nullptr));
        staging.push_back(s);
    }
    std::mutex itemLocks[kLayers];
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int i = 0; i < kLayers; ++i)
        writers.emplace_back([&, i] {
            for (uint32_t frame = 0; frame < 60 && !stop.load(); ++frame) {
                std::this_thread::yield();
                std::lock_guard<std::mutex> hold(itemLocks[i]);
                D3DLOCKED_RECT lr{};
                if (FAILED(staging[i]->LockRect(&lr, nullptr, 0))) continue;
                for (int y = 0; y < 128; ++y)
                    std::fill_n(reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch), 128,
                                0xFF000000u | frame);
                staging[i]->UnlockRect();
                InterfacePtr<IDirect3DSurface9> level;
                textures[i]->GetSurfaceLevel(0, level.put());
                device_->UpdateSurface(staging[i].get(), nullptr, level.get(), nullptr);
            }
        });
    for (int frame = 0; frame < 30; ++frame) {
        ASSERT_EQ(D3D_OK, device_->BeginScene());
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        for (int i = 0; i < kLayers; ++i) {
            std::lock_guard<std::mutex> hold(itemLocks[i]);
            ASSERT_EQ(D3D_OK, drawLayer(textures[i].get(), {i * 40, 0, i * 40 + 256, 128}, {0, 0, 128, 128}, 0xC0FFFFFF,
                                        128, 128));
        }
        ASSERT_EQ(D3D_OK, device_->EndScene());
        ASSERT_EQ(D3D_OK, device_->Present(nullptr, nullptr, nullptr, nullptr));
    }
    stop = true;
    for (auto& t : writers) t.join();
    EXPECT_EQ(30u, software()->presentCount());
}

}  // namespace
