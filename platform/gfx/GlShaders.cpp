#include "platform/gfx/GlShaders.h"

namespace gfx {
namespace {

// Direct3D puts pixel centres on integer coordinates, OpenGL half a pixel further. The
// vertices move by half a pixel less 1/256 (one step of the rasteriser's sub-pixel grid),
// so that edges on whole pixels follow Direct3D's top-left rule; the fragment shader takes
// the 1/256 back out of every interpolated value.
const char* kGeneralVertex = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 1) in vec4 diffuse;
layout(location = 2) in vec4 specular;
layout(location = 3) in vec2 tex0;
layout(location = 4) in vec2 tex1;
uniform vec2 targetSize;
uniform ivec3 present;  // diffuse, specular, texture sets in the vertex
noperspective out vec4 vDiffuse;
noperspective out vec4 vSpecular;
noperspective out vec2 vTex0;
noperspective out vec2 vTex1;
void main() {
    vec2 p = (position.xy + vec2(0.5 - 1.0 / 256.0)) / targetSize * 2.0 - 1.0;
    gl_Position = vec4(p, clamp(position.z, 0.0, 1.0) * 2.0 - 1.0, 1.0);
    // Direct3D's defaults: white diffuse, black specular.
    vDiffuse = present.x != 0 ? diffuse : vec4(1.0);
    vSpecular = present.y != 0 ? specular : vec4(0.0);
    vTex0 = present.z > 0 ? tex0 : vec2(0.0);
    vTex1 = present.z > 1 ? tex1 : vec2(0.0);
}
)";

// The texture stages in the integer arithmetic of the software device, so that both
// devices give the same pixels: texel positions rounded to 1/256, point or bilinear
// sampling with 8-bit weights, addressing modes, x * y / 255 rounded, alpha test.
const char* kGeneralFragmentBody = R"(
noperspective in vec4 vDiffuse;
noperspective in vec4 vSpecular;
noperspective in vec2 vTex0;
noperspective in vec2 vTex1;
uniform sampler2D tex0;
uniform sampler2D tex1;
uniform ivec2 texSize[2];
uniform int hasTex[2];
uniform int forceOpaque[2];
uniform int texSet[2];
uniform ivec2 addressMode[2];
uniform ivec4 border[2];
uniform ivec2 linearFilter[2];  // magnification, minification
uniform int stageCount;
uniform ivec4 colorOps[2];  // op, arg1, arg2, arg0
uniform ivec4 alphaOps[2];
uniform int resultArg[2];
uniform ivec4 factor;
uniform int alphaTest;
uniform int alphaFunc;
uniform int alphaRef;
uniform int shaderBlend;
#ifndef FETCH
uniform sampler2D destination;
#endif
uniform ivec3 blendColor;  // source factor, destination factor, operation
uniform ivec3 blendAlpha;
uniform ivec4 blendConstant;
uniform int opaqueTarget;
#ifdef FETCH
inout vec4 fragColor;
#else
out vec4 fragColor;
#endif

vec4 atPixel(vec4 v) { return v - (dFdx(v) + dFdy(v)) / 256.0; }
vec2 atPixel2(vec2 v) { return v - (dFdx(v) + dFdy(v)) / 256.0; }

int roundHalfAway(float f) { return int(sign(f) * floor(abs(f) + 0.5)); }

int positiveMod(int i, int n) {
    if (i < 0) i += n * ((-i) / n + 1);
    return i % n;
}

int addressOf(int i, int size, int mode) {
    if (mode == 3) return clamp(i, 0, size - 1);
    if (mode == 4) return (i < 0 || i >= size) ? -1 : i;
    if (mode == 2) {
        int m = positiveMod(i, size * 2);
        return m < size ? m : size * 2 - 1 - m;
    }
    if (mode == 5) return min(i < 0 ? -i - 1 : i, size - 1);
    return positiveMod(i, size);
}

ivec4 texel(int s, int i, int j) {
    int x = addressOf(i, texSize[s].x, addressMode[s].x);
    int y = addressOf(j, texSize[s].y, addressMode[s].y);
    if (x < 0 || y < 0) return border[s];
    vec4 t = s == 0 ? texelFetch(tex0, ivec2(x, y), 0) : texelFetch(tex1, ivec2(x, y), 0);
    ivec4 c = ivec4(round(t * 255.0));
    if (forceOpaque[s] != 0) c.a = 255;
    return c;
}

ivec4 sampleStage(int s, vec2 tc0, vec2 tc1) {
    if (hasTex[s] == 0) return ivec4(0, 0, 0, 255);
    vec2 tc = texSet[s] == 0 ? tc0 : tc1;
    int ru = roundHalfAway(tc.x * float(texSize[s].x) * 256.0);
    int rv = roundHalfAway(tc.y * float(texSize[s].y) * 256.0);
    // Minifying (more than one texel per pixel) uses the minification filter.
    vec2 size = vec2(texSize[s]);
    float rho = max(length(dFdx(tc) * size), length(dFdy(tc) * size));
    int linear = rho > 1.0001 ? linearFilter[s].y : linearFilter[s].x;
    if (linear == 0) return texel(s, ru >> 8, rv >> 8);
    int us = ru - 128, vs = rv - 128;
    int i0 = us >> 8, j0 = vs >> 8, fx = us & 255, fy = vs & 255;
    ivec4 top = texel(s, i0, j0) * (256 - fx) + texel(s, i0 + 1, j0) * fx;
    ivec4 bottom = texel(s, i0, j0 + 1) * (256 - fx) + texel(s, i0 + 1, j0 + 1) * fx;
    return (top * (256 - fy) + bottom * fy + 32768) >> 16;
}

int mul255(int x, int y) {
    int t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}
int roundDiv255(int t) { return (t + 127) / 255; }

int channelOp(int op, int a1, int a2, int a0, int ba) {
    if (op == 2) return a1;
    if (op == 3) return a2;
    if (op == 4) return mul255(a1, a2);
    if (op == 5) return min(255, mul255(a1, a2) * 2);
    if (op == 6) return min(255, mul255(a1, a2) * 4);
    if (op == 7) return min(255, a1 + a2);
    if (op == 8) return clamp(a1 + a2 - 128, 0, 255);
    if (op == 9) return clamp((a1 + a2 - 128) * 2, 0, 255);
    if (op == 10) return a1 > a2 ? a1 - a2 : 0;
    if (op == 11) return min(255, a1 + a2 - mul255(a1, a2));
    if (op >= 12 && op <= 14 || op == 16) return roundDiv255(a1 * ba + a2 * (255 - ba));
    if (op == 15) return min(255, a1 + mul255(a2, 255 - ba));
    if (op == 25) return min(255, a0 + mul255(a1, a2));
    if (op == 26) return roundDiv255(a0 * a1 + (255 - a0) * a2);
    return a1;
}

bool compare(int func, int value, int reference) {
    if (func == 1) return false;
    if (func == 2) return value < reference;
    if (func == 3) return value == reference;
    if (func == 4) return value <= reference;
    if (func == 5) return value > reference;
    if (func == 6) return value != reference;
    if (func == 7) return value >= reference;
    return true;
}

int blendFactorOf(int f, int c, int s, int d, int sa, int da) {
    if (f == 1) return 0;
    if (f == 3) return s;
    if (f == 4) return 255 - s;
    if (f == 5) return sa;
    if (f == 6) return 255 - sa;
    if (f == 7) return da;
    if (f == 8) return 255 - da;
    if (f == 9) return d;
    if (f == 10) return 255 - d;
    if (f == 11) return c == 3 ? 255 : min(sa, 255 - da);
    if (f == 14) return blendConstant[c];
    if (f == 15) return 255 - blendConstant[c];
    return 255;
}

int blendChannel(int op, int s, int fs, int d, int fd) {
    int src = s * fs, dst = d * fd;
    if (op == 2) return roundDiv255(max(0, src - dst));
    if (op == 3) return roundDiv255(max(0, dst - src));
    if (op == 4) return min(s, d);
    if (op == 5) return max(s, d);
    return min(255, roundDiv255(src + dst));
}

// Blending in the same arithmetic as the software device, against the picture (fetched,
// or a copy of it).
ivec4 blend(ivec4 source) {
#ifdef FETCH
    ivec4 dest = ivec4(round(fragColor * 255.0));
#else
    ivec4 dest = ivec4(round(texelFetch(destination, ivec2(gl_FragCoord.xy), 0) * 255.0));
#endif
    if (opaqueTarget != 0) dest.a = 255;
    int sa = source.a, da = dest.a;
    ivec4 result;
    for (int c = 0; c < 4; ++c) {
        ivec3 cfg = c == 3 ? blendAlpha : blendColor;
        int s = source[c], d = dest[c], vs, vd;
        if (cfg.x == 12) {
            vs = sa;
            vd = 255 - sa;
        } else if (cfg.x == 13) {
            vs = 255 - sa;
            vd = sa;
        } else {
            vs = blendFactorOf(cfg.x, c, s, d, sa, da);
            vd = blendFactorOf(cfg.y, c, s, d, sa, da);
        }
        result[c] = blendChannel(cfg.z, s, vs, d, vd);
    }
    return result;
}

void main() {
    vec4 d = atPixel(vDiffuse);
    vec4 sp = atPixel(vSpecular);
    vec2 tc0 = atPixel2(vTex0);
    vec2 tc1 = atPixel2(vTex1);
    ivec4 diffuse = clamp(ivec4(floor(d * 255.0 + 0.5)), 0, 255);
    ivec4 specular = clamp(ivec4(floor(sp * 255.0 + 0.5)), 0, 255);
    ivec4 current = diffuse;
    ivec4 temp = ivec4(0);
    for (int s = 0; s < stageCount; ++s) {
        ivec4 tx = sampleStage(s, tc0, tc1);
        ivec4 args[3];
        for (int k = 0; k < 6; ++k) {
            int arg = k < 3 ? colorOps[s][k + 1] : alphaOps[s][k - 2];
            int sel = arg & 15;
            ivec4 v = sel == 0 ? diffuse : sel == 2 ? tx : sel == 3 ? factor : sel == 4 ? specular
                    : sel == 5 ? temp : current;
            if ((arg & 16) != 0) v = 255 - v;
            if ((arg & 32) != 0) v = ivec4(v.a);
            if (k < 3) args[k] = v;
            else if (k == 3) args[0].a = v.a;
            else if (k == 4) args[1].a = v.a;
            else args[2].a = v.a;
        }
        // args[i].rgb hold colour arguments 1, 2, 0; args[i].a the alpha arguments.
        int op = colorOps[s].x;
        int ca = op == 12 ? diffuse.a : (op == 13 || op == 15) ? tx.a : op == 14 ? factor.a : op == 16 ? current.a : 0;
        ivec3 rgb;
        for (int c = 0; c < 3; ++c) rgb[c] = channelOp(op, args[0][c], args[1][c], args[2][c], ca);
        int aop = alphaOps[s].x;
        int aa = aop == 12 ? diffuse.a : (aop == 13 || aop == 15) ? tx.a : aop == 14 ? factor.a : aop == 16 ? current.a : 0;
        int alpha = aop == 1 ? current.a : channelOp(aop, args[0].a, args[1].a, args[2].a, aa);
        ivec4 result = ivec4(rgb, alpha);
        if ((resultArg[s] & 15) == 5) temp = result; else current = result;
    }
    if (alphaTest != 0 && !compare(alphaFunc, current.a, alphaRef)) discard;
    if (shaderBlend != 0) current = blend(current);
    fragColor = vec4(current) / 255.0;
}
)";

// The layer draw in the reference's arithmetic: texel positions rounded to 1/256 of a
// texel, point sampling or bilinear filtering with 8-bit weights (OpenGL's own filter
// rounds differently), x * y / 255 rounded, blending over the fetched picture.
const char* kLayerVertex = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 3) in vec2 tex;
uniform vec2 targetSize;
noperspective out vec2 vTex;
void main() {
    vec2 p = (position.xy + vec2(0.5 - 1.0 / 256.0)) / targetSize * 2.0 - 1.0;
    gl_Position = vec4(p, clamp(position.z, 0.0, 1.0) * 2.0 - 1.0, 1.0);
    vTex = tex;
}
)";

// The copy variant is kept this plain on purpose: a software rasteriser runs such a shader
// (texture coordinates straight from the vertices) on its fastest path.
const char* kCopyVertex = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 3) in vec2 tex;
uniform vec2 targetSize;
out vec2 vTex;
void main() {
    vec2 p = (position.xy + vec2(0.5 - 1.0 / 256.0)) / targetSize * 2.0 - 1.0;
    gl_Position = vec4(p, clamp(position.z, 0.0, 1.0) * 2.0 - 1.0, 1.0);
    vTex = tex;
}
)";

const char* kCopyFragment = R"(#version 330 core
uniform sampler2D tex;
in vec2 vTex;
out vec4 fragColor;
void main() {
    fragColor = texture(tex, vTex);
}
)";

const char* kPresentVertex = R"(#version 330 core
out vec2 vTex;
void main() {
    vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1);
    vTex = vec2(corner.x, 1.0 - corner.y);
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* kLayerFragmentBody = R"(
#ifdef SAMPLED
in vec2 vTex;
#else
noperspective in vec2 vTex;
#endif
uniform sampler2D tex;
uniform ivec2 texSize;
uniform vec4 diffuse;  // 0..255
uniform float alphaRef;
#ifdef BLEND
inout vec4 fragColor;
#else
out vec4 fragColor;
#endif

int wrapped(int i, int n) {
    int m = i - n * int(floor(float(i) / float(n)));
    m += m < 0 ? n : 0;
    return m >= n ? m - n : m;
}

ivec4 texelAt(ivec2 i) {
#ifdef CLAMP_U
    i.x = clamp(i.x, 0, texSize.x - 1);
#else
    i.x = wrapped(i.x, texSize.x);
#endif
#ifdef CLAMP_V
    i.y = clamp(i.y, 0, texSize.y - 1);
#else
    i.y = wrapped(i.y, texSize.y);
#endif
    return ivec4(texelFetch(tex, i, 0) * 255.0 + 0.5);
}

// x * y / 255 rounded. Values are whole numbers far below 2^24, so float is exact, and
// the quotient is never half-way (255 is odd), so adding 127.5 and flooring rounds it.
vec4 mul255(vec4 x, vec4 y) {
    return floor((x * y + 127.5) / 255.0);
}

void main() {
#ifdef SAMPLED
    // The caller checked that OpenGL's nearest texel is the reference's at every pixel.
    vec4 texel = floor(texture(tex, vTex) * 255.0 + 0.5);
#else
    // Back to Direct3D's pixel centre (see the vertex shader).
    vec2 tc = vTex - (dFdx(vTex) + dFdy(vTex)) / 256.0;
    vec2 size = vec2(texSize);
    vec2 grid = tc * size * 256.0;
    vec2 snapped = sign(grid) * floor(abs(grid) + 0.5);
#ifdef LINEAR
    // Four texels weighted with the fraction's 8 bits, rounded once.
    ivec2 start = ivec2(snapped) - 128;
    ivec2 i0 = start >> 8, f = start & 255;
    ivec4 top = texelAt(i0) * (256 - f.x) + texelAt(i0 + ivec2(1, 0)) * f.x;
    ivec4 bottom = texelAt(i0 + ivec2(0, 1)) * (256 - f.x) + texelAt(i0 + ivec2(1, 1)) * f.x;
    vec4 texel = vec4((top * (256 - f.y) + bottom * f.y + 32768) >> 16);
#else
    vec4 texel = vec4(texelAt(ivec2(snapped) >> 8));
#endif
#endif
#ifdef FORCE_OPAQUE
    texel.a = 255.0;
#endif
    vec4 both = mul255(texel, diffuse);
#if COLOR == 0
    vec3 rgb = both.rgb;
#elif COLOR == 1
    vec3 rgb = texel.rgb;
#else
    vec3 rgb = diffuse.rgb;
#endif
#if ALPHA == 0
    float a = both.a;
#elif ALPHA == 1
    float a = texel.a;
#else
    float a = diffuse.a;
#endif
#if ALPHA_FUNC == 1
    discard;
#elif ALPHA_FUNC == 2
    if (!(a < alphaRef)) discard;
#elif ALPHA_FUNC == 3
    if (!(a == alphaRef)) discard;
#elif ALPHA_FUNC == 4
    if (!(a <= alphaRef)) discard;
#elif ALPHA_FUNC == 5
    if (!(a > alphaRef)) discard;
#elif ALPHA_FUNC == 6
    if (!(a != alphaRef)) discard;
#elif ALPHA_FUNC == 7
    if (!(a >= alphaRef)) discard;
#endif
    vec4 result = vec4(rgb, a);
#ifdef BLEND
    vec4 dest = floor(fragColor * 255.0 + 0.5);
    result = floor((result * a + dest * (255.0 - a) + 127.5) / 255.0);
#endif
#ifdef OPAQUE_TARGET
    result.a = 255.0;
#endif
    fragColor = result / 255.0;
}
)";

const char* kVersion = "#version 330 core\n";
const char* kFetch = "#extension GL_EXT_shader_framebuffer_fetch : require\n#define FETCH 1\n";

}  // namespace

uint32_t GlLayerKey::packed() const {
    return uint32_t(linear) | uint32_t(clampU) << 1 | uint32_t(clampV) << 2 | uint32_t(color) << 3 |
           uint32_t(alpha) << 5 | uint32_t(forceOpaque) << 7 | uint32_t(alphaFunc & 15) << 8 | uint32_t(blend) << 12 |
           uint32_t(opaqueTarget) << 13 | uint32_t(copy) << 14 | uint32_t(sampled) << 15;
}

const char* generalVertexShader() {
    return kGeneralVertex;
}

std::string generalFragmentShader(bool fetch) {
    std::string s = kVersion;
    if (fetch) s += kFetch;
    return s + kGeneralFragmentBody;
}

const char* layerVertexShader(const GlLayerKey& key) {
    return key.copy || key.sampled ? kCopyVertex : kLayerVertex;
}

const char* presentVertexShader() {
    return kPresentVertex;
}

const char* presentFragmentShader() {
    return kCopyFragment;
}

std::string layerFragmentShader(const GlLayerKey& key) {
    if (key.copy) return kCopyFragment;
    std::string s = kVersion;
    if (key.blend) s += kFetch;
    auto define = [&](const char* name, int value) {
        s += "#define ";
        s += name;
        s += " " + std::to_string(value) + "\n";
    };
    if (key.sampled) define("SAMPLED", 1);
    if (key.linear) define("LINEAR", 1);
    if (key.clampU) define("CLAMP_U", 1);
    if (key.clampV) define("CLAMP_V", 1);
    define("COLOR", key.color);
    define("ALPHA", key.alpha);
    if (key.forceOpaque) define("FORCE_OPAQUE", 1);
    define("ALPHA_FUNC", key.alphaFunc == 8 ? 0 : key.alphaFunc);
    if (key.blend) define("BLEND", 1);
    if (key.opaqueTarget) define("OPAQUE_TARGET", 1);
    return s + kLayerFragmentBody;
}

}  // namespace gfx
