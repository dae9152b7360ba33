#include "graphics/RowConverter.h"

#include <cstring>

#include "graphics/PixelFormat.h"

namespace {

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline uint16_t load16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void store16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void copyBytesScalar(uint8_t* dst, const uint8_t* src, size_t bytes) {
    if (bytes && dst != src) std::memmove(dst, src, bytes);
}

void unpack565Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = load16(src + 2 * i);
        uint32_t r = (p >> 8) & 0xF8, g = (p >> 3) & 0xFC, b = (p << 3) & 0xF8;
        store32(dst + 4 * i, 0xFF000000u | r << 16 | g << 8 | b);
    }
}

void unpack4444Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = load16(src + 2 * i);
        uint32_t a = (p >> 12) & 0xF, r = (p >> 8) & 0xF, g = (p >> 4) & 0xF, b = p & 0xF;
        store32(dst + 4 * i, a << 28 | r << 20 | g << 12 | b << 4);
    }
}

void unpack888Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* s = src + 3 * i;
        store32(dst + 4 * i, 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0]);
    }
}

void fillAlphaScalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) store32(dst + 4 * i, load32(src + 4 * i) | 0xFF000000u);
}

void pack565Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = load32(src + 4 * i);
        uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        store16(dst + 2 * i, (g >> 2) << 5 | (b >> 3) | (r >> 3) << 11);
    }
}

void pack4444Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = load32(src + 4 * i);
        uint32_t a = p >> 28, r = (p >> 20) & 0xF, g = (p >> 12) & 0xF, b = (p >> 4) & 0xF;
        store16(dst + 2 * i, a << 12 | r << 8 | g << 4 | b);
    }
}

void pack888Scalar(uint8_t* dst, const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* s = src + 4 * i;
        uint8_t* d = dst + 3 * i;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

void clearKeyAlphaScalar(uint8_t* row, size_t count, uint32_t key) {
    key &= 0x00FFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = load32(row + 4 * i);
        if ((p & 0x00FFFFFFu) == key) store32(row + 4 * i, p & 0x00FFFFFFu);
    }
}

constexpr RowKernels kScalar = {"scalar",        copyBytesScalar,    unpack565Scalar, unpack4444Scalar,
                                unpack888Scalar, fillAlphaScalar,    pack565Scalar,   pack4444Scalar,
                                pack888Scalar,   clearKeyAlphaScalar};

using Unpack = void (*)(uint8_t*, const uint8_t*, size_t);
using Pack = void (*)(uint8_t*, const uint8_t*, size_t);

// The kernel that widens a source format to A8R8G8B8 (null: the source already is wide).
Unpack unpackerOf(const RowKernels& k, int32_t format) {
    switch (format) {
        case kPixelFormatR5G6B5:
            return k.unpack565;
        case kPixelFormatA4R4G4B4:
            return k.unpack4444;
        case kPixelFormatR8G8B8:
            return k.unpack888;
        case kPixelFormatX8R8G8B8:
            return k.fillAlpha;
        default:
            return nullptr;
    }
}

// The kernel that narrows A8R8G8B8 to a destination format (X8R8G8B8 gets a full X byte).
Pack packerOf(const RowKernels& k, int32_t format) {
    switch (format) {
        case kPixelFormatR5G6B5:
            return k.pack565;
        case kPixelFormatA4R4G4B4:
            return k.pack4444;
        case kPixelFormatR8G8B8:
            return k.pack888;
        case kPixelFormatX8R8G8B8:
            return k.fillAlpha;
        default:
            return nullptr;
    }
}

bool isWideSource(int32_t f) {
    return f == kPixelFormatR5G6B5 || f == kPixelFormatA4R4G4B4 || f == kPixelFormatR8G8B8 || f == kPixelFormatA8R8G8B8;
}

bool isPlainCopy(int32_t src, int32_t dst) {
    if (src == dst) return src == 1 || src == 2 || isWideSource(src) || src == kPixelFormatX8R8G8B8;
    // The alpha byte travels along as the ignored byte.
    return src == kPixelFormatA8R8G8B8 && dst == kPixelFormatX8R8G8B8;
}

constexpr size_t kChunk = 256;

// Converts through a wide intermediate row; `key` >= 0 clears alpha of key-coloured pixels.
bool convert(const RowKernels& k, uint8_t* dst, int32_t dstFormat, const uint8_t* src, int32_t srcFormat,
             uint32_t count, int64_t key) {
    if (!isRowConversionSupported(srcFormat, dstFormat)) return false;
    if (count == 0) return true;
    if (key < 0 && isPlainCopy(srcFormat, dstFormat)) {
        k.copyBytes(dst, src, size_t(count) * pixelFormatBytes(srcFormat));
        return true;
    }
    const size_t srcBytes = pixelFormatBytes(srcFormat);
    const size_t dstBytes = pixelFormatBytes(dstFormat);
    Unpack unpack = srcFormat == kPixelFormatA8R8G8B8 ? nullptr : unpackerOf(k, srcFormat);
    Pack pack = dstFormat == kPixelFormatA8R8G8B8 ? nullptr : packerOf(k, dstFormat);
    const uint32_t keyWide = static_cast<uint32_t>(key);

    // Wide destination: widen straight into it.
    if (!pack) {
        if (unpack)
            unpack(dst, src, count);
        else
            k.copyBytes(dst, src, size_t(count) * 4);
        if (key >= 0) k.clearKeyAlpha(dst, count, keyWide);
        return true;
    }
    // Wide source without a key: narrow straight from it.
    if (!unpack && key < 0) {
        pack(dst, src, count);
        return true;
    }
    alignas(16) uint8_t wide[kChunk * 4];
    for (size_t done = 0; done < count;) {
        size_t n = count - done < kChunk ? count - done : kChunk;
        if (unpack)
            unpack(wide, src + done * srcBytes, n);
        else
            k.copyBytes(wide, src + done * srcBytes, n * 4);
        if (key >= 0) k.clearKeyAlpha(wide, n, keyWide);
        pack(dst + done * dstBytes, wide, n);
        done += n;
    }
    return true;
}

// The key colour as the source format sees it, widened back: the bits the source cannot
// hold are cleared, so comparing wide pixels equals comparing source pixels.
uint32_t keyAsSource(const RowKernels& k, int32_t srcFormat, uint32_t key) {
    uint8_t wide[4], narrow[4] = {};
    store32(wide, key);
    Pack pack = packerOf(k, srcFormat);
    Unpack unpack = unpackerOf(k, srcFormat);
    if (!pack || !unpack) return key & 0x00FFFFFFu;
    pack(narrow, wide, 1);
    unpack(wide, narrow, 1);
    return load32(wide) & 0x00FFFFFFu;
}

const RowKernels& chooseKernels() {
    if (const RowKernels* v = sse2RowKernels()) return *v;
    return kScalar;
}

}  // namespace

const RowKernels& scalarRowKernels() {
    return kScalar;
}

const RowKernels& activeRowKernels() {
    static const RowKernels& chosen = chooseKernels();
    return chosen;
}

bool isRowConversionSupported(int32_t srcFormat, int32_t dstFormat) {
    if (srcFormat == dstFormat) return isPlainCopy(srcFormat, dstFormat);
    switch (srcFormat) {
        case kPixelFormatR5G6B5:
        case kPixelFormatA4R4G4B4:
        case kPixelFormatR8G8B8:
        case kPixelFormatA8R8G8B8:
            return dstFormat == kPixelFormatR5G6B5 || dstFormat == kPixelFormatA4R4G4B4 ||
                   dstFormat == kPixelFormatR8G8B8 || dstFormat == kPixelFormatX8R8G8B8 ||
                   dstFormat == kPixelFormatA8R8G8B8;
        case kPixelFormatX8R8G8B8:
            return dstFormat == kPixelFormatR8G8B8 || dstFormat == kPixelFormatA8R8G8B8;
        default:
            return false;
    }
}

bool convertRowWith(const RowKernels& kernels, void* dst, int32_t dstFormat, const void* src, int32_t srcFormat,
                    uint32_t count) {
    if ((!dst || !src) && count) return false;
    return convert(kernels, static_cast<uint8_t*>(dst), dstFormat, static_cast<const uint8_t*>(src), srcFormat, count,
                   -1);
}

bool convertRowKeyedWith(const RowKernels& kernels, void* dst, int32_t dstFormat, const void* src, int32_t srcFormat,
                         uint32_t keyColour, uint32_t count) {
    if (!pixelFormatHasAlpha(dstFormat) || pixelFormatHasAlpha(srcFormat))
        return convertRowWith(kernels, dst, dstFormat, src, srcFormat, count);
    if ((!dst || !src) && count) return false;
    if (!isRowConversionSupported(srcFormat, dstFormat)) return false;
    return convert(kernels, static_cast<uint8_t*>(dst), dstFormat, static_cast<const uint8_t*>(src), srcFormat, count,
                   keyAsSource(kernels, srcFormat, keyColour));
}

bool convertRow(void* dst, int32_t dstFormat, const void* src, int32_t srcFormat, uint32_t count) {
    return convertRowWith(activeRowKernels(), dst, dstFormat, src, srcFormat, count);
}

bool convertRowKeyed(void* dst, int32_t dstFormat, const void* src, int32_t srcFormat, uint32_t keyColour,
                     uint32_t count) {
    return convertRowKeyedWith(activeRowKernels(), dst, dstFormat, src, srcFormat, keyColour, count);
}
