#pragma once
// Loads a still picture (PNG, GBCF or BMP through ImageCodec) as top-down BGRA.
#include <cstdint>
#include <string>
#include <vector>

struct BgraPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;  // width * 4 bytes per row, top row first
    bool hasAlpha = false;        // the file carried an alpha channel (32-bit)
    std::string format;           // "PNG", "GBCF" or "BMP"
};

// False with a one-line reason when the file cannot be read or decoded.
bool loadPictureBgra(const std::string& path, BgraPicture& picture, std::string& error);
