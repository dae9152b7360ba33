#pragma once
// Pixel copies between software surfaces: exact rectangle copies (same format), scaled
// and format-converting copies with point or linear filtering, and colour fills. The
// callers check the rectangles; these only move pixels.
#include "framework/Rect.h"
#include "framework/d3d9/D3D9Types.h"

namespace gfx {

class SoftwareSurface;

// Copies source rectangle r to (x, y) of the destination; both have the same format.
void copyRect(const SoftwareSurface& source, const RECT& r, SoftwareSurface& dest, LONG x, LONG y);

// Scales source rectangle s onto destination rectangle d, converting the format.
// Point: destination pixel i reads source pixel floor((2i + 1) * sw / (2 * dw)).
// Linear: sampled at ((2i + 1) * sw - dw) / (2 * dw) with 8-bit weights, edges clamped to s.
void stretchSurface(const SoftwareSurface& source, const RECT& s, SoftwareSurface& dest, const RECT& d, bool linear);

// Every pixel of r becomes the colour in the surface's format.
void fillRect(SoftwareSurface& dest, const RECT& r, D3DCOLOR color);

}  // namespace gfx
