#pragma once
// A device context handed to a window procedure while it paints (WM_DRAWITEM): it stands
// for the painter of the paint event in progress and is valid only until that ends.
#include "framework/WindowApi.h"

class QPainter;

class DeviceContext {
public:
    explicit DeviceContext(QPainter& painter);
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    HDC handle() { return reinterpret_cast<HDC>(this); }
    // The painter of a live context, or null for a stale or foreign handle.
    static QPainter* painterOf(HDC dc);

private:
    QPainter& painter_;
};
