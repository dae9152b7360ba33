#include "platform/gfx/VertexLayout.h"

#include <cstring>

namespace gfx {

VertexLayout vertexLayout(DWORD fvf) {
    VertexLayout l;
    uint32_t offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            offset = 12;
            break;
        case D3DFVF_XYZRHW:
            offset = 16;
            l.transformed = true;
            break;
        case D3DFVF_XYZW:
            offset = 16;
            break;
        case D3DFVF_XYZB1:
            offset = 16;
            break;
        case D3DFVF_XYZB2:
            offset = 20;
            break;
        case D3DFVF_XYZB3:
            offset = 24;
            break;
        case D3DFVF_XYZB4:
            offset = 28;
            break;
        case D3DFVF_XYZB5:
            offset = 32;
            break;
        default:
            return l;
    }
    if (fvf & D3DFVF_NORMAL) offset += 12;
    if (fvf & D3DFVF_PSIZE) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        l.diffuse = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        l.specular = static_cast<int>(offset);
        offset += 4;
    }
    int count = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (count > kMaxTexCoords) return l;
    l.texCount = count;
    for (int i = 0; i < count; ++i) {
        static const int kFloats[4] = {2, 3, 4, 1};
        l.texSize[i] = kFloats[(fvf >> (16 + 2 * i)) & 3];
        l.texOffset[i] = static_cast<int>(offset);
        offset += 4u * static_cast<uint32_t>(l.texSize[i]);
    }
    l.size = offset;
    l.valid = true;
    return l;
}

RasterVertex decodeVertex(const VertexLayout& l, const uint8_t* data) {
    RasterVertex v{};
    std::memcpy(&v.x, data, 12);
    v.rhw = 1.0f;
    if (l.transformed) std::memcpy(&v.rhw, data + 12, 4);
    v.diffuse = 0xFFFFFFFFu;
    if (l.diffuse >= 0) std::memcpy(&v.diffuse, data + l.diffuse, 4);
    if (l.specular >= 0) std::memcpy(&v.specular, data + l.specular, 4);
    for (int i = 0; i < l.texCount; ++i) {
        std::memcpy(&v.tex[i][0], data + l.texOffset[i], 4);
        if (l.texSize[i] >= 2) std::memcpy(&v.tex[i][1], data + l.texOffset[i] + 4, 4);
    }
    return v;
}

}  // namespace gfx
