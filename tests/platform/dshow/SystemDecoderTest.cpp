// The decoders' output side without a graph: the picture types offered for a width, the
// video header they carry, which proposed output types are taken, the sound type for a
// many-channel input, and the picture writer's layouts, orientation and bounds.
#include <gtest/gtest.h>

#include <limits>

#include "SystemTestSupport.h"
#include "platform/dshow/system/AudioDecoderFilter.h"
#include "platform/dshow/system/PictureWriter.h"
#include "platform/dshow/system/VideoDecoderFilter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

using namespace systemtest;

namespace {

CMediaType h264Input(LONG width, LONG height) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_H264);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    v->AvgTimePerFrame = kFrameTime;
    v->bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, makeFourcc('H', '2', '6', '4'), 0, 0, 0, 0, 0};
    return mt;
}

// A filled 4:2:0 frame: luma rows count up from `top`, chroma neutral.
av::Frame planarFrame(int width, int height, int top) {
    av::Frame f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    for (int y = 0; y < height; ++y) std::memset(f->data[0] + y * f->linesize[0], top + y, static_cast<size_t>(width));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < (height + 1) / 2; ++y)
            std::memset(f->data[p] + y * f->linesize[p], 128, static_cast<size_t>((width + 1) / 2));
    return f;
}

}  // namespace

TEST(SystemVideoDecoder, OutputHeadersFollowTheOrientationAndPlaneRules) {
    using F = PictureFormat;
    CMediaType rgb;
    VideoDecoderFilter::describeOutput(F::Rgb32, 161, 90, kFrameTime, &rgb);
    const BITMAPINFOHEADER* b = bitmapHeaderOf(rgb.formattype, rgb.pbFormat, rgb.cbFormat);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biHeight, -90);
    EXPECT_EQ(b->biCompression, BI_RGB);
    EXPECT_EQ(b->biSizeImage, 161u * 90u * 4u);
    EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(rgb.pbFormat)->AvgTimePerFrame, kFrameTime);

    CMediaType yv12;
    VideoDecoderFilter::describeOutput(F::Yv12, 162, 91, kFrameTime, &yv12);
    b = bitmapHeaderOf(yv12.formattype, yv12.pbFormat, yv12.cbFormat);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biHeight, 91);
    EXPECT_EQ(b->biCompression, makeFourcc('Y', 'V', '1', '2'));
    // Rows rounded up to four bytes, half-height chroma rounded up.
    EXPECT_EQ(b->biSizeImage, 164u * 91u + 2u * 84u * 46u);
}

TEST(SystemVideoDecoder, TakesOnlyOutputTypesOfItsOwnPictureSize) {
    InterfacePtr<VideoDecoderFilter> decoder(new VideoDecoderFilter(VideoDecoderFilter::Kind::Generic));
    CMediaType in = h264Input(160, 120);
    ASSERT_EQ(decoder->CheckInputType(&in), S_OK);
    ASSERT_EQ(decoder->SetMediaType(PINDIR_INPUT, &in), S_OK);
    CMediaType out;
    VideoDecoderFilter::describeOutput(PictureFormat::Rgb32, 160, 120, 0, &out);
    EXPECT_EQ(decoder->CheckTransform(&in, &out), S_OK);
    // Bottom-up RGB is fine too; another size or an unknown subtype is not.
    reinterpret_cast<VIDEOINFOHEADER*>(out.pbFormat)->bmiHeader.biHeight = 120;
    EXPECT_EQ(decoder->CheckTransform(&in, &out), S_OK);
    reinterpret_cast<VIDEOINFOHEADER*>(out.pbFormat)->bmiHeader.biWidth = 320;
    EXPECT_NE(decoder->CheckTransform(&in, &out), S_OK);
    VideoDecoderFilter::describeOutput(PictureFormat::Rgb32, 160, 120, 0, &out);
    out.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_NE(decoder->CheckTransform(&in, &out), S_OK);

    // The MPEG decoder leaves H.264 to others.
    InterfacePtr<VideoDecoderFilter> mpeg(new VideoDecoderFilter(VideoDecoderFilter::Kind::Mpeg));
    EXPECT_NE(mpeg->CheckInputType(&in), S_OK);
}

TEST(SystemAudioDecoder, ManyChannelsComeOutAsStereoSixteenBitAtTheStreamRate) {
    InterfacePtr<AudioDecoderFilter> decoder(new AudioDecoderFilter(AudioDecoderFilter::Kind::Generic));
    CMediaType in;
    in.SetType(&MEDIATYPE_Audio);
    in.SetSubtype(&MEDIASUBTYPE_PCM);
    in.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(in.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    *w = WAVEFORMATEX{WAVE_FORMAT_PCM, 6, 48000, 48000 * 18, 18, 24, 0};
    ASSERT_EQ(decoder->SetMediaType(PINDIR_INPUT, &in), S_OK);
    CMediaType out;
    ASSERT_EQ(decoder->GetMediaType(0, &out), S_OK);
    EXPECT_EQ(decoder->GetMediaType(1, &out), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(decoder->GetMediaType(0, &out), S_OK);
    ASSERT_TRUE(acceptsPcm16(out));
    auto* o = reinterpret_cast<const WAVEFORMATEX*>(out.pbFormat);
    EXPECT_EQ(o->nChannels, 2);
    EXPECT_EQ(o->nSamplesPerSec, 48000u);
    EXPECT_EQ(o->nBlockAlign, 4);
    EXPECT_EQ(decoder->CheckTransform(&in, &out), S_OK);
    reinterpret_cast<WAVEFORMATEX*>(out.pbFormat)->nSamplesPerSec = 44100;
    EXPECT_NE(decoder->CheckTransform(&in, &out), S_OK);
}

TEST(SystemPictureWriter, WritesTopDownOrBottomUpAndNeverPastThePicture) {
    constexpr int w = 64, h = 48;
    PictureWriter top, bottom;
    top.configure(PictureFormat::Rgb32, w, h, false);
    bottom.configure(PictureFormat::Rgb32, w, h, true);
    av::Frame frame = planarFrame(w, h, 40);
    const LONG size = top.layout().imageSize;
    ASSERT_EQ(size, w * h * 4);
    std::vector<BYTE> a(static_cast<size_t>(size) + 64, 0xAB), b(a);
    ASSERT_TRUE(top.write(*frame, a.data(), size));
    ASSERT_TRUE(bottom.write(*frame, b.data(), size));
    // Row 0 of the top-down picture is the last row of the bottom-up one.
    EXPECT_EQ(std::memcmp(a.data(), b.data() + (h - 1) * w * 4, w * 4), 0);
    EXPECT_LT(a[0], a[(h - 1) * w * 4]) << "the frame gets brighter downwards";
    for (size_t i = static_cast<size_t>(size); i < a.size(); ++i) ASSERT_EQ(a[i], 0xAB) << i;

    // A frame of another size is scaled into the negotiated one, within its bounds.
    av::Frame larger = planarFrame(100, 90, 40);
    std::vector<BYTE> c(static_cast<size_t>(size) + 64, 0xCD);
    ASSERT_TRUE(top.write(*larger, c.data(), size));
    for (size_t i = static_cast<size_t>(size); i < c.size(); ++i) ASSERT_EQ(c[i], 0xCD) << i;
    // A buffer too small is refused untouched.
    EXPECT_FALSE(top.write(*frame, c.data(), size - 1));
}

TEST(SystemPictureWriter, PlanarLayoutsPutTheChromaPlanesInTheirOrder) {
    constexpr int w = 34, h = 21;
    PictureLayout l = pictureLayout(PictureFormat::Yv12, w, h);
    EXPECT_EQ(l.lumaStride, 36);
    EXPECT_EQ(l.chromaStride, 20);
    EXPECT_EQ(l.chromaRows, 11);
    EXPECT_EQ(pictureLayout(PictureFormat::Yv12, 33, h).imageSize, 0) << "no room for an odd width's last chroma";
    EXPECT_EQ(pictureLayout(PictureFormat::Rgb32, 0, h).imageSize, 0);

    av::Frame frame = planarFrame(w, h, 50);
    for (int y = 0; y < (h + 1) / 2; ++y) {
        std::memset(frame->data[1] + y * frame->linesize[1], 60, (w + 1) / 2);   // U
        std::memset(frame->data[2] + y * frame->linesize[2], 200, (w + 1) / 2);  // V
    }
    for (PictureFormat f : {PictureFormat::Yv12, PictureFormat::I420}) {
        PictureWriter writer;
        writer.configure(f, w, h, false);
        std::vector<BYTE> out(static_cast<size_t>(l.imageSize) + 16, 0);
        ASSERT_TRUE(writer.write(*frame, out.data(), l.imageSize));
        const BYTE* first = out.data() + l.lumaStride * h;
        const BYTE* second = first + l.chromaStride * l.chromaRows;
        EXPECT_EQ(out[static_cast<size_t>(l.lumaStride) * 3], 53) << "luma row 3";
        EXPECT_EQ(first[0], f == PictureFormat::Yv12 ? 200 : 60);
        EXPECT_EQ(second[(l.chromaRows - 1) * l.chromaStride + 16], f == PictureFormat::Yv12 ? 60 : 200);
    }
}
