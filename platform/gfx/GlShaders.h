#pragma once
// Sources of the OpenGL device's programs. The general program carries out every
// fixed-function state the device supports in the software device's integer arithmetic;
// the layer program does the compositor's common draw (one texture stage reading the
// texture and a constant diffuse colour, optional alpha test and source-alpha blending)
// with the same results at a fraction of the cost, one variant per key.
#include <cstdint>
#include <string>

namespace gfx {

// What a layer program variant does; packed into a number for the program cache.
struct GlLayerKey {
    enum Source : uint8_t { Modulate, Texture, Diffuse };
    bool linear = false;                  // bilinear filtering, else point sampling
    bool clampU = false, clampV = false;  // clamp addressing, else wrap
    Source color = Modulate, alpha = Modulate;
    bool forceOpaque = false;   // the texture format has no alpha
    uint8_t alphaFunc = 0;      // D3DCMP_* of the alpha test; 0 when it is off
    bool blend = false;         // source alpha over the picture, read with framebuffer fetch
    bool opaqueTarget = false;  // the picture keeps alpha 255
    // Nothing but the texel: point sampling by OpenGL itself, with texture coordinates the
    // caller moved to Direct3D's pixel centres (only when that picks the reference's texels).
    bool copy = false;
    // OpenGL's point sampling at moved coordinates (as for copy), followed by the rest.
    bool sampled = false;

    uint32_t packed() const;
};

// The general program; with fetch it reads the picture through framebuffer fetch for its
// blending, else from a copy bound as the destination texture.
const char* generalVertexShader();
std::string generalFragmentShader(bool fetch);

const char* layerVertexShader(const GlLayerKey& key);
std::string layerFragmentShader(const GlLayerKey& key);

// Shows the picture (rows top first) over the whole window.
const char* presentVertexShader();
const char* presentFragmentShader();

}  // namespace gfx
