#include "platform/gfx/Rasterizer.h"

#include <algorithm>
#include <cmath>

#include "platform/gfx/CompositeKernels.h"
#include "platform/gfx/SoftwareFormats.h"
#include "platform/gfx/SoftwareSurface.h"
#include "platform/gfx/SoftwareTexture.h"

namespace gfx {
namespace {

// Vertex positions are snapped to 1/256 pixel before coverage is decided.
constexpr int kSubBits = 8;
constexpr int64_t kSub = int64_t(1) << kSubBits;
// Rows times width below which one thread draws the whole primitive.
constexpr int64_t kSplitPixels = 32 * 1024;

int64_t snap(float v) {
    double d = std::clamp(static_cast<double>(v), -1.0e6, 1.0e6);
    if (std::isnan(d)) d = 0;
    return std::llround(d * kSub);
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

uint32_t ch(uint32_t p, int shift) {
    return (p >> shift) & 0xFF;
}
uint32_t pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}
uint32_t clamp255(int64_t v) {
    return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 255));
}
// round(t / 255) for any non-negative t.
uint32_t roundDiv255(int64_t t) {
    return static_cast<uint32_t>((t + 127) / 255);
}

// Texel index under an addressing mode; -1 for the border colour.
int address(int64_t i, int size, DWORD mode) {
    switch (mode) {
        case D3DTADDRESS_CLAMP:
            return static_cast<int>(std::clamp<int64_t>(i, 0, size - 1));
        case D3DTADDRESS_BORDER:
            return (i < 0 || i >= size) ? -1 : static_cast<int>(i);
        case D3DTADDRESS_MIRROR: {
            int64_t period = int64_t(size) * 2;
            int64_t m = ((i % period) + period) % period;
            return static_cast<int>(m < size ? m : period - 1 - m);
        }
        case D3DTADDRESS_MIRRORONCE: {
            int64_t m = i < 0 ? -i - 1 : i;
            return static_cast<int>(std::min<int64_t>(m, size - 1));
        }
        default: {
            int64_t m = i % size;
            return static_cast<int>(m < 0 ? m + size : m);
        }
    }
}

Rasterizer::Plane makePlane(const double fx[3], const double fy[3], double v0, double v1, double v2) {
    Rasterizer::Plane p;
    double det = (fx[1] - fx[0]) * (fy[2] - fy[0]) - (fx[2] - fx[0]) * (fy[1] - fy[0]);
    if (det == 0) {
        p.c = v0;
        return p;
    }
    p.a = ((v1 - v0) * (fy[2] - fy[0]) - (v2 - v0) * (fy[1] - fy[0])) / det;
    p.b = ((v2 - v0) * (fx[1] - fx[0]) - (v1 - v0) * (fx[2] - fx[0])) / det;
    p.c = v0 - p.a * fx[0] - p.b * fy[0];
    return p;
}

Rasterizer::Plane constantPlane(double v) {
    Rasterizer::Plane p;
    p.c = v;
    return p;
}

uint32_t complementOrReplicate(uint32_t v, DWORD arg) {
    if (arg & D3DTA_COMPLEMENT) v = ~v;
    if (arg & D3DTA_ALPHAREPLICATE) {
        uint32_t a = v >> 24;
        v = pack(a, a, a, a);
    }
    return v;
}

// One texture operation on one 8-bit channel.
uint32_t channelOp(DWORD op, uint32_t a1, uint32_t a2, uint32_t a0, uint32_t blendAlpha) {
    switch (op) {
        case D3DTOP_SELECTARG1:
            return a1;
        case D3DTOP_SELECTARG2:
            return a2;
        case D3DTOP_MODULATE:
            return mul255(a1, a2);
        case D3DTOP_MODULATE2X:
            return std::min<uint32_t>(255, mul255(a1, a2) * 2);
        case D3DTOP_MODULATE4X:
            return std::min<uint32_t>(255, mul255(a1, a2) * 4);
        case D3DTOP_ADD:
            return std::min<uint32_t>(255, a1 + a2);
        case D3DTOP_ADDSIGNED:
            return clamp255(int64_t(a1) + a2 - 128);
        case D3DTOP_ADDSIGNED2X:
            return clamp255((int64_t(a1) + a2 - 128) * 2);
        case D3DTOP_SUBTRACT:
            return a1 > a2 ? a1 - a2 : 0;
        case D3DTOP_ADDSMOOTH:
            return std::min<uint32_t>(255, a1 + a2 - mul255(a1, a2));
        case D3DTOP_BLENDDIFFUSEALPHA:
        case D3DTOP_BLENDTEXTUREALPHA:
        case D3DTOP_BLENDFACTORALPHA:
        case D3DTOP_BLENDCURRENTALPHA:
            return roundDiv255(int64_t(a1) * blendAlpha + int64_t(a2) * (255 - blendAlpha));
        case D3DTOP_BLENDTEXTUREALPHAPM:
            return std::min<uint32_t>(255, a1 + mul255(a2, 255 - blendAlpha));
        case D3DTOP_MULTIPLYADD:
            return std::min<uint32_t>(255, a0 + mul255(a1, a2));
        case D3DTOP_LERP:
            return roundDiv255(int64_t(a0) * a1 + int64_t(255 - a0) * a2);
        default:
            return a1;
    }
}

uint32_t blendFactor(DWORD factor, int c, uint32_t s, uint32_t d, uint32_t sa, uint32_t da, D3DCOLOR k) {
    switch (factor) {
        case D3DBLEND_ZERO:
            return 0;
        case D3DBLEND_ONE:
            return 255;
        case D3DBLEND_SRCCOLOR:
            return s;
        case D3DBLEND_INVSRCCOLOR:
            return 255 - s;
        case D3DBLEND_SRCALPHA:
            return sa;
        case D3DBLEND_INVSRCALPHA:
            return 255 - sa;
        case D3DBLEND_DESTALPHA:
            return da;
        case D3DBLEND_INVDESTALPHA:
            return 255 - da;
        case D3DBLEND_DESTCOLOR:
            return d;
        case D3DBLEND_INVDESTCOLOR:
            return 255 - d;
        case D3DBLEND_SRCALPHASAT:
            return c == 3 ? 255 : std::min(sa, 255 - da);
        case D3DBLEND_BLENDFACTOR:
            return ch(k, c == 3 ? 24 : 16 - 8 * c);
        case D3DBLEND_INVBLENDFACTOR:
            return 255 - ch(k, c == 3 ? 24 : 16 - 8 * c);
        default:
            return 255;
    }
}

uint32_t blendChannel(DWORD op, uint32_t s, uint32_t fs, uint32_t d, uint32_t fd) {
    int64_t src = int64_t(s) * fs, dst = int64_t(d) * fd;
    switch (op) {
        case D3DBLENDOP_SUBTRACT:
            return roundDiv255(std::max<int64_t>(0, src - dst));
        case D3DBLENDOP_REVSUBTRACT:
            return roundDiv255(std::max<int64_t>(0, dst - src));
        case D3DBLENDOP_MIN:
            return std::min(s, d);
        case D3DBLENDOP_MAX:
            return std::max(s, d);
        default:
            return std::min<uint32_t>(255, roundDiv255(src + dst));
    }
}

}  // namespace

int64_t texelFixed(double coordinate, int size) {
    // Texel positions carry 8 fractional bits, rounded to nearest, so the error of float
    // texture coordinates does not decide which texel a pixel centre lands on.
    double v = coordinate * size * 256.0;
    if (!(v > -1.0e12)) return -(int64_t(1e12) << 8);
    if (v > 1.0e12) return int64_t(1e12) << 8;
    return std::llround(v) * 256;
}

Rasterizer::Rasterizer() {
    worker_ = std::thread([this] { workerLoop(); });
}

Rasterizer::~Rasterizer() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void Rasterizer::workerLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return jobPending_ || quit_; });
        if (quit_) return;
        jobPending_ = false;
        const auto* job = job_;
        int y0 = jobY0_, y1 = jobY1_;
        hold.unlock();
        (*job)(y0, y1, scratch_[1]);
        hold.lock();
        jobDone_ = true;
        done_.notify_all();
    }
}

void Rasterizer::runRows(int y0, int y1, const std::function<void(int, int, Scratch&)>& work) {
    int64_t width = int64_t(state_.clip.right) - state_.clip.left;
    if (y1 - y0 < 8 || (y1 - y0) * width < kSplitPixels) {
        work(y0, y1, scratch_[0]);
        return;
    }
    int mid = y0 + (y1 - y0) / 2;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        job_ = &work;
        jobY0_ = mid;
        jobY1_ = y1;
        jobDone_ = false;
        jobPending_ = true;
    }
    wake_.notify_one();
    work(y0, mid, scratch_[0]);
    std::unique_lock<std::mutex> hold(mutex_);
    done_.wait(hold, [this] { return jobDone_; });
    job_ = nullptr;
}

void Rasterizer::begin(const DrawState& state) {
    state_ = state;
    target_ = reinterpret_cast<uint32_t*>(state.target->bits());
    targetPitch_ = state.target->pitch() / 4;
    outputOr_ = state.target->format() == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    depth_ = nullptr;
    if (state.zEnable && state.depth) {
        depth_ = state.depth->depthPixels();
        depthPitch_ = state.depth->pitch() / 4;
        depthMax_ = depthMaximum(state.depth->format());
    }
    for (int s = 0; s < int(D3D_MAX_TEXTURE_STAGES); ++s) {
        Sampler& sampler = samplers_[s];
        sampler.levels.clear();
        sampler.alphaOr = 0;
        SoftwareTexture* texture = s < state.stageCount ? state.textures[s] : nullptr;
        if (!texture) continue;
        for (DWORD i = 0; i < texture->GetLevelCount(); ++i) {
            SoftwareSurface* level = texture->level(i);
            Level l;
            l.pixels = level->argbPixels(&l.pitch);
            l.width = static_cast<int>(level->width());
            l.height = static_cast<int>(level->height());
            sampler.levels.push_back(l);
        }
        if (texture->level(0)->format() == D3DFMT_X8R8G8B8) sampler.alphaOr = 0xFF000000u;
    }
    // The layer case: one texture stage reading texture and diffuse, source-alpha blending.
    fastEligible_ = false;
    if (fastPaths_ && state.stageCount == 1 && state.textures[0] && state.colorWrite == 0xF) {
        const StageState& st = state.stages[0];
        auto plain = [](DWORD arg) { return (arg & ~D3DTA_SELECTMASK) == 0; };
        bool args = plain(st.colorArg1) && plain(st.colorArg2) && plain(st.alphaArg1) && plain(st.alphaArg2);
        bool blendOk =
            !state.blend || (state.srcBlend == D3DBLEND_SRCALPHA && state.destBlend == D3DBLEND_INVSRCALPHA &&
                             state.blendOp == D3DBLENDOP_ADD && !state.separateAlpha);
        fastEligible_ = args && blendOk && st.resultArg == D3DTA_CURRENT;
    }
}

void Rasterizer::end() {
    state_.target->touch();
}

void Rasterizer::setupPlanes(Primitive& p, const RasterVertex* v[3], double fx[3], double fy[3], bool flat) {
    p.z = makePlane(fx, fy, v[0]->z, v[1]->z, v[2]->z);
    p.rhw = makePlane(fx, fy, v[0]->rhw, v[1]->rhw, v[2]->rhw);
    bool sameColor = flat || (v[0]->diffuse == v[1]->diffuse && v[1]->diffuse == v[2]->diffuse);
    p.constantDiffuse = sameColor;
    p.diffuseValue = v[0]->diffuse;
    for (int c = 0; c < 4; ++c) {
        int shift = 24 - 8 * c;
        if (flat) {
            p.diffuse[c] = constantPlane(ch(v[0]->diffuse, shift));
            p.specular[c] = constantPlane(ch(v[0]->specular, shift));
        } else {
            p.diffuse[c] =
                makePlane(fx, fy, ch(v[0]->diffuse, shift), ch(v[1]->diffuse, shift), ch(v[2]->diffuse, shift));
            p.specular[c] =
                makePlane(fx, fy, ch(v[0]->specular, shift), ch(v[1]->specular, shift), ch(v[2]->specular, shift));
        }
    }
    for (int t = 0; t < kMaxTexCoords; ++t)
        for (int k = 0; k < 2; ++k) p.tex[t][k] = makePlane(fx, fy, v[0]->tex[t][k], v[1]->tex[t][k], v[2]->tex[t][k]);
}

void Rasterizer::chooseSampling(Primitive& p) {
    for (int s = 0; s < state_.stageCount; ++s) {
        const Sampler& sampler = samplers_[s];
        StageSampling& choice = p.sampling[s];
        choice = StageSampling{};
        if (sampler.levels.empty()) continue;
        const SamplerState& ss = state_.samplers[s];
        DWORD set = state_.stages[s].texCoordIndex & 0xFFFF;
        if (set >= kMaxTexCoords) set = 0;
        double w = sampler.levels[0].width, h = sampler.levels[0].height;
        const Plane& u = p.tex[set][0];
        const Plane& v = p.tex[set][1];
        double rx = std::hypot(u.a * w, v.a * h), ry = std::hypot(u.b * w, v.b * h);
        double rho = std::max(rx, ry);
        double lod = rho > 0 ? std::log2(rho) + ss.lodBias : -1.0;
        int maxLevel = static_cast<int>(sampler.levels.size()) - 1;
        int minLevel = std::min<int>(static_cast<int>(ss.maxMipLevel), maxLevel);
        if (!(lod > 0)) {
            choice.linear = ss.magFilter >= D3DTEXF_LINEAR;
            choice.level0 = choice.level1 = minLevel;
            continue;
        }
        choice.linear = ss.minFilter >= D3DTEXF_LINEAR;
        if (ss.mipFilter == D3DTEXF_NONE || maxLevel == 0) {
            choice.level0 = choice.level1 = minLevel;
        } else if (ss.mipFilter == D3DTEXF_POINT) {
            int l = static_cast<int>(std::floor(lod + 0.5));
            choice.level0 = choice.level1 = std::clamp(l, minLevel, maxLevel);
        } else {
            int l = static_cast<int>(std::floor(lod));
            choice.level0 = std::clamp(l, minLevel, maxLevel);
            choice.level1 = std::clamp(l + 1, minLevel, maxLevel);
            choice.mipWeight = static_cast<uint32_t>((lod - std::floor(lod)) * 256.0);
        }
    }
}

uint32_t Rasterizer::sample(int stage, const StageSampling& choice, int64_t ufix, int64_t vfix, int level) const {
    const Sampler& sampler = samplers_[stage];
    const Level& l = sampler.levels[level];
    const SamplerState& ss = state_.samplers[stage];
    auto texel = [&](int64_t i, int64_t j) -> uint32_t {
        int x = address(i, l.width, ss.addressU), y = address(j, l.height, ss.addressV);
        if (x < 0 || y < 0) return ss.borderColor;
        return l.pixels[size_t(y) * l.pitch + x] | sampler.alphaOr;
    };
    if (!choice.linear) return texel(ufix >> 16, vfix >> 16);
    int64_t us = ufix - 32768, vs = vfix - 32768;
    int64_t i0 = us >> 16, j0 = vs >> 16;
    uint32_t fx = static_cast<uint32_t>((us >> 8) & 255), fy = static_cast<uint32_t>((vs >> 8) & 255);
    uint32_t t00 = texel(i0, j0), t10 = texel(i0 + 1, j0), t01 = texel(i0, j0 + 1), t11 = texel(i0 + 1, j0 + 1);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t top = ch(t00, shift) * (256 - fx) + ch(t10, shift) * fx;
        uint32_t bottom = ch(t01, shift) * (256 - fx) + ch(t11, shift) * fx;
        out |= ((top * (256 - fy) + bottom * fy + 32768) >> 16) << shift;
    }
    return out;
}

uint32_t Rasterizer::sampleStage(const Primitive& p, int stage, int x, int y) const {
    const Sampler& sampler = samplers_[stage];
    if (sampler.levels.empty()) return 0xFF000000u;
    DWORD set = state_.stages[stage].texCoordIndex & 0xFFFF;
    if (set >= kMaxTexCoords) set = 0;
    const StageSampling& choice = p.sampling[stage];
    double u = p.tex[set][0].at(x, y), v = p.tex[set][1].at(x, y);
    const Level& l0 = sampler.levels[choice.level0];
    uint32_t c0 = sample(stage, choice, texelFixed(u, l0.width), texelFixed(v, l0.height), choice.level0);
    if (choice.level1 == choice.level0 || choice.mipWeight == 0) return c0;
    const Level& l1 = sampler.levels[choice.level1];
    uint32_t c1 = sample(stage, choice, texelFixed(u, l1.width), texelFixed(v, l1.height), choice.level1);
    uint32_t out = 0, w = choice.mipWeight;
    for (int shift = 0; shift < 32; shift += 8)
        out |= ((ch(c0, shift) * (256 - w) + ch(c1, shift) * w + 128) >> 8) << shift;
    return out;
}

void Rasterizer::shadePixel(const Primitive& p, int x, int y) {
    uint32_t diffuse = p.diffuseValue;
    if (!p.constantDiffuse) {
        diffuse = pack(clamp255(std::llround(p.diffuse[0].at(x, y))), clamp255(std::llround(p.diffuse[1].at(x, y))),
                       clamp255(std::llround(p.diffuse[2].at(x, y))), clamp255(std::llround(p.diffuse[3].at(x, y))));
    }
    uint32_t current = diffuse, temp = 0;
    for (int s = 0; s < state_.stageCount; ++s) {
        const StageState& st = state_.stages[s];
        uint32_t texel = 0;
        bool haveTexel = false;
        auto argument = [&](DWORD arg) -> uint32_t {
            uint32_t v;
            switch (arg & D3DTA_SELECTMASK) {
                case D3DTA_DIFFUSE:
                    v = diffuse;
                    break;
                case D3DTA_CURRENT:
                    v = current;
                    break;
                case D3DTA_TEXTURE:
                    if (!haveTexel) {
                        texel = sampleStage(p, s, x, y);
                        haveTexel = true;
                    }
                    v = texel;
                    break;
                case D3DTA_TFACTOR:
                    v = state_.textureFactor;
                    break;
                case D3DTA_SPECULAR:
                    v = pack(
                        clamp255(std::llround(p.specular[0].at(x, y))), clamp255(std::llround(p.specular[1].at(x, y))),
                        clamp255(std::llround(p.specular[2].at(x, y))), clamp255(std::llround(p.specular[3].at(x, y))));
                    break;
                case D3DTA_TEMP:
                    v = temp;
                    break;
                case D3DTA_CONSTANT:
                    v = st.constant;
                    break;
                default:
                    v = 0;
                    break;
            }
            return complementOrReplicate(v, arg);
        };
        uint32_t c1 = argument(st.colorArg1), c2 = argument(st.colorArg2), c0 = argument(st.colorArg0);
        auto blendAlphaFor = [&](DWORD op) -> uint32_t {
            switch (op) {
                case D3DTOP_BLENDDIFFUSEALPHA:
                    return diffuse >> 24;
                case D3DTOP_BLENDTEXTUREALPHA:
                case D3DTOP_BLENDTEXTUREALPHAPM:
                    if (!haveTexel) {
                        texel = sampleStage(p, s, x, y);
                        haveTexel = true;
                    }
                    return texel >> 24;
                case D3DTOP_BLENDFACTORALPHA:
                    return state_.textureFactor >> 24;
                case D3DTOP_BLENDCURRENTALPHA:
                    return current >> 24;
                default:
                    return 0;
            }
        };
        uint32_t rgb = 0;
        uint32_t blendColorAlpha = blendAlphaFor(st.colorOp);
        switch (st.colorOp) {
            case D3DTOP_MODULATEALPHA_ADDCOLOR:
                for (int shift = 0; shift < 24; shift += 8)
                    rgb |= std::min<uint32_t>(255, ch(c1, shift) + mul255(c1 >> 24, ch(c2, shift))) << shift;
                break;
            case D3DTOP_MODULATECOLOR_ADDALPHA:
                for (int shift = 0; shift < 24; shift += 8)
                    rgb |= std::min<uint32_t>(255, mul255(ch(c1, shift), ch(c2, shift)) + (c1 >> 24)) << shift;
                break;
            case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
                for (int shift = 0; shift < 24; shift += 8)
                    rgb |= std::min<uint32_t>(255, ch(c1, shift) + mul255(255 - (c1 >> 24), ch(c2, shift))) << shift;
                break;
            case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
                for (int shift = 0; shift < 24; shift += 8)
                    rgb |= std::min<uint32_t>(255, mul255(255 - ch(c1, shift), ch(c2, shift)) + (c1 >> 24)) << shift;
                break;
            case D3DTOP_DOTPRODUCT3: {
                int64_t dot = 0;
                for (int shift = 0; shift < 24; shift += 8)
                    dot += (int64_t(ch(c1, shift)) - 128) * (int64_t(ch(c2, shift)) - 128);
                uint32_t d = clamp255(dot * 4 / 255);
                rgb = pack(0, d, d, d);
                break;
            }
            default:
                for (int shift = 0; shift < 24; shift += 8)
                    rgb |= channelOp(st.colorOp, ch(c1, shift), ch(c2, shift), ch(c0, shift), blendColorAlpha) << shift;
                break;
        }
        uint32_t alpha;
        if (st.colorOp == D3DTOP_DOTPRODUCT3) {
            alpha = rgb & 0xFF;
        } else if (st.alphaOp == D3DTOP_DISABLE) {
            alpha = current >> 24;
        } else {
            uint32_t a1 = argument(st.alphaArg1) >> 24, a2 = argument(st.alphaArg2) >> 24,
                     a0 = argument(st.alphaArg0) >> 24;
            alpha = channelOp(st.alphaOp, a1, a2, a0, blendAlphaFor(st.alphaOp));
        }
        uint32_t result = (alpha << 24) | rgb;
        if ((st.resultArg & D3DTA_SELECTMASK) == D3DTA_TEMP)
            temp = result;
        else
            current = result;
    }

    uint32_t sa = current >> 24;
    if (state_.alphaTest && !compareFunc(state_.alphaFunc, sa, state_.alphaRef & 0xFF)) return;
    uint32_t* depthCell = nullptr;
    uint32_t zq = 0;
    if (depth_ && !p.depthDecided) {
        zq = quantizeDepth(static_cast<float>(p.z.at(x, y)), depthMax_);
        depthCell = depth_ + size_t(y) * depthPitch_ + x;
        if (!compareFunc(state_.zFunc, zq, *depthCell)) return;
    }
    uint32_t* cell = target_ + size_t(y) * targetPitch_ + x;
    uint32_t dst = *cell | outputOr_;
    uint32_t out = current;
    if (state_.blend) {
        uint32_t da = dst >> 24;
        DWORD srcF = state_.srcBlend, dstF = state_.destBlend;
        DWORD srcFA = state_.separateAlpha ? state_.srcBlendAlpha : srcF;
        DWORD dstFA = state_.separateAlpha ? state_.destBlendAlpha : dstF;
        DWORD opA = state_.separateAlpha ? state_.blendOpAlpha : state_.blendOp;
        out = 0;
        for (int c = 0; c < 4; ++c) {
            int shift = c == 3 ? 24 : 16 - 8 * c;
            uint32_t s = ch(current, shift), d = ch(dst, shift);
            DWORD fS = c == 3 ? srcFA : srcF, fD = c == 3 ? dstFA : dstF;
            uint32_t vs, vd;
            if (fS == D3DBLEND_BOTHSRCALPHA) {
                vs = sa;
                vd = 255 - sa;
            } else if (fS == D3DBLEND_BOTHINVSRCALPHA) {
                vs = 255 - sa;
                vd = sa;
            } else {
                vs = blendFactor(fS, c, s, d, sa, da, state_.blendFactor);
                vd = blendFactor(fD, c, s, d, sa, da, state_.blendFactor);
            }
            out |= blendChannel(c == 3 ? opA : state_.blendOp, s, vs, d, vd) << shift;
        }
    }
    if (state_.colorWrite != 0xF) {
        uint32_t keep = 0;
        if (!(state_.colorWrite & D3DCOLORWRITEENABLE_RED)) keep |= 0x00FF0000u;
        if (!(state_.colorWrite & D3DCOLORWRITEENABLE_GREEN)) keep |= 0x0000FF00u;
        if (!(state_.colorWrite & D3DCOLORWRITEENABLE_BLUE)) keep |= 0x000000FFu;
        if (!(state_.colorWrite & D3DCOLORWRITEENABLE_ALPHA)) keep |= 0xFF000000u;
        out = (out & ~keep) | (*cell & keep);
    }
    *cell = out | outputOr_;
    if (depthCell && state_.zWrite) *depthCell = zq;
}

void Rasterizer::shadeGeneral(const Primitive& p, int y, int xs, int xe) {
    for (int x = xs; x < xe; ++x) shadePixel(p, x, y);
}

bool Rasterizer::shadeFast(const Primitive& p, int y, int xs, int xe, Scratch& s) {
    const StageState& st = state_.stages[0];
    const Sampler& sampler = samplers_[0];
    const StageSampling& choice = p.sampling[0];
    DWORD set = st.texCoordIndex & 0xFFFF;
    if (set >= kMaxTexCoords) set = 0;
    const Level& l = sampler.levels[choice.level0];
    const SamplerState& ss = state_.samplers[0];
    const Plane& v = p.tex[set][1];

    int row = address(texelFixed(v.at(xs, y), l.height) >> 16, l.height, ss.addressV);
    const uint32_t* texels;
    if (row < 0) {
        if (s.texels.size() < size_t(xe - xs)) s.texels.resize(size_t(xe - xs));
        std::fill(s.texels.begin(), s.texels.begin() + (xe - xs), static_cast<uint32_t>(ss.borderColor));
        texels = s.texels.data();
    } else {
        const uint32_t* src = l.pixels + size_t(row) * l.pitch;
        const int32_t* cols = columns_.data() + (xs - columnBase_);
        if (columnsContiguous_ && sampler.alphaOr == 0) {
            // Unscaled: the texels are one run of the texture row.
            texels = src + cols[0];
        } else {
            if (s.texels.size() < size_t(xe - xs)) s.texels.resize(size_t(xe - xs));
            uint32_t* out = s.texels.data();
            const uint32_t border = ss.borderColor, alphaOr = sampler.alphaOr;
            if (columnsBorder_) {
                for (int i = 0; i < xe - xs; ++i) out[i] = cols[i] < 0 ? border : (src[cols[i]] | alphaOr);
            } else {
                for (int i = 0; i < xe - xs; ++i) out[i] = src[cols[i]] | alphaOr;
            }
            texels = out;
        }
    }
    auto source = [](DWORD op, DWORD arg1, DWORD arg2, StageSource* result) {
        auto isTex = [](DWORD a) { return (a & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
        auto isDif = [](DWORD a) {
            return (a & D3DTA_SELECTMASK) == D3DTA_DIFFUSE || (a & D3DTA_SELECTMASK) == D3DTA_CURRENT;
        };
        if (op == D3DTOP_SELECTARG1 && (isTex(arg1) || isDif(arg1))) {
            *result = isTex(arg1) ? StageSource::Texture : StageSource::Diffuse;
            return true;
        }
        if (op == D3DTOP_SELECTARG2 && (isTex(arg2) || isDif(arg2))) {
            *result = isTex(arg2) ? StageSource::Texture : StageSource::Diffuse;
            return true;
        }
        if (op == D3DTOP_MODULATE && ((isTex(arg1) && isDif(arg2)) || (isDif(arg1) && isTex(arg2)))) {
            *result = StageSource::Modulate;
            return true;
        }
        return false;
    };
    SpanJob job;
    if (!source(st.colorOp, st.colorArg1, st.colorArg2, &job.color)) return false;
    if (!source(st.alphaOp, st.alphaArg1, st.alphaArg2, &job.alpha)) return false;
    job.dst = target_ + size_t(y) * targetPitch_ + xs;
    job.texels = texels;
    job.count = static_cast<uint32_t>(xe - xs);
    job.diffuse = p.diffuseValue;
    job.alphaFunc = state_.alphaTest ? state_.alphaFunc : D3DCMP_ALWAYS;
    job.alphaRef = state_.alphaRef & 0xFF;
    job.blend = state_.blend;
    if (depth_ && !p.depthDecided) {
        job.depth = depth_ + size_t(y) * depthPitch_ + xs;
        job.depthFunc = state_.zFunc;
        job.depthValue = quantizeDepth(static_cast<float>(p.z.at(xs, y)), depthMax_);
        job.depthWrite = state_.zWrite;
    }
    job.outputOr = outputOr_;
    spanKernel()(job);
    return true;
}

bool Rasterizer::spanRange(const Edge* edges, int edgeCount, int y, int* xs, int* xe) const {
    int64_t lo = state_.clip.left, hi = int64_t(state_.clip.right) - 1;
    int64_t py = int64_t(y) * kSub;
    for (int i = 0; i < edgeCount; ++i) {
        const Edge& e = edges[i];
        // Inside: dx * (py - ay) - dy * (px - ax) + bias >= 0, px = x * kSub.
        int64_t k = e.dx * (py - e.ay) + e.dy * e.ax + e.bias;
        if (e.dy == 0) {
            if (k < 0) return false;
        } else if (e.dy > 0) {
            hi = std::min(hi, floorDiv(k, e.dy * kSub));
        } else {
            int64_t m = -e.dy * kSub;
            lo = std::max(lo, -floorDiv(k, m));
        }
    }
    if (lo > hi) return false;
    *xs = static_cast<int>(lo);
    *xe = static_cast<int>(hi + 1);
    return true;
}

bool Rasterizer::fastPrimitive(const Primitive& p) const {
    if (!(fastEligible_ && p.constantDiffuse && p.z.a == 0 && p.z.b == 0)) return false;
    DWORD set = state_.stages[0].texCoordIndex & 0xFFFF;
    if (set >= kMaxTexCoords) set = 0;
    const StageSampling& c = p.sampling[0];
    return !samplers_[0].levels.empty() && p.tex[set][0].b == 0 && p.tex[set][1].a == 0 && !c.linear &&
           c.level0 == c.level1;
}

void Rasterizer::prepareColumns(const Primitive& p, int x0, int x1) {
    DWORD set = state_.stages[0].texCoordIndex & 0xFFFF;
    if (set >= kMaxTexCoords) set = 0;
    const Level& l = samplers_[0].levels[p.sampling[0].level0];
    const Plane& u = p.tex[set][0];
    DWORD mode = state_.samplers[0].addressU;
    columnBase_ = x0;
    columns_.resize(size_t(std::max(0, x1 - x0)));
    columnsContiguous_ = true;
    columnsBorder_ = false;
    for (int x = x0; x < x1; ++x) {
        // Same evaluation as the general path: u does not depend on y here.
        int col = address(texelFixed(u.at(x, 0), l.width) >> 16, l.width, mode);
        columns_[x - x0] = col;
        if (col < 0 || (x > x0 && col != columns_[x - x0 - 1] + 1)) columnsContiguous_ = false;
        if (col < 0) columnsBorder_ = true;
    }
}

void Rasterizer::rows(const Primitive& p, const Edge* edges, int edgeCount, int y0, int y1, bool fast, Scratch& s) {
    for (int y = y0; y < y1; ++y) {
        int xs, xe;
        if (!spanRange(edges, edgeCount, y, &xs, &xe)) continue;
        if (!(fast && shadeFast(p, y, xs, xe, s))) shadeGeneral(p, y, xs, xe);
    }
}

void Rasterizer::triangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c) {
    const RasterVertex* v[3] = {&a, &b, &c};
    int64_t X[3], Y[3];
    for (int i = 0; i < 3; ++i) {
        X[i] = snap(v[i]->x);
        Y[i] = snap(v[i]->y);
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0) return;
    // Positive area is clockwise on screen (y grows downwards).
    if (state_.cull == D3DCULL_CW && area > 0) return;
    if (state_.cull == D3DCULL_CCW && area < 0) return;

    Primitive p;
    double fx[3], fy[3];
    for (int i = 0; i < 3; ++i) {
        fx[i] = static_cast<double>(X[i]) / kSub;
        fy[i] = static_cast<double>(Y[i]) / kSub;
    }
    setupPlanes(p, v, fx, fy, state_.shadeMode == D3DSHADE_FLAT);
    chooseSampling(p);

    int order[3] = {0, 1, 2};
    if (area < 0) std::swap(order[1], order[2]);
    Edge edges[3];
    for (int i = 0; i < 3; ++i) {
        int s = order[i], t = order[(i + 1) % 3];
        Edge& e = edges[i];
        e.ax = X[s];
        e.ay = Y[s];
        e.dx = X[t] - X[s];
        e.dy = Y[t] - Y[s];
        // Top edge: horizontal, running right; left edge: running up.
        bool topLeft = (e.dy == 0 && e.dx > 0) || e.dy < 0;
        e.bias = topLeft ? 0 : -1;
    }
    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    int y0 = static_cast<int>(std::max<int64_t>(state_.clip.top, -floorDiv(-minY, kSub)));
    int y1 = static_cast<int>(std::min<int64_t>(state_.clip.bottom, floorDiv(maxY, kSub) + 1));
    if (y0 >= y1) return;
    if (!decideDepth(p)) return;
    bool fast = fastPrimitive(p);
    if (fast) {
        int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
        int x0 = static_cast<int>(std::max<int64_t>(state_.clip.left, -floorDiv(-minX, kSub)));
        int x1 = static_cast<int>(std::min<int64_t>(state_.clip.right, floorDiv(maxX, kSub) + 1));
        if (x0 >= x1) return;
        prepareColumns(p, x0, x1);
    }
    runRows(y0, y1, [&](int r0, int r1, Scratch& s) { rows(p, edges, 3, r0, r1, fast, s); });
}

bool Rasterizer::decideDepth(Primitive& p) {
    if (!depth_) return true;
    uint32_t uniform = 0;
    if (!state_.depth->depthUniform(&uniform)) return true;
    if (p.z.a == 0 && p.z.b == 0) {
        uint32_t zq = quantizeDepth(static_cast<float>(p.z.c), depthMax_);
        if (!compareFunc(state_.zFunc, zq, uniform)) return false;
        if (!state_.zWrite || zq == uniform) {
            p.depthDecided = true;
            return true;
        }
    }
    if (state_.zWrite) state_.depth->setDepthUniform(false);
    return true;
}

void Rasterizer::point(const RasterVertex& a) {
    int x = static_cast<int>(std::floor(static_cast<double>(a.x) + 0.5));
    int y = static_cast<int>(std::floor(static_cast<double>(a.y) + 0.5));
    if (!(a.x > -1e6f && a.x < 1e6f && a.y > -1e6f && a.y < 1e6f)) return;
    if (x < state_.clip.left || x >= state_.clip.right || y < state_.clip.top || y >= state_.clip.bottom) return;
    Primitive p;
    p.z = constantPlane(a.z);
    p.constantDiffuse = true;
    p.diffuseValue = a.diffuse;
    for (int c = 0; c < 4; ++c) {
        p.diffuse[c] = constantPlane(ch(a.diffuse, 24 - 8 * c));
        p.specular[c] = constantPlane(ch(a.specular, 24 - 8 * c));
    }
    for (int t = 0; t < kMaxTexCoords; ++t)
        for (int k = 0; k < 2; ++k) p.tex[t][k] = constantPlane(a.tex[t][k]);
    chooseSampling(p);
    if (!decideDepth(p)) return;
    shadePixel(p, x, y);
}

void Rasterizer::line(const RasterVertex& a, const RasterVertex& b) {
    if (!(std::fabs(a.x) < 1e6f && std::fabs(a.y) < 1e6f && std::fabs(b.x) < 1e6f && std::fabs(b.y) < 1e6f)) return;
    double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    bool xMajor = std::fabs(dx) >= std::fabs(dy);
    double length = xMajor ? dx : dy;
    if (length == 0) return;
    // Attributes vary along the major axis only.
    auto along = [&](double va, double vb) {
        Plane p;
        double slope = (vb - va) / length;
        if (xMajor) {
            p.a = slope;
            p.c = va - slope * a.x;
        } else {
            p.b = slope;
            p.c = va - slope * a.y;
        }
        return p;
    };
    Primitive p;
    p.z = along(a.z, b.z);
    bool flat = state_.shadeMode == D3DSHADE_FLAT;
    p.constantDiffuse = flat || a.diffuse == b.diffuse;
    p.diffuseValue = a.diffuse;
    for (int c = 0; c < 4; ++c) {
        int shift = 24 - 8 * c;
        p.diffuse[c] = flat ? constantPlane(ch(a.diffuse, shift)) : along(ch(a.diffuse, shift), ch(b.diffuse, shift));
        p.specular[c] =
            flat ? constantPlane(ch(a.specular, shift)) : along(ch(a.specular, shift), ch(b.specular, shift));
    }
    for (int t = 0; t < kMaxTexCoords; ++t)
        for (int k = 0; k < 2; ++k) p.tex[t][k] = along(a.tex[t][k], b.tex[t][k]);
    chooseSampling(p);
    if (!decideDepth(p)) return;
    // Pixel centres along the major axis from the start up to the end (the end included
    // only with the last-pixel state).
    double s0 = xMajor ? a.x : a.y, s1 = xMajor ? b.x : b.y;
    double lo = std::min(s0, s1), hi = std::max(s0, s1);
    int first = static_cast<int>(std::ceil(lo - 0.5)), last = static_cast<int>(std::ceil(hi - 0.5)) - 1;
    if (state_.lastPixel) last = static_cast<int>(std::floor(hi + 0.5));
    for (int m = first; m <= last; ++m) {
        double t = (m - s0) / (s1 - s0);
        double minor = xMajor ? a.y + t * dy : a.x + t * dx;
        int n = static_cast<int>(std::floor(minor + 0.5));
        int x = xMajor ? m : n, y = xMajor ? n : m;
        if (x < state_.clip.left || x >= state_.clip.right || y < state_.clip.top || y >= state_.clip.bottom) continue;
        shadePixel(p, x, y);
    }
}

}  // namespace gfx
