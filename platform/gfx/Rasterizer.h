#pragma once
// The fixed-function pipeline of the software device for pre-transformed vertices:
// triangles with the top-left fill rule and pixel centres at integer coordinates,
// perspective-free interpolation, texture stages, point / linear / mip sampling with the
// addressing modes, alpha test, depth test, blending and colour write masks, clipped to the
// viewport. Large triangles are split by rows over two threads.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/d3d9/D3D9Types.h"

namespace gfx {

class SoftwareSurface;
class SoftwareTexture;

constexpr int kMaxTexCoords = 8;

struct RasterVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    uint32_t specular;
    float tex[kMaxTexCoords][2];
};

struct StageState {
    DWORD colorOp, colorArg0, colorArg1, colorArg2;
    DWORD alphaOp, alphaArg0, alphaArg1, alphaArg2;
    DWORD texCoordIndex, resultArg, constant;
};

struct SamplerState {
    DWORD addressU, addressV, borderColor, magFilter, minFilter, mipFilter, maxMipLevel;
    float lodBias;
};

// The device state one draw call runs with.
struct DrawState {
    SoftwareSurface* target = nullptr;  // A8R8G8B8 or X8R8G8B8
    SoftwareSurface* depth = nullptr;   // null when none or depth is off
    RECT clip{};                        // writable pixels: viewport, scissor and target
    bool zEnable = false, zWrite = false;
    DWORD zFunc = D3DCMP_LESSEQUAL;
    bool alphaTest = false;
    DWORD alphaFunc = D3DCMP_ALWAYS;
    uint32_t alphaRef = 0;
    bool blend = false;
    DWORD srcBlend = D3DBLEND_ONE, destBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
    bool separateAlpha = false;
    DWORD srcBlendAlpha = D3DBLEND_ONE, destBlendAlpha = D3DBLEND_ZERO, blendOpAlpha = D3DBLENDOP_ADD;
    D3DCOLOR blendFactor = 0xFFFFFFFF;
    DWORD colorWrite = 0xF;
    DWORD cull = D3DCULL_CCW;
    DWORD shadeMode = D3DSHADE_GOURAUD;
    bool lastPixel = true;
    D3DCOLOR textureFactor = 0xFFFFFFFF;
    int stageCount = 0;  // stages before the first disabled colour operation
    std::array<StageState, D3D_MAX_TEXTURE_STAGES> stages{};
    std::array<SamplerState, D3D_MAX_TEXTURE_STAGES> samplers{};
    std::array<SoftwareTexture*, D3D_MAX_TEXTURE_STAGES> textures{};
};

class Rasterizer {
public:
    Rasterizer();
    ~Rasterizer();
    Rasterizer(const Rasterizer&) = delete;
    Rasterizer& operator=(const Rasterizer&) = delete;

    void setFastPaths(bool on) { fastPaths_ = on; }

    // One draw call: prepare once, then primitives.
    void begin(const DrawState& state);
    void triangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c);
    void line(const RasterVertex& a, const RasterVertex& b);
    void point(const RasterVertex& a);
    void end();

    // One linear function of the pixel position: value = a * x + b * y + c.
    struct Plane {
        double a = 0, b = 0, c = 0;
        double at(int x, int y) const { return a * x + b * y + c; }
    };

private:
    struct Level {
        const uint32_t* pixels = nullptr;
        uint32_t pitch = 0;  // in pixels
        int width = 0, height = 0;
    };
    struct Sampler {
        std::vector<Level> levels;
        uint32_t alphaOr = 0;
    };
    // Per-primitive sampling choice of one stage.
    struct StageSampling {
        int level0 = 0, level1 = 0;
        uint32_t mipWeight = 0;  // 0..256 towards level1
        bool linear = false;
    };
    struct Primitive {
        Plane z, rhw;
        std::array<Plane, 4> diffuse, specular;  // a, r, g, b
        bool constantDiffuse = false;
        bool depthDecided = false;  // the depth test passes everywhere and writes nothing new
        uint32_t diffuseValue = 0;
        std::array<std::array<Plane, 2>, kMaxTexCoords> tex;
        std::array<StageSampling, D3D_MAX_TEXTURE_STAGES> sampling;
    };
    struct Edge {
        int64_t ax, ay, dx, dy;
        int64_t bias;
    };
    struct Scratch {
        std::vector<uint32_t> texels;
    };

    void setupPlanes(Primitive& p, const RasterVertex* v[3], double fx[3], double fy[3], bool flat);
    void chooseSampling(Primitive& p);
    void rows(const Primitive& p, const Edge* edges, int edgeCount, int y0, int y1, bool fast, Scratch& s);
    bool fastPrimitive(const Primitive& p) const;
    // False when the depth test fails for the whole primitive.
    bool decideDepth(Primitive& p);
    void prepareColumns(const Primitive& p, int x0, int x1);
    bool spanRange(const Edge* edges, int edgeCount, int y, int* xs, int* xe) const;
    void shadeGeneral(const Primitive& p, int y, int xs, int xe);
    bool shadeFast(const Primitive& p, int y, int xs, int xe, Scratch& s);
    uint32_t sample(int stage, const StageSampling& choice, int64_t ufix, int64_t vfix, int level) const;
    uint32_t sampleStage(const Primitive& p, int stage, int x, int y) const;
    void shadePixel(const Primitive& p, int x, int y);
    void runRows(int y0, int y1, const std::function<void(int, int, Scratch&)>& work);
    void workerLoop();

    DrawState state_;
    std::array<Sampler, D3D_MAX_TEXTURE_STAGES> samplers_;
    bool fastPaths_ = true;
    bool fastEligible_ = false;
    uint32_t* target_ = nullptr;
    uint32_t targetPitch_ = 0;
    uint32_t* depth_ = nullptr;
    uint32_t depthPitch_ = 0;
    uint32_t depthMax_ = 0;
    uint32_t outputOr_ = 0;
    // Texel column of every pixel column of the current primitive (fast path).
    std::vector<int32_t> columns_;
    int columnBase_ = 0;
    bool columnsContiguous_ = false;
    bool columnsBorder_ = false;

    // The second row thread.
    std::array<Scratch, 2> scratch_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int, int, Scratch&)>* job_ = nullptr;
    int jobY0_ = 0, jobY1_ = 0;
    bool jobPending_ = false, jobDone_ = false, quit_ = false;
};

// Texture coordinate in texels of a level, as 16.16 fixed point with the low 8 bits zero:
// every sampler reads positions rounded to 1/256 texel.
int64_t texelFixed(double coordinate, int size);

}  // namespace gfx
