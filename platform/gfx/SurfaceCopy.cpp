#include "platform/gfx/SurfaceCopy.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/gfx/SoftwareFormats.h"
#include "platform/gfx/SoftwareSurface.h"

namespace gfx {
namespace {

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

uint32_t ch(uint32_t p, int shift) {
    return (p >> shift) & 0xFF;
}

struct Tap {
    int i0, i1;
    uint32_t w;  // weight of i1, 0..255
};

std::vector<Tap> taps(LONG sourceSize, LONG destSize, bool linear) {
    std::vector<Tap> t(static_cast<size_t>(destSize));
    for (LONG i = 0; i < destSize; ++i) {
        if (!linear) {
            int s = static_cast<int>(((2 * int64_t(i) + 1) * sourceSize) / (2 * int64_t(destSize)));
            t[i] = {s, s, 0};
            continue;
        }
        int64_t pos = floorDiv(((2 * int64_t(i) + 1) * sourceSize - destSize) * 256, 2 * int64_t(destSize));
        int64_t i0 = floorDiv(pos, 256);
        uint32_t w = static_cast<uint32_t>(pos - i0 * 256);
        auto clampIndex = [&](int64_t v) {
            return static_cast<int>(v < 0 ? 0 : (v >= sourceSize ? sourceSize - 1 : v));
        };
        t[i] = {clampIndex(i0), clampIndex(i0 + 1), w};
    }
    return t;
}

}  // namespace

void copyRect(const SoftwareSurface& source, const RECT& r, SoftwareSurface& dest, LONG x, LONG y) {
    uint32_t bpp = formatInfo(source.format()).bytesPerPixel;
    size_t bytes = size_t(rectWidth(r)) * bpp;
    for (LONG row = 0; row < rectHeight(r); ++row) {
        const uint8_t* s = source.bits() + size_t(r.top + row) * source.pitch() + size_t(r.left) * bpp;
        uint8_t* d = dest.bits() + size_t(y + row) * dest.pitch() + size_t(x) * bpp;
        std::memmove(d, s, bytes);
    }
    dest.touch();
}

void stretchSurface(const SoftwareSurface& source, const RECT& s, SoftwareSurface& dest, const RECT& d, bool linear) {
    LONG sw = rectWidth(s), sh = rectHeight(s), dw = rectWidth(d), dh = rectHeight(d);
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    if (sw == dw && sh == dh && source.format() == dest.format()) {
        copyRect(source, s, dest, d.left, d.top);
        return;
    }
    uint32_t sbpp = formatInfo(source.format()).bytesPerPixel;
    std::vector<Tap> cols = taps(sw, dw, linear), rows = taps(sh, dh, linear);
    std::vector<uint32_t> row0(static_cast<size_t>(sw)), row1(static_cast<size_t>(sw)), out(static_cast<size_t>(dw));
    int loaded0 = -1, loaded1 = -1;
    auto load = [&](int r, std::vector<uint32_t>& into) {
        const uint8_t* p = source.bits() + size_t(s.top + r) * source.pitch() + size_t(s.left) * sbpp;
        rowToArgb(p, source.format(), into.data(), static_cast<uint32_t>(sw));
    };
    for (LONG y = 0; y < dh; ++y) {
        const Tap& ry = rows[y];
        if (loaded0 != ry.i0) {
            if (loaded1 == ry.i0) {
                row0.swap(row1);
                std::swap(loaded0, loaded1);
            } else {
                load(ry.i0, row0);
                loaded0 = ry.i0;
            }
        }
        if (linear && loaded1 != ry.i1) {
            load(ry.i1, row1);
            loaded1 = ry.i1;
        }
        for (LONG x = 0; x < dw; ++x) {
            const Tap& cx = cols[x];
            if (!linear) {
                out[x] = row0[cx.i0];
                continue;
            }
            uint32_t a = row0[cx.i0], b = row0[cx.i1], c = row1[cx.i0], e = row1[cx.i1];
            uint32_t fx = cx.w, fy = ry.w, v = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t top = ch(a, shift) * (256 - fx) + ch(b, shift) * fx;
                uint32_t bottom = ch(c, shift) * (256 - fx) + ch(e, shift) * fx;
                v |= ((top * (256 - fy) + bottom * fy + 32768) >> 16) << shift;
            }
            out[x] = v;
        }
        uint32_t dbpp = formatInfo(dest.format()).bytesPerPixel;
        rowFromArgb(out.data(), dest.bits() + size_t(d.top + y) * dest.pitch() + size_t(d.left) * dbpp, dest.format(),
                    static_cast<uint32_t>(dw));
    }
    dest.touch();
}

void fillRect(SoftwareSurface& dest, const RECT& r, D3DCOLOR color) {
    uint32_t bpp = formatInfo(dest.format()).bytesPerPixel;
    uint32_t pixel = 0;
    if (!packColor(color, dest.format(), &pixel)) return;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint8_t* p = dest.bits() + size_t(y) * dest.pitch() + size_t(r.left) * bpp;
        if (bpp == 4) {
            uint32_t* q = reinterpret_cast<uint32_t*>(p);
            std::fill(q, q + rectWidth(r), pixel);
            continue;
        }
        for (LONG x = 0; x < rectWidth(r); ++x)
            for (uint32_t k = 0; k < bpp; ++k) p[size_t(x) * bpp + k] = static_cast<uint8_t>(pixel >> (8 * k));
    }
    dest.touch();
}

}  // namespace gfx
