// The compositor used the way the player's threads use it: a frame renderer uploading
// into a layer under the item's lock, the render thread composing under the device lock
// (with device resets in between), and textures made and dropped on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/graphics/CompositorHarness.h"

namespace {

using namespace harness;

class CompositorThreadsTest : public CompositorFixture {};

TEST_F(CompositorThreadsTest, UploadsDrawsResetsAndCreationsInterleave) {
    for (uint32_t options : {0u, 128u}) {
        SCOPED_TRACE(options);
        makeCompositor(48, 32, options);
        CriticalSection deviceLock, itemLock;
        auto layer = drawBase_->createLayerTexture(16, 16, D3DFMT_X8R8G8B8, 1, false);
        ASSERT_TRUE(layer);
        ASSERT_TRUE(layer->fill(0, nullptr));
        std::atomic<bool> stop{false};
        std::atomic<int> uploads{0};

        std::thread renderer([&] {
            uint32_t n = 0;
            while (!stop.load()) {
                ScopedLock hold(itemLock);
                InterfacePtr<Image> view = layer->openImage();
                if (!view) continue;
                view->fill(0xFF000000u | (n++ * 0x010203u), nullptr);
                if (layer->commitImage(view.get(), nullptr)) uploads.fetch_add(1);
            }
        });
        std::thread creator([&] {
            while (!stop.load()) {
                auto t = drawBase_->createLayerTexture(8, 8, D3DFMT_A8R8G8B8, 1, false);
                if (t) t->fill(0, nullptr);
            }
        });

        for (int frameNo = 0; frameNo < 60; ++frameNo) {
            ScopedLock device(deviceLock);
            if (frameNo % 15 == 7)
                adapter().forceCondition(options ? gfx::DeviceCondition::Lost : gfx::DeviceCondition::NotReset);
            ScopedLock scene(drawBase_->sceneLock());
            drawBase_->beginScene();
            drawBase_->layerDrawer().clear(nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            {
                ScopedLock item(itemLock);
                drawLayer(*layer, RECT{0, 0, 48, 32}, nullptr, 0xFFFFFFFF);
            }
            drawBase_->endScene();
            // A lost device is reset by the present itself.
            EXPECT_TRUE(drawBase_->present());
        }
        while (uploads.load() < 3) std::this_thread::yield();
        stop.store(true);
        renderer.join();
        creator.join();

        // The last upload is what shows.
        ASSERT_TRUE(frame(0xFF000000, {{layer.get(), RECT{0, 0, 48, 32}, nullptr, 0xFFFFFFFF}}));
        InterfacePtr<Image> view = layer->openImage();
        ASSERT_TRUE(view);
        void* bits = nullptr;
        int32_t pitch = 0;
        ASSERT_TRUE(view->lock(&bits, &pitch));
        uint32_t last = *static_cast<uint32_t*>(bits);
        view->unlock();
        layer->commitImage(view.get(), nullptr);
        EXPECT_EQ(capture_->last().at(10, 10), last | 0xFF000000u);
        EXPECT_TRUE(drawBase_->isDeviceUsable());
        layer.reset();
        drawBase_.reset();
    }
}

}  // namespace
