// Round trips through the MBC encoder and decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "MbcTestPictures.h"
#include "splitters/MbcVideoDecoder.h"
#include "tools/mbcenc/MbcSequenceEncoder.h"
#include "tools/mbcenc/MbcVideoEncoder.h"

namespace {

using mbctest::naturalPicture;

std::vector<uint8_t> decodeToBgra(MbcVideoDecoder& dec, const MbcPicture& pic) {
    std::vector<uint8_t> out(static_cast<size_t>(dec.width()) * dec.height() * 4);
    dec.convertPicture(pic, out.data(), dec.width() * 4);
    return out;
}

bool sameStore(const MbcPicture& a, const MbcPicture& b) {
    return a.width() == b.width() && a.height() == b.height() && std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

// Grey pictures survive every Y/Cb/Cr layout exactly (Cb = Cr = 128 everywhere).
std::vector<uint8_t> greyPicture(int w, int h, uint32_t seed, bool alpha) {
    auto p = mbctest::randomBytes(static_cast<size_t>(w) * h * 4, seed);
    for (size_t i = 0; i < p.size(); i += 4) {
        p[i + 1] = p[i + 2] = p[i];
        if (!alpha) p[i + 3] = 255;
    }
    return p;
}

TEST(MbcEncoderTest, TransformOneIsLosslessForEveryLayout) {
    const int w = 40, h = 24;  // not multiples of 16: the padding is coded too
    for (uint32_t layout : {1u, 2u, 3u, 16u}) {
        for (bool alpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << "layout " << layout << " alpha " << alpha);
            MbcEncoderSettings s;
            s.width = w;
            s.height = h;
            s.layout = layout;
            s.alpha = alpha;
            s.transform = 1;
            s.quantiser = 9;
            MbcVideoEncoder enc;
            ASSERT_TRUE(enc.configure(s));
            MbcVideoDecoder dec;
            ASSERT_TRUE(dec.configure(w, h, enc.codecFlags() | MbcVideoDecoder::kOutputAlpha));

            // Grey content: exact through the colour conversion for every layout.
            auto grey = greyPicture(w, h, layout * 7 + alpha, alpha);
            std::vector<uint8_t> payload;
            MbcPicture recon, decoded;
            ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Intra, grey.data(), w * 4, nullptr, nullptr, payload, recon));
            ASSERT_TRUE(dec.decodeFrame(payload.data(), payload.size(), MbcFrameType::Intra, decoded, nullptr, nullptr,
                                        enc.intraMatrix(), enc.interMatrix()));
            EXPECT_TRUE(sameStore(decoded, recon));
            auto out = decodeToBgra(dec, decoded);
            if (!alpha) {
                for (size_t i = 3; i < out.size(); i += 4) EXPECT_EQ(out[i], 255);
            }
            EXPECT_EQ(out, grey);

            // Full-colour content: the coded planes come back exactly at full chroma
            // resolution; the RGB layout is exact in BGRA as well.
            if (layout == 1 || layout == 16) {
                auto colour = naturalPicture(w, h, 0, alpha, layout);
                MbcPicture source;
                enc.makeSource(colour.data(), w * 4, source);
                ASSERT_TRUE(
                    enc.encodeFrame(MbcFrameType::Intra, colour.data(), w * 4, nullptr, nullptr, payload, recon));
                EXPECT_TRUE(sameStore(recon, source));
                if (layout == 16) {
                    EXPECT_EQ(decodeToBgra(dec, recon), colour);
                }
            }
        }
    }
}

TEST(MbcEncoderTest, TransformOneInterFramesAreLosslessAtFullChroma) {
    const int w = 64, h = 48;
    MbcEncoderSettings s;
    s.width = w;
    s.height = h;
    s.layout = 16;
    s.alpha = true;
    s.transform = 1;
    MbcVideoEncoder enc;
    ASSERT_TRUE(enc.configure(s));
    std::vector<uint8_t> payload;
    MbcPicture ref0, ref1, recon, source;
    auto p0 = naturalPicture(w, h, 0, true), p1 = naturalPicture(w, h, 2, true), pb = naturalPicture(w, h, 1, true);
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Intra, p0.data(), w * 4, nullptr, nullptr, payload, ref0));
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Predicted, p1.data(), w * 4, &ref0, nullptr, payload, ref1));
    enc.makeSource(p1.data(), w * 4, source);
    EXPECT_TRUE(sameStore(ref1, source));
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Bidirectional, pb.data(), w * 4, &ref0, &ref1, payload, recon));
    enc.makeSource(pb.data(), w * 4, source);
    EXPECT_TRUE(sameStore(recon, source));
    int vectors = 0;
    for (const auto& m : enc.lastMotion()) vectors += m.used;
    EXPECT_GT(vectors, 0);
}

TEST(MbcEncoderTest, TransformTwoQualityAtModerateQuantiser) {
    // Stated bound: at quantiser 4 with the default matrices, natural-looking content
    // reaches at least 38 dB in B, G, R with and without the deblocking filter, for every
    // layout, Intra and Predicted (measured: 41.4-44.3 dB).
    const int w = 128, h = 96;
    for (uint32_t layout : {1u, 2u, 3u, 16u}) {
        for (bool deblock : {false, true}) {
            SCOPED_TRACE(testing::Message() << "layout " << layout << " deblock " << deblock);
            MbcEncoderSettings s;
            s.width = w;
            s.height = h;
            s.layout = layout;
            s.quantiser = 4;
            s.deblocking = deblock;
            MbcVideoEncoder enc;
            ASSERT_TRUE(enc.configure(s));
            MbcVideoDecoder dec;
            ASSERT_TRUE(dec.configure(w, h, enc.codecFlags() | MbcVideoDecoder::kOutputOpaque));
            std::vector<uint8_t> payload;
            MbcPicture r0, r1;
            auto p0 = naturalPicture(w, h, 0), p1 = naturalPicture(w, h, 1);
            ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Intra, p0.data(), w * 4, nullptr, nullptr, payload, r0));
            const double bound = 38.0;
            double q0 = mbctest::psnrBgr(decodeToBgra(dec, r0), p0);
            EXPECT_GE(q0, bound);
            ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Predicted, p1.data(), w * 4, &r0, nullptr, payload, r1));
            double q1 = mbctest::psnrBgr(decodeToBgra(dec, r1), p1);
            EXPECT_GE(q1, bound);
            std::printf("layout %u deblock %d: intra %.2f dB, predicted %.2f dB, %zu bytes\n", layout, deblock, q0, q1,
                        payload.size());
        }
    }
}

// A blurred random texture, cropped from a larger field at (ox, oy).
std::vector<uint8_t> texture(int w, int h, int ox, int oy) {
    const int fw = w + 32, fh = h + 32;
    auto field = mbctest::randomBytes(static_cast<size_t>(fw) * fh, 99);
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx) sum += field[(y + oy + dy) * fw + (x + ox + dx)];
            uint8_t v = static_cast<uint8_t>(sum / 9);
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 4];
            q[0] = v;
            q[1] = static_cast<uint8_t>(255 - v);
            q[2] = static_cast<uint8_t>(v / 2 + 60);
            q[3] = 255;
        }
    return p;
}

TEST(MbcEncoderTest, MotionSearchFindsTheShift) {
    const int w = 96, h = 64;
    MbcEncoderSettings s;
    s.width = w;
    s.height = h;
    s.quantiser = 2;
    s.deblocking = false;
    MbcVideoEncoder enc;
    ASSERT_TRUE(enc.configure(s));
    std::vector<uint8_t> intraPayload, pPayload, intra1;
    MbcPicture r0, r1, unused;
    // The content moves 4 pixels right and 2 down.
    auto p0 = texture(w, h, 8, 8), p1 = texture(w, h, 4, 6);
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Intra, p0.data(), w * 4, nullptr, nullptr, intraPayload, r0));
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Intra, p1.data(), w * 4, nullptr, nullptr, intra1, unused));
    ASSERT_TRUE(enc.encodeFrame(MbcFrameType::Predicted, p1.data(), w * 4, &r0, nullptr, pPayload, r1));
    // Without the search the same frame costs far more.
    MbcEncoderSettings still = s;
    still.searchRange = 0;
    MbcVideoEncoder enc0;
    ASSERT_TRUE(enc0.configure(still));
    std::vector<uint8_t> p0Payload;
    ASSERT_TRUE(enc0.encodeFrame(MbcFrameType::Predicted, p1.data(), w * 4, &r0, nullptr, p0Payload, unused));
    EXPECT_LT(pPayload.size() * 4, p0Payload.size() * 3);
    // Every macroblock whose source lies inside the picture points 4 pixels left and 2 up.
    int exact = 0, interior = 0;
    for (int my = 1; my < h / 16; ++my)
        for (int mx = 1; mx < w / 16; ++mx) {
            const MbcMotion& m = enc.lastMotion()[my * (w / 16) + mx];
            ++interior;
            exact += m.used && m.past && m.x == -8 && m.y == -4;
        }
    EXPECT_EQ(exact, interior);
}

TEST(MbcEncoderTest, SequencesDecodeToTheEncodersReconstruction) {
    const int w = 80, h = 48;
    for (const char* pattern : {"IPBBPBBR", "IBPRBBP", "IRPPB", "IBRP"}) {
        for (int transform : {1, 2}) {
            SCOPED_TRACE(testing::Message() << pattern << " transform " << transform);
            MbcEncoderSettings s;
            s.width = w;
            s.height = h;
            s.layout = transform == 1 ? 2 : 3;
            s.alpha = transform == 2;
            s.transform = transform;
            s.quantiser = 5;
            MbcSequenceEncoder seq;
            ASSERT_TRUE(seq.configure(s, pattern, true));
            std::vector<MbcEncodedRecord> records;
            const int frames = 13;
            for (int i = 0; i < frames; ++i) {
                auto pic = naturalPicture(w, h, i, s.alpha, 3);
                ASSERT_TRUE(seq.addFrame(pic.data(), w * 4, records));
                if (i == 7) {
                    ASSERT_TRUE(seq.restart(records));
                }
            }
            ASSERT_TRUE(seq.finish(records));
            ASSERT_EQ(records.size(), static_cast<size_t>(frames));

            MbcVideoDecoder dec;
            ASSERT_TRUE(dec.configure(w, h, seq.codecFlags() | MbcVideoDecoder::kOutputAlpha));
            std::map<uint32_t, MbcPicture> decoded;
            std::map<uint32_t, bool> seen;
            int types[16] = {};
            for (const auto& r : records) {
                EXPECT_FALSE(seen[r.frame]);
                seen[r.frame] = true;
                ++types[static_cast<int>(r.type)];
                MbcPicture& pic = decoded[r.frame];
                if (r.type == MbcFrameType::Repeat) {
                    ASSERT_TRUE(decoded.count(r.frame - 1));
                    pic.copyFrom(decoded[r.frame - 1]);
                    continue;
                }
                const MbcPicture* past = nullptr;
                const MbcPicture* future = nullptr;
                if (r.type == MbcFrameType::Predicted || r.type == MbcFrameType::Bidirectional) {
                    ASSERT_TRUE(decoded.count(r.frame - r.backward));
                    past = &decoded[r.frame - r.backward];
                }
                if (r.type == MbcFrameType::Bidirectional) {
                    ASSERT_TRUE(decoded.count(r.frame + r.forward));
                    future = &decoded[r.frame + r.forward];
                }
                ASSERT_TRUE(dec.decodeFrame(r.payload.data(), r.payload.size(), r.type, pic, past, future,
                                            seq.encoder().intraMatrix(), seq.encoder().interMatrix()));
                ASSERT_TRUE(r.reconstruction);
                EXPECT_TRUE(sameStore(pic, *r.reconstruction)) << "frame " << r.frame;
            }
            EXPECT_GT(types[1], 1);  // the restart made a second Intra frame
            EXPECT_GT(types[4], 0);
            EXPECT_GT(types[8], 0);
            EXPECT_GT(types[2], 0);
        }
    }
}

TEST(MbcEncoderTest, RejectsInvalidSettings) {
    MbcVideoEncoder enc;
    MbcEncoderSettings s;
    s.width = 16;
    s.height = 16;
    EXPECT_TRUE(enc.configure(s));
    auto bad = s;
    bad.layout = 4;
    EXPECT_FALSE(enc.configure(bad));
    bad = s;
    bad.quantiser = 0;
    EXPECT_FALSE(enc.configure(bad));
    bad.transform = 1;
    EXPECT_TRUE(enc.configure(bad));
    bad = s;
    bad.width = 0;
    EXPECT_FALSE(enc.configure(bad));
    bad = s;
    bad.intraMatrix.fill(1);
    bad.intraMatrix[5] = 0;
    EXPECT_FALSE(enc.configure(bad));
    // A predicted frame needs its reference.
    ASSERT_TRUE(enc.configure(s));
    std::vector<uint8_t> pic(16 * 16 * 4, 100), payload;
    MbcPicture recon;
    EXPECT_FALSE(enc.encodeFrame(MbcFrameType::Predicted, pic.data(), 64, nullptr, nullptr, payload, recon));
}

}  // namespace

#include "tools/mbcenc/GbcfWriter.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(MbcEncoderTest, GbcfStillHoldsOneIntraPayload) {
    const int w = 37, h = 21;
    for (bool alpha : {false, true}) {
        MbcEncoderSettings s;
        s.width = w;
        s.height = h;
        s.layout = 16;
        s.alpha = alpha;
        s.transform = 1;
        auto pic = naturalPicture(w, h, 0, alpha);
        std::vector<uint8_t> file;
        ASSERT_TRUE(writeGbcfStill(s, pic.data(), w * 4, file));
        ASSERT_GT(file.size(), kGbcfHeaderSize);
        EXPECT_EQ(std::memcmp(file.data(), "GBCF", 4), 0);
        EXPECT_EQ(le32(&file[4]), file.size());
        EXPECT_EQ(le32(&file[8]), static_cast<uint32_t>(w));
        EXPECT_EQ(le32(&file[12]), static_cast<uint32_t>(h));
        EXPECT_EQ(file[16] | file[17] << 8, alpha ? 32 : 24);
        int format = file[18] | file[19] << 8;
        EXPECT_NE(format & 0x3FF, 0);
        EXPECT_EQ(format & 15, alpha ? 13 : 9);
        EXPECT_EQ((format >> 10) & 3, 1);
        EXPECT_EQ(le32(&file[24]), file.size() - kGbcfHeaderSize);
        MbcVideoDecoder dec;
        ASSERT_TRUE(dec.configure(w, h, le32(&file[20]) | MbcVideoDecoder::kOutputAlpha));
        MbcPicture out;
        ASSERT_TRUE(dec.decodeFrame(&file[kGbcfHeaderSize], file.size() - kGbcfHeaderSize, MbcFrameType::Intra, out,
                                    nullptr, nullptr, kMbcDefaultIntraMatrix, kMbcDefaultInterMatrix));
        EXPECT_EQ(decodeToBgra(dec, out), pic);
    }
    MbcEncoderSettings bad;
    std::vector<uint8_t> file;
    EXPECT_FALSE(writeGbcfStill(bad, nullptr, 0, file));
}

}  // namespace

#include <random>

#include "tools/mbcenc/MbcSad.h"

namespace {

TEST(MbcEncoderTest, SadSse2MatchesScalar) {
    if (!mbcCpuLevelSupported(MbcCpuLevel::Sse2)) GTEST_SKIP() << "no SSE2";
    MbcSad16Fn scalar = mbcSad16(MbcCpuLevel::Scalar), sse2 = mbcSad16(MbcCpuLevel::Sse2);
    ASSERT_NE(scalar, sse2);
    std::mt19937 rng(77);
    std::vector<uint8_t> a(40 * 20), b(40 * 20);
    for (int iter = 0; iter < 2000; ++iter) {
        for (auto& v : a) v = static_cast<uint8_t>(iter % 5 == 0 ? (rng() & 1) * 255 : rng());
        for (auto& v : b) v = static_cast<uint8_t>(iter % 7 == 0 ? 255 - (rng() & 1) * 255 : rng());
        int ao = static_cast<int>(rng() % 20), bo = static_cast<int>(rng() % 20);
        ptrdiff_t as = 17 + rng() % 20, bs = 16 + rng() % 21;
        if (ao + 15 * as + 16 > 800 || bo + 15 * bs + 16 > 800) continue;
        ASSERT_EQ(scalar(a.data() + ao, as, b.data() + bo, bs), sse2(a.data() + ao, as, b.data() + bo, bs));
    }
    std::vector<uint8_t> zero(256, 0), full(256, 255);
    EXPECT_EQ(sse2(zero.data(), 16, full.data(), 16), 256u * 255u);
}

}  // namespace
