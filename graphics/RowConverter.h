#pragma once
// Row conversion between pixel formats. Channels move by shifting only: narrowing keeps
// the top bits of a channel, widening shifts left and leaves the new low bits 0. A
// destination alpha from a source without alpha is all ones; alpha is dropped into a
// destination without it. Supported pairs (source -> destinations):
//   1 -> 1; 2 -> 2; 3, 5, 6 -> 3, 5, 6, 8, 9; 8 -> 6, 8, 9; 9 -> 3, 5, 6, 8, 9.
// Rows may start at any address; source and destination must not overlap unless they
// are the same pointer with the same format.
#include <cstddef>
#include <cstdint>

// Converts `count` pixels; false (and nothing written) for an unsupported pair.
bool convertRow(void* dst, int32_t dstFormat, const void* src, int32_t srcFormat, uint32_t count);

// As convertRow, but when the destination has alpha and the source has none, pixels equal
// to the key colour (A8R8G8B8, compared after conversion to the source format) get alpha 0
// and all others full alpha. Keyed sources: 3 and 6 (to 5 or 9), 8 (to 9).
bool convertRowKeyed(void* dst, int32_t dstFormat, const void* src, int32_t srcFormat, uint32_t keyColour,
                     uint32_t count);

bool isRowConversionSupported(int32_t srcFormat, int32_t dstFormat);

// The per-pixel kernels behind the converters. "Wide" rows are A8R8G8B8 (bytes B, G, R, A).
// Every table holds the same results; the vector one is chosen once when the processor has it.
struct RowKernels {
    const char* name;
    void (*copyBytes)(uint8_t* dst, const uint8_t* src, size_t bytes);
    void (*unpack565)(uint8_t* dst, const uint8_t* src, size_t count);
    void (*unpack4444)(uint8_t* dst, const uint8_t* src, size_t count);
    void (*unpack888)(uint8_t* dst, const uint8_t* src, size_t count);
    void (*fillAlpha)(uint8_t* dst, const uint8_t* src, size_t count);  // wide -> wide, alpha 255
    void (*pack565)(uint8_t* dst, const uint8_t* src, size_t count);
    void (*pack4444)(uint8_t* dst, const uint8_t* src, size_t count);
    void (*pack888)(uint8_t* dst, const uint8_t* src, size_t count);
    // In place on a wide row: alpha 0 where the low 24 bits equal key (the rest untouched).
    void (*clearKeyAlpha)(uint8_t* row, size_t count, uint32_t key);
};

const RowKernels& scalarRowKernels();
// Null when the processor lacks SSE2 or the build has no vector kernels.
const RowKernels* sse2RowKernels();
// The table every converter uses: chosen once.
const RowKernels& activeRowKernels();

// The converters with an explicit kernel table (for comparing the variants).
bool convertRowWith(const RowKernels& kernels, void* dst, int32_t dstFormat, const void* src, int32_t srcFormat,
                    uint32_t count);
bool convertRowKeyedWith(const RowKernels& kernels, void* dst, int32_t dstFormat, const void* src, int32_t srcFormat,
                         uint32_t keyColour, uint32_t count);
