#pragma once
// Vertex and index buffers of the software device: plain memory with counted locks.
#include <atomic>
#include <mutex>

#include "framework/d3d9/IDirect3DResource9.h"
#include "platform/gfx/SoftwareResource.h"

namespace gfx {

// The memory and lock rules both buffer kinds share.
class BufferStore {
public:
    bool allocate(UINT length);
    HRESULT lock(UINT offset, UINT size, void** data);
    HRESULT unlock();
    const uint8_t* data() const { return bytes_.get(); }
    UINT length() const { return length_; }

private:
    AlignedBytes bytes_;
    UINT length_ = 0;
    std::mutex mutex_;
    int locks_ = 0;
};

class SoftwareVertexBuffer : public IDirect3DVertexBuffer9 {
public:
    static SoftwareVertexBuffer* create(SoftwareDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                        HRESULT* result);
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override { return link_.getDevice(device); }
    DWORD SetPriority(DWORD priority) override { return link_.setPriority(priority); }
    DWORD GetPriority() override { return link_.priority(); }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override { return store_.unlock(); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    const uint8_t* data() const { return store_.data(); }
    UINT length() const { return store_.length(); }
    SoftwareDevice* device() const { return link_.device(); }

private:
    SoftwareVertexBuffer(SoftwareDevice* device, DWORD usage, DWORD fvf, D3DPOOL pool);
    ~SoftwareVertexBuffer() override = default;

    DeviceLink link_;
    DWORD usage_;
    DWORD fvf_;
    BufferStore store_;
    std::atomic<ULONG> refs_{1};
};

class SoftwareIndexBuffer : public IDirect3DIndexBuffer9 {
public:
    static SoftwareIndexBuffer* create(SoftwareDevice* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                       HRESULT* result);
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override { return link_.getDevice(device); }
    DWORD SetPriority(DWORD priority) override { return link_.setPriority(priority); }
    DWORD GetPriority() override { return link_.priority(); }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override { return store_.unlock(); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    const uint8_t* data() const { return store_.data(); }
    UINT length() const { return store_.length(); }
    D3DFORMAT format() const { return format_; }
    SoftwareDevice* device() const { return link_.device(); }

private:
    SoftwareIndexBuffer(SoftwareDevice* device, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~SoftwareIndexBuffer() override = default;

    DeviceLink link_;
    DWORD usage_;
    D3DFORMAT format_;
    BufferStore store_;
    std::atomic<ULONG> refs_{1};
};

SoftwareVertexBuffer* softwareVertexBuffer(IDirect3DVertexBuffer9* buffer);
SoftwareIndexBuffer* softwareIndexBuffer(IDirect3DIndexBuffer9* buffer);

}  // namespace gfx
