#include "platform/gfx/GlRenderer.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace gfx {
namespace {

// Direct3D puts pixel centres on integer coordinates, OpenGL half a pixel further. The
// vertices move by half a pixel less 1/256 (one step of the rasteriser's sub-pixel grid),
// so that edges on whole pixels follow Direct3D's top-left rule; the fragment shader takes
// the 1/256 back out of every interpolated value.
const char* kVertexShader = R"(#version 330 core
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
const char* kFragmentShader = R"(#version 330 core
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
uniform sampler2D destination;
uniform ivec3 blendColor;  // source factor, destination factor, operation
uniform ivec3 blendAlpha;
uniform ivec4 blendConstant;
uniform int opaqueTarget;
out vec4 fragColor;

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

// Blending in the same arithmetic as the software device, against a copy of the picture.
ivec4 blend(ivec4 source) {
    ivec4 dest = ivec4(round(texelFetch(destination, ivec2(gl_FragCoord.xy), 0) * 255.0));
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

GLenum blendFactor(DWORD f) {
    switch (f) {
        case D3DBLEND_ZERO:
            return GL_ZERO;
        case D3DBLEND_SRCCOLOR:
            return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR:
            return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA:
            return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA:
            return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA:
            return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA:
            return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR:
            return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR:
            return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT:
            return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR:
            return GL_CONSTANT_COLOR;
        case D3DBLEND_INVBLENDFACTOR:
            return GL_ONE_MINUS_CONSTANT_COLOR;
        default:
            return GL_ONE;
    }
}

GLenum blendEquation(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT:
            return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT:
            return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN:
            return GL_MIN;
        case D3DBLENDOP_MAX:
            return GL_MAX;
        default:
            return GL_FUNC_ADD;
    }
}

GLenum depthFunction(DWORD f) {
    switch (f) {
        case D3DCMP_NEVER:
            return GL_NEVER;
        case D3DCMP_LESS:
            return GL_LESS;
        case D3DCMP_EQUAL:
            return GL_EQUAL;
        case D3DCMP_LESSEQUAL:
            return GL_LEQUAL;
        case D3DCMP_GREATER:
            return GL_GREATER;
        case D3DCMP_NOTEQUAL:
            return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL:
            return GL_GEQUAL;
        default:
            return GL_ALWAYS;
    }
}

void splitFactor(const std::pair<DWORD, DWORD>& both, DWORD* s, DWORD* d) {
    // BOTHSRCALPHA / BOTHINVSRCALPHA set the destination factor as well.
    if (both.first == D3DBLEND_BOTHSRCALPHA) {
        *s = D3DBLEND_SRCALPHA;
        *d = D3DBLEND_INVSRCALPHA;
    } else if (both.first == D3DBLEND_BOTHINVSRCALPHA) {
        *s = D3DBLEND_INVSRCALPHA;
        *d = D3DBLEND_SRCALPHA;
    } else {
        *s = both.first;
        *d = both.second;
    }
}

float channel(D3DCOLOR c, int shift) {
    return float((c >> shift) & 0xFF) / 255.0f;
}

}  // namespace

GlRenderer::GlRenderer() = default;

GlRenderer::~GlRenderer() {
    close();
}

GLint GlRenderer::uniform(const char* name) {
    auto it = uniforms_.find(name);
    if (it != uniforms_.end()) return it->second;
    GLint location = glGetUniformLocation(program_, name);
    uniforms_.emplace(name, location);
    return location;
}

bool GlRenderer::open(QWindow* window, uint32_t width, uint32_t height, bool opaqueTarget) {
    window_ = window;
    context_ = std::make_unique<QOpenGLContext>();
    QSurfaceFormat format = window->format();
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    context_->setFormat(format);
    if (!context_->create() || context_->format().version() < qMakePair(3, 3) || !context_->makeCurrent(window_) ||
        !initializeOpenGLFunctions()) {
        context_.reset();
        window_ = nullptr;
        return false;
    }
    swapInterval_ = context_->format().swapInterval();
    opaque_ = opaqueTarget;
    if (!buildProgram() || !buildTarget(width, height)) {
        close();
        return false;
    }
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vertexBuffer_);
    glGenBuffers(1, &indexBuffer_);
    return true;
}

void GlRenderer::close() {
    if (!context_) return;
    context_->makeCurrent(window_);
    for (auto& [key, t] : textures_) glDeleteTextures(1, &t.name);
    textures_.clear();
    releaseTarget();
    if (program_) glDeleteProgram(program_);
    if (vao_) glDeleteVertexArrays(1, &vao_);
    if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
    if (indexBuffer_) glDeleteBuffers(1, &indexBuffer_);
    program_ = vao_ = vertexBuffer_ = indexBuffer_ = 0;
    uniforms_.clear();
    context_->doneCurrent();
    context_.reset();
    window_ = nullptr;
}

bool GlRenderer::buildProgram() {
    auto compile = [&](GLenum type, const char* source) -> GLuint {
        GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        GLint ok = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            char log[2048] = {};
            glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
            qWarning("OpenGL device: shader compilation failed: %s", log);
            glDeleteShader(shader);
            return 0;
        }
        return shader;
    };
    GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
    GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return false;
    }
    program_ = glCreateProgram();
    glAttachShader(program_, vs);
    glAttachShader(program_, fs);
    glLinkProgram(program_);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &ok);
    if (!ok) {
        glDeleteProgram(program_);
        program_ = 0;
        return false;
    }
    glUseProgram(program_);
    glUniform1i(uniform("tex0"), 0);
    glUniform1i(uniform("tex1"), 1);
    glUniform1i(uniform("destination"), 2);
    return true;
}

bool GlRenderer::buildTarget(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &colorBuffer_);
    glGenRenderbuffers(1, &depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(width), GLsizei(height));
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, GLsizei(width), GLsizei(height));
    glGenTextures(1, &destinationCopy_);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, destinationCopy_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        // A new back buffer starts black (opaque when the format has no alpha) with depth 1.
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, opaque_ ? 1.0f : 0.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    return complete;
}

void GlRenderer::releaseTarget() {
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colorBuffer_) glDeleteRenderbuffers(1, &colorBuffer_);
    if (depthBuffer_) glDeleteRenderbuffers(1, &depthBuffer_);
    if (destinationCopy_) glDeleteTextures(1, &destinationCopy_);
    framebuffer_ = colorBuffer_ = depthBuffer_ = destinationCopy_ = 0;
}

void GlRenderer::bindTarget() {
    context_->makeCurrent(window_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, GLsizei(width_), GLsizei(height_));
}

bool GlRenderer::resize(uint32_t width, uint32_t height, bool opaqueTarget) {
    if (!context_) return false;
    context_->makeCurrent(window_);
    releaseTarget();
    opaque_ = opaqueTarget;
    return buildTarget(width, height);
}

void GlRenderer::uploadTexture(const void* key, const uint32_t* argb, uint32_t pitchInPixels, uint32_t width,
                               uint32_t height, bool forceOpaque) {
    context_->makeCurrent(window_);
    Texture& t = textures_[key];
    glActiveTexture(GL_TEXTURE0);
    if (!t.name) glGenTextures(1, &t.name);
    glBindTexture(GL_TEXTURE_2D, t.name);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitchInPixels));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (t.width != width || t.height != height) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, argb);
        t.width = width;
        t.height = height;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(width), GLsizei(height), GL_BGRA, GL_UNSIGNED_BYTE, argb);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    t.forceOpaque = forceOpaque;
}

void GlRenderer::dropTexture(const void* key) {
    auto it = textures_.find(key);
    if (it == textures_.end()) return;
    context_->makeCurrent(window_);
    glDeleteTextures(1, &it->second.name);
    textures_.erase(it);
}

void GlRenderer::clear(const std::vector<RECT>& regions, bool color, bool depth, D3DCOLOR value, float z) {
    bindTarget();
    glEnable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, opaque_ ? GL_FALSE : GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(channel(value, 16), channel(value, 8), channel(value, 0), channel(value, 24));
    glClearDepth(z);
    GLbitfield bits = (color ? GL_COLOR_BUFFER_BIT : 0) | (depth ? GL_DEPTH_BUFFER_BIT : 0);
    for (const RECT& r : regions) {
        if (r.left >= r.right || r.top >= r.bottom) continue;
        glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
        glClear(bits);
    }
    glDisable(GL_SCISSOR_TEST);
}

void GlRenderer::draw(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                      size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount) {
    bindTarget();
    const RECT& c = state.clip;
    if (c.left >= c.right || c.top >= c.bottom) return;
    glEnable(GL_SCISSOR_TEST);
    glScissor(c.left, c.top, c.right - c.left, c.bottom - c.top);

    // Fixed-function states.
    if (state.depthTest) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(depthFunction(state.depthFunc));
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(state.depthTest && state.depthWrite ? GL_TRUE : GL_FALSE);
    bool triangles = mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN;
    bool shaderBlend = state.blend && triangles;
    if (state.blend && !shaderBlend) {
        // Lines and points blend in OpenGL's arithmetic (within one level of the software device's).
        glEnable(GL_BLEND);
        DWORD s, d, sa, da;
        splitFactor({state.srcBlend, state.destBlend}, &s, &d);
        if (state.separateAlpha)
            splitFactor({state.srcBlendAlpha, state.destBlendAlpha}, &sa, &da);
        else
            sa = s, da = d;
        glBlendFuncSeparate(blendFactor(s), blendFactor(d), blendFactor(sa), blendFactor(da));
        glBlendEquationSeparate(blendEquation(state.blendOp),
                                blendEquation(state.separateAlpha ? state.blendOpAlpha : state.blendOp));
        D3DCOLOR k = state.blendFactor;
        glBlendColor(channel(k, 16), channel(k, 8), channel(k, 0), channel(k, 24));
    } else {
        glDisable(GL_BLEND);
    }
    DWORD w = state.colorWrite;
    glColorMask((w & 1) != 0, (w & 2) != 0, (w & 4) != 0, (w & 8) != 0 && !opaque_);
    if (state.cull == D3DCULL_NONE) {
        glDisable(GL_CULL_FACE);
    } else {
        // Rows are stored top first, so Direct3D's clockwise is OpenGL's counter-clockwise.
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(state.cull == D3DCULL_CCW ? GL_BACK : GL_FRONT);
    }

    glUseProgram(program_);
    glUniform2f(uniform("targetSize"), float(width_), float(height_));
    glUniform1i(uniform("shaderBlend"), shaderBlend ? 1 : 0);
    glUniform1i(uniform("opaqueTarget"), opaque_ ? 1 : 0);
    if (shaderBlend) {
        DWORD s, d, sa, da;
        splitFactor({state.srcBlend, state.destBlend}, &s, &d);
        if (state.separateAlpha)
            splitFactor({state.srcBlendAlpha, state.destBlendAlpha}, &sa, &da);
        else
            sa = s, da = d;
        // BOTH* factors are resolved above; the shader sees plain ones.
        DWORD op = state.blendOp, opA = state.separateAlpha ? state.blendOpAlpha : state.blendOp;
        glUniform3i(uniform("blendColor"), GLint(s), GLint(d), GLint(op));
        glUniform3i(uniform("blendAlpha"), GLint(sa), GLint(da), GLint(opA));
        D3DCOLOR k = state.blendFactor;
        glUniform4i(uniform("blendConstant"), GLint((k >> 16) & 255), GLint((k >> 8) & 255), GLint(k & 255),
                    GLint(k >> 24));
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, destinationCopy_);
    }
    glUniform1i(uniform("stageCount"), state.stageCount);
    D3DCOLOR f = state.textureFactor;
    glUniform4i(uniform("factor"), GLint((f >> 16) & 255), GLint((f >> 8) & 255), GLint(f & 255), GLint(f >> 24));
    glUniform1i(uniform("alphaTest"), state.alphaTest ? 1 : 0);
    glUniform1i(uniform("alphaFunc"), GLint(state.alphaFunc));
    glUniform1i(uniform("alphaRef"), GLint(state.alphaRef & 0xFF));
    for (int s = 0; s < 2; ++s) {
        const GlStage& st = state.stages[s];
        std::string i = "[" + std::to_string(s) + "]";
        auto texture = textures_.find(st.texture);
        bool has = s < state.stageCount && st.texture && texture != textures_.end();
        glActiveTexture(GL_TEXTURE0 + s);
        glBindTexture(GL_TEXTURE_2D, has ? texture->second.name : 0);
        glUniform1i(uniform(("hasTex" + i).c_str()), has ? 1 : 0);
        if (has) {
            glUniform2i(uniform(("texSize" + i).c_str()), GLint(texture->second.width), GLint(texture->second.height));
            glUniform1i(uniform(("forceOpaque" + i).c_str()), texture->second.forceOpaque ? 1 : 0);
        }
        glUniform1i(uniform(("texSet" + i).c_str()), GLint(st.texCoordIndex & 0xFFFF) == 1 ? 1 : 0);
        glUniform2i(uniform(("addressMode" + i).c_str()), GLint(st.addressU), GLint(st.addressV));
        DWORD b = st.borderColor;
        glUniform4i(uniform(("border" + i).c_str()), GLint((b >> 16) & 255), GLint((b >> 8) & 255), GLint(b & 255),
                    GLint(b >> 24));
        glUniform2i(uniform(("linearFilter" + i).c_str()), st.magLinear ? 1 : 0, st.minLinear ? 1 : 0);
        glUniform4i(uniform(("colorOps" + i).c_str()), GLint(st.colorOp), GLint(st.colorArg1), GLint(st.colorArg2),
                    GLint(st.colorArg0));
        glUniform4i(uniform(("alphaOps" + i).c_str()), GLint(st.alphaOp), GLint(st.alphaArg1), GLint(st.alphaArg2),
                    GLint(st.alphaArg0));
        glUniform1i(uniform(("resultArg" + i).c_str()), GLint(st.resultArg));
    }

    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertexBytes), vertices, GL_STREAM_DRAW);
    GLsizei stride = GLsizei(format.stride);
    auto at = [](int offset) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset)); };
    glUniform3i(uniform("present"), format.diffuse >= 0 ? 1 : 0, format.specular >= 0 ? 1 : 0, format.texCount);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, at(0));
    auto colour = [&](GLuint location, int offset) {
        if (offset >= 0) {
            glEnableVertexAttribArray(location);
            glVertexAttribPointer(location, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, at(offset));
        } else {
            glDisableVertexAttribArray(location);
        }
    };
    colour(1, format.diffuse);
    colour(2, format.specular);
    for (int t = 0; t < 2; ++t) {
        GLuint location = GLuint(3 + t);
        if (t < format.texCount) {
            glEnableVertexAttribArray(location);
            glVertexAttribPointer(location, 2, GL_FLOAT, GL_FALSE, stride, at(format.texOffset[t]));
        } else {
            glDisableVertexAttribArray(location);
        }
    }
    if (shaderBlend) {
        // Every triangle as three vertex numbers, keeping each one's winding.
        std::vector<uint32_t> list;
        auto vertex = [&](size_t i) { return indices.empty() ? uint32_t(i) : indices[i]; };
        size_t n = indices.empty() ? vertexCount : indices.size();
        if (mode == GL_TRIANGLES) {
            for (size_t i = 0; i + 3 <= n; i += 3) list.insert(list.end(), {vertex(i), vertex(i + 1), vertex(i + 2)});
        } else {
            for (size_t i = 0; i + 2 < n; ++i) {
                if (mode == GL_TRIANGLE_FAN)
                    list.insert(list.end(), {vertex(0), vertex(i + 1), vertex(i + 2)});
                else if (i % 2 == 0)
                    list.insert(list.end(), {vertex(i), vertex(i + 1), vertex(i + 2)});
                else
                    list.insert(list.end(), {vertex(i + 1), vertex(i), vertex(i + 2)});
            }
        }
        drawBlended(vertices, format.stride, list, c);
    } else if (indices.empty()) {
        glDrawArrays(mode, 0, GLsizei(vertexCount));
    } else {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * 4), indices.data(), GL_STREAM_DRAW);
        glDrawElements(mode, GLsizei(indices.size()), GL_UNSIGNED_INT, nullptr);
    }
    glBindVertexArray(0);
    glDisable(GL_SCISSOR_TEST);
}

void GlRenderer::drawBlended(const uint8_t* vertices, UINT stride, const std::vector<uint32_t>& triangles,
                             const RECT& clip) {
    auto position = [&](uint32_t v) {
        float xy[2];
        std::memcpy(xy, vertices + size_t(v) * stride, sizeof xy);
        return std::pair{xy[0], xy[1]};
    };
    // Whether triangle b shares an edge with triangle a and lies on the other side of it
    // (the two halves of a rectangle): then no pixel belongs to both.
    auto side = [&](uint32_t p, uint32_t q, uint32_t r) {
        auto [px, py] = position(p);
        auto [qx, qy] = position(q);
        auto [rx, ry] = position(r);
        double cross = (double(qx) - px) * (double(ry) - py) - (double(qy) - py) * (double(rx) - px);
        return cross > 0 ? 1 : cross < 0 ? -1 : 0;
    };
    auto disjoint = [&](const uint32_t* a, const uint32_t* b) {
        for (int i = 0; i < 3; ++i) {
            uint32_t p = a[i], q = a[(i + 1) % 3], r = a[(i + 2) % 3];
            for (int j = 0; j < 3; ++j) {
                uint32_t s = b[j], t = b[(j + 1) % 3], u = b[(j + 2) % 3];
                bool shared = (s == p && t == q) || (s == q && t == p);
                if (shared) {
                    int one = side(p, q, r), two = side(p, q, u);
                    return one != 0 && two != 0 && one != two;
                }
            }
        }
        return false;
    };
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(triangles.size() * 4), triangles.data(), GL_STREAM_DRAW);
    size_t count = triangles.size() / 3;
    for (size_t first = 0; first < count;) {
        size_t last = first + 1;
        if (last < count && disjoint(&triangles[first * 3], &triangles[last * 3])) ++last;
        // The pixels the batch may touch, in the picture's rows.
        float minX = 1e30f, minY = 1e30f, maxX = -1e30f, maxY = -1e30f;
        for (size_t i = first * 3; i < last * 3; ++i) {
            auto [x, y] = position(triangles[i]);
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
        auto bound = [](float v, LONG low, LONG high) {
            if (!(v == v)) return low;  // NaN positions cover nothing we can bound: take all
            return LONG(std::clamp<double>(v, double(low), double(high)));
        };
        LONG x0 = bound(std::floor(minX) - 1, clip.left, clip.right),
             x1 = bound(std::ceil(maxX) + 1, clip.left, clip.right);
        LONG y0 = bound(std::floor(minY) - 1, clip.top, clip.bottom),
             y1 = bound(std::ceil(maxY) + 1, clip.top, clip.bottom);
        if (!(minX == minX) || !(maxX == maxX) || !(minY == minY) || !(maxY == maxY)) {
            x0 = clip.left, x1 = clip.right, y0 = clip.top, y1 = clip.bottom;
        }
        if (x0 < x1 && y0 < y1) {
            glActiveTexture(GL_TEXTURE2);
            glBindTexture(GL_TEXTURE_2D, destinationCopy_);
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, x0, y0, x1 - x0, y1 - y0);
            glDrawElements(GL_TRIANGLES, GLsizei((last - first) * 3), GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(first * 3 * sizeof(uint32_t)));
        }
        first = last;
    }
}

void GlRenderer::readPicture(uint32_t* out, uint32_t pitchInPixels) {
    bindTarget();
    glPixelStorei(GL_PACK_ROW_LENGTH, GLint(pitchInPixels));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, GLsizei(width_), GLsizei(height_), GL_BGRA, GL_UNSIGNED_BYTE, out);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    if (opaque_) {
        for (uint32_t y = 0; y < height_; ++y)
            for (uint32_t x = 0; x < width_; ++x) out[size_t(y) * pitchInPixels + x] |= 0xFF000000u;
    }
}

void GlRenderer::writePicture(const uint32_t* argb, uint32_t pitchInPixels) {
    bindTarget();
    GLuint staging = 0;
    glGenTextures(1, &staging);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, staging);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitchInPixels));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width_), GLsizei(height_), 0, GL_BGRA, GL_UNSIGNED_BYTE, argb);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    GLuint source = 0;
    glGenFramebuffers(1, &source);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, staging, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBlitFramebuffer(0, 0, GLint(width_), GLint(height_), 0, 0, GLint(width_), GLint(height_), GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glDeleteFramebuffers(1, &source);
    glDeleteTextures(1, &staging);
}

void GlRenderer::present() {
    context_->makeCurrent(window_);
    qreal ratio = window_->devicePixelRatio();
    GLint ww = GLint(window_->width() * ratio), wh = GLint(window_->height() * ratio);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_->defaultFramebufferObject());
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // The picture's first row is the top of the window: flip while stretching it over.
    glBlitFramebuffer(0, 0, GLint(width_), GLint(height_), 0, wh, ww, 0, GL_COLOR_BUFFER_BIT,
                      (GLint(width_) == ww && GLint(height_) == wh) ? GL_NEAREST : GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    context_->swapBuffers(window_);
}

}  // namespace gfx
