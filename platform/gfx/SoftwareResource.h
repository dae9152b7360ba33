#pragma once
// What every software resource shares: the device that made it (kept alive by an
// internal reference, so a resource never outlives its device's memory), its pool and
// priority, and allocation of aligned pixel or buffer memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "framework/d3d9/IDirect3DDevice9.h"

namespace gfx {

class SoftwareDevice;

struct AlignedDelete {
    void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(64)); }
};
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedDelete>;
// Zeroed memory, or null when it cannot be had (or exceeds what one resource may hold).
AlignedBytes allocateBytes(uint64_t size);

class DeviceLink {
public:
    // device may be null (implicit surfaces link weakly and are detached by the device).
    DeviceLink(SoftwareDevice* device, D3DPOOL pool, bool strong);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    SoftwareDevice* device() const { return device_; }
    void detach() { device_ = nullptr; }
    D3DPOOL pool() const { return pool_; }
    HRESULT getDevice(IDirect3DDevice9** out) const;
    DWORD setPriority(DWORD p) {
        DWORD old = priority_;
        priority_ = p;
        return old;
    }
    DWORD priority() const { return priority_; }

private:
    SoftwareDevice* device_;
    D3DPOOL pool_;
    bool strong_;
    DWORD priority_ = 0;
};

}  // namespace gfx
