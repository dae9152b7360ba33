#pragma once
// Decoder of the MBC block-transform video coder.
//
// A frame payload is a big-endian bit string:
//   Huffman table: for each of the 192 symbols (size << 4 | run): 1 bit used; if used,
//     4 bits code length (1-15). Canonical codes.
//   Macroblocks, row by row, left to right, (W/16) x (H/16) of them. Each row starts with
//   the DC predictors (Cr, Cb, Y, A) and the current quantiser at 0. A macroblock is:
//     6 bits quantiser q; when q differs from the current non-zero quantiser, each DC
//       predictor p becomes old * p / q (a new q of 0 leaves the predictors alone);
//     in Predicted and Bidirectional frames: 1 bit "has vector"; if set, 1 bit reference
//       (1 past, 0 future; both past in Predicted frames), 8 bits x, 8 bits y (signed,
//       half pixels);
//     the blocks (A only with the alpha plane; TL, TR, BL, BR are the luma quadrants):
//       4:4:4 and RGB: per quadrant A, Y, Cb, Cr;  4:2:2: A x4, Y x4, Cb top/bottom,
//       Cr top/bottom;  4:2:0: A x4, Y x4, Cb, Cr.
//   A block is a run/size symbol list in zigzag order ending at symbol 0 or after 64
//   coefficients; zigzag position 0 holds the DC difference (0 when a run skips it). The
//   first block of a plane in a macroblock adds the plane's predictor and becomes the
//   predictor; the plane's other blocks add the first block's DC.
// Without an alpha plane the alpha samples are 255 where nothing is predicted and 0
// (so the reference's alpha is kept) where a vector predicts.
//
// GBCF still pictures carry one Intra payload of this coder:
//   offset  0  "GBCF"
//           4  u32 total size in bytes (48 + payload size)
//           8  u32 width, 12 u32 height
//          16  u16 bit count of the decoded bitmap: 32 with an alpha plane, else 24
//          18  u16 format word: bits 0-3 coded depth (9: 24-bit colour, 13: 24-bit colour
//              plus alpha), bits 10-11 the transform (1 difference, 2 DCT)
//          20  u32 codec flags, as in a movie header (layout, alpha, transform, deblocking)
//          24  u32 payload size
//          28  20 bytes reserved, zero
//          48  the Intra payload, decoded with the default intra matrix
// All integers little-endian.
#include <cstddef>
#include <cstdint>

#include "splitters/MbcColorConvert.h"
#include "splitters/MbcCpu.h"
#include "splitters/MbcDeblock.h"
#include "splitters/MbcFrameType.h"
#include "splitters/MbcHuffmanTable.h"
#include "splitters/MbcIdct.h"
#include "splitters/MbcPicture.h"
#include "splitters/MbcPrediction.h"

class MbcVideoDecoder {
public:
    // Picture layouts (bits 0-5 of the codec flags).
    enum Layout : uint32_t { Layout444 = 1, Layout422 = 2, Layout420 = 3, LayoutRgb = 16 };
    // Output modes (bits 28-31 of the configure flags).
    static constexpr uint32_t kOutputBgr24 = 0x10000000;
    static constexpr uint32_t kOutputOpaque = 0x20000000;
    static constexpr uint32_t kOutputAlpha = 0x30000000;
    static constexpr uint32_t kFlagNoDeblock = 1u << 16;
    static constexpr uint32_t kFlagFloatIdct = 1u << 21;
    // Pictures beyond this many pixels a side are refused rather than allocated.
    static constexpr uint32_t kMaxDimension = 8192;

    // Raster position of each zigzag index.
    static const uint8_t kZigzag[64];

    MbcVideoDecoder();

    // Chooses layout, transform, filter and output conversion from the codec flags (with
    // the output mode in bits 28-31). False for zero sizes, sizes above kMaxDimension,
    // layouts other than 1, 2, 3, 16 (a low byte of 0 means 3), a layout of 0 with bit 6
    // or 7 set, or a transform other than 0, 1, 2.
    bool configure(uint32_t width, uint32_t height, uint32_t codecFlags);

    // Decodes one Intra, Predicted or Bidirectional payload into target (allocated to the
    // store size when needed). Predicted frames need past; Bidirectional frames need the
    // reference each vector selects. False for an invalid Huffman table, a code that
    // matches no symbol, a missing reference, or an unconfigured decoder; target then
    // holds no usable picture.
    bool decodeFrame(const uint8_t* payload, size_t size, MbcFrameType type, MbcPicture& target, const MbcPicture* past,
                     const MbcPicture* future, const uint8_t* intraMatrix, const uint8_t* interMatrix);

    // Converts the visible width x height area to the output format, one row per stride.
    void convertPicture(const MbcPicture& picture, uint8_t* dst, ptrdiff_t stride) const;

    // Selects the kernel level (tests and benchmarks); the default is the best one.
    void setCpuLevel(MbcCpuLevel level);

    bool configured() const { return configured_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t storeWidth() const { return storeWidth_; }
    uint32_t storeHeight() const { return storeHeight_; }
    uint32_t layout() const { return layout_; }
    bool hasAlpha() const { return alpha_; }
    bool outputsAlpha() const { return outputAlpha_; }
    int transform() const { return transform_; }
    bool deblocking() const { return deblock_; }
    bool floatIdct() const { return floatIdct_; }
    uint32_t outputMode() const { return outputMode_; }
    // Bytes per output pixel: 3 for the 24-bit mode, else 4.
    int outputPixelBytes() const { return outputMode_ == kOutputBgr24 ? 3 : 4; }

    struct BlockPlace {
        uint8_t plane;  // 0 Cr, 1 Cb, 2 Y, 3 A (store byte order)
        uint8_t x, y;   // position in the plane, samples
    };
    // The blocks of one macroblock in coded order (the encoder follows the same list).
    const BlockPlace* blockOrder() const { return order_; }
    int blockCount() const { return blockCount_; }
    int chromaShiftX() const { return chromaShiftX_; }
    int chromaShiftY() const { return chromaShiftY_; }
    int chromaStride() const { return chromaStride_; }

private:
    bool decodeBlock(MbcBitReader& bits, int& count);
    void reconstructBlock(int count, const uint8_t* matrix, int q, int16_t* dst, ptrdiff_t stride);

    bool configured_ = false;
    uint32_t width_ = 0, height_ = 0, storeWidth_ = 0, storeHeight_ = 0;
    uint32_t layout_ = Layout420;
    bool alpha_ = false, outputAlpha_ = false, deblock_ = true, floatIdct_ = false;
    int transform_ = 2;
    uint32_t outputMode_ = kOutputOpaque;
    int chromaShiftX_ = 1, chromaShiftY_ = 1, chromaStride_ = 8;
    BlockPlace order_[16] = {};
    int blockCount_ = 0;

    MbcHuffmanTable huffman_;
    const MbcIdctKernels* idct_;
    const MbcPredictionKernels* prediction_;
    const MbcDeblockKernels* deblockKernels_;
    const MbcColorKernels* color_;

    // Per-block scratch: raw coefficients (raster), positions of the coded ones.
    alignas(16) int16_t raw_[64] = {};
    alignas(16) int16_t input_[64] = {};
    alignas(16) int32_t wide_[64] = {};
    uint8_t coded_[64] = {};
    // Macroblock samples per plane (Cr, Cb, Y, A), and constant alpha planes.
    alignas(16) int16_t planes_[4][256] = {};
    alignas(16) int16_t opaque_[256];
    alignas(16) int16_t zeros_[256] = {};
    alignas(16) uint8_t pred_[16 * 64] = {};
};
