#pragma once
// Rectangles in pixels, left/top inclusive, right/bottom exclusive, as the platform uses them.
#include "framework/WinTypes.h"

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
    friend constexpr bool operator==(const RECT&, const RECT&) = default;
};

struct POINT {
    LONG x;
    LONG y;
    friend constexpr bool operator==(const POINT&, const POINT&) = default;
};

struct SIZE {
    LONG cx;
    LONG cy;
    friend constexpr bool operator==(const SIZE&, const SIZE&) = default;
};

constexpr LONG rectWidth(const RECT& r) { return r.right - r.left; }
constexpr LONG rectHeight(const RECT& r) { return r.bottom - r.top; }
