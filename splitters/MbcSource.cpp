#include "splitters/MbcSource.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"

namespace {

constexpr REFERENCE_TIME kHundredNsPerMs = 10000;
// Samples are counted in LONG bytes; larger pictures or chunks are refused or capped.
constexpr uint64_t kMaxSampleBytes = 0x7FFFFFFF;
// The reader never lends a PCM chunk larger than this, so no audio sample needs more.
constexpr uint64_t kMaxAudioSampleBytes = 4u << 20;

// Whole milliseconds of `samples` at `rate`, rounded up, as media time.
REFERENCE_TIME audioStamp(uint64_t samples, uint32_t rate) {
    const unsigned __int128 ms = (static_cast<unsigned __int128>(samples) * 1000 + rate - 1) / rate;
    const unsigned __int128 t = ms * kHundredNsPerMs;
    return t > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX : static_cast<REFERENCE_TIME>(t);
}

}  // namespace

MbcSource::~MbcSource() {
    close();
}

void MbcSource::close() {
    // The worker stops inside the reader's close, before the upstream view goes.
    if (reader_) reader_->close();
    reader_.reset();
    file_.reset();
    hasVideo_ = hasAudio_ = false;
    frameCount_ = 0;
    duration_ = 0;
    videoType_.InitMediaType();
    audioType_.InitMediaType();
    videoSampleSize_ = audioSampleSize_ = 0;
    stride_ = 0;
    audioDelivered_ = 0;
}

HRESULT MbcSource::open(IAsyncReader* upstream) {
    close();
    if (!upstream) return E_POINTER;
    file_.reset(new (std::nothrow) AsyncReaderFile(upstream));
    reader_.reset(new (std::nothrow) MbcReader());
    if (!file_ || !reader_) {
        close();
        return E_OUTOFMEMORY;
    }
    reader_->setCallbacks(&AsyncReaderFile::callbacks());
    if (!reader_->open(file_->name())) {
        close();
        return E_FAIL;
    }
    frameCount_ = reader_->frameCount();
    duration_ = reader_->duration();
    pictureWaitMs_ = static_cast<uint32_t>(std::clamp<int64_t>(reader_->frameTimeMs(1), 1, 1000));
    outputMode_ = reader_->preferredOutputMode();

    const MbcReader::VideoInfo v = reader_->videoInfo();
    codedWidth_ = v.width;
    codedHeight_ = v.height;
    // A header without an output size shows the coded picture.
    width_ = v.decodedWidth ? v.decodedWidth : v.width;
    height_ = v.decodedHeight ? v.decodedHeight : v.height;
    hasVideo_ = reader_->hasVideo();
    if (hasVideo_) {
        if (uint64_t(width_) * 4 * height_ > kMaxSampleBytes || width_ > 0x7FFFFFFF / 4 || height_ > 0x7FFFFFFF) {
            close();
            return E_FAIL;
        }
        buildVideoType();
    }
    hasAudio_ = reader_->hasAudio() && buildAudioType();

    if (!reader_->start(outputMode_)) {
        close();
        return E_FAIL;
    }
    audioDelivered_ = 0;
    return S_OK;
}

void MbcSource::buildVideoType() {
    stride_ = static_cast<ptrdiff_t>(width_) * 4;
    videoSampleSize_ = static_cast<LONG>(uint64_t(width_) * 4 * height_);

    videoType_.InitMediaType();
    videoType_.SetType(&MEDIATYPE_Video);
    videoType_.SetSubtype(outputMode_ == MbcReader::kOutputAlpha ? &MEDIASUBTYPE_ARGB32 : &MEDIASUBTYPE_RGB32);
    videoType_.SetFormatType(&FORMAT_VideoInfo);
    videoType_.SetTemporalCompression(FALSE);
    videoType_.SetSampleSize(static_cast<ULONG>(videoSampleSize_));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(videoType_.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!vih) return;
    vih->rcSource = RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
    vih->rcTarget = RECT{0, 0, 0, 0};
    vih->AvgTimePerFrame = reader_->frameTime(1);
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = static_cast<LONG>(width_);
    vih->bmiHeader.biHeight = -static_cast<LONG>(height_);  // top-down rows
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 32;
    vih->bmiHeader.biCompression = 0;  // BI_RGB
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(videoSampleSize_);
}

bool MbcSource::buildAudioType() {
    const MbcReader::AudioFormat a = reader_->audioFormat();
    const uint32_t align = uint32_t(a.channels) * a.bitsPerSample / 8;
    if (align == 0 || align > 0xFFFF || a.sampleRate == 0) return false;
    blockAlign_ = align;
    sampleRate_ = a.sampleRate;

    // Eight frames of PCM, rounded up to whole KiB; never below one KiB (the reader's
    // smallest chunk) nor above the largest chunk the reader lends.
    const unsigned __int128 frames8 = static_cast<unsigned __int128>(reader_->frameTimeMs(8)) * a.sampleRate / 1000;
    unsigned __int128 bytes = (frames8 * align + 1023) / 1024 * 1024;
    bytes = std::clamp<unsigned __int128>(bytes, 1024, kMaxAudioSampleBytes);
    audioSampleSize_ = static_cast<LONG>(bytes);

    audioType_.InitMediaType();
    audioType_.SetType(&MEDIATYPE_Audio);
    audioType_.SetSubtype(&MEDIASUBTYPE_PCM);
    audioType_.SetFormatType(&FORMAT_WaveFormatEx);
    audioType_.SetTemporalCompression(FALSE);
    audioType_.SetSampleSize(static_cast<ULONG>(audioSampleSize_));
    auto* wf = reinterpret_cast<WAVEFORMATEX*>(audioType_.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!wf) return false;
    wf->wFormatTag = 1;  // PCM
    wf->nChannels = a.channels;
    wf->nSamplesPerSec = a.sampleRate;
    wf->wBitsPerSample = a.bitsPerSample;
    wf->nBlockAlign = static_cast<WORD>(align);
    wf->nAvgBytesPerSec = a.sampleRate * align;
    wf->cbSize = 0;
    return true;
}

HRESULT MbcSource::videoType(CMediaType* type, LONG* sampleSize) {
    if (!type || !sampleSize) return E_POINTER;
    *sampleSize = 0;
    if (!reader_ || !hasVideo_) return E_NOTIMPL;
    HRESULT hr = type->Set(videoType_);
    if (SUCCEEDED(hr)) *sampleSize = videoSampleSize_;
    return hr;
}

HRESULT MbcSource::audioType(CMediaType* type, LONG* sampleSize) {
    if (!type || !sampleSize) return E_POINTER;
    *sampleSize = 0;
    if (!reader_ || !hasAudio_) return E_NOTIMPL;
    HRESULT hr = type->Set(audioType_);
    if (SUCCEEDED(hr)) *sampleSize = audioSampleSize_;
    return hr;
}

void MbcSource::clearMargins(uint8_t* dst, ptrdiff_t stride, uint32_t rows) const {
    // A coded picture smaller than the offered one leaves the rest of the sample black
    // rather than whatever the buffer held before.
    const uint32_t picRows = std::min(rows, codedHeight_);
    if (codedWidth_ < width_) {
        const size_t from = size_t(codedWidth_) * 4, bytes = size_t(width_ - codedWidth_) * 4;
        for (uint32_t y = 0; y < picRows; ++y) std::memset(dst + ptrdiff_t(y) * stride + from, 0, bytes);
    }
    for (uint32_t y = picRows; y < rows; ++y) std::memset(dst + ptrdiff_t(y) * stride, 0, size_t(width_) * 4);
}

HRESULT MbcSource::fillSamples(IMediaSample* videoSample, IMediaSample* audioSample, DWORD* flags) {
    if (!reader_) return E_FAIL;
    if (!flags) return E_POINTER;
    *flags = 0;
    const uint64_t n = reader_->consumerFrame();
    if (n >= static_cast<uint64_t>(frameCount_)) return NS_E_NO_MORE_SAMPLES;

    if (hasVideo_ && videoSample) {
        // A picture the worker is still decoding is worth up to its own length: passing
        // it over at once would let this loop outrun the decoder and skip every picture
        // from there to the end.
        reader_->waitForFrame(pictureWaitMs_);
        BYTE* buffer = nullptr;
        const ptrdiff_t stride = stride_.load();
        const LONG size = videoSample->GetSize();
        // Only whole rows that fit in the buffer are written.
        const uint32_t rows = (stride > 0 && size > 0) ? uint32_t(std::min<int64_t>(height_, size / stride)) : 0;
        if (SUCCEEDED(videoSample->GetPointer(&buffer)) && buffer && rows > 0 &&
            reader_->copyVideoFrame(buffer, stride, width_, rows)) {
            clearMargins(buffer, stride, rows);
            REFERENCE_TIME start = reader_->frameTime(n), stop = reader_->frameTime(n + 1);
            videoSample->SetActualDataLength(size);
            videoSample->SetSyncPoint(reader_->isSyncFrame() ? TRUE : FALSE);
            videoSample->SetDiscontinuity(FALSE);
            videoSample->SetMediaTime(&start, &stop);
            videoSample->SetTime(&start, &stop);
            videoSample->SetPreroll(FALSE);
            *flags |= kSplitterVideoFilled;
        }
    }

    if (hasAudio_ && audioSample) {
        const uint8_t* chunk = nullptr;
        uint32_t bytes = 0;
        BYTE* buffer = nullptr;
        if (SUCCEEDED(audioSample->GetPointer(&buffer)) && buffer && reader_->readAudio(&chunk, &bytes)) {
            // The offered size holds any chunk the reader lends; a smaller buffer gets the
            // whole sample frames that fit.
            const uint32_t room = uint32_t(std::max<LONG>(audioSample->GetSize(), 0)) / blockAlign_ * blockAlign_;
            // The reader decodes in whole chunks, so its last one runs past the movie's
            // end; the sound stops where the pictures do.
            const uint64_t end = reader_->audioSamplesUpTo(static_cast<uint64_t>(frameCount_));
            const uint64_t left = end > audioDelivered_ ? end - audioDelivered_ : 0;
            const uint32_t used = static_cast<uint32_t>(
                std::min<uint64_t>(std::min(bytes / blockAlign_ * blockAlign_, room), left * blockAlign_));
            if (used) std::memcpy(buffer, chunk, used);
            reader_->releaseAudio(chunk);
            const uint64_t k = used / blockAlign_;
            REFERENCE_TIME start = audioStamp(audioDelivered_, sampleRate_);
            REFERENCE_TIME stop = audioStamp(audioDelivered_ + k, sampleRate_);
            audioSample->SetActualDataLength(static_cast<LONG>(used));
            audioSample->SetSyncPoint(TRUE);
            audioSample->SetDiscontinuity(FALSE);
            audioSample->SetPreroll(FALSE);
            audioSample->SetTime(&start, &stop);
            audioSample->SetMediaTime(&start, &stop);
            audioDelivered_ += k;
            if (left > 0) *flags |= kSplitterAudioFilled;
        }
    }

    // A frame not decoded when its turn comes is skipped.
    reader_->advance(1);
    return S_OK;
}

HRESULT MbcSource::seekToTime(REFERENCE_TIME time) {
    if (!reader_) return E_FAIL;
    return seekToFrame(static_cast<LONGLONG>(reader_->frameAtTime(time)));
}

HRESULT MbcSource::seekToFrame(LONGLONG frame) {
    if (!reader_) return E_FAIL;
    const uint64_t n = frame < 0 ? 0 : static_cast<uint64_t>(frame);
    if (!reader_->seekToFrame(n)) return E_FAIL;
    if (hasAudio_) {
        const unsigned __int128 scaled =
            static_cast<unsigned __int128>(std::max<int64_t>(reader_->frameTimeMs(n), 0)) * sampleRate_;
        const uint64_t s = static_cast<uint64_t>((scaled + 999) / 1000);
        audioDelivered_ = uint64_t(blockAlign_) * (s / blockAlign_);
    }
    return S_OK;
}

LONGLONG MbcSource::timeToFrame(REFERENCE_TIME time) {
    if (!reader_ || time < 0) return 0;
    if (time < duration_) return static_cast<LONGLONG>(reader_->frameAtTime(time));
    return frameCount_;
}

REFERENCE_TIME MbcSource::frameToTime(LONGLONG frame) {
    if (!reader_ || frame < 0) return 0;
    if (frame < frameCount_) return reader_->frameTime(static_cast<uint64_t>(frame));
    return duration_;
}

HRESULT MbcSource::checkFormat(SplitterStream stream, const CMediaType& type) {
    if (stream != SplitterStream::Video) return S_OK;
    if (!hasVideo_) return VFW_E_TYPE_NOT_ACCEPTED;
    if (type.formattype != FORMAT_VideoInfo || !type.Format() || type.FormatLength() < sizeof(VIDEOINFOHEADER))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
    const BITMAPINFOHEADER& bi = vih->bmiHeader;
    if (bi.biWidth < static_cast<LONG>(width_) || bi.biHeight != -static_cast<LONG>(height_) || bi.biBitCount != 32)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // Rows that wide must still make a sample the pipeline can count.
    if (uint64_t(bi.biWidth) * 4 * height_ > kMaxSampleBytes) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT MbcSource::setFormat(SplitterStream stream, const CMediaType& type) {
    if (stream != SplitterStream::Video) return S_OK;
    HRESULT hr = checkFormat(stream, type);
    if (FAILED(hr)) return hr;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
    // The 32-bit DIB row size of the accepted width.
    stride_ = static_cast<ptrdiff_t>(vih->bmiHeader.biWidth) * 4;
    return S_OK;
}
