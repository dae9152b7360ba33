#pragma once
// Writes a RIFF/WAVE file as the sound arrives: the header is written first with the
// sizes left open and filled in by finish. Integer PCM (8 or 16 bits) or 32-bit float,
// as the audio renderer takes it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio/AudioFormat.h"

class WavWriter {
public:
    // A RIFF file cannot describe more data than this.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 64;

    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates the file and writes the header; false with a reason.
    bool open(const std::string& path, const AudioFormat& format, std::string& error);
    // Appends sound; a partial frame waits for the rest of its bytes. False with a reason
    // when the file cannot take it.
    bool write(const uint8_t* data, size_t bytes, std::string& error);
    // Fills in the sizes and closes the file; false with a reason.
    bool finish(std::string& error);

    bool isOpen() const { return file_ != nullptr; }
    uint64_t dataBytes() const { return dataBytes_; }
    uint64_t frames() const { return format_.bytesPerFrame() ? dataBytes_ / format_.bytesPerFrame() : 0; }

private:
    bool put(const void* data, size_t bytes);
    void close();

    std::FILE* file_ = nullptr;
    std::string path_;
    AudioFormat format_;
    uint64_t dataBytes_ = 0;
    long factOffset_ = -1;  // where the float format's frame count goes
    long dataSizeOffset_ = 0;
    std::vector<uint8_t> pending_;  // the start of a frame whose rest has not come yet
};
