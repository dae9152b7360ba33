#include "media/Yv12Rows.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

struct CoefficientTables {
    int16_t lumaScale[8];
    int16_t chromaMatrix[8];
    int16_t lumaOffset[8];
    int16_t chromaOffset[8];
};

constexpr CoefficientTables makeTables(int16_t scale, int16_t offset, int16_t crR, int16_t crG, int16_t cbG,
                                       int16_t cbB) {
    return CoefficientTables{
        {scale, 0, scale, 0, scale, 0, scale, 0},
        {crR, 0, crG, cbG, 0, cbB, 0, 0},
        {offset, offset, offset, offset, offset, offset, offset, offset},
        {128, 128, 128, 128, 128, 128, 128, 128},
    };
}

// Indexed by ColourStandard.
alignas(16) constexpr std::array<CoefficientTables, 4> kTables = {{
    makeTables(4769, 16, 7343, -2183, -873, 8652),   // BT.709 studio range
    makeTables(4096, 0, 5742, -2925, -1410, 7258),   // BT.601 full range
    makeTables(4769, 16, 6537, -3330, -1604, 8262),  // BT.601 studio range
    makeTables(4096, 0, 6450, -1917, -767, 7601),    // BT.709 full range
}};

constexpr YuvCoefficientSet setOf(const CoefficientTables& t) {
    return YuvCoefficientSet{t.lumaScale, t.chromaMatrix, t.lumaOffset, t.chromaOffset};
}

constexpr std::array<YuvCoefficientSet, 4> kSets = {{
    setOf(kTables[0]),
    setOf(kTables[1]),
    setOf(kTables[2]),
    setOf(kTables[3]),
}};

// Shifted sums of every coefficient set lie in -385 .. 639.
constexpr int kClampLow = -385;
constexpr int kClampHigh = 639;

constexpr std::array<uint8_t, kClampHigh - kClampLow + 1> makeClampTable() {
    std::array<uint8_t, kClampHigh - kClampLow + 1> table{};
    for (int i = kClampLow; i <= kClampHigh; ++i)
        table[size_t(i - kClampLow)] = uint8_t(i < 0 ? 0 : (i > 255 ? 255 : i));
    return table;
}

constexpr auto kClampTable = makeClampTable();

inline uint32_t clampChannel(int32_t value) {
    return kClampTable[size_t(value - kClampLow)];
}

YuvRowConverter chooseConverter() {
    if (YuvRowConverter vector = sse2YuvRowConverter()) return vector;
    return &convertYuvRowScalar;
}

}  // namespace

const YuvCoefficientSet& yuvCoefficients(int32_t standard) {
    if (standard < 1 || standard > 3) standard = kColourStandardBt709Studio;
    return kSets[size_t(standard)];
}

void convertYuvRowScalar(uint8_t* out, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                         const YuvCoefficientSet& c, uint32_t first, uint32_t count) {
    const int32_t scale = c.lumaScale[0];
    const int32_t lumaOffset = c.lumaOffset[0];
    const int32_t chromaOffset = c.chromaOffset[0];
    const int32_t crR = c.chromaMatrix[0], cbR = c.chromaMatrix[1];
    const int32_t crG = c.chromaMatrix[2], cbG = c.chromaMatrix[3];
    const int32_t crB = c.chromaMatrix[4], cbB = c.chromaMatrix[5];
    const uint32_t end = first + count;
    for (uint32_t x = first; x < end; ++x) {
        const int32_t y = (int32_t(luma[x]) - lumaOffset) * scale;
        const int32_t cb = int32_t(u[x / 2]) - chromaOffset;
        const int32_t cr = int32_t(v[x / 2]) - chromaOffset;
        const uint32_t r = clampChannel((y + crR * cr + cbR * cb) >> kYuvShift);
        const uint32_t g = clampChannel((y + crG * cr + cbG * cb) >> kYuvShift);
        const uint32_t b = clampChannel((y + crB * cr + cbB * cb) >> kYuvShift);
        const uint32_t pixel = 0xFF000000u | r << 16 | g << 8 | b;
        std::memcpy(out + size_t(x) * 4, &pixel, 4);
    }
}

YuvRowConverter activeYuvRowConverter() {
    static const YuvRowConverter chosen = chooseConverter();
    return chosen;
}
