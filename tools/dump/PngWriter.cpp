#include "tools/dump/PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

bool writePng(const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height, bool withAlpha) {
    if (!bgra || !width || !height) return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        return false;
    }
    // Rows are converted one at a time into this buffer (B, G, R, A -> R, G, B[, A]).
    std::vector<uint8_t> row(size_t(width) * (withAlpha ? 4 : 3));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, withAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    const size_t channels = withAlpha ? 4 : 3;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = bgra + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* out = &row[x * channels];
            out[0] = in[4 * x + 2];
            out[1] = in[4 * x + 1];
            out[2] = in[4 * x];
            if (withAlpha) out[3] = in[4 * x + 3];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}
