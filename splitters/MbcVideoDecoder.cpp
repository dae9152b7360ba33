#include "splitters/MbcVideoDecoder.h"

#include <cstring>

const uint8_t MbcVideoDecoder::kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {
constexpr uint8_t kCr = 0, kCb = 1, kY = 2, kA = 3;
}

MbcVideoDecoder::MbcVideoDecoder() {
    for (auto& v : opaque_) v = 255;
    setCpuLevel(mbcBestCpuLevel());
}

void MbcVideoDecoder::setCpuLevel(MbcCpuLevel level) {
    idct_ = &mbcIdctKernels(level);
    prediction_ = &mbcPredictionKernels(level);
    deblockKernels_ = &mbcDeblockKernels(level);
    color_ = &mbcColorKernels(level);
}

bool MbcVideoDecoder::configure(uint32_t width, uint32_t height, uint32_t codecFlags) {
    configured_ = false;
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return false;
    uint32_t low = codecFlags & 0xFF;
    uint32_t layout = low == 0 ? Layout420 : (codecFlags & 0x3F);
    if (layout != Layout444 && layout != Layout422 && layout != Layout420 && layout != LayoutRgb) return false;
    int transform = static_cast<int>((codecFlags >> 12) & 15);
    if (transform == 0) transform = 2;
    if (transform != 1 && transform != 2) return false;

    width_ = width;
    height_ = height;
    storeWidth_ = (width + 15) & ~15u;
    storeHeight_ = (height + 15) & ~15u;
    layout_ = layout;
    alpha_ = (codecFlags & 0x40) != 0;
    outputAlpha_ = (codecFlags & 0xC0) != 0;
    transform_ = transform;
    deblock_ = transform == 2 && !(codecFlags & kFlagNoDeblock);
    floatIdct_ = (codecFlags & kFlagFloatIdct) != 0;
    outputMode_ = codecFlags & 0xF0000000u;

    // Block order of one macroblock.
    blockCount_ = 0;
    auto add = [this](uint8_t plane, uint8_t x, uint8_t y) { order_[blockCount_++] = {plane, x, y}; };
    static const uint8_t quad[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
    if (layout == Layout444 || layout == LayoutRgb) {
        chromaShiftX_ = chromaShiftY_ = 0;
        chromaStride_ = 16;
        for (auto& q : quad) {
            if (alpha_) add(kA, q[0], q[1]);
            add(kY, q[0], q[1]);
            add(kCb, q[0], q[1]);
            add(kCr, q[0], q[1]);
        }
    } else {
        chromaShiftX_ = 1;
        chromaShiftY_ = layout == Layout420 ? 1 : 0;
        chromaStride_ = 8;
        if (alpha_)
            for (auto& q : quad) add(kA, q[0], q[1]);
        for (auto& q : quad) add(kY, q[0], q[1]);
        if (layout == Layout422) {
            add(kCb, 0, 0);
            add(kCb, 0, 8);
            add(kCr, 0, 0);
            add(kCr, 0, 8);
        } else {
            add(kCb, 0, 0);
            add(kCr, 0, 0);
        }
    }
    configured_ = true;
    return true;
}

bool MbcVideoDecoder::decodeBlock(MbcBitReader& bits, int& count) {
    count = 0;
    int k = 0;
    while (k < 64) {
        int s = huffman_.decode(bits);
        if (s < 0) return false;
        if (s == 0) break;
        int run = s & 15, size = s >> 4;
        k += run;
        if (size == 0) continue;
        int32_t v = static_cast<int32_t>(bits.readBits(static_cast<unsigned>(size)));
        if (k >= 64) break;  // a coefficient beyond the block's end is dropped
        int32_t h = 1 << (size - 1);
        int pos = kZigzag[k++];
        raw_[pos] = static_cast<int16_t>((v & h) ? -v : v + h);
        if (pos) coded_[count++] = static_cast<uint8_t>(pos);
    }
    return true;
}

void MbcVideoDecoder::reconstructBlock(int count, const uint8_t* matrix, int q, int16_t* dst, ptrdiff_t stride) {
    if (transform_ == 1) {
        if (count == 0) {
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c) dst[r * stride + c] = raw_[0];
        } else {
            mbcDifferenceTransform(raw_, dst, stride);
        }
    } else if (floatIdct_) {
        wide_[0] = raw_[0] * matrix[0];
        for (int i = 0; i < count; ++i) wide_[coded_[i]] = raw_[coded_[i]] * matrix[coded_[i]];
        mbcIdctReference(wide_, q, dst, stride);
        wide_[0] = 0;
        for (int i = 0; i < count; ++i) wide_[coded_[i]] = 0;
    } else if (count == 0) {
        int16_t v = mbcIdctFixedDcOnly(mbcIdctFixedInput(raw_[0], matrix[0], q));
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) dst[r * stride + c] = v;
    } else {
        input_[0] = mbcIdctFixedInput(raw_[0], matrix[0], q);
        for (int i = 0; i < count; ++i) input_[coded_[i]] = mbcIdctFixedInput(raw_[coded_[i]], matrix[coded_[i]], q);
        idct_->idctFixed(input_, dst, stride);
        input_[0] = 0;
        for (int i = 0; i < count; ++i) input_[coded_[i]] = 0;
    }
    raw_[0] = 0;
    for (int i = 0; i < count; ++i) raw_[coded_[i]] = 0;
}

bool MbcVideoDecoder::decodeFrame(const uint8_t* payload, size_t size, MbcFrameType type, MbcPicture& target,
                                  const MbcPicture* past, const MbcPicture* future, const uint8_t* intraMatrix,
                                  const uint8_t* interMatrix) {
    if (!configured_) return false;
    if (type != MbcFrameType::Intra && type != MbcFrameType::Predicted && type != MbcFrameType::Bidirectional)
        return false;
    if (&target == past || &target == future) return false;
    if (type == MbcFrameType::Predicted && !past) return false;
    auto fits = [this](const MbcPicture* p) {
        return p && !p->empty() && p->width() == storeWidth_ && p->height() == storeHeight_;
    };
    if (past && !fits(past)) past = nullptr;
    if (future && !fits(future)) future = nullptr;
    if (type == MbcFrameType::Predicted && !past) return false;
    if (!target.allocate(storeWidth_, storeHeight_)) return false;

    const uint8_t* matrix = type == MbcFrameType::Intra ? (intraMatrix ? intraMatrix : kMbcDefaultIntraMatrix)
                                                        : (interMatrix ? interMatrix : kMbcDefaultInterMatrix);
    MbcBitReader bits(payload, payload ? size : 0);
    if (!huffman_.read(bits)) return false;

    const ptrdiff_t stride = target.stride();
    const int mbCols = static_cast<int>(storeWidth_ / 16), mbRows = static_cast<int>(storeHeight_ / 16);
    const int limitX = static_cast<int>(storeWidth_) - 16, limitY = static_cast<int>(storeHeight_) - 16;
    MbcMacroblockSamples samples{planes_[kCr],  planes_[kCb],  planes_[kY],  planes_[kA],
                                 chromaStride_, chromaShiftX_, chromaShiftY_};

    for (int my = 0; my < mbRows; ++my) {
        int16_t predictor[4] = {0, 0, 0, 0};
        int current = 0;
        for (int mx = 0; mx < mbCols; ++mx) {
            int q = static_cast<int>(bits.readBits(6));
            // A quantiser of 0 keeps the predictors: there is nothing to rescale by.
            if (q != current && current != 0 && q != 0)
                for (auto& p : predictor) p = static_cast<int16_t>(current * p / q);
            current = q;

            bool hasVector = false;
            int select = 1, vx = 0, vy = 0;
            if (type != MbcFrameType::Intra && bits.readBits(1)) {
                hasVector = true;
                select = static_cast<int>(bits.readBits(1));
                vx = static_cast<int8_t>(bits.readBits(8));
                vy = static_cast<int8_t>(bits.readBits(8));
            }

            bool first[4] = {true, true, true, true};
            int16_t firstDc[4] = {0, 0, 0, 0};
            for (int b = 0; b < blockCount_; ++b) {
                const BlockPlace& place = order_[b];
                int count;
                if (!decodeBlock(bits, count)) return false;
                int16_t dc;
                if (first[place.plane]) {
                    dc = static_cast<int16_t>(predictor[place.plane] + raw_[0]);
                    predictor[place.plane] = dc;
                    firstDc[place.plane] = dc;
                    first[place.plane] = false;
                } else {
                    dc = static_cast<int16_t>(firstDc[place.plane] + raw_[0]);
                }
                raw_[0] = dc;
                ptrdiff_t planeStride = place.plane < kY ? chromaStride_ : 16;
                reconstructBlock(count, matrix, q, planes_[place.plane] + place.y * planeStride + place.x, planeStride);
            }

            const uint8_t* pred = nullptr;
            if (hasVector) {
                int hx = 32 * mx + vx, hy = 32 * my + vy;
                int ix = hx >> 1, iy = hy >> 1;  // halving rounds down
                if (ix >= 0 && ix < limitX && iy >= 0 && iy < limitY) {
                    const MbcPicture* ref = (type == MbcFrameType::Predicted || select) ? past : future;
                    if (!ref) return false;
                    const uint8_t* src = ref->data() + iy * stride + 4 * ix;
                    prediction_->predict(pred_, src, stride, hx & 1, hy & 1);
                    // Neighbouring macroblocks mostly move alike: fetch the area the next
                    // one would read while this one is reconstructed.
                    if (ix + 32 < limitX + 16)
                        for (int r = 0; r <= 16; ++r) __builtin_prefetch(src + r * stride + 128);
                    pred = pred_;
                }
            }
            if (!alpha_) samples.a = pred ? zeros_ : opaque_;
            prediction_->store(target.data() + 16 * my * stride + 64 * mx, stride, samples, pred);
        }
        if (deblock_) {
            // Filtering each macroblock row while it is still in cache gives the same
            // picture as all vertical edges, then all horizontal ones: a horizontal edge
            // only reads rows that the vertical pass has finished, and edges never share
            // the rows they change.
            uint8_t* rowStart = target.data() + 16 * my * stride;
            deblockKernels_->verticalEdges(rowStart, stride, storeWidth_, 16);
            if (my == 0)
                deblockKernels_->horizontalEdges(rowStart, stride, storeWidth_, 16);
            else
                deblockKernels_->horizontalEdges(rowStart - 8 * stride, stride, storeWidth_, 24);
        }
    }
    return true;
}

void MbcVideoDecoder::convertPicture(const MbcPicture& picture, uint8_t* dst, ptrdiff_t stride) const {
    if (!configured_ || !dst || picture.width() != storeWidth_ || picture.height() != storeHeight_) return;
    const bool rgb = layout_ == LayoutRgb;
    if (outputMode_ == kOutputBgr24) {
        for (uint32_t y = 0; y < height_; ++y) {
            if (rgb)
                mbcRgbRowToBgr24(picture.row(y), dst + y * stride, width_);
            else
                mbcYccRowToBgr24(picture.row(y), dst + y * stride, width_);
        }
        return;
    }
    uint8_t alphaOr = (outputMode_ == kOutputOpaque || (outputMode_ == kOutputAlpha && !outputAlpha_)) ? 255 : 0;
    auto row = rgb ? color_->rgbRow : color_->yccRow;
    for (uint32_t y = 0; y < height_; ++y) row(picture.row(y), dst + y * stride, width_, alphaOr);
}
