#pragma once
// An owner of default-pool device objects that the texture factory walks on device loss:
// it lets go of them before a reset and makes them again afterwards from what it kept
// in system memory.
class DeviceResource {
public:
    virtual void releaseDeviceObjects() = 0;
    // False when something could not be made again; the walk goes on regardless.
    virtual bool rebuildDeviceObjects() = 0;

protected:
    ~DeviceResource() = default;
};
