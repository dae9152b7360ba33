#include "tools/mbcenc/MbcVideoEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "splitters/MbcHuffmanTable.h"
#include "tools/mbcenc/MbcBitWriter.h"
#include "tools/mbcenc/MbcHuffmanBuilder.h"

namespace {

constexpr int kMaxCoefficient = 2047;  // largest magnitude an 11-bit size class holds

struct DctBasis {
    double b[8][8];
    DctBasis() {
        const double pi = 3.14159265358979323846;
        for (int u = 0; u < 8; ++u)
            for (int i = 0; i < 8; ++i)
                b[u][i] = (u == 0 ? std::sqrt(1.0 / 8.0) : 0.5) * std::cos((2 * i + 1) * u * pi / 16.0);
    }
};
const DctBasis kBasis;

// Forward transform matching the decoder's scaling: a flat block gives its value as DC.
void forwardDct(const int32_t* x, double* f) {
    double t[64];
    for (int r = 0; r < 8; ++r)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int c = 0; c < 8; ++c) s += x[8 * r + c] * kBasis.b[u][c];
            t[8 * r + u] = s;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int r = 0; r < 8; ++r) s += t[8 * r + u] * kBasis.b[v][r];
            f[8 * v + u] = s / 8.0;
        }
}

inline int32_t clampCoef(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, -kMaxCoefficient, kMaxCoefficient));
}

inline uint8_t clampByte(double v) {
    return static_cast<uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : static_cast<int>(v + 0.5)));
}

// Round half away from zero, clamped to the coefficient range.
inline int32_t quantise(double v) {
    if (v >= kMaxCoefficient) return kMaxCoefficient;
    if (v <= -kMaxCoefficient) return -kMaxCoefficient;
    return v >= 0 ? static_cast<int32_t>(v + 0.5) : -static_cast<int32_t>(-v + 0.5);
}

// Rounded mean of n values, ties away from zero, so residual averages stay unbiased.
inline int32_t roundedMean(int32_t sum, int32_t n) {
    return sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n);
}

}  // namespace

bool MbcVideoEncoder::configure(const MbcEncoderSettings& settings) {
    configured_ = false;
    const MbcEncoderSettings& s = settings;
    if (s.width == 0 || s.height == 0 || s.width > MbcVideoDecoder::kMaxDimension ||
        s.height > MbcVideoDecoder::kMaxDimension)
        return false;
    if (s.layout != 1 && s.layout != 2 && s.layout != 3 && s.layout != 16) return false;
    if (s.transform != 1 && s.transform != 2) return false;
    if (s.quantiser < (s.transform == 2 ? 1 : 0) || s.quantiser > 63) return false;
    if (s.searchRange < 0 || s.searchRange > 60) return false;
    settings_ = s;
    auto fill = [](std::array<uint8_t, 64>& m, const uint8_t* def) {
        if (std::all_of(m.begin(), m.end(), [](uint8_t v) { return v == 0; })) std::memcpy(m.data(), def, 64);
        return std::none_of(m.begin(), m.end(), [](uint8_t v) { return v == 0; });
    };
    if (!fill(settings_.intraMatrix, kMbcDefaultIntraMatrix) || !fill(settings_.interMatrix, kMbcDefaultInterMatrix))
        return false;
    if (!decoder_.configure(s.width, s.height, codecFlags() | MbcVideoDecoder::kOutputAlpha)) return false;
    prediction_ = &mbcPredictionKernels(mbcBestCpuLevel());
    sad_ = mbcSad16(mbcBestCpuLevel());
    configured_ = true;
    return true;
}

uint32_t MbcVideoEncoder::codecFlags() const {
    uint32_t f = settings_.layout | (settings_.alpha ? 0x40u : 0u) | (static_cast<uint32_t>(settings_.transform) << 12);
    if (!settings_.deblocking) f |= MbcVideoDecoder::kFlagNoDeblock;
    return f;
}

void MbcVideoEncoder::makeSource(const uint8_t* bgra, ptrdiff_t stride, MbcPicture& source) const {
    const uint32_t w = decoder_.storeWidth(), h = decoder_.storeHeight();
    source.allocate(w, h);
    const bool rgb = settings_.layout == MbcVideoDecoder::LayoutRgb;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* in = bgra + static_cast<ptrdiff_t>(std::min(y, settings_.height - 1)) * stride;
        uint8_t* out = source.row(y);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = in + 4 * std::min(x, settings_.width - 1);
            uint8_t a = settings_.alpha ? p[3] : 255;
            if (rgb) {
                out[4 * x] = p[0];
                out[4 * x + 1] = p[1];
                out[4 * x + 2] = p[2];
            } else {
                double b = p[0], g = p[1], r = p[2];
                double yy = 0.299 * r + 0.587 * g + 0.114 * b;
                out[4 * x] = clampByte((r - yy) / 1.402 + 128.0);
                out[4 * x + 1] = clampByte((b - yy) / 1.772 + 128.0);
                out[4 * x + 2] = clampByte(yy);
            }
            out[4 * x + 3] = a;
        }
    }
}

bool MbcVideoEncoder::encodeFrame(MbcFrameType type, const uint8_t* bgra, ptrdiff_t stride, const MbcPicture* past,
                                  const MbcPicture* future, std::vector<uint8_t>& payload, MbcPicture& reconstruction) {
    if (!configured_) return false;
    if (type == MbcFrameType::Repeat) return encodeSource(type, source_, past, future, payload, reconstruction);
    if (!bgra) return false;
    makeSource(bgra, stride, source_);
    return encodeSource(type, source_, past, future, payload, reconstruction);
}

bool MbcVideoEncoder::vectorAllowed(int mx, int my, int vx, int vy) const {
    if (vx < -128 || vx > 127 || vy < -128 || vy > 127) return false;
    int ix = (32 * mx + vx) >> 1, iy = (32 * my + vy) >> 1;
    return ix >= 0 && ix < static_cast<int>(decoder_.storeWidth()) - 16 && iy >= 0 &&
           iy < static_cast<int>(decoder_.storeHeight()) - 16;
}

void MbcVideoEncoder::extractLuma(const MbcPicture& pic, std::vector<uint8_t>& plane) {
    plane.resize(static_cast<size_t>(pic.width()) * pic.height());
    for (uint32_t y = 0; y < pic.height(); ++y) {
        const uint8_t* in = pic.row(y) + 2;
        uint8_t* out = plane.data() + static_cast<size_t>(y) * pic.width();
        for (uint32_t x = 0; x < pic.width(); ++x) out[x] = in[4 * x];
    }
}

uint32_t MbcVideoEncoder::sadHalf(const MbcPicture& ref, int x, int y, int hx, int hy) {
    prediction_->predict(pred_, ref.data() + (hy >> 1) * ref.stride() + 4 * (hx >> 1), ref.stride(), hx & 1, hy & 1);
    const uint32_t W = decoder_.storeWidth();
    uint32_t sad = 0;
    for (int r = 0; r < 16; ++r) {
        const uint8_t* a = sourceY_.data() + static_cast<size_t>(y + r) * W + x;
        for (int c = 0; c < 16; ++c) sad += static_cast<uint32_t>(std::abs(a[c] - pred_[64 * r + 4 * c + 2]));
    }
    return sad;
}

MbcMotion MbcVideoEncoder::searchMotion(int mx, int my, const MbcPicture* past, const MbcPicture* future,
                                        bool bidirectional) {
    const int x = 16 * mx, y = 16 * my;
    const ptrdiff_t W = decoder_.storeWidth();
    const int mbCols = static_cast<int>(decoder_.storeWidth() / 16);
    const uint8_t* src = sourceY_.data() + y * W + x;
    MbcMotion best;
    uint32_t bestCost = UINT32_MAX;
    auto search = [&](const MbcPicture& ref, const std::vector<uint8_t>& refY, bool isPast) {
        const int range = settings_.searchRange;
        std::vector<int16_t>& seeds = seeds_[isPast ? 0 : 1];
        int bx = 0, by = 0;
        uint32_t cost = UINT32_MAX;
        auto tryFull = [&](int dx, int dy) {
            if (!vectorAllowed(mx, my, 2 * dx, 2 * dy)) return;
            // A small bias keeps still areas on the zero vector.
            uint32_t c = sad_(src, W, refY.data() + (y + dy) * W + (x + dx), W) +
                         static_cast<uint32_t>(std::abs(dx) + std::abs(dy)) * 4;
            if (c < cost) {
                cost = c;
                bx = dx;
                by = dy;
            }
        };
        // A two-pixel grid over the range, the neighbours' vectors, then the pixels around
        // the best of them.
        for (int dy = -range; dy <= range; dy += 2)
            for (int dx = -range; dx <= range; dx += 2) tryFull(dx, dy);
        size_t me = static_cast<size_t>(my) * mbCols + mx;
        if (mx > 0) tryFull(seeds[2 * (me - 1)], seeds[2 * (me - 1) + 1]);
        if (my > 0) tryFull(seeds[2 * (me - mbCols)], seeds[2 * (me - mbCols) + 1]);
        if (cost == UINT32_MAX) return;
        const int gx = bx, gy = by;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx || dy) tryFull(gx + dx, gy + dy);
        seeds[2 * me] = static_cast<int16_t>(bx);
        seeds[2 * me + 1] = static_cast<int16_t>(by);
        int hx0 = 2 * bx, hy0 = 2 * by;
        int hbx = hx0, hby = hy0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (!dx && !dy) continue;
                int vx = hx0 + dx, vy = hy0 + dy;
                if (!vectorAllowed(mx, my, vx, vy)) continue;
                uint32_t c =
                    sadHalf(ref, x, y, 2 * x + vx, 2 * y + vy) + static_cast<uint32_t>(std::abs(vx) + std::abs(vy)) * 2;
                if (c < cost) {
                    cost = c;
                    hbx = vx;
                    hby = vy;
                }
            }
        if (cost < bestCost) {
            bestCost = cost;
            best.used = true;
            best.past = isPast;
            best.x = hbx;
            best.y = hby;
        }
    };
    if (past) search(*past, pastY_, true);
    if (bidirectional && future) search(*future, futureY_, false);
    if (!best.used) return best;
    // Against coding the macroblock on its own: its activity around the mean.
    uint32_t sum = 0;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) sum += src[r * W + c];
    int mean = static_cast<int>((sum + 128) / 256);
    uint32_t activity = 0;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) activity += static_cast<uint32_t>(std::abs(src[r * W + c] - mean));
    if (bestCost > activity + 256) best.used = false;
    return best;
}

void MbcVideoEncoder::codeBlock(const int32_t* coef, int dcBase, int16_t& dcOut) {
    int32_t z[64];
    for (int k = 0; k < 64; ++k) z[k] = coef[MbcVideoDecoder::kZigzag[k]];
    int32_t diff = clampCoef(static_cast<int64_t>(z[0]) - dcBase);
    dcOut = static_cast<int16_t>(dcBase + diff);
    z[0] = diff;
    int last = -1;
    for (int k = 0; k < 64; ++k)
        if (z[k]) last = k;
    int run = 0;
    for (int k = 0; k <= last; ++k) {
        if (z[k] == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            tokens_.push_back({0x0F, 0, 0});  // size 0, run 15: skip fifteen zeros
            run -= 15;
        }
        int32_t v = z[k];
        uint32_t mag = static_cast<uint32_t>(v < 0 ? -v : v);
        int size = 32 - __builtin_clz(mag);
        uint32_t h = 1u << (size - 1);
        uint32_t bits = v < 0 ? mag : mag - h;
        tokens_.push_back({static_cast<int16_t>((size << 4) | run), static_cast<uint8_t>(size), bits});
        run = 0;
    }
    if (last < 63) tokens_.push_back({0, 0, 0});
}

bool MbcVideoEncoder::encodeSource(MbcFrameType type, const MbcPicture& source, const MbcPicture* past,
                                   const MbcPicture* future, std::vector<uint8_t>& payload,
                                   MbcPicture& reconstruction) {
    if (!configured_) return false;
    payload.clear();
    if (type == MbcFrameType::Repeat) return past ? reconstruction.copyFrom(*past) : false;
    const uint32_t W = decoder_.storeWidth(), H = decoder_.storeHeight();
    if (source.width() != W || source.height() != H) return false;
    if (type == MbcFrameType::Predicted && !past) return false;
    if (type == MbcFrameType::Bidirectional && (!past || !future)) return false;
    if (type != MbcFrameType::Intra && type != MbcFrameType::Predicted && type != MbcFrameType::Bidirectional)
        return false;
    auto sized = [&](const MbcPicture* p) { return !p || (p->width() == W && p->height() == H); };
    if (!sized(past) || !sized(future)) return false;

    const bool intra = type == MbcFrameType::Intra;
    const uint8_t* matrix = intra ? settings_.intraMatrix.data() : settings_.interMatrix.data();
    const int q = settings_.quantiser;
    const int cs = decoder_.chromaStride(), sx = decoder_.chromaShiftX(), sy = decoder_.chromaShiftY();
    const int mbCols = static_cast<int>(W / 16), mbRows = static_cast<int>(H / 16);
    tokens_.clear();
    motion_.assign(static_cast<size_t>(mbCols) * mbRows, MbcMotion{});
    if (!intra) {
        extractLuma(source, sourceY_);
        if (past) extractLuma(*past, pastY_);
        if (future) extractLuma(*future, futureY_);
        for (auto& s : seeds_) s.assign(2 * motion_.size(), 0);
    }

    int32_t planes[4][256];
    for (int my = 0; my < mbRows; ++my) {
        int16_t predictor[4] = {0, 0, 0, 0};
        for (int mx = 0; mx < mbCols; ++mx) {
            tokens_.push_back({-1, 6, static_cast<uint32_t>(q)});
            MbcMotion m;
            if (!intra) {
                m = searchMotion(mx, my, past, future, type == MbcFrameType::Bidirectional);
                motion_[static_cast<size_t>(my) * mbCols + mx] = m;
                tokens_.push_back({-1, 1, m.used ? 1u : 0u});
                if (m.used) {
                    tokens_.push_back({-1, 1, m.past ? 1u : 0u});
                    tokens_.push_back({-1, 8, static_cast<uint32_t>(m.x) & 0xFF});
                    tokens_.push_back({-1, 8, static_cast<uint32_t>(m.y) & 0xFF});
                }
            }
            const uint8_t* pred = nullptr;
            if (m.used) {
                const MbcPicture& ref = m.past ? *past : *future;
                int hx = 32 * mx + m.x, hy = 32 * my + m.y;
                prediction_->predict(pred_, ref.data() + (hy >> 1) * ref.stride() + 4 * (hx >> 1), ref.stride(), hx & 1,
                                     hy & 1);
                pred = pred_;
            }
            // Residual planes (Cr, Cb, Y, A); chroma averaged over the pixels a sample covers.
            const int cw = 16 >> sx, ch = 16 >> sy, n = 1 << (sx + sy);
            for (int r = 0; r < 16; ++r) {
                const uint8_t* s = source.row(static_cast<uint32_t>(16 * my + r)) + 64 * mx;
                for (int c = 0; c < 16; ++c) {
                    planes[2][16 * r + c] = s[4 * c + 2] - (pred ? pred[64 * r + 4 * c + 2] : 0);
                    planes[3][16 * r + c] = s[4 * c + 3] - (pred ? pred[64 * r + 4 * c + 3] : 0);
                }
            }
            for (int p = 0; p < 2; ++p)
                for (int r = 0; r < ch; ++r)
                    for (int c = 0; c < cw; ++c) {
                        int32_t sum = 0;
                        for (int dy = 0; dy < (1 << sy); ++dy)
                            for (int dx = 0; dx < (1 << sx); ++dx) {
                                int py = (r << sy) + dy, px = (c << sx) + dx;
                                const uint8_t* s = source.row(static_cast<uint32_t>(16 * my + py)) + 64 * mx;
                                sum += s[4 * px + p] - (pred ? pred[64 * py + 4 * px + p] : 0);
                            }
                        planes[p][cs * r + c] = roundedMean(sum, n);
                    }

            bool first[4] = {true, true, true, true};
            int16_t firstDc[4] = {0, 0, 0, 0};
            const auto* order = decoder_.blockOrder();
            for (int b = 0; b < decoder_.blockCount(); ++b) {
                const auto& place = order[b];
                const int stride = place.plane < 2 ? cs : 16;
                const int32_t* src = planes[place.plane] + place.y * stride + place.x;
                int32_t coef[64];
                if (settings_.transform == 1) {
                    for (int r = 0; r < 8; ++r)
                        for (int c = 0; c < 8; ++c) {
                            auto at = [&](int rr, int cc) { return rr < 0 || cc < 0 ? 0 : src[rr * stride + cc]; };
                            coef[8 * r + c] = at(r, c) - at(r, c - 1) - at(r - 1, c) + at(r - 1, c - 1);
                        }
                } else {
                    int32_t x[64];
                    double f[64];
                    for (int r = 0; r < 8; ++r)
                        for (int c = 0; c < 8; ++c) x[8 * r + c] = src[r * stride + c];
                    forwardDct(x, f);
                    for (int i = 0; i < 64; ++i)
                        coef[i] = quantise(f[i] * 128.0 / (static_cast<double>(matrix[i]) * q));
                }
                int base = first[place.plane] ? predictor[place.plane] : firstDc[place.plane];
                int16_t dc;
                codeBlock(coef, base, dc);
                if (first[place.plane]) {
                    predictor[place.plane] = dc;
                    firstDc[place.plane] = dc;
                    first[place.plane] = false;
                }
            }
        }
    }

    uint32_t counts[192] = {};
    for (const Token& t : tokens_)
        if (t.symbol >= 0) ++counts[t.symbol];
    uint8_t lengths[192];
    uint16_t codes[192] = {};
    if (!mbcBuildCodeLengths(counts, lengths) || !MbcHuffmanTable::assignCodes(lengths, codes)) return false;
    MbcBitWriter out;
    for (int s = 0; s < 192; ++s) {
        out.write(lengths[s] ? 1 : 0, 1);
        if (lengths[s]) out.write(lengths[s], 4);
    }
    for (const Token& t : tokens_) {
        if (t.symbol >= 0) out.write(codes[t.symbol], lengths[t.symbol]);
        if (t.bits) out.write(t.value, t.bits);
    }
    payload = out.finish();
    return decoder_.decodeFrame(payload.data(), payload.size(), type, reconstruction, past, future,
                                settings_.intraMatrix.data(), settings_.interMatrix.data());
}
