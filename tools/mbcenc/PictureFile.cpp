#include "tools/mbcenc/PictureFile.h"

#include "framework/WideString.h"
#include "graphics/ImageCodec.h"
#include "graphics/PixelFormat.h"

bool loadPictureBgra(const std::string& path, BgraPicture& picture, std::string& error) {
    picture = BgraPicture{};
    ImageCodec codec;
    if (!codec.open(fromUtf8(path))) {
        error = "cannot decode " + path + " (error " + std::to_string(ImageCodec::lastError()) + ")";
        return false;
    }
    const DibBitmap& bitmap = codec.bitmap();
    picture.width = static_cast<uint32_t>(bitmap.width());
    picture.height = static_cast<uint32_t>(bitmap.height());
    picture.format = codec.decoderName() ? codec.decoderName() : "";
    picture.hasAlpha = bitmap.bitCount() == 32;
    picture.pixels.assign(size_t(picture.width) * picture.height * 4, 0);
    const int32_t pitch = static_cast<int32_t>(picture.width * 4);
    if (bitmap.bitCount() == 8) {
        // Palette pictures: look every index up.
        for (uint32_t y = 0; y < picture.height; ++y) {
            const uint8_t* in = bitmap.rowFromTop(static_cast<int32_t>(y));
            uint8_t* out = &picture.pixels[size_t(y) * pitch];
            for (uint32_t x = 0; x < picture.width; ++x) {
                const uint32_t c = bitmap.palette()[in[x]];
                out[4 * x] = static_cast<uint8_t>(c);
                out[4 * x + 1] = static_cast<uint8_t>(c >> 8);
                out[4 * x + 2] = static_cast<uint8_t>(c >> 16);
                out[4 * x + 3] = 255;
            }
        }
        return true;
    }
    if (!codec.decodeRows(picture.pixels.data(), pitch, kPixelFormatA8R8G8B8)) {
        error = "cannot convert the pixels of " + path;
        return false;
    }
    if (!picture.hasAlpha)
        for (size_t i = 3; i < picture.pixels.size(); i += 4) picture.pixels[i] = 255;
    return true;
}
