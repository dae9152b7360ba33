// Layer textures: creation rules, image views, geometry, the drawer's state handling, and
// the factory's list.
#include <gtest/gtest.h>

#include "tests/graphics/CompositorHarness.h"

namespace {

using namespace harness;

class LayerTextureTest : public CompositorFixture {
protected:
    void SetUp() override {
        CompositorFixture::SetUp();
        makeCompositor(64, 48, 0);
    }
    TextureFactory& factory() { return drawBase_->textureFactory(); }
    IDirect3DDevice9* device() { return drawBase_->device(); }
};

class PlainObject : public RefObject {};

TEST_F(LayerTextureTest, AnswersItsIdentifiersOnly) {
    auto t = drawBase_->createLayerTexture(4, 4, D3DFMT_X8R8G8B8, 1, false);
    ASSERT_TRUE(t);
    for (uint32_t id : {1u, 0x4020052u, 0x4020053u}) {
        void* out = nullptr;
        ASSERT_TRUE(t->queryIdentifier(id, &out)) << std::hex << id;
        EXPECT_EQ(out, static_cast<RefObject*>(t.get()));
        t->release();
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_FALSE(t->queryIdentifier(0x4020054, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(t->referenceCount(), 1u);
}

TEST_F(LayerTextureTest, CreationRefusesUnknownFormatsAndPicturesLargerThanTheDevice) {
    drawBase_.reset();
    adapter().setMaxTextureSize(100, 60);
    makeCompositor(64, 48, 0);
    EXPECT_FALSE(drawBase_->createLayerTexture(8, 8, D3DFMT_UNKNOWN, 1, false));
    EXPECT_FALSE(drawBase_->createLayerTexture(101, 10, D3DFMT_X8R8G8B8, 1, false));
    EXPECT_FALSE(drawBase_->createLayerTexture(10, 61, D3DFMT_X8R8G8B8, 1, false));
    EXPECT_EQ(factory().textureCount(), 0u);  // failures leave the list
    auto t = drawBase_->createLayerTexture(100, 60, D3DFMT_X8R8G8B8, 1, false);
    ASSERT_TRUE(t);
    EXPECT_EQ(factory().textureCount(), 1u);
    int32_t w = 0, h = 0;
    t->size(&w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 60);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(t->stagingSurface()->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    t.reset();
    EXPECT_EQ(factory().textureCount(), 0u);
}

TEST_F(LayerTextureTest, LevelCountsAndRenderTargets) {
    auto one = drawBase_->createLayerTexture(16, 8, D3DFMT_A8R8G8B8, 1, false);
    auto chain = drawBase_->createLayerTexture(16, 8, D3DFMT_A8R8G8B8, 9, false);
    auto automatic = drawBase_->createLayerTexture(16, 8, D3DFMT_A8R8G8B8, 0, false);
    auto target = drawBase_->createLayerTexture(12, 6, D3DFMT_X8R8G8B8, 1, true);
    ASSERT_TRUE(one && chain && automatic && target);
    EXPECT_EQ(one->levelCount(), 1u);
    EXPECT_EQ(chain->levelCount(), 4u);  // 1 + log2(min(16, 8))
    EXPECT_EQ(one->renderTarget(), nullptr);
    ASSERT_NE(target->renderTarget(), nullptr);
    EXPECT_EQ(target->renderTarget()->viewport.Width, 12u);
    EXPECT_EQ(target->renderTarget()->viewport.Height, 6u);
    // Lower levels follow an upload of level 0.
    ASSERT_TRUE(chain->fill(0xFF00FF00u, nullptr));
    InterfacePtr<IDirect3DSurface9> level3;
    ASSERT_EQ(chain->texture()->GetSurfaceLevel(3, level3.put()), D3D_OK);
    D3DSURFACE_DESC desc{};
    level3->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 2u);
}

TEST_F(LayerTextureTest, OneImageViewAtATime) {
    auto t = drawBase_->createLayerTexture(6, 4, D3DFMT_A8R8G8B8, 1, false);
    ASSERT_TRUE(t);
    InterfacePtr<Image> view = t->openImage();
    ASSERT_TRUE(view);
    EXPECT_TRUE(t->isImageOpen());
    EXPECT_EQ(view->width(), 6);
    EXPECT_FALSE(t->openImage());
    EXPECT_FALSE(t->fill(0, nullptr));
    InterfacePtr<Image> other(new Image());
    EXPECT_FALSE(t->commitImage(other.get(), nullptr));
    EXPECT_TRUE(t->commitImage(view.get(), nullptr));
    EXPECT_FALSE(view->valid());  // closed: a kept view cannot write any more
    EXPECT_FALSE(t->commitImage(view.get(), nullptr));

    // A view dropped without a commit does not block the texture.
    t->openImage();
    EXPECT_TRUE(t->openImage());
}

TEST_F(LayerTextureTest, GeometryCoversTheRectangleWithHalfTexelCoordinates) {
    auto t = drawBase_->createLayerTexture(20, 10, D3DFMT_X8R8G8B8, 1, false);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->mesh().uploadVertices());  // nothing to upload before the first geometry
    RECT source{2, 1, 12, 9};
    ASSERT_TRUE(t->setGeometry(RECT{5, 6, 45, 26}, &source, 0x80112233, 1.0f, 0.0f));
    const Mesh& m = t->mesh();
    EXPECT_EQ(m.vertexFormat(), 0x144u);
    EXPECT_EQ(m.vertexCount(), 4u);
    EXPECT_EQ(m.vertexStride(), 28);
    EXPECT_EQ(m.vertexCapacity() % 16, 0u);
    EXPECT_EQ(m.primitiveType(), D3DPT_TRIANGLELIST);
    EXPECT_TRUE(m.isIndexed());
    const auto* v = reinterpret_cast<const LayerVertex*>(m.vertexData());
    struct Want {
        float x, y, u, v;
    } want[4] = {{5, 6, 2.5f / 20, 1.5f / 10},
                 {45, 6, 12.5f / 20, 1.5f / 10},
                 {5, 26, 2.5f / 20, 9.5f / 10},
                 {45, 26, 12.5f / 20, 9.5f / 10}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FLOAT_EQ(v[i].x, want[i].x);
        EXPECT_FLOAT_EQ(v[i].y, want[i].y);
        EXPECT_FLOAT_EQ(v[i].u, want[i].u);
        EXPECT_FLOAT_EQ(v[i].v, want[i].v);
        EXPECT_FLOAT_EQ(v[i].z, 1.0f);
        EXPECT_FLOAT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].diffuse, 0x80112233u);
    }
    const uint32_t expected[6] = {0, 1, 3, 3, 2, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m.indexData()[i], expected[i]);

    // No source: the whole picture.
    ASSERT_TRUE(t->setGeometry(RECT{0, 0, 20, 10}, nullptr, 0xFFFFFFFF, 1.0f, 0.0f));
    EXPECT_FLOAT_EQ(v[3].u, 20.5f / 20);
    EXPECT_FLOAT_EQ(v[3].v, 10.5f / 10);

    // Uploaded indices keep the low 16 bits of each entry.
    t->mesh().indexData()[1] = 0x03000001;
    ASSERT_TRUE(t->mesh().uploadIndices());
    void* data = nullptr;
    ASSERT_EQ(t->mesh().indexBuffer()->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<uint16_t*>(data)[1], 1u);
    t->mesh().indexBuffer()->Unlock();
}

TEST_F(LayerTextureTest, MeshRefusesEmptyFormats) {
    Mesh mesh(device());
    EXPECT_FALSE(mesh.setVertexFormat(0x144, 0, 28));
    EXPECT_FALSE(mesh.setVertexFormat(0x144, 4, 0));
    EXPECT_FALSE(mesh.setIndexCount(0));
    EXPECT_FALSE(mesh.uploadVertices());
    EXPECT_FALSE(mesh.uploadIndices());
    ASSERT_TRUE(mesh.setVertexFormat(0x144, 3, 28));
    EXPECT_EQ(mesh.vertexCapacity(), 96u);
    EXPECT_EQ(mesh.vertexDataSize(), 84);
}

TEST_F(LayerTextureTest, DrawObjectsRefusesWhatItCannotDraw) {
    auto t = makeTexture(4, 4, D3DFMT_X8R8G8B8, std::vector<uint32_t>(16, 0xFFFFFFFF));
    ASSERT_TRUE(t);
    RefObject* list[1] = {t.get()};
    LayerDrawer& drawer = drawBase_->layerDrawer();
    ASSERT_TRUE(t->setGeometry(RECT{0, 0, 4, 4}, nullptr, 0xFFFFFFFF, 1.0f, 0.0f));
    ScopedLock hold(drawBase_->sceneLock());
    EXPECT_FALSE(drawer.drawObjects(list, 1, 0, nullptr, 0, 0));  // outside a scene
    ASSERT_TRUE(drawBase_->beginScene());
    EXPECT_FALSE(drawer.drawObjects(list, 1, 0, nullptr, 0, 0));  // no vertex buffer: refused, no throw
    ASSERT_TRUE(t->mesh().uploadVertices());
    ASSERT_TRUE(t->mesh().uploadIndices());
    EXPECT_FALSE(drawer.drawObjects(list, 1, 1, nullptr, 0, 0));  // primary outside the list
    EXPECT_FALSE(drawer.drawObjects(list, 1, 0, nullptr, 6, 0));  // first beyond the indices
    PlainObject plain;
    plain.addRef();
    RefObject* notDrawable[1] = {&plain};
    EXPECT_FALSE(drawer.drawObjects(notDrawable, 1, 0, nullptr, 0, 0));
    EXPECT_TRUE(drawer.drawObjects(list, 1, 0, nullptr, 0, 0));
    EXPECT_TRUE(drawer.drawObjects(list, 1, 0, nullptr, 3, 0));  // the second triangle alone
    drawBase_->endScene();
}

TEST_F(LayerTextureTest, MaterialStatesArePutBackAfterTheDraw) {
    auto t = makeTexture(4, 4, D3DFMT_X8R8G8B8, std::vector<uint32_t>(16, 0xFF808080));
    ASSERT_TRUE(t);
    Material& m = t->material();
    m.magFilter = D3DTEXF_LINEAR;
    m.minFilter = D3DTEXF_LINEAR;
    m.colorOp = D3DTOP_SELECTARG1;
    m.srcBlend = D3DBLEND_ONE;
    m.destBlend = D3DBLEND_ZERO;
    m.depthTest = false;
    ASSERT_TRUE(frame(0xFF000000, {{t.get(), RECT{0, 0, 8, 8}, nullptr, 0x40FFFFFF}}));
    // SELECTARG1 ignores the diffuse colour, ONE/ZERO ignores the destination: grey as is.
    EXPECT_EQ(capture_->last().at(3, 3), 0xFF808080u);
    IDirect3DDevice9* d = device();
    DWORD v = 0;
    d->GetSamplerState(0, D3DSAMP_MAGFILTER, &v);
    EXPECT_EQ(v, 1u);
    d->GetSamplerState(0, D3DSAMP_MINFILTER, &v);
    EXPECT_EQ(v, 1u);
    d->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, 4u);
    d->GetRenderState(D3DRS_SRCBLEND, &v);
    EXPECT_EQ(v, 5u);
    d->GetRenderState(D3DRS_DESTBLEND, &v);
    EXPECT_EQ(v, 6u);
    d->GetRenderState(D3DRS_ZENABLE, &v);
    EXPECT_EQ(v, 1u);
    InterfacePtr<IDirect3DBaseTexture9> bound;
    d->GetTexture(0, bound.put());
    EXPECT_FALSE(bound);
    InterfacePtr<IDirect3DVertexBuffer9> stream;
    UINT offset = 1, stride = 1;
    d->GetStreamSource(0, stream.put(), &offset, &stride);
    EXPECT_FALSE(stream);
    InterfacePtr<IDirect3DIndexBuffer9> indices;
    d->GetIndices(indices.put());
    EXPECT_FALSE(indices);
}

TEST_F(LayerTextureTest, IndexedMeshWithoutIndexBufferShowsItsFirstTriangle) {
    auto t = makeTexture(4, 4, D3DFMT_X8R8G8B8, std::vector<uint32_t>(16, 0xFFFFFFFF));
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->setGeometry(RECT{0, 0, 40, 40}, nullptr, 0xFFFFFFFF, 1.0f, 0.0f));
    ASSERT_TRUE(t->mesh().uploadVertices());
    ASSERT_FALSE(t->mesh().indexBuffer());
    {
        ScopedLock hold(drawBase_->sceneLock());
        drawBase_->beginScene();
        drawBase_->layerDrawer().clear(nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        RefObject* list[1] = {t.get()};
        EXPECT_TRUE(drawBase_->layerDrawer().drawObjects(list, 1, 0, nullptr, 0, 0));
        ASSERT_TRUE(drawBase_->present());
    }
    Picture got = capture_->last();
    EXPECT_EQ(got.at(2, 2), 0xFFFFFFFFu);    // top left
    EXPECT_EQ(got.at(37, 2), 0xFFFFFFFFu);   // top right
    EXPECT_EQ(got.at(2, 37), 0xFFFFFFFFu);   // bottom left
    EXPECT_EQ(got.at(37, 37), 0xFF000000u);  // bottom right is the missing triangle
}

TEST_F(LayerTextureTest, FactoryListsFollowTheirObjects) {
    auto a = drawBase_->createLayerTexture(4, 4, D3DFMT_X8R8G8B8, 1, false);
    auto b = drawBase_->createLayerTexture(4, 4, D3DFMT_X8R8G8B8, 1, false);
    InterfacePtr<Image> image = drawBase_->createImage(3, 3, false);
    ASSERT_TRUE(a && b && image);
    EXPECT_EQ(factory().textureCount(), 2u);
    EXPECT_EQ(factory().imageCount(), 1u);
    a.reset();
    image.reset();
    EXPECT_EQ(factory().textureCount(), 1u);
    EXPECT_EQ(factory().imageCount(), 0u);
    // A texture that outlives the compositor stays usable as an object.
    drawBase_.reset();
    int32_t w = 0, h = 0;
    b->size(&w, &h);
    EXPECT_EQ(w, 4);
}

TEST_F(LayerTextureTest, TextureFromAnOpaqueImageKeepsItsPixels) {
    InterfacePtr<Image> image = drawBase_->createImage(5, 3, false);
    ASSERT_TRUE(image);
    RECT left{0, 0, 2, 3};
    ASSERT_TRUE(image->fill(0xFF204060u, nullptr));
    ASSERT_TRUE(image->fill(0xFF00FF00u, &left));  // the key colour is plain colour here
    auto t = drawBase_->createTextureFromImage(*image, -1, false);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->format(), D3DFMT_X8R8G8B8);
    EXPECT_EQ(t->levelCount(), 1u);
    ASSERT_TRUE(frame(0xFF000000, {{t.get(), RECT{0, 0, 5, 3}, nullptr, 0xFFFFFFFF}}));
    EXPECT_EQ(capture_->last().at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(capture_->last().at(4, 2), 0xFF204060u);
    EXPECT_EQ(capture_->last().at(5, 2), 0xFF000000u);
}

TEST_F(LayerTextureTest, PictureBeingWrittenDuringAResetArrivesWithItsCommit) {
    auto t = makeTexture(4, 4, D3DFMT_X8R8G8B8, std::vector<uint32_t>(16, 0xFF0000FF));
    ASSERT_TRUE(t);
    InterfacePtr<Image> view = t->openImage();
    ASSERT_TRUE(view);
    EXPECT_FALSE(t->upload(nullptr));  // the staging image is being written
    adapter().forceCondition(gfx::DeviceCondition::NotReset);
    ASSERT_TRUE(drawBase_->restoreDevice());
    ASSERT_TRUE(view->fill(0xFFFFFF00u, nullptr));
    ASSERT_TRUE(t->commitImage(view.get(), nullptr));
    ASSERT_TRUE(frame(0xFF000000, {{t.get(), RECT{0, 0, 4, 4}, nullptr, 0xFFFFFFFF}}));
    EXPECT_EQ(capture_->last().at(1, 1), 0xFFFFFF00u);
}

}  // namespace
