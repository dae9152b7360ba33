#pragma once
// Where each component of a flexible-vertex-format vertex lies, and decoding one vertex.
#include <cstdint>

#include "framework/d3d9/D3D9Types.h"
#include "platform/gfx/Rasterizer.h"

namespace gfx {

struct VertexLayout {
    bool valid = false;
    bool transformed = false;  // XYZRHW: screen positions
    uint32_t size = 0;         // bytes of one vertex
    int diffuse = -1, specular = -1;
    int texCount = 0;
    int texOffset[kMaxTexCoords] = {};
    int texSize[kMaxTexCoords] = {};  // floats per set
};

// Layout of an FVF code; invalid for codes without a position or with unknown bits.
VertexLayout vertexLayout(DWORD fvf);

// Reads one vertex (screen position for transformed layouts, object position otherwise).
RasterVertex decodeVertex(const VertexLayout& layout, const uint8_t* data);

}  // namespace gfx
