#pragma once
// The MBC splitter's source: drives an MbcReader over the upstream pull interface and turns
// its pictures into 32-bit RGB samples and its PCM into audio samples, stamped on the
// file's frame clock (audio on whole milliseconds, rounded up).
#include <atomic>
#include <cstdint>
#include <memory>

#include "splitters/AsyncReaderFile.h"
#include "splitters/MbcReader.h"
#include "splitters/SplitterSource.h"

class MbcSource : public SplitterSource {
public:
    MbcSource() = default;
    ~MbcSource() override;
    MbcSource(const MbcSource&) = delete;
    MbcSource& operator=(const MbcSource&) = delete;

    HRESULT open(IAsyncReader* reader) override;
    void close() override;
    HRESULT fillSamples(IMediaSample* videoSample, IMediaSample* audioSample, DWORD* flags) override;
    HRESULT seekToTime(REFERENCE_TIME time) override;
    HRESULT seekToFrame(LONGLONG frame) override;
    HRESULT videoType(CMediaType* type, LONG* sampleSize) override;
    HRESULT audioType(CMediaType* type, LONG* sampleSize) override;
    bool supportsFrameFormat() override { return true; }
    LONGLONG timeToFrame(REFERENCE_TIME time) override;
    REFERENCE_TIME frameToTime(LONGLONG frame) override;
    // A renderer may ask for rows wider than the picture, never narrower, and only the
    // offered height and depth.
    HRESULT checkFormat(SplitterStream stream, const CMediaType& type) override;
    HRESULT setFormat(SplitterStream stream, const CMediaType& type) override;

    // The running reader, for callers that pace themselves (tools wait for every frame);
    // null before open.
    MbcReader* reader() { return reader_.get(); }
    uint32_t outputMode() const { return outputMode_; }
    ptrdiff_t videoStride() const { return stride_.load(); }
    uint64_t audioDelivered() const { return audioDelivered_; }

private:
    void buildVideoType();
    bool buildAudioType();
    void clearMargins(uint8_t* dst, ptrdiff_t stride, uint32_t rows) const;

    std::unique_ptr<AsyncReaderFile> file_;
    std::unique_ptr<MbcReader> reader_;
    bool hasVideo_ = false;
    bool hasAudio_ = false;
    uint32_t outputMode_ = MbcReader::kOutputOpaque;
    // The offered picture (the header's output size) and the coded picture the decoder
    // produces; the copy is clipped to the smaller of the two.
    uint32_t width_ = 0, height_ = 0;
    uint32_t codedWidth_ = 0, codedHeight_ = 0;
    // Set on the caller's thread when a renderer settles on a format, read while streaming.
    std::atomic<ptrdiff_t> stride_{0};
    uint32_t sampleRate_ = 0;
    uint32_t blockAlign_ = 0;
    uint64_t audioDelivered_ = 0;  // sample frames since open or the last seek
    uint32_t pictureWaitMs_ = 1;   // how long a picture still being decoded is waited for
};
