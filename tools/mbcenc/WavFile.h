#pragma once
// Minimal RIFF/WAVE PCM reading and writing for the command-line tools.
#include <cstdint>
#include <string>
#include <vector>

struct WavData {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads integer PCM of 8, 16, 24 or 32 bits (plain or extensible format) into 16-bit
// samples. False with a one-line reason for anything else.
bool readWav(const std::string& path, WavData& wav, std::string& error);
// Parses a WAVE image in memory (the same rules).
bool parseWav(const uint8_t* data, size_t size, WavData& wav, std::string& error);
// Writes 16-bit PCM.
bool writeWav(const std::string& path, uint16_t channels, uint32_t sampleRate, const std::vector<int16_t>& samples);
