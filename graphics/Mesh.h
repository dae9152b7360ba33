#pragma once
// Geometry kept twice: a memory copy the owner edits, and default-pool device buffers
// rebuilt from it (after every edit, and after a device reset).
#include <cstdint>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"

class Mesh {
public:
    explicit Mesh(IDirect3DDevice9* device);
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // Refuse count 0 or stride 0 (or a size beyond 32 bits); the copy is cleared to zero.
    bool setVertexFormat(DWORD fvf, uint32_t count, int32_t stride);
    bool setIndexCount(uint32_t count);

    // The memory copies. Index entries: bits 0-15 vertex, bits 24-31 subset.
    uint8_t* vertexData() { return vertices_.data(); }
    const uint8_t* vertexData() const { return vertices_.data(); }
    uint32_t* indexData() { return indices_.data(); }
    const uint32_t* indexData() const { return indices_.data(); }

    // New device buffers from the copies. An empty copy is refused; when the device
    // refuses the new buffer the old one stays.
    bool uploadVertices();
    bool uploadIndices();

    // Device loss: the buffers go, the copies stay.
    void releaseBuffers();
    // After a reset: the buffers that existed before are made again from the copies.
    bool rebuildBuffers();

    IDirect3DVertexBuffer9* vertexBuffer() const { return vertexBuffer_.get(); }
    IDirect3DIndexBuffer9* indexBuffer() const { return indexBuffer_.get(); }
    uint32_t vertexCount() const { return vertexCount_; }
    int32_t vertexStride() const { return stride_; }
    int32_t vertexDataSize() const { return dataSize_; }
    uint32_t indexCount() const { return indexCount_; }
    uint32_t vertexCapacity() const { return uint32_t(vertices_.size()); }
    uint32_t indexCapacity() const { return uint32_t(indices_.size() * sizeof(uint32_t)); }
    DWORD vertexFormat() const { return fvf_; }
    D3DPRIMITIVETYPE primitiveType() const { return primitiveType_; }
    void setPrimitiveType(D3DPRIMITIVETYPE type) { primitiveType_ = type; }
    bool isIndexed() const { return indexed_; }
    void setIndexed(bool indexed) { indexed_ = indexed; }

private:
    InterfacePtr<IDirect3DDevice9> device_;
    InterfacePtr<IDirect3DVertexBuffer9> vertexBuffer_;
    InterfacePtr<IDirect3DIndexBuffer9> indexBuffer_;
    std::vector<uint8_t> vertices_;
    std::vector<uint32_t> indices_;
    uint32_t vertexCount_ = 0;
    int32_t stride_ = 0;
    int32_t dataSize_ = 0;
    uint32_t indexCount_ = 0;
    D3DPRIMITIVETYPE primitiveType_ = D3DPT_TRIANGLELIST;
    DWORD fvf_ = 0;
    bool indexed_ = false;
    bool hadVertexBuffer_ = false;
    bool hadIndexBuffer_ = false;
};
