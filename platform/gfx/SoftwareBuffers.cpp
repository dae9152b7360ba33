#include "platform/gfx/SoftwareBuffers.h"

#include "platform/gfx/SoftwareDevice.h"

namespace gfx {

bool BufferStore::allocate(UINT length) {
    bytes_ = allocateBytes(length);
    length_ = bytes_ ? length : 0;
    return bytes_ != nullptr;
}

HRESULT BufferStore::lock(UINT offset, UINT size, void** data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (offset > length_ || (size != 0 && uint64_t(offset) + size > length_)) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> hold(mutex_);
    ++locks_;
    *data = bytes_.get() + offset;
    return D3D_OK;
}

HRESULT BufferStore::unlock() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    --locks_;
    return D3D_OK;
}

SoftwareVertexBuffer::SoftwareVertexBuffer(SoftwareDevice* device, DWORD usage, DWORD fvf, D3DPOOL pool)
    : link_(device, pool, true), usage_(usage), fvf_(fvf) {}

SoftwareVertexBuffer* SoftwareVertexBuffer::create(SoftwareDevice* device, UINT length, DWORD usage, DWORD fvf,
                                                   D3DPOOL pool, HRESULT* result) {
    auto* buffer = new (std::nothrow) SoftwareVertexBuffer(device, usage, fvf, pool);
    if (!buffer || !buffer->store_.allocate(length)) {
        delete buffer;
        *result = pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
        return nullptr;
    }
    *result = D3D_OK;
    return buffer;
}

HRESULT SoftwareVertexBuffer::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DResource9::iid || riid == IDirect3DVertexBuffer9::iid) {
        *ppv = static_cast<IDirect3DVertexBuffer9*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareVertexBuffer::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT SoftwareVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    return store_.lock(offset, size, data);
}

HRESULT SoftwareVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage_, link_.pool(), store_.length(), fvf_};
    return D3D_OK;
}

SoftwareIndexBuffer::SoftwareIndexBuffer(SoftwareDevice* device, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : link_(device, pool, true), usage_(usage), format_(format) {}

SoftwareIndexBuffer* SoftwareIndexBuffer::create(SoftwareDevice* device, UINT length, DWORD usage, D3DFORMAT format,
                                                 D3DPOOL pool, HRESULT* result) {
    auto* buffer = new (std::nothrow) SoftwareIndexBuffer(device, usage, format, pool);
    if (!buffer || !buffer->store_.allocate(length)) {
        delete buffer;
        *result = pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
        return nullptr;
    }
    *result = D3D_OK;
    return buffer;
}

HRESULT SoftwareIndexBuffer::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DResource9::iid || riid == IDirect3DIndexBuffer9::iid) {
        *ppv = static_cast<IDirect3DIndexBuffer9*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareIndexBuffer::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT SoftwareIndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    return store_.lock(offset, size, data);
}

HRESULT SoftwareIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DINDEXBUFFER_DESC{format_, D3DRTYPE_INDEXBUFFER, usage_, link_.pool(), store_.length()};
    return D3D_OK;
}

SoftwareVertexBuffer* softwareVertexBuffer(IDirect3DVertexBuffer9* buffer) {
    return dynamic_cast<SoftwareVertexBuffer*>(buffer);
}
SoftwareIndexBuffer* softwareIndexBuffer(IDirect3DIndexBuffer9* buffer) {
    return dynamic_cast<SoftwareIndexBuffer*>(buffer);
}

}  // namespace gfx
