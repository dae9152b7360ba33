// Device creation, presentation, loss and reset of the compositor on the software device.
#include <gtest/gtest.h>

#include "framework/LibraryTable.h"
#include "framework/TimeSource.h"
#include "graphics/Presenter.h"
#include "graphics/RenderStateBaseline.h"
#include "platform/gfx/SoftwareFormats.h"
#include "tests/graphics/CompositorHarness.h"

namespace {

using namespace harness;

// Counts the factory's loss walks, and checks that by the time a reset of a plain device
// would run nothing of the device's default pool is still alive.
class CountingResource : public DeviceResource {
public:
    void releaseDeviceObjects() override { ++released; }
    bool rebuildDeviceObjects() override {
        ++rebuilt;
        return rebuildAnswer;
    }
    int released = 0;
    int rebuilt = 0;
    bool rebuildAnswer = true;
};

class DrawBaseDeviceTest : public CompositorFixture {
protected:
    DWORD behaviourFlags() {
        D3DDEVICE_CREATION_PARAMETERS p{};
        EXPECT_EQ(drawBase_->device()->GetCreationParameters(&p), D3D_OK);
        return p.BehaviorFlags;
    }
    DWORD renderState(D3DRENDERSTATETYPE s) {
        DWORD v = 0xDEAD;
        EXPECT_EQ(drawBase_->device()->GetRenderState(s, &v), D3D_OK);
        return v;
    }
    void expectBaseline() {
        EXPECT_EQ(renderState(D3DRS_ZENABLE), 1u);
        EXPECT_EQ(renderState(D3DRS_CULLMODE), 1u);
        EXPECT_EQ(renderState(D3DRS_ALPHATESTENABLE), 1u);
        EXPECT_EQ(renderState(D3DRS_ALPHAFUNC), 5u);
        EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), 1u);
        EXPECT_EQ(renderState(D3DRS_SRCBLEND), 5u);
        EXPECT_EQ(renderState(D3DRS_DESTBLEND), 6u);
        EXPECT_EQ(renderState(D3DRS_LIGHTING), 0u);
        EXPECT_EQ(renderState(D3DRS_MULTISAMPLEANTIALIAS), 0u);
        DWORD v = 0;
        drawBase_->device()->GetSamplerState(0, D3DSAMP_MIPFILTER, &v);
        EXPECT_EQ(v, 1u);
        drawBase_->device()->GetTextureStageState(0, D3DTSS_ALPHAOP, &v);
        EXPECT_EQ(v, 4u);
        drawBase_->device()->GetTextureStageState(2, D3DTSS_COLOROP, &v);
        EXPECT_EQ(v, 1u);
        BOOL on = FALSE;
        EXPECT_EQ(drawBase_->device()->GetLightEnable(0, &on), D3D_OK);
        EXPECT_TRUE(on);
    }
};

TEST_F(DrawBaseDeviceTest, NinthExIsPreferredAndKeepsFactoryResourcesAcrossAReset) {
    makeCompositor(64, 48);
    ASSERT_TRUE(drawBase_->usesEx());
    EXPECT_TRUE(software()->isEx());
    EXPECT_EQ(behaviourFlags(), 0x84u);
    const D3DPRESENT_PARAMETERS& p = drawBase_->presentationParameters();
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);  // filled in by the device
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(p.hDeviceWindow, testWindow());
    EXPECT_EQ(p.Flags, 1u);
    expectBaseline();

    CountingResource resource;
    drawBase_->textureFactory().registerResource(&resource);
    auto layer = drawBase_->createLayerTexture(8, 8, D3DFMT_A8R8G8B8, 1, false);
    ASSERT_TRUE(layer);
    IDirect3DTexture9* before = layer->texture();

    uint64_t presents = software()->presentCount();
    EXPECT_TRUE(drawBase_->present());
    EXPECT_EQ(software()->presentCount(), presents + 1);

    adapter().forceCondition(gfx::DeviceCondition::Lost);
    EXPECT_FALSE(drawBase_->isDeviceUsable());
    EXPECT_TRUE(drawBase_->waitForDevice(50));  // lost: in need of restoreDevice
    EXPECT_TRUE(drawBase_->restoreDevice());
    EXPECT_TRUE(drawBase_->isDeviceUsable());
    EXPECT_EQ(layer->texture(), before);
    EXPECT_EQ(resource.released, 0);
    EXPECT_EQ(resource.rebuilt, 0);
    expectBaseline();

    adapter().forceCondition(gfx::DeviceCondition::Occluded);
    EXPECT_FALSE(drawBase_->waitForDevice(50));
    EXPECT_TRUE(drawBase_->restoreDevice());
    adapter().forceCondition(gfx::DeviceCondition::Removed);
    EXPECT_FALSE(drawBase_->restoreDevice());  // the reset cannot bring a removed adapter back
    drawBase_->textureFactory().unregisterResource(&resource);
}

TEST_F(DrawBaseDeviceTest, PlainNineReleasesAndRebuildsFactoryResourcesAroundEachReset) {
    makeCompositor(64, 48, 0);
    ASSERT_FALSE(drawBase_->usesEx());
    EXPECT_FALSE(software()->isEx());
    CountingResource resource;
    drawBase_->textureFactory().registerResource(&resource);
    auto layer = drawBase_->createLayerTexture(8, 8, D3DFMT_A8R8G8B8, 1, false);
    ASSERT_TRUE(layer);
    ASSERT_TRUE(layer->setGeometry(RECT{0, 0, 8, 8}, nullptr, 0xFFFFFFFF, 1.0f, 0.0f));
    ASSERT_TRUE(layer->mesh().uploadVertices());
    ASSERT_TRUE(layer->mesh().uploadIndices());

    // Lost and not resettable yet: nothing is released, the present answers false.
    adapter().forceCondition(gfx::DeviceCondition::Lost);
    EXPECT_FALSE(drawBase_->present());
    EXPECT_FALSE(drawBase_->restoreDevice());
    EXPECT_EQ(resource.released, 0);
    EXPECT_TRUE(layer->texture());

    // Resettable: the plain device resets only once every default-pool object is gone,
    // so success shows the release walk ran in full.
    adapter().forceCondition(gfx::DeviceCondition::NotReset);
    EXPECT_TRUE(drawBase_->waitForDevice(50));
    resource.rebuildAnswer = false;  // one resource failing does not stop the walk
    EXPECT_TRUE(drawBase_->restoreDevice());
    EXPECT_EQ(resource.released, 1);
    EXPECT_EQ(resource.rebuilt, 1);
    EXPECT_TRUE(layer->texture());
    EXPECT_TRUE(layer->mesh().vertexBuffer());
    EXPECT_TRUE(layer->mesh().indexBuffer());
    EXPECT_TRUE(drawBase_->isDeviceUsable());
    expectBaseline();

    // A present that finds the device lost resets at once.
    adapter().forceCondition(gfx::DeviceCondition::NotReset);
    EXPECT_TRUE(drawBase_->present());
    EXPECT_EQ(resource.released, 2);
    EXPECT_EQ(resource.rebuilt, 2);
    drawBase_->textureFactory().unregisterResource(&resource);
}

TEST_F(DrawBaseDeviceTest, DeviceWithoutVertexShadersGetsSoftwareVertexProcessingOnly) {
    adapter().setVertexShaderVersion(D3DVS_VERSION(0, 0));
    makeCompositor(32, 32);
    EXPECT_EQ(behaviourFlags(), 0x24u);
    drawBase_.reset();

    adapter().failDeviceCreation(0x24, E_OUTOFMEMORY);
    makeCompositor(32, 32);
    EXPECT_EQ(behaviourFlags(), 0x20u);  // not 0x80, which comes before it for other devices
    drawBase_.reset();

    adapter().failDeviceCreation(0x20, D3DERR_NOTAVAILABLE);
    try {
        makeCompositor(32, 32);
        FAIL() << "creation succeeded";
    } catch (const directx_exception& e) {
        EXPECT_EQ(e.code(), D3DERR_NOTAVAILABLE);  // the last try's code
        EXPECT_EQ(std::u16string(e.message()), u"Direct3DInitializeException");
    }
}

TEST_F(DrawBaseDeviceTest, BehaviourFlagsAreTriedInOrder) {
    adapter().failDeviceCreation(0x84, E_FAIL);
    makeCompositor(32, 32, 0);
    EXPECT_EQ(behaviourFlags(), 0x24u);
    drawBase_.reset();
    adapter().failDeviceCreation(0x24, E_FAIL);
    makeCompositor(32, 32, 0);
    EXPECT_EQ(behaviourFlags(), 0x80u);
}

TEST_F(DrawBaseDeviceTest, PresenterModeFollowsTheStretchFilterCaps) {
    makeCompositor(32, 32);
    EXPECT_EQ(drawBase_->presenter().mode(), Presenter::kModeLinear);
    EXPECT_FALSE(drawBase_->presenter().hasOffscreenTarget());
    drawBase_.reset();

    adapter().setStretchRectFilterCaps(D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT |
                                       D3DPTFILTERCAPS_MINFLINEAR);
    makeCompositor(32, 32);
    EXPECT_EQ(drawBase_->presenter().mode(), Presenter::kModePoint);
    EXPECT_EQ(drawBase_->presenter().setMode(Presenter::kModeLinear), E_NOTIMPL);
    EXPECT_EQ(drawBase_->presenter().mode(), Presenter::kModePoint);
    EXPECT_EQ(drawBase_->presenter().setMode(5), E_INVALIDARG);
    {
        ScopedLock hold(drawBase_->sceneLock());
        drawBase_->beginScene();
        EXPECT_EQ(drawBase_->presenter().setMode(Presenter::kModeDirect), E_FAIL);
        drawBase_->endScene();
    }
    drawBase_.reset();

    adapter().setStretchRectFilterCaps(D3DPTFILTERCAPS_MINFLINEAR);
    try {
        makeCompositor(32, 32);
        FAIL() << "a device that cannot stretch was taken";
    } catch (const directx_exception& e) {
        EXPECT_EQ(e.code(), E_NOTIMPL);
        EXPECT_EQ(std::u16string(e.message()), u"Direct3DInitializeException");
    }
}

TEST_F(DrawBaseDeviceTest, ResizeResetsOnlyWhenTheClientSizeChanged) {
    makeCompositor(64, 48, 0);
    CountingResource resource;
    drawBase_->textureFactory().registerResource(&resource);
    EXPECT_TRUE(drawBase_->resize());
    EXPECT_EQ(resource.released, 0);

    clientRect() = RECT{0, 0, 80, 30};
    EXPECT_TRUE(drawBase_->resize());
    EXPECT_EQ(resource.released, 1);
    EXPECT_EQ(resource.rebuilt, 1);
    EXPECT_EQ(drawBase_->presentationParameters().BackBufferWidth, 80u);
    EXPECT_EQ(drawBase_->screenSettings().logicalHeight, 30);
    EXPECT_EQ(drawBase_->layerDrawer().viewport().Width, 80u);
    ASSERT_TRUE(frame(0xFF112233, {}));
    EXPECT_EQ(capture_->last().width, 80u);
    EXPECT_EQ(capture_->last().height, 30u);
    EXPECT_EQ(capture_->last().at(79, 29), 0xFF112233u);

    // A minimised window keeps the device as it is.
    clientRect() = RECT{0, 0, 0, 0};
    EXPECT_FALSE(drawBase_->resize());
    EXPECT_EQ(resource.released, 1);
    EXPECT_EQ(drawBase_->presentationParameters().BackBufferWidth, 80u);
    drawBase_->textureFactory().unregisterResource(&resource);
}

uint32_t manualClock = 0;
int clockReads = 0;
uint32_t readManualClock() {
    ++clockReads;
    return manualClock += 5;
}

TEST_F(DrawBaseDeviceTest, WaitingForADeviceThatStaysLostGivesUp) {
    makeCompositor(32, 32, 0);
    adapter().forceCondition(gfx::DeviceCondition::Lost);
    clockReads = 0;
    setTimeFunction(readManualClock);
    bool answer = drawBase_->waitForDevice(50);
    setTimeFunction(nullptr);
    EXPECT_FALSE(answer);
    // Tested again until 50 ms had passed since the first test.
    EXPECT_GE(clockReads, 10);
    EXPECT_LE(clockReads, 12);

    adapter().forceCondition(gfx::DeviceCondition::NotReset);
    EXPECT_TRUE(drawBase_->waitForDevice(INFINITE));
}

TEST_F(DrawBaseDeviceTest, DriverInternalErrorDuringAResetRaisesCategory13) {
    makeCompositor(32, 32, 0);
    adapter().forceCondition(gfx::DeviceCondition::DriverInternalError);
    EXPECT_FALSE(drawBase_->isDeviceUsable());
    clientRect() = RECT{0, 0, 40, 40};
    try {
        drawBase_->resize();
        FAIL() << "no exception";
    } catch (const directx_exception& e) {
        EXPECT_EQ(uint32_t(e.code()), 0x88760827u);
        EXPECT_EQ(std::u16string(e.message()), u"D3DERR_DRIVERINTERNALERROR");
    }
}

TEST_F(DrawBaseDeviceTest, MissingRuntimeRaisesCategory2) {
    ASSERT_TRUE(unregisterBuiltinModule(std::string_view("d3d9.dll")));
    DisplayConfig config;
    EXPECT_TRUE(config.hasDirect3D());
    EXPECT_EQ(config.loader()->direct3D(), nullptr);
    config.setOptions(128);
    EXPECT_EQ(config.options(), 0u);  // no 9Ex without a runtime
    config.setWindowedSize(32, 32);
    try {
        DrawBase compositor(testWindow(), config);
        FAIL() << "made without a runtime";
    } catch (const directx_exception& e) {
        EXPECT_EQ(e.code(), E_NOINTERFACE);
        EXPECT_EQ(std::u16string(e.message()), u"Direct3DInfomationInitializeException");
    }
    ASSERT_TRUE(registerDirect3DModule());
}

TEST_F(DrawBaseDeviceTest, RuntimeWithoutNinthExIsUsedPlainly) {
    ASSERT_TRUE(registerBuiltinModule(std::string_view("d3d9.dll"),
                                      {BuiltinExport("Direct3DCreate9", &gfx::softwareDirect3DCreate9)}));
    DisplayConfig config;
    config.setOptions(128 | 0x40 | 3);
    EXPECT_EQ(config.options(), 0x40u);  // adapter bits kept (0), 9Ex dropped
    config.setWindowedSize(32, 24);
    EXPECT_EQ(config.presentationParameters().BackBufferHeight, 24u);
    EXPECT_EQ(config.presentationParameters().BackBufferFormat, D3DFMT_UNKNOWN);
    DrawBase compositor(testWindow(), config);
    EXPECT_FALSE(compositor.usesEx());
    EXPECT_TRUE(compositor.present());
}

TEST_F(DrawBaseDeviceTest, TextureFactoryChoosesDefaultFormatsFromTheFormatChecks) {
    makeCompositor(32, 32);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(false), D3DFMT_X8R8G8B8);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(true), D3DFMT_A8R8G8B8);
    EXPECT_EQ(drawBase_->textureFactory().maxTextureWidth(), 8192u);
    drawBase_.reset();

    adapter().setFormatUses(D3DFMT_A8R8G8B8, gfx::kUseSurface);  // not as a texture
    makeCompositor(32, 32);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(false), D3DFMT_R5G6B5);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(true), D3DFMT_A4R4G4B4);
    drawBase_.reset();

    adapter().setFormatUses(D3DFMT_R5G6B5, gfx::kUseTexture);  // not as a surface
    adapter().setMaxTextureSize(1024, 512);
    makeCompositor(32, 32);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(false), D3DFMT_X8R8G8B8);
    EXPECT_EQ(drawBase_->textureFactory().defaultFormat(true), D3DFMT_X8R8G8B8);
    EXPECT_EQ(drawBase_->textureFactory().maxTextureHeight(), 512u);
    // Images follow the defaults.
    InterfacePtr<Image> image = drawBase_->createImage(4, 4, true);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format(), 8);
}

TEST_F(DrawBaseDeviceTest, SmallerLogicalAreaIsPresentedThroughTheOffscreenTarget) {
    ScreenSettings settings = ScreenSettings::windowed(64, 48);
    settings.logicalWidth = 32;
    settings.logicalHeight = 24;
    config_ = std::make_unique<DisplayConfig>(nullptr, &settings);
    drawBase_ = std::make_unique<DrawBase>(testWindow(), *config_);
    EXPECT_TRUE(drawBase_->presenter().hasOffscreenTarget());
    EXPECT_EQ(drawBase_->layerDrawer().viewport().Width, 32u);
    std::vector<uint32_t> red(4, 0xFFFF0000u);
    auto layer = makeTexture(2, 2, D3DFMT_X8R8G8B8, red);
    ASSERT_TRUE(frame(0xFF0000FF, {{layer.get(), RECT{0, 0, 16, 24}, nullptr, 0xFFFFFFFF}}));
    Picture got = capture_->last();
    ASSERT_EQ(got.width, 64u);
    // The left half of the logical area is red, stretched over the left half of the window.
    EXPECT_EQ(got.at(2, 40), 0xFFFF0000u);
    EXPECT_EQ(got.at(60, 5), 0xFF0000FFu);

    adapter().forceCondition(gfx::DeviceCondition::NotReset);
    ASSERT_TRUE(frame(0xFF00FF00, {}));
    ASSERT_TRUE(frame(0xFF00FF00, {}));
    EXPECT_TRUE(drawBase_->presenter().hasOffscreenTarget());
    EXPECT_EQ(capture_->last().at(63, 47), 0xFF00FF00u);
}

}  // namespace
