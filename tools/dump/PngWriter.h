#pragma once
// Writes top-down BGRA pictures as 8-bit RGB or RGBA PNG files.
#include <cstdint>
#include <string>

bool writePng(const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height, bool withAlpha);
