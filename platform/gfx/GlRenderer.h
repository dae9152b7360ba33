#pragma once
// The OpenGL half of the OpenGL device: the context on its window, the picture being
// composed (a frame buffer the size of the back buffer, rows top first like Direct3D's),
// the shader that carries out the fixed-function states, texture copies, and presentation.
// Every call runs on the device's worker thread, which owns the context.
#include <QOpenGLFunctions_3_3_Core>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "framework/Rect.h"
#include "framework/d3d9/D3D9Types.h"

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

    // Copies the pixels (A8R8G8B8 rows) into the texture known by the key, making it when
    // new or when its size changed. forceOpaque: the format has no alpha.
    void uploadTexture(const void* key, const uint32_t* argb, uint32_t pitchInPixels, uint32_t width, uint32_t height,
                       bool forceOpaque);
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

private:
    struct Texture {
        GLuint name = 0;
        uint32_t width = 0, height = 0;
        bool forceOpaque = false;
    };
    bool buildProgram();
    bool buildTarget(uint32_t width, uint32_t height);
    void releaseTarget();
    void bindTarget();
    // Draws triangles (a list of vertex numbers) in batches that do not overlap themselves,
    // each after copying the part of the picture it covers for the shader's blending.
    void drawBlended(const uint8_t* vertices, UINT stride, const std::vector<uint32_t>& triangles, const RECT& clip);

    std::unique_ptr<QOpenGLContext> context_;
    QWindow* window_ = nullptr;
    GLuint program_ = 0, vao_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0;
    GLuint framebuffer_ = 0, colorBuffer_ = 0, depthBuffer_ = 0, destinationCopy_ = 0;
    uint32_t width_ = 0, height_ = 0;
    bool opaque_ = true;
    int swapInterval_ = -1;
    std::map<const void*, Texture> textures_;
    std::map<std::string, GLint> uniforms_;
    GLint uniform(const char* name);
};

}  // namespace gfx
