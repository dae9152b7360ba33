#include "graphics/Mesh.h"

#include <algorithm>
#include <cstring>

namespace {
// Copies grow in steps of 16 bytes.
uint64_t roundUp16(uint64_t bytes) {
    return (bytes + 15) & ~uint64_t(15);
}
}  // namespace

Mesh::Mesh(IDirect3DDevice9* device) : device_(device) {}

bool Mesh::setVertexFormat(DWORD fvf, uint32_t count, int32_t stride) {
    if (count == 0 || stride <= 0) return false;
    uint64_t size = uint64_t(count) * uint32_t(stride);
    if (size > 0x7FFFFFF0u) return false;
    uint64_t capacity = roundUp16(size);
    if (capacity > vertices_.size()) vertices_.resize(capacity);
    std::fill(vertices_.begin(), vertices_.end(), uint8_t(0));
    fvf_ = fvf;
    vertexCount_ = count;
    stride_ = stride;
    dataSize_ = int32_t(size);
    return true;
}

bool Mesh::setIndexCount(uint32_t count) {
    if (count == 0 || count > 0x10000000u) return false;
    size_t entries = size_t(roundUp16(uint64_t(count) * 4) / 4);
    if (entries > indices_.size()) indices_.resize(entries);
    std::fill(indices_.begin(), indices_.end(), 0u);
    indexCount_ = count;
    return true;
}

bool Mesh::uploadVertices() {
    if (!device_ || dataSize_ <= 0) return false;
    InterfacePtr<IDirect3DVertexBuffer9> buffer;
    if (FAILED(device_->CreateVertexBuffer(UINT(dataSize_), D3DUSAGE_WRITEONLY, fvf_, D3DPOOL_DEFAULT, buffer.put(),
                                           nullptr)))
        return false;
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) return false;
    std::memcpy(data, vertices_.data(), size_t(dataSize_));
    buffer->Unlock();
    vertexBuffer_ = std::move(buffer);
    hadVertexBuffer_ = true;
    return true;
}

bool Mesh::uploadIndices() {
    if (!device_ || indexCount_ == 0) return false;
    InterfacePtr<IDirect3DIndexBuffer9> buffer;
    if (FAILED(device_->CreateIndexBuffer(indexCount_ * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                          buffer.put(), nullptr)))
        return false;
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) return false;
    auto* out = static_cast<uint16_t*>(data);
    for (uint32_t i = 0; i < indexCount_; ++i) out[i] = uint16_t(indices_[i] & 0xFFFF);
    buffer->Unlock();
    indexBuffer_ = std::move(buffer);
    hadIndexBuffer_ = true;
    return true;
}

void Mesh::releaseBuffers() {
    vertexBuffer_.reset();
    indexBuffer_.reset();
}

bool Mesh::rebuildBuffers() {
    bool ok = true;
    if (hadVertexBuffer_ && !vertexBuffer_) ok = uploadVertices() && ok;
    if (hadIndexBuffer_ && !indexBuffer_) ok = uploadIndices() && ok;
    return ok;
}
