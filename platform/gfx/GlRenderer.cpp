#include "platform/gfx/GlRenderer.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "platform/gfx/CompositeKernels.h"
#include "platform/gfx/SoftwareFormats.h"

namespace gfx {
namespace {

std::atomic<bool> fetchAllowed{true};

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

// Whether every pixel of the rectangle has alpha 255.
bool opaquePixels(const uint32_t* argb, uint32_t pitch, const RECT& r) {
    for (LONG y = r.top; y < r.bottom; ++y) {
        const uint32_t* row = argb + size_t(y) * pitch;
        uint32_t all = 0xFFFFFFFFu;
        for (LONG x = r.left; x < r.right; ++x) all &= row[x];
        if ((all >> 24) != 0xFF) return false;
    }
    return true;
}

// A stage argument without modifiers that reads the texture or the diffuse colour (the
// current colour is the diffuse one at the first stage).
bool plainTexture(DWORD arg) {
    return arg == D3DTA_TEXTURE;
}
bool plainDiffuse(DWORD arg) {
    return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT;
}

bool layerSource(DWORD op, DWORD arg1, DWORD arg2, GlLayerKey::Source* source) {
    if (op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2) {
        DWORD arg = op == D3DTOP_SELECTARG1 ? arg1 : arg2;
        if (plainTexture(arg))
            *source = GlLayerKey::Texture;
        else if (plainDiffuse(arg))
            *source = GlLayerKey::Diffuse;
        else
            return false;
        return true;
    }
    if (op == D3DTOP_MODULATE &&
        ((plainTexture(arg1) && plainDiffuse(arg2)) || (plainDiffuse(arg1) && plainTexture(arg2)))) {
        *source = GlLayerKey::Modulate;
        return true;
    }
    return false;
}

void forEachVertex(const std::vector<uint32_t>& indices, size_t vertexCount, const std::function<bool(uint32_t)>& f) {
    if (indices.empty()) {
        for (size_t i = 0; i < vertexCount; ++i)
            if (!f(uint32_t(i))) return;
    } else {
        for (uint32_t i : indices)
            if (!f(i)) return;
    }
}

}  // namespace

void GlRenderer::allowFramebufferFetch(bool on) {
    fetchAllowed = on;
}

GlRenderer::GlRenderer() = default;

GlRenderer::~GlRenderer() {
    close();
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
    fetch_ = fetchAllowed && context_->hasExtension("GL_EXT_shader_framebuffer_fetch");
    if (!buildGeneral() && fetch_) {
        // A driver that names the extension but refuses the shader: blend from copies.
        fetch_ = false;
        buildGeneral();
    }
    if (!general_.id || !buildTarget(width, height)) {
        close();
        return false;
    }
    presentProgram_ = compileProgram(presentVertexShader(), presentFragmentShader());
    if (!presentProgram_) {
        close();
        return false;
    }
    glUseProgram(presentProgram_);
    glUniform1i(glGetUniformLocation(presentProgram_, "tex"), 0);
    glGenVertexArrays(1, &vao_);
    glGenVertexArrays(1, &presentVao_);
    glGenBuffers(1, &vertexBuffer_);
    glGenBuffers(1, &indexBuffer_);
    glGenSamplers(4, nearestSamplers_);
    for (int i = 0; i < 4; ++i) {
        glSamplerParameteri(nearestSamplers_[i], GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glSamplerParameteri(nearestSamplers_[i], GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glSamplerParameteri(nearestSamplers_[i], GL_TEXTURE_WRAP_S, (i & 1) ? GL_CLAMP_TO_EDGE : GL_REPEAT);
        glSamplerParameteri(nearestSamplers_[i], GL_TEXTURE_WRAP_T, (i & 2) ? GL_CLAMP_TO_EDGE : GL_REPEAT);
    }
    return true;
}

void GlRenderer::close() {
    if (!context_) return;
    context_->makeCurrent(window_);
    for (auto& [key, t] : textures_) glDeleteTextures(1, &t.name);
    textures_.clear();
    releaseTarget();
    if (general_.id) glDeleteProgram(general_.id);
    general_ = GeneralProgram{};
    for (auto& [key, p] : layers_)
        if (p.id) glDeleteProgram(p.id);
    layers_.clear();
    if (presentProgram_) glDeleteProgram(presentProgram_);
    if (vao_) glDeleteVertexArrays(1, &vao_);
    if (presentVao_) glDeleteVertexArrays(1, &presentVao_);
    if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
    if (indexBuffer_) glDeleteBuffers(1, &indexBuffer_);
    if (nearestSamplers_[0]) glDeleteSamplers(4, nearestSamplers_);
    presentProgram_ = vao_ = presentVao_ = vertexBuffer_ = indexBuffer_ = 0;
    std::fill(std::begin(nearestSamplers_), std::end(nearestSamplers_), 0u);
    context_->doneCurrent();
    context_.reset();
    window_ = nullptr;
}

GLuint GlRenderer::compileProgram(const char* vertex, const std::string& fragment) {
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
    GLuint vs = compile(GL_VERTEX_SHADER, vertex);
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment.c_str());
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

bool GlRenderer::buildGeneral() {
    if (general_.id) glDeleteProgram(general_.id);
    general_ = GeneralProgram{};
    GLuint id = compileProgram(generalVertexShader(), generalFragmentShader(fetch_));
    if (!id) return false;
    GeneralProgram& g = general_;
    g.id = id;
    auto at = [&](const char* name) { return glGetUniformLocation(id, name); };
    g.targetSize = at("targetSize");
    g.present = at("present");
    g.shaderBlend = at("shaderBlend");
    g.opaqueTarget = at("opaqueTarget");
    g.blendColor = at("blendColor");
    g.blendAlpha = at("blendAlpha");
    g.blendConstant = at("blendConstant");
    g.stageCount = at("stageCount");
    g.factor = at("factor");
    g.alphaTest = at("alphaTest");
    g.alphaFunc = at("alphaFunc");
    g.alphaRef = at("alphaRef");
    for (int s = 0; s < 2; ++s) {
        std::string i = "[" + std::to_string(s) + "]";
        auto stage = [&](const char* name) { return at((name + i).c_str()); };
        StageUniforms& u = g.stages[s];
        u.hasTex = stage("hasTex");
        u.texSize = stage("texSize");
        u.forceOpaque = stage("forceOpaque");
        u.texSet = stage("texSet");
        u.addressMode = stage("addressMode");
        u.border = stage("border");
        u.linearFilter = stage("linearFilter");
        u.colorOps = stage("colorOps");
        u.alphaOps = stage("alphaOps");
        u.resultArg = stage("resultArg");
    }
    glUseProgram(id);
    glUniform1i(at("tex0"), 0);
    glUniform1i(at("tex1"), 1);
    if (!fetch_) glUniform1i(at("destination"), 2);
    return true;
}

const GlRenderer::LayerProgram* GlRenderer::layerProgram(const GlLayerKey& key) {
    auto [it, added] = layers_.try_emplace(key.packed());
    LayerProgram& p = it->second;
    if (added) {
        // Made once per variant; a variant the driver refuses stays empty and its draws
        // take the general program.
        p.id = compileProgram(layerVertexShader(key), layerFragmentShader(key));
        if (p.id) {
            p.targetSize = glGetUniformLocation(p.id, "targetSize");
            p.texSize = glGetUniformLocation(p.id, "texSize");
            p.diffuse = glGetUniformLocation(p.id, "diffuse");
            p.alphaRef = glGetUniformLocation(p.id, "alphaRef");
            glUseProgram(p.id);
            glUniform1i(glGetUniformLocation(p.id, "tex"), 0);
        }
    }
    return p.id ? &p : nullptr;
}

bool GlRenderer::buildTarget(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
    // Unsized RGBA with BGRA pixels lets the driver store BGRA: Direct3D's layout, which
    // copies without conversion and suits a software rasteriser's fast paths.
    glGenTextures(1, &colorTexture_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colorTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenRenderbuffers(1, &depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, GLsizei(width), GLsizei(height));
    if (!fetch_) {
        glGenTextures(1, &destinationCopy_);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, destinationCopy_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    }
    // Draws that test no depth go to a frame buffer without it: the rasteriser may then
    // drop whatever an opaque draw covers.
    glGenFramebuffers(1, &pictureFrame_);
    glBindFramebuffer(GL_FRAMEBUFFER, pictureFrame_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorTexture_, 0);
    bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glGenFramebuffers(1, &depthFrame_);
    glBindFramebuffer(GL_FRAMEBUFFER, depthFrame_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorTexture_, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    complete = complete && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        // A new back buffer starts black (opaque when the format has no alpha) with depth 1.
        glViewport(0, 0, GLsizei(width), GLsizei(height));
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, opaque_ ? 1.0f : 0.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    depthUniform_ = true;
    depthOwed_ = false;
    depthZ_ = 1.0f;
    return complete;
}

void GlRenderer::releaseTarget() {
    if (pictureFrame_) glDeleteFramebuffers(1, &pictureFrame_);
    if (depthFrame_) glDeleteFramebuffers(1, &depthFrame_);
    if (colorTexture_) glDeleteTextures(1, &colorTexture_);
    if (depthBuffer_) glDeleteRenderbuffers(1, &depthBuffer_);
    if (destinationCopy_) glDeleteTextures(1, &destinationCopy_);
    pictureFrame_ = depthFrame_ = colorTexture_ = depthBuffer_ = destinationCopy_ = 0;
}

void GlRenderer::bindTarget(bool withDepth) {
    context_->makeCurrent(window_);
    glBindFramebuffer(GL_FRAMEBUFFER, withDepth ? depthFrame_ : pictureFrame_);
    glViewport(0, 0, GLsizei(width_), GLsizei(height_));
    if (withDepth && depthOwed_) {
        glDisable(GL_SCISSOR_TEST);
        glDepthMask(GL_TRUE);
        glClearDepth(depthZ_);
        glClear(GL_DEPTH_BUFFER_BIT);
        depthOwed_ = false;
    }
}

void GlRenderer::setClip(const RECT& c) {
    // Scissoring only when it cuts something, so that full-picture draws stay plain.
    if (c.left <= 0 && c.top <= 0 && c.right >= LONG(width_) && c.bottom >= LONG(height_)) {
        glDisable(GL_SCISSOR_TEST);
    } else {
        glEnable(GL_SCISSOR_TEST);
        glScissor(c.left, c.top, c.right - c.left, c.bottom - c.top);
    }
}

bool GlRenderer::resize(uint32_t width, uint32_t height, bool opaqueTarget) {
    if (!context_) return false;
    context_->makeCurrent(window_);
    releaseTarget();
    opaque_ = opaqueTarget;
    return buildTarget(width, height);
}

void GlRenderer::uploadTexture(const void* key, const uint32_t* argb, uint32_t pitchInPixels, uint32_t width,
                               uint32_t height, bool forceOpaque, const RECT* region) {
    context_->makeCurrent(window_);
    Texture& t = textures_[key];
    glActiveTexture(GL_TEXTURE0);
    if (!t.name) glGenTextures(1, &t.name);
    glBindTexture(GL_TEXTURE_2D, t.name);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitchInPixels));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    RECT all{0, 0, LONG(width), LONG(height)};
    RECT r = all;
    if (region) {
        r.left = std::clamp<LONG>(region->left, 0, LONG(width));
        r.top = std::clamp<LONG>(region->top, 0, LONG(height));
        r.right = std::clamp<LONG>(region->right, r.left, LONG(width));
        r.bottom = std::clamp<LONG>(region->bottom, r.top, LONG(height));
    }
    if (t.width != width || t.height != height) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, argb);
        t.width = width;
        t.height = height;
        t.allOpaque = forceOpaque || opaquePixels(argb, pitchInPixels, all);
    } else if (r.left < r.right && r.top < r.bottom) {
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, GLint(r.left));
        glPixelStorei(GL_UNPACK_SKIP_ROWS, GLint(r.top));
        glTexSubImage2D(GL_TEXTURE_2D, 0, GLint(r.left), GLint(r.top), GLsizei(r.right - r.left),
                        GLsizei(r.bottom - r.top), GL_BGRA, GL_UNSIGNED_BYTE, argb);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        // An opaque texture stays opaque when the new part is; otherwise look at all of it.
        bool whole = r.left == 0 && r.top == 0 && r.right == all.right && r.bottom == all.bottom;
        t.allOpaque = forceOpaque || (t.allOpaque || whole ? opaquePixels(argb, pitchInPixels, r)
                                                           : opaquePixels(argb, pitchInPixels, all));
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
    bool full = false;
    for (const RECT& r : regions)
        full = full || (r.left <= 0 && r.top <= 0 && r.right >= LONG(width_) && r.bottom >= LONG(height_));
    if (depth && full) {
        // The depth clear waits until a draw tests depth; most frames have none.
        depthUniform_ = true;
        depthOwed_ = true;
        depthZ_ = z;
        depth = false;
    }
    if (!color && !depth) return;
    bindTarget(depth);
    if (depth) depthUniform_ = false;
    // A target without alpha keeps alpha 255.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(channel(value, 16), channel(value, 8), channel(value, 0), opaque_ ? 1.0f : channel(value, 24));
    glClearDepth(z);
    GLbitfield bits = (color ? GL_COLOR_BUFFER_BIT : 0) | (depth ? GL_DEPTH_BUFFER_BIT : 0);
    for (const RECT& r : regions) {
        if (r.left >= r.right || r.top >= r.bottom) continue;
        setClip(r);
        glClear(bits);
    }
    glDisable(GL_SCISSOR_TEST);
}

GlRenderer::Depth GlRenderer::planDepth(const GlDrawState& state, const uint8_t* vertices, UINT stride,
                                        const std::vector<uint32_t>& indices, size_t vertexCount) {
    if (!state.depthTest) return Depth::Off;
    if (!depthUniform_) return Depth::Test;
    // Against a uniform depth buffer a draw at one depth passes or fails everywhere; when
    // it passes and writes nothing new, no test is needed (the software device decides
    // the same way, at the depth format's precision).
    float z0 = 0;
    bool first = true, constant = true;
    forEachVertex(indices, vertexCount, [&](uint32_t v) {
        float z;
        std::memcpy(&z, vertices + size_t(v) * stride + 8, sizeof z);
        if (first) z0 = z, first = false;
        constant = std::memcmp(&z, &z0, sizeof z) == 0;
        return constant;
    });
    if (!constant || first) return Depth::Test;
    uint32_t zq = quantizeDepth(z0, state.depthMax), uq = quantizeDepth(depthZ_, state.depthMax);
    if (!compareFunc(state.depthFunc, zq, uq)) return Depth::Nothing;
    if (!state.depthWrite || zq == uq) return Depth::Off;
    return Depth::Test;
}

bool GlRenderer::planLayer(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                           size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount, Depth depth,
                           LayerPlan* plan) {
    if (mode != GL_TRIANGLES && mode != GL_TRIANGLE_STRIP && mode != GL_TRIANGLE_FAN) return false;
    if (state.stageCount != 1) return false;
    const GlStage& st = state.stages[0];
    auto texture = textures_.find(st.texture);
    if (!st.texture || texture == textures_.end()) return false;
    DWORD set = st.texCoordIndex & 0xFFFF;
    if (set >= DWORD(format.texCount) || (st.resultArg & D3DTA_SELECTMASK) == D3DTA_TEMP) return false;
    GlLayerKey& key = plan->key;
    if (!layerSource(st.colorOp, st.colorArg1, st.colorArg2, &key.color)) return false;
    if (st.alphaOp == D3DTOP_DISABLE)
        key.alpha = GlLayerKey::Diffuse;
    else if (!layerSource(st.alphaOp, st.alphaArg1, st.alphaArg2, &key.alpha))
        return false;
    auto plainAddress = [](DWORD mode) { return mode == D3DTADDRESS_WRAP || mode == D3DTADDRESS_CLAMP; };
    if (!plainAddress(st.addressU) || !plainAddress(st.addressV) || st.magLinear != st.minLinear) return false;
    key.linear = st.magLinear;
    key.clampU = st.addressU == D3DTADDRESS_CLAMP;
    key.clampV = st.addressV == D3DTADDRESS_CLAMP;
    bool fullWrite = state.colorWrite == 0xF || (opaque_ && (state.colorWrite & 7) == 7);
    if (!fullWrite) return false;
    bool blend = false;
    if (state.blend) {
        DWORD s, d, sa, da;
        splitFactor({state.srcBlend, state.destBlend}, &s, &d);
        if (state.separateAlpha)
            splitFactor({state.srcBlendAlpha, state.destBlendAlpha}, &sa, &da);
        else
            sa = s, da = d;
        DWORD opA = state.separateAlpha ? state.blendOpAlpha : state.blendOp;
        if (s != D3DBLEND_SRCALPHA || d != D3DBLEND_INVSRCALPHA || sa != s || da != d ||
            state.blendOp != D3DBLENDOP_ADD || opA != D3DBLENDOP_ADD)
            return false;
        blend = true;
    }
    // One diffuse colour for the whole draw (a layer's four corners share it).
    if (format.diffuse >= 0) {
        uint32_t colour = 0;
        bool first = true, same = true;
        forEachVertex(indices, vertexCount, [&](uint32_t v) {
            uint32_t c;
            std::memcpy(&c, vertices + size_t(v) * format.stride + format.diffuse, sizeof c);
            if (first) colour = c, first = false;
            same = c == colour;
            return same;
        });
        if (!same) return false;
        plan->diffuse[0] = int((colour >> 16) & 255);
        plan->diffuse[1] = int((colour >> 8) & 255);
        plan->diffuse[2] = int(colour & 255);
        plan->diffuse[3] = int(colour >> 24);
    }
    plan->texture = &texture->second;
    plan->texSet = int(set);
    key.forceOpaque = texture->second.forceOpaque;
    key.opaqueTarget = opaque_;

    // When the source alpha is the same for every pixel, the alpha test and the blend are
    // decided here: alpha 255 blends to the source itself, alpha 0 to the picture itself.
    bool textureOpaque = texture->second.allOpaque || texture->second.forceOpaque;
    int da = plan->diffuse[3];
    int alpha = -1;
    if (key.alpha == GlLayerKey::Diffuse || (key.alpha == GlLayerKey::Modulate && da == 0))
        alpha = key.alpha == GlLayerKey::Diffuse ? da : 0;
    else if (textureOpaque)
        alpha = key.alpha == GlLayerKey::Texture ? 255 : int(mul255(255, uint32_t(da)));
    bool test = state.alphaTest && state.alphaFunc != D3DCMP_ALWAYS;
    if (alpha >= 0) {
        if (test && !compareFunc(state.alphaFunc, uint32_t(alpha), state.alphaRef & 0xFF)) {
            plan->nothing = true;
            return true;
        }
        test = false;
        if (blend && alpha == 255) blend = false;
        if (blend && alpha == 0 && depth != Depth::Test) {
            plan->nothing = true;
            return true;
        }
    }
    key.alphaFunc = test ? uint8_t(state.alphaFunc) : 0;
    key.blend = blend;
    // Blending without framebuffer fetch needs the general program's copies.
    if (blend && !fetch_) return false;

    // Nothing but the texel reaches the picture: the texture alone, or modulated by white,
    // with the texel's alpha (or any, when the picture keeps alpha 255).
    bool white = plan->diffuse[0] == 255 && plan->diffuse[1] == 255 && plan->diffuse[2] == 255;
    bool colorCopy = key.color == GlLayerKey::Texture || (key.color == GlLayerKey::Modulate && white);
    bool alphaCopy =
        opaque_ ||
        (!key.forceOpaque && (key.alpha == GlLayerKey::Texture || (key.alpha == GlLayerKey::Modulate && da == 255)));
    if (!key.linear && planCopy(state, format, vertices, vertexBytes, indices, vertexCount, *plan)) {
        plan->movedVertices = true;
        key.sampled = true;
        if (!blend && !test && colorCopy && alphaCopy) {
            GlLayerKey copy;
            copy.copy = true;
            copy.clampU = key.clampU;
            copy.clampV = key.clampV;
            key = copy;
        }
    }
    return true;
}

bool GlRenderer::planCopy(const GlDrawState& state, const GlVertexFormat& format, const uint8_t* vertices,
                          size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount,
                          const LayerPlan& plan) {
    struct Corner {
        double x, y, u, v;
    };
    int texOffset = format.texOffset[plan.texSet];
    auto corner = [&](uint32_t i) {
        const uint8_t* p = vertices + size_t(i) * format.stride;
        float xy[2], uv[2];
        std::memcpy(xy, p, sizeof xy);
        std::memcpy(uv, p + texOffset, sizeof uv);
        return Corner{xy[0], xy[1], uv[0], uv[1]};
    };
    // One affine map from the screen to the texture for the whole draw, found from three
    // corners that span a triangle.
    std::vector<Corner> corners;
    bool finite = true;
    forEachVertex(indices, vertexCount, [&](uint32_t i) {
        Corner c = corner(i);
        finite = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.u) && std::isfinite(c.v);
        corners.push_back(c);
        return finite && corners.size() <= 64;
    });
    if (!finite || corners.size() < 3 || corners.size() > 64) return false;
    const Corner& a = corners[0];
    const Corner* b = nullptr;
    const Corner* c = nullptr;
    double det = 0;
    for (size_t i = 1; i < corners.size() && !c; ++i) {
        if (!b) {
            if (corners[i].x != a.x || corners[i].y != a.y) b = &corners[i];
            continue;
        }
        det = (b->x - a.x) * (corners[i].y - a.y) - (corners[i].x - a.x) * (b->y - a.y);
        if (det != 0) c = &corners[i];
    }
    if (!c) return false;
    auto plane = [&](double Corner::*value, double* gx, double* gy) {
        *gx = ((b->*value - a.*value) * (c->y - a.y) - (c->*value - a.*value) * (b->y - a.y)) / det;
        *gy = ((c->*value - a.*value) * (b->x - a.x) - (b->*value - a.*value) * (c->x - a.x)) / det;
    };
    double ux, uy, vx, vy;
    plane(&Corner::u, &ux, &uy);
    plane(&Corner::v, &vx, &vy);
    // u must follow x alone and v y alone, so that columns and rows can be checked.
    if (std::abs(uy) > 1e-12 || std::abs(vx) > 1e-12) return false;
    double minX = a.x, maxX = a.x, minY = a.y, maxY = a.y;
    for (const Corner& k : corners) {
        double u = a.u + ux * (k.x - a.x), v = a.v + vy * (k.y - a.y);
        if (std::abs(u - k.u) > 1e-6 * (1 + std::abs(u)) || std::abs(v - k.v) > 1e-6 * (1 + std::abs(v))) return false;
        minX = std::min(minX, k.x), maxX = std::max(maxX, k.x);
        minY = std::min(minY, k.y), maxY = std::max(maxY, k.y);
    }
    // At every pixel centre the reference's texel (position rounded to 1/256 texel, then
    // floored) must be the one OpenGL's nearest sampling floors to, with room for float
    // error: positions within 1/256 of a texel edge are left to the exact program.
    auto clear = [](double start, double step, long first, long last) {
        for (long i = first; i < last; ++i) {
            // Far from the texture, float coordinates cannot tell texels apart.
            double t = start + step * double(i);
            if (!(std::abs(t) < 65536.0)) return false;
            double f = t - std::floor(t);
            if (!(f >= 1.0 / 256 && f <= 1.0 - 1.0 / 256)) return false;
        }
        return true;
    };
    double w = plan.texture->width, h = plan.texture->height;
    // Pixels the draw may cover, bounded by the clip before any conversion to integers.
    auto span = [](double lo, double hi, LONG first, LONG last, long* from, long* to) {
        *from = long(std::clamp(std::floor(lo), double(first), double(last)));
        *to = long(std::clamp(std::ceil(hi) + 1, double(first), double(last)));
    };
    long x0, x1, y0, y1;
    span(minX, maxX, state.clip.left, state.clip.right, &x0, &x1);
    span(minY, maxY, state.clip.top, state.clip.bottom, &y0, &y1);
    if (!clear((a.u - ux * a.x) * w, ux * w, x0, x1) || !clear((a.v - vy * a.y) * h, vy * h, y0, y1)) return false;

    // OpenGL interpolates at Direct3D's pixel centre plus 1/256 (see the vertex shader):
    // move the coordinates back by that much.
    float du = float(ux / 256.0), dv = float(vy / 256.0);
    copyVertices_.assign(vertices, vertices + vertexBytes);
    for (size_t off = 0; off + format.stride <= vertexBytes; off += format.stride) {
        float uv[2];
        std::memcpy(uv, &copyVertices_[off + texOffset], sizeof uv);
        uv[0] -= du;
        uv[1] -= dv;
        std::memcpy(&copyVertices_[off + texOffset], uv, sizeof uv);
    }
    return true;
}

void GlRenderer::draw(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                      size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount) {
    ++draws_;
    const RECT& c = state.clip;
    if (c.left >= c.right || c.top >= c.bottom) return;
    Depth depth = planDepth(state, vertices, format.stride, indices, vertexCount);
    if (depth == Depth::Nothing) return;
    LayerPlan plan;
    if (planLayer(state, format, mode, vertices, vertexBytes, indices, vertexCount, depth, &plan)) {
        if (plan.nothing) {
            ++layerDraws_;
            return;
        }
        if (const LayerProgram* program = layerProgram(plan.key)) {
            ++layerDraws_;
            if (plan.key.copy) ++copyDraws_;
            drawLayer(state, format, mode, vertices, vertexBytes, indices, vertexCount, depth, plan, *program);
            return;
        }
    }
    drawGeneral(state, format, mode, vertices, vertexBytes, indices, vertexCount, depth);
}

void GlRenderer::setFixedStates(const GlDrawState& state, Depth depth) {
    bindTarget(depth == Depth::Test);
    setClip(state.clip);
    if (depth == Depth::Test) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(depthFunction(state.depthFunc));
        glDepthMask(state.depthWrite ? GL_TRUE : GL_FALSE);
        if (state.depthWrite) depthUniform_ = false;
    } else {
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
    }
    if (state.cull == D3DCULL_NONE) {
        glDisable(GL_CULL_FACE);
    } else {
        // Rows are stored top first, so Direct3D's clockwise is OpenGL's counter-clockwise.
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(state.cull == D3DCULL_CCW ? GL_BACK : GL_FRONT);
    }
}

void GlRenderer::bindVertices(const uint8_t* vertices, size_t vertexBytes) {
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertexBytes), vertices, GL_STREAM_DRAW);
}

void GlRenderer::drawLayer(const GlDrawState& state, const GlVertexFormat& format, GLenum mode, const uint8_t* vertices,
                           size_t vertexBytes, const std::vector<uint32_t>& indices, size_t vertexCount, Depth depth,
                           const LayerPlan& plan, const LayerProgram& program) {
    setFixedStates(state, depth);
    glDisable(GL_BLEND);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glUseProgram(program.id);
    glUniform2f(program.targetSize, float(width_), float(height_));
    glUniform2i(program.texSize, GLint(plan.texture->width), GLint(plan.texture->height));
    glUniform4f(program.diffuse, float(plan.diffuse[0]), float(plan.diffuse[1]), float(plan.diffuse[2]),
                float(plan.diffuse[3]));
    glUniform1f(program.alphaRef, float(state.alphaRef & 0xFF));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, plan.texture->name);
    glBindSampler(0, nearestSamplers_[(plan.key.clampU ? 1 : 0) | (plan.key.clampV ? 2 : 0)]);

    if (plan.movedVertices)
        bindVertices(copyVertices_.data(), copyVertices_.size());
    else
        bindVertices(vertices, vertexBytes);
    auto at = [](int offset) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset)); };
    GLsizei stride = GLsizei(format.stride);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, at(0));
    glEnableVertexAttribArray(3);
    glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, stride, at(format.texOffset[plan.texSet]));
    for (GLuint unused : {1u, 2u, 4u}) glDisableVertexAttribArray(unused);
    submit(mode, indices, vertexCount);
    glBindSampler(0, 0);
}

void GlRenderer::submit(GLenum mode, const std::vector<uint32_t>& indices, size_t vertexCount) {
    if (indices.empty()) {
        glDrawArrays(mode, 0, GLsizei(vertexCount));
    } else {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * 4), indices.data(), GL_STREAM_DRAW);
        glDrawElements(mode, GLsizei(indices.size()), GL_UNSIGNED_INT, nullptr);
    }
    glBindVertexArray(0);
}

void GlRenderer::drawGeneral(const GlDrawState& state, const GlVertexFormat& format, GLenum mode,
                             const uint8_t* vertices, size_t vertexBytes, const std::vector<uint32_t>& indices,
                             size_t vertexCount, Depth depth) {
    setFixedStates(state, depth);
    const RECT& c = state.clip;
    const GeneralProgram& g = general_;
    bool triangles = mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN;
    // With framebuffer fetch every primitive blends in the shader; without it triangles do,
    // against copies, and lines and points blend in OpenGL's arithmetic (within one level
    // of the software device's).
    bool shaderBlend = state.blend && (fetch_ || triangles);
    DWORD s, d, sa, da;
    splitFactor({state.srcBlend, state.destBlend}, &s, &d);
    if (state.separateAlpha)
        splitFactor({state.srcBlendAlpha, state.destBlendAlpha}, &sa, &da);
    else
        sa = s, da = d;
    DWORD op = state.blendOp, opA = state.separateAlpha ? state.blendOpAlpha : state.blendOp;
    if (state.blend && !shaderBlend) {
        glEnable(GL_BLEND);
        glBlendFuncSeparate(blendFactor(s), blendFactor(d), blendFactor(sa), blendFactor(da));
        glBlendEquationSeparate(blendEquation(op), blendEquation(opA));
        D3DCOLOR k = state.blendFactor;
        glBlendColor(channel(k, 16), channel(k, 8), channel(k, 0), channel(k, 24));
    } else {
        glDisable(GL_BLEND);
    }
    DWORD w = state.colorWrite;
    glColorMask((w & 1) != 0, (w & 2) != 0, (w & 4) != 0, (w & 8) != 0 && !opaque_);

    glUseProgram(g.id);
    glUniform2f(g.targetSize, float(width_), float(height_));
    glUniform1i(g.shaderBlend, shaderBlend ? 1 : 0);
    glUniform1i(g.opaqueTarget, opaque_ ? 1 : 0);
    if (shaderBlend) {
        // BOTH* factors are resolved above; the shader sees plain ones.
        glUniform3i(g.blendColor, GLint(s), GLint(d), GLint(op));
        glUniform3i(g.blendAlpha, GLint(sa), GLint(da), GLint(opA));
        D3DCOLOR k = state.blendFactor;
        glUniform4i(g.blendConstant, GLint((k >> 16) & 255), GLint((k >> 8) & 255), GLint(k & 255), GLint(k >> 24));
        if (!fetch_) {
            glActiveTexture(GL_TEXTURE2);
            glBindTexture(GL_TEXTURE_2D, destinationCopy_);
        }
    }
    glUniform1i(g.stageCount, state.stageCount);
    D3DCOLOR f = state.textureFactor;
    glUniform4i(g.factor, GLint((f >> 16) & 255), GLint((f >> 8) & 255), GLint(f & 255), GLint(f >> 24));
    glUniform1i(g.alphaTest, state.alphaTest ? 1 : 0);
    glUniform1i(g.alphaFunc, GLint(state.alphaFunc));
    glUniform1i(g.alphaRef, GLint(state.alphaRef & 0xFF));
    for (int i = 0; i < 2; ++i) {
        const GlStage& st = state.stages[i];
        const StageUniforms& u = g.stages[i];
        auto texture = textures_.find(st.texture);
        bool has = i < state.stageCount && st.texture && texture != textures_.end();
        glActiveTexture(GL_TEXTURE0 + i);
        glBindTexture(GL_TEXTURE_2D, has ? texture->second.name : 0);
        glUniform1i(u.hasTex, has ? 1 : 0);
        if (has) {
            glUniform2i(u.texSize, GLint(texture->second.width), GLint(texture->second.height));
            glUniform1i(u.forceOpaque, texture->second.forceOpaque ? 1 : 0);
        }
        glUniform1i(u.texSet, GLint(st.texCoordIndex & 0xFFFF) == 1 ? 1 : 0);
        glUniform2i(u.addressMode, GLint(st.addressU), GLint(st.addressV));
        DWORD b = st.borderColor;
        glUniform4i(u.border, GLint((b >> 16) & 255), GLint((b >> 8) & 255), GLint(b & 255), GLint(b >> 24));
        glUniform2i(u.linearFilter, st.magLinear ? 1 : 0, st.minLinear ? 1 : 0);
        glUniform4i(u.colorOps, GLint(st.colorOp), GLint(st.colorArg1), GLint(st.colorArg2), GLint(st.colorArg0));
        glUniform4i(u.alphaOps, GLint(st.alphaOp), GLint(st.alphaArg1), GLint(st.alphaArg2), GLint(st.alphaArg0));
        glUniform1i(u.resultArg, GLint(st.resultArg));
    }

    bindVertices(vertices, vertexBytes);
    GLsizei stride = GLsizei(format.stride);
    auto at = [](int offset) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset)); };
    glUniform3i(g.present, format.diffuse >= 0 ? 1 : 0, format.specular >= 0 ? 1 : 0, format.texCount);
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
    if (shaderBlend && !fetch_) {
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
        glBindVertexArray(0);
    } else {
        submit(mode, indices, vertexCount);
    }
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
    context_->makeCurrent(window_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colorTexture_);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitchInPixels));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(width_), GLsizei(height_), GL_BGRA, GL_UNSIGNED_BYTE, argb);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void GlRenderer::present() {
    context_->makeCurrent(window_);
    qreal ratio = window_->devicePixelRatio();
    GLint ww = GLint(window_->width() * ratio), wh = GLint(window_->height() * ratio);
    // Drawn rather than blitted: a plain textured rectangle is much cheaper on a software
    // rasteriser. The picture's first row goes to the top of the window.
    glBindFramebuffer(GL_FRAMEBUFFER, context_->defaultFramebufferObject());
    glViewport(0, 0, ww, wh);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glUseProgram(presentProgram_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colorTexture_);
    glBindSampler(0, 0);
    GLint filter = (GLint(width_) == ww && GLint(height_) == wh) ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glBindVertexArray(presentVao_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, pictureFrame_);
    context_->swapBuffers(window_);
}

}  // namespace gfx
