#pragma once
// The OpenGL half of the OpenGL device: the context on its window, the picture being
// composed (a texture the size of the back buffer, rows top first like Direct3D's),
// the programs that carry out the fixed-function states, texture copies, and presentation.
// Every call runs on the device's worker thread, which owns the context.
//
// Speed on a software rasteriser comes from doing less: the compositor's layer draw runs a
// small program made for it; a layer whose pixels are all opaque is drawn without
// blending, alpha test or depth test (the rasteriser then drops what it covers), and when
// nothing but the texel reaches the picture, as a plain textured rectangle (its fastest
// path; presentation is drawn the same way); the depth buffer is only cleared when a draw
// really tests against it; blending reads the picture through framebuffer fetch where the
// driver has it instead of copying it; pixels are stored BGRA so uploads need no conversion.
#include <QOpenGLFunctions_3_3_Core>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "framework/Rect.h"
#include "framework/d3d9/D3D9Types.h"
#include "platform/gfx/GlShaders.h"

class QOpenGLContext;
class QWindow;

namespace gfx {

// One texture stage as the shader sees it.
struct GlStage {
    DWORD colorOp = D3DTOP_DISABLE, colorArg0 = D3DTA_CURRENT, colorArg1 = D3DTA_TEXTURE, colorArg2 = D3DTA_CURRENT;
    DWORD alphaOp = D3DTOP_DISABLE, alphaArg0 = D3DTA_CURRENT, alphaArg1 = D3DTA_TEXTURE, alphaArg2 = D3DTA_CURRENT;
    DWORD resultArg = D3DTA_CURRENT, texCoordIndex = 0;
    DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP, borderColor = 0;
    bool magLinear = false, minLinear = false;
    const void* texture = nullptr;  // key of a texture made current with setTexture
};

// Where the parts of one vertex lie (pre-transformed vertices only).
struct GlVertexFormat {
    UINT stride = 0;
    int diffuse = -1, specular = -1;
    int texCount = 0;
    int texOffset[2] = {0, 0};
};

// Every state a draw call runs with.
struct GlDrawState {
    RECT clip{};  // viewport and scissor
    bool depthTest = false, depthWrite = false;
    DWORD depthFunc = D3DCMP_LESSEQUAL;
    bool alphaTest = false;
    DWORD alphaFunc = D3DCMP_ALWAYS, alphaRef = 0;
    bool blend = false, separateAlpha = false;
    DWORD srcBlend = D3DBLEND_ONE, destBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
    DWORD srcBlendAlpha = D3DBLEND_ONE, destBlendAlpha = D3DBLEND_ZERO, blendOpAlpha = D3DBLENDOP_ADD;
    D3DCOLOR blendFactor = 0xFFFFFFFF, textureFactor = 0xFFFFFFFF;
    DWORD colorWrite = 0xF;
    DWORD cull = D3DCULL_NONE;
    uint32_t depthMax = 0xFFFF;  // largest value of the depth format (depth is compared at its precision)
    int stageCount = 0;
    std::array<GlStage, 2> stages{};
};

class GlRenderer : protected QOpenGLFunctions_3_3_Core {
public:
    GlRenderer();
    ~GlRenderer();
    GlRenderer(const GlRenderer&) = delete;
    GlRenderer& operator=(const GlRenderer&) = delete;

    // Makes the context on the window and the picture of the size. False when the window
    // cannot carry an OpenGL 3.3 core context.
    bool open(QWindow* window, uint32_t width, uint32_t height, bool opaqueTarget);
    // Frees every OpenGL object and the context.
    void close();
    bool resize(uint32_t width, uint32_t height, bool opaqueTarget);

    // Copies the pixels (A8R8G8B8 rows of the whole level) into the texture known by the
    // key, making it when new or when its size changed; only the region when it is given
    // and the texture exists. forceOpaque: the format has no alpha.
    void uploadTexture(const void* key, const uint32_t* argb, uint32_t pitchInPixels, uint32_t width, uint32_t height,
                       bool forceOpaque, const RECT* region = nullptr);
    bool hasTexture(const void* key) const { return textures_.count(key) != 0; }
    void dropTexture(const void* key);

    // Clears the rectangles (already clipped to the picture) of the colour and/or depth.
    void clear(const std::vector<RECT>& regions, bool color, bool depth, D3DCOLOR value, float z);
    // Draws primitives of the OpenGL mode from vertex bytes and 32-bit indices (relative
    // to the vertices; none: the vertices in order).
    void draw(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
              size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount);

    // The picture as A8R8G8B8 rows, top first (alpha forced for an opaque target).
    void readPicture(uint32_t* out, uint32_t pitchInPixels);
    // Replaces the picture by the pixels (same size, A8R8G8B8 rows, top first).
    void writePicture(const uint32_t* argb, uint32_t pitchInPixels);
    // Shows the picture in the window and swaps (the window format asks for vsync).
    void present();

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Lets devices opened from now on use framebuffer fetch where the driver has it
    // (the default); off, they blend against copies of the picture as on drivers without.
    static void allowFramebufferFetch(bool on);
    // Draw calls so far: all of them, those the layer program took (or found to change
    // nothing), and those of them that were plain copies (for tests).
    uint64_t draws() const { return draws_; }
    uint64_t layerDraws() const { return layerDraws_; }
    uint64_t copyDraws() const { return copyDraws_; }

private:
    struct Texture {
        GLuint name = 0;
        uint32_t width = 0, height = 0;
        bool forceOpaque = false;
        bool allOpaque = false;  // every texel has alpha 255 (or the format has none)
    };
    struct StageUniforms {
        GLint hasTex, texSize, forceOpaque, texSet, addressMode, border, linearFilter, colorOps, alphaOps, resultArg;
    };
    struct GeneralProgram {
        GLuint id = 0;
        GLint targetSize, present, shaderBlend, opaqueTarget, blendColor, blendAlpha, blendConstant, stageCount, factor,
            alphaTest, alphaFunc, alphaRef;
        StageUniforms stages[2];
    };
    struct LayerProgram {
        GLuint id = 0;
        GLint targetSize, texSize, diffuse, alphaRef;
    };
    // How a draw goes through the layer program.
    struct LayerPlan {
        GlLayerKey key;
        bool movedVertices = false;  // the copy and sampled variants draw copyVertices_
        const Texture* texture = nullptr;
        int texSet = 0;
        int diffuse[4] = {255, 255, 255, 255};
        bool nothing = false;  // the draw changes no pixel
    };
    // Depth for one draw: no test, a real test, or failing everywhere.
    enum class Depth { Off, Test, Nothing };

    GLuint compileProgram(const char* vertex, const std::string& fragment);
    bool buildGeneral();
    const LayerProgram* layerProgram(const GlLayerKey& key);
    bool buildTarget(uint32_t width, uint32_t height);
    void releaseTarget();
    // Binds the picture alone, or with the depth buffer (cleared first when it still owes
    // a clear).
    void bindTarget(bool withDepth = false);
    void setClip(const RECT& clip);
    Depth planDepth(const GlDrawState& state, const uint8_t* vertices, UINT stride,
                    const std::vector<uint32_t>& indices, size_t vertexCount);
    bool planLayer(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                   size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount, Depth depth,
                   LayerPlan* plan);
    // For the copy and sampled variants: whether OpenGL's own point sampling picks the
    // reference's texel at every pixel; then copyVertices_ holds the vertices with texture
    // coordinates moved to Direct3D's pixel centres.
    bool planCopy(const GlDrawState& state, const GlVertexFormat& format, const uint8_t* vertices, size_t vertexBytes,
                  const std::vector<uint32_t>& indices, size_t vertexCount, const LayerPlan& plan);
    void setFixedStates(const GlDrawState& state, Depth depth);
    void bindVertices(const uint8_t* vertices, size_t vertexBytes);
    void drawLayer(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                   size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount, Depth depth,
                   const LayerPlan& plan, const LayerProgram& program);
    void drawGeneral(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                     size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount, Depth depth);
    void submit(GLenum mode, const std::vector<uint32_t>& indices, size_t vertexCount);
    // Draws triangles (a list of vertex numbers) in batches that do not overlap themselves,
    // each after copying the part of the picture it covers for the shader's blending.
    void drawBlended(const uint8_t* vertices, UINT stride, const std::vector<uint32_t>& triangles, const RECT& clip);

    std::unique_ptr<QOpenGLContext> context_;
    QWindow* window_ = nullptr;
    GeneralProgram general_;
    std::map<uint32_t, LayerProgram> layers_;
    GLuint vao_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0;
    // The picture is a texture (stored BGRA like Direct3D's pixels), shown by drawing it.
    GLuint pictureFrame_ = 0, depthFrame_ = 0, colorTexture_ = 0, depthBuffer_ = 0, destinationCopy_ = 0;
    GLuint presentProgram_ = 0, presentVao_ = 0;
    GLuint nearestSamplers_[4] = {};  // index bit 0: clamp U, bit 1: clamp V; else wrap
    std::vector<uint8_t> copyVertices_;
    uint32_t width_ = 0, height_ = 0;
    bool opaque_ = true;
    bool fetch_ = false;
    int swapInterval_ = -1;
    // The depth buffer holds depthZ_ everywhere (depthUniform_), or will once its pending
    // clear runs (depthOwed_).
    bool depthUniform_ = true, depthOwed_ = false;
    float depthZ_ = 1.0f;
    uint64_t draws_ = 0, layerDraws_ = 0, copyDraws_ = 0;
    std::map<const void*, Texture> textures_;
};

}  // namespace gfx
