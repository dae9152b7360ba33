// The YV12/I420 to RGB32 converter: worked values and every coefficient set against the
// formula, the vector rows against the scalar ones, plane geometry and odd sizes, media
// types, the allocator request, and what Transform puts on the output sample.
#include <gtest/gtest.h>

#include <random>

#include "VideoTestHarness.h"
#include "framework/ComObject.h"
#include "framework/dshow/DshowErrors.h"
#include "media/Yv12ToRgb32Filter.h"

namespace {

using namespace videotest;
using Geometry = Yv12ToRgb32Filter::PlaneGeometry;

uint32_t pixelAt(const std::vector<uint8_t>& bytes, size_t index) {
    uint32_t p;
    std::memcpy(&p, bytes.data() + index * 4, 4);
    return p;
}

std::vector<YuvRowConverter> rowConverters() {
    std::vector<YuvRowConverter> all = {&convertYuvRowScalar};
    if (YuvRowConverter v = sse2YuvRowConverter()) all.push_back(v);
    return all;
}

TEST(Yv12Rows, WorkedValuesAndEveryCoefficientSet) {
    // Y 16 / 235 / 81 with U, V 128 / 128 / (90, 240): black, studio white 254, and red.
    const uint8_t luma[16] = {16, 16, 235, 235, 81, 81, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
    const uint8_t u[8] = {128, 128, 90, 128, 128, 128, 128, 128}, v[8] = {128, 128, 240, 128, 128, 128, 128, 128};
    for (YuvRowConverter convert : rowConverters()) {
        std::vector<uint8_t> out(64);
        convert(out.data(), luma, u, v, yuvCoefficients(kColourStandardBt709Studio), 0, 16);
        EXPECT_EQ(pixelAt(out, 0), 0xFF000000u);
        EXPECT_EQ(pixelAt(out, 2), 0xFFFEFEFEu);
        EXPECT_EQ(pixelAt(out, 4), 0xFFFF1800u);
    }
    EXPECT_EQ(&yuvCoefficients(7), &yuvCoefficients(0));
    // A grid over the whole input range, two luma values per chroma sample.
    std::vector<uint8_t> ys, us, vs;
    for (int y = 0; y < 256; y += 15)
        for (int cb = 0; cb < 256; cb += 17)
            for (int cr = 0; cr < 256; cr += 17) {
                ys.insert(ys.end(), {uint8_t(y), uint8_t(std::min(255, y + 7))});
                us.push_back(uint8_t(cb));
                vs.push_back(uint8_t(cr));
            }
    for (int standard = 0; standard < 4; ++standard)
        for (YuvRowConverter convert : rowConverters()) {
            std::vector<uint8_t> out(ys.size() * 4);
            convert(out.data(), ys.data(), us.data(), vs.data(), yuvCoefficients(standard), 0, uint32_t(ys.size()));
            for (size_t x = 0; x < ys.size(); ++x)
                ASSERT_EQ(pixelAt(out, x), referencePixel(standard, ys[x], us[x / 2], vs[x / 2]))
                    << standard << " " << x;
        }
}

TEST(Yv12Rows, VectorRowsEqualScalarRowsOnRandomAndEdgeInput) {
    YuvRowConverter vector = sse2YuvRowConverter();
    if (!vector) GTEST_SKIP() << "no SSE2";
    std::mt19937 random(20261208);
    const uint8_t edges[] = {0, 1, 15, 16, 17, 127, 128, 129, 235, 240, 254, 255};
    for (int trial = 0; trial < 3000; ++trial) {
        const uint32_t first = random() % 19, count = random() % 75;
        const size_t inShift = random() % 4, outShift = random() % 4, pixels = first + count;
        std::vector<uint8_t> luma(pixels + inShift), u(pixels / 2 + inShift + 1), v(u.size());
        for (auto* plane : {&luma, &u, &v})
            for (uint8_t& b : *plane) b = trial % 3 ? uint8_t(random()) : edges[random() % std::size(edges)];
        const YuvCoefficientSet& c = yuvCoefficients(int32_t(trial % 4));
        // Guard bytes on both sides show a write outside the run.
        std::vector<uint8_t> a((pixels + 4) * 4 + outShift, 0xA5), b = a, untouched = a;
        convertYuvRowScalar(a.data() + outShift, luma.data() + inShift, u.data() + inShift, v.data() + inShift, c,
                            first, count);
        vector(b.data() + outShift, luma.data() + inShift, u.data() + inShift, v.data() + inShift, c, first, count);
        ASSERT_EQ(a, b) << "first " << first << " count " << count;
        const size_t from = outShift + first * 4, to = outShift + pixels * 4;
        ASSERT_TRUE(std::equal(b.begin(), b.begin() + from, untouched.begin()));
        ASSERT_TRUE(std::equal(b.begin() + to, b.end(), untouched.begin() + to));
    }
}

TEST(Yv12Geometry, PlaneLayoutAndRefusedSizes) {
    Geometry g;
    ASSERT_TRUE(Yv12ToRgb32Filter::planeGeometry(10, -7, false, &g));
    EXPECT_EQ(std::vector<int32_t>({g.width, g.height, g.rgbStride, g.rgbImageSize, g.lumaStride, g.lumaPlaneSize,
                                    g.uStride, g.uPlaneSize, g.vOffset, g.uOffset}),
              std::vector<int32_t>({10, 7, 40, 280, 12, 84, 8, 32, 84, 116}));  // YV12: Y, V, U
    ASSERT_TRUE(Yv12ToRgb32Filter::planeGeometry(10, 7, true, &g));
    EXPECT_EQ(g.uOffset, 84);  // I420: Y, U, V
    EXPECT_EQ(g.vOffset, 116);
    ASSERT_TRUE(Yv12ToRgb32Filter::planeGeometry(9, 3, false, &g));
    EXPECT_EQ(g.uStride, 4);  // one short of the 5 samples 9 pixels use
    for (auto [w, h] : {std::pair{1, 4}, {-8, 4}, {8, 0}, {65536, 65536}, {0x7FFFFFFF, 1}, {16, INT32_MIN}})
        EXPECT_FALSE(Yv12ToRgb32Filter::planeGeometry(w, h, false, &g)) << w << "x" << h;
}

class Yv12FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = S_OK;
        filter_ = InterfacePtr<Yv12ToRgb32Filter>(new Yv12ToRgb32Filter(&hr));
        ASSERT_EQ(hr, S_OK);
    }
    InterfacePtr<Yv12ToRgb32Filter> filter_;
};

TEST_F(Yv12FilterTest, ConvertsOddSizesTheSameInEitherPlaneOrder) {
    // 9, 17 and 33 wide leave no room for a row's last chroma sample: it repeats the one before.
    for (auto [w, h] : {std::pair{16, 8}, {6, 5}, {7, 4}, {9, 3}, {17, 1}, {2, 1}, {33, 9}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::mt19937 random(uint32_t(w * 100 + h));
        const int cw = (w + 1) / 2;
        std::vector<uint8_t> y(size_t(w) * h), u(size_t(cw) * ((h + 1) / 2)), v(u.size());
        for (auto* plane : {&y, &u, &v})
            for (uint8_t& b : *plane) b = uint8_t(random());
        std::vector<uint32_t> results[2];
        for (bool i420 : {false, true}) {
            Geometry g;
            ASSERT_TRUE(Yv12ToRgb32Filter::planeGeometry(w, h, i420, &g));
            // Exactly the planes, so that any read past them is outside the buffer.
            std::vector<uint8_t> in(size_t(g.inputSize()));
            for (int r = 0; r < h; ++r) std::memcpy(&in[size_t(r) * g.lumaStride], &y[size_t(r) * w], size_t(w));
            for (size_t r = 0; r < size_t(h + 1) / 2; ++r)
                for (int x = 0; x < std::min(cw, g.uStride); ++x) {
                    in[g.uOffset + r * g.uStride + x] = u[r * cw + x];
                    in[g.vOffset + r * g.vStride + x] = v[r * cw + x];
                }
            CMediaType mt = videoType(i420 ? MEDIASUBTYPE_I420 : MEDIASUBTYPE_YV12, w, i420 ? -h : h, 12, i420);
            ASSERT_EQ(filter_->SetMediaType(PINDIR_INPUT, &mt), S_OK);
            std::vector<uint8_t> out(size_t(g.rgbImageSize));
            ASSERT_EQ(filter_->Transform(sampleOver(in).get(), sampleOver(out).get()), S_OK);
            for (size_t i = 0; i < size_t(w) * h; ++i) results[i420].push_back(pixelAt(out, i));
            for (int r = 0; r < h; ++r)
                for (int x = 0; x < w; ++x) {
                    const size_t c = size_t(r / 2) * cw + std::min(x / 2, g.uStride - 1);
                    ASSERT_EQ(results[i420][size_t(r) * w + x], referencePixel(0, y[size_t(r) * w + x], u[c], v[c]))
                        << x << "," << r;
                }
        }
        EXPECT_EQ(results[0], results[1]);
    }
}

TEST_F(Yv12FilterTest, MediaTypes) {
    CMediaType yv12 = videoType(MEDIASUBTYPE_YV12, 6, 4, 12), bad = yv12;
    EXPECT_EQ(filter_->CheckInputType(&yv12), S_OK);
    bad.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(filter_->CheckInputType(&bad), VFW_E_INVALIDMEDIATYPE);
    bad = videoType(MEDIASUBTYPE_RGB32, 6, 4, 32);
    EXPECT_EQ(filter_->CheckInputType(&bad), VFW_E_INVALIDSUBTYPE);
    bad = yv12;
    bad.ReallocFormatBuffer(80);
    EXPECT_EQ(filter_->CheckInputType(&bad), VFW_E_NO_TYPES);
    bad.SetFormatType(&FORMAT_None);
    EXPECT_EQ(filter_->CheckInputType(&bad), HRESULT(0x80040206));
    bad = videoType(MEDIASUBTYPE_I420, 1, 4, 12);
    EXPECT_EQ(filter_->CheckInputType(&bad), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(filter_->SetMediaType(PINDIR_INPUT, &bad), VFW_E_TYPE_NOT_ACCEPTED);

    CMediaType offered;
    EXPECT_EQ(filter_->GetMediaType(-1, &offered), E_INVALIDARG);
    EXPECT_EQ(filter_->GetMediaType(0, &offered), VFW_S_NO_MORE_ITEMS);  // no input yet
    for (bool info2 : {false, true}) {
        CMediaType in = videoType(MEDIASUBTYPE_YV12, 6, 4, 12, info2);
        auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(in.Format());
        vih2->AvgTimePerFrame = 400000;  // at the same place in both blocks
        if (info2) vih2->dwInterlaceFlags = 0x81;
        ASSERT_EQ(filter_->SetMediaType(PINDIR_INPUT, &in), S_OK);
        EXPECT_EQ(filter_->SetMediaType(PINDIR_OUTPUT, &yv12), S_OK);  // changes nothing
        EXPECT_EQ(filter_->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
        ASSERT_EQ(filter_->GetMediaType(0, &offered), S_OK);
        EXPECT_EQ(offered.subtype, MEDIASUBTYPE_RGB32);
        EXPECT_EQ(offered.formattype, in.formattype);
        ASSERT_EQ(offered.FormatLength(), info2 ? 112u : 88u);
        const auto* out2 = reinterpret_cast<const VIDEOINFOHEADER2*>(offered.Format());
        EXPECT_EQ(out2->AvgTimePerFrame, 400000);
        if (info2) {
            EXPECT_EQ(out2->dwInterlaceFlags, 0u);
        }
        const BITMAPINFOHEADER* h = bitmapHeaderOf(offered.formattype, offered.Format(), offered.FormatLength());
        EXPECT_EQ(h->biWidth, 6);
        EXPECT_EQ(h->biHeight, -4);
        EXPECT_EQ(h->biBitCount, 32);
        EXPECT_EQ(h->biCompression, BI_RGB);
        EXPECT_EQ(h->biSizeImage, 96u);
        EXPECT_EQ(filter_->CheckTransform(&in, &offered), S_OK);
        EXPECT_EQ(filter_->CheckTransform(&in, &yv12), VFW_E_TYPE_NOT_ACCEPTED);
    }
}

// Grants at most a fixed buffer size.
class StingyAllocator : public ComObject<IMemAllocator> {
public:
    explicit StingyAllocator(LONG limit) : limit_(limit) {}
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        asked = *actual = *request;
        actual->cbBuffer = std::min(request->cbBuffer, limit_);
        return S_OK;
    }
    HRESULT GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT Commit() override { return E_NOTIMPL; }
    HRESULT Decommit() override { return E_NOTIMPL; }
    HRESULT GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override { return E_NOTIMPL; }
    HRESULT ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }
    ALLOCATOR_PROPERTIES asked{};

private:
    LONG limit_;
};

TEST_F(Yv12FilterTest, AllocatorRequestAndSampleProperties) {
    CMediaType in = videoType(MEDIASUBTYPE_YV12, 4, 2, 12);
    ASSERT_EQ(filter_->SetMediaType(PINDIR_INPUT, &in), S_OK);
    InterfacePtr<StingyAllocator> enough(new StingyAllocator(1 << 20)), stingy(new StingyAllocator(31));
    ALLOCATOR_PROPERTIES proposed{1, 10, 16, 8};
    EXPECT_EQ(filter_->DecideBufferSize(enough.get(), &proposed), S_OK);
    EXPECT_EQ(enough->asked.cBuffers, 4);
    EXPECT_EQ(enough->asked.cbBuffer, 32);
    EXPECT_EQ(enough->asked.cbAlign, 16);
    EXPECT_EQ(enough->asked.cbPrefix, 8);
    EXPECT_EQ(filter_->DecideBufferSize(stingy.get(), &proposed), E_OUTOFMEMORY);

    std::vector<uint8_t> input(size_t(filter_->geometry().inputSize()), 128), output(32);
    auto src = sampleOver(input), dst = sampleOver(output);
    REFERENCE_TIME start = 1000, stop = 2000, a = 0, b = 0;
    LONGLONG mediaStart = 5, mediaStop = 6, ma = 0, mb = 0;
    for (bool on : {true, false}) {
        src->SetTime(&start, on ? &stop : nullptr);
        src->SetMediaTime(on ? &mediaStart : nullptr, on ? &mediaStop : nullptr);
        src->SetSyncPoint(on);
        src->SetPreroll(on);
        src->SetDiscontinuity(on);
        ASSERT_EQ(filter_->Transform(src.get(), dst.get()), S_OK);
        EXPECT_EQ(dst->GetTime(&a, &b), on ? S_OK : VFW_S_NO_STOP_TIME);
        EXPECT_EQ(a, 1000);
        EXPECT_EQ(b, on ? 2000 : 1001);  // a start alone reads back with stop = start + 1
        EXPECT_EQ(dst->GetMediaTime(&ma, &mb) == S_OK, on);
        EXPECT_EQ(dst->IsSyncPoint() == S_OK, on);
        EXPECT_EQ(dst->IsPreroll() == S_OK, on);
        EXPECT_EQ(dst->IsDiscontinuity() == S_OK, on);
        EXPECT_EQ(dst->GetActualDataLength(), 32);
    }
    src->SetTime(nullptr, nullptr);
    ASSERT_EQ(filter_->Transform(src.get(), dst.get()), S_OK);
    EXPECT_TRUE(FAILED(dst->GetTime(&a, &b)));

    // A sample too short for the picture, in or out, is dropped untouched.
    std::fill(output.begin(), output.end(), 0x33);
    input.pop_back();
    EXPECT_EQ(filter_->Transform(sampleOver(input).get(), dst.get()), S_FALSE);
    output.pop_back();
    EXPECT_EQ(filter_->Transform(src.get(), sampleOver(output).get()), S_FALSE);
    EXPECT_EQ(output[0], 0x33);
}

}  // namespace
