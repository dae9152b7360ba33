#pragma once
// Encoder of the MBC block-transform video coder: turns BGRA pictures into frame payloads
// that MbcVideoDecoder decodes, and keeps the decoder's own reconstruction of each one
// (the encoder decodes its payload with MbcVideoDecoder, so references never drift).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "splitters/MbcFrameType.h"
#include "splitters/MbcPicture.h"
#include "splitters/MbcVideoDecoder.h"
#include "tools/mbcenc/MbcSad.h"

struct MbcEncoderSettings {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t layout = MbcVideoDecoder::Layout420;  // 1, 2, 3 or 16
    bool alpha = false;                            // code the alpha plane
    int transform = 2;                             // 1 lossless difference, 2 DCT
    int quantiser = 8;                             // 1-63 (0-63 with transform 1, where it is not used)
    bool deblocking = true;                        // only with transform 2
    int searchRange = 6;                           // full pixels, 0-60
    std::array<uint8_t, 64> intraMatrix{};         // all zero: the default matrices
    std::array<uint8_t, 64> interMatrix{};
};

// Motion choice of one macroblock.
struct MbcMotion {
    bool used = false;
    bool past = true;
    int x = 0, y = 0;  // half pixels
};

class MbcVideoEncoder {
public:
    // False for sizes of 0 or above the decoder's limit, a bad layout or transform, a
    // quantiser outside 1-63 with transform 2, or a search range outside 0-60.
    bool configure(const MbcEncoderSettings& settings);

    // The codec flags word for the file header (output mode bits left 0).
    uint32_t codecFlags() const;
    const MbcEncoderSettings& settings() const { return settings_; }
    const uint8_t* intraMatrix() const { return settings_.intraMatrix.data(); }
    const uint8_t* interMatrix() const { return settings_.interMatrix.data(); }

    // Converts a top-down BGRA picture into the store format the encoder codes from
    // (Cr, Cb, Y, A at full resolution, edges replicated into the padding).
    void makeSource(const uint8_t* bgra, ptrdiff_t stride, MbcPicture& source) const;

    // Encodes one picture. Intra needs no reference, Predicted needs past, Bidirectional
    // needs past and future (reconstructions from earlier calls). Repeat gives an empty
    // payload and a copy of past as its reconstruction. The reconstruction is the decoded
    // payload, bit for bit what a decoder produces.
    bool encodeFrame(MbcFrameType type, const uint8_t* bgra, ptrdiff_t stride, const MbcPicture* past,
                     const MbcPicture* future, std::vector<uint8_t>& payload, MbcPicture& reconstruction);
    bool encodeSource(MbcFrameType type, const MbcPicture& source, const MbcPicture* past, const MbcPicture* future,
                      std::vector<uint8_t>& payload, MbcPicture& reconstruction);

    // Motion vectors chosen by the last Predicted or Bidirectional encode, per macroblock.
    const std::vector<MbcMotion>& lastMotion() const { return motion_; }

private:
    struct Token {
        int16_t symbol;  // -1: raw bits
        uint8_t bits;
        uint32_t value;
    };

    MbcMotion searchMotion(int mx, int my, const MbcPicture* past, const MbcPicture* future, bool bidirectional);
    uint32_t sadHalf(const MbcPicture& ref, int x, int y, int hx, int hy);
    static void extractLuma(const MbcPicture& pic, std::vector<uint8_t>& plane);
    bool vectorAllowed(int mx, int my, int vx, int vy) const;
    void codeBlock(const int32_t* coef, int dcBase, int16_t& dcOut);

    MbcEncoderSettings settings_;
    bool configured_ = false;
    MbcVideoDecoder decoder_;
    const MbcPredictionKernels* prediction_ = nullptr;
    MbcSad16Fn sad_ = nullptr;
    // Luma planes of the source and the references for the motion search, and the
    // full-pixel vectors already chosen per reference in this frame (search seeds).
    std::vector<uint8_t> sourceY_, pastY_, futureY_;
    std::vector<int16_t> seeds_[2];
    std::vector<Token> tokens_;
    std::vector<MbcMotion> motion_;
    MbcPicture source_;
    alignas(16) uint8_t pred_[16 * 64] = {};
};
