#include "tools/dump/WavWriter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;

void le16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void le32(uint8_t* p, uint32_t v) {
    le16(p, v & 0xFFFF);
    le16(p + 2, v >> 16);
}

}  // namespace

WavWriter::~WavWriter() {
    close();
}

void WavWriter::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool WavWriter::put(const void* data, size_t bytes) {
    return std::fwrite(data, 1, bytes, file_) == bytes;
}

bool WavWriter::open(const std::string& path, const AudioFormat& format, std::string& error) {
    close();
    if (!format.valid()) {
        error = "unsupported audio format";
        return false;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = "cannot write " + path;
        return false;
    }
    path_ = path;
    format_ = format;
    dataBytes_ = 0;
    pending_.clear();
    const bool isFloat = format.type == SampleType::F32;
    // Float data carries a fact chunk with its frame count, and an 18-byte format block.
    const uint32_t fmtBytes = isFloat ? 18 : 16;
    uint8_t header[64] = {};
    size_t at = 0;
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    le32(header + 16, fmtBytes);
    le16(header + 20, isFloat ? kFormatFloat : kFormatPcm);
    le16(header + 22, format.channels);
    le32(header + 24, format.rate);
    le32(header + 28, format.rate * format.bytesPerFrame());
    le16(header + 32, format.bytesPerFrame());
    le16(header + 34, format.bytesPerSample() * 8);
    at = 20 + fmtBytes;  // cbSize (float) is already zero
    if (isFloat) {
        std::memcpy(header + at, "fact", 4);
        le32(header + at + 4, 4);
        factOffset_ = long(at + 8);
        at += 12;
    } else {
        factOffset_ = -1;
    }
    std::memcpy(header + at, "data", 4);
    dataSizeOffset_ = long(at + 4);
    at += 8;
    if (!put(header, at)) {
        error = "cannot write " + path;
        close();
        return false;
    }
    return true;
}

bool WavWriter::write(const uint8_t* data, size_t bytes, std::string& error) {
    if (!file_) {
        error = "no WAV file open";
        return false;
    }
    const size_t frameBytes = format_.bytesPerFrame();
    if (bytes > kMaxDataBytes - dataBytes_ - pending_.size()) {
        error = "the audio is too long for a WAV file";
        return false;
    }
    // Complete the frame a previous piece began.
    if (!pending_.empty()) {
        const size_t take = std::min(bytes, frameBytes - pending_.size());
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        bytes -= take;
        if (pending_.size() < frameBytes) return true;
        if (!put(pending_.data(), frameBytes)) {
            error = "cannot write " + path_;
            return false;
        }
        dataBytes_ += frameBytes;
        pending_.clear();
    }
    const size_t whole = bytes / frameBytes * frameBytes;
    if (whole && !put(data, whole)) {
        error = "cannot write " + path_;
        return false;
    }
    dataBytes_ += whole;
    pending_.assign(data + whole, data + bytes);
    return true;
}

bool WavWriter::finish(std::string& error) {
    if (!file_) {
        error = "no WAV file open";
        return false;
    }
    // A trailing partial frame is dropped; RIFF wants chunks of even length.
    pending_.clear();
    const uint8_t pad = 0;
    bool ok = !(dataBytes_ & 1) || put(&pad, 1);
    uint8_t size[4];
    const uint64_t fileBytes = uint64_t(dataSizeOffset_) + 4 + dataBytes_ + (dataBytes_ & 1);
    le32(size, uint32_t(fileBytes - 8));
    ok = ok && std::fseek(file_, 4, SEEK_SET) == 0 && put(size, 4);
    if (factOffset_ >= 0) {
        le32(size, uint32_t(frames()));
        ok = ok && std::fseek(file_, factOffset_, SEEK_SET) == 0 && put(size, 4);
    }
    le32(size, uint32_t(dataBytes_));
    ok = ok && std::fseek(file_, dataSizeOffset_, SEEK_SET) == 0 && put(size, 4);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) error = "cannot write " + path_;
    return ok;
}
