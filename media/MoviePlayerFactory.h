#pragma once
// What an item's loader needs of a factory: open a file as a player. The completion
// message is posted with the cookie whether or not a player comes back.
#include <cstdint>
#include <string>

class MoviePlayer;

class MoviePlayerFactory {
public:
    // Open flags.
    static constexpr uint32_t OpenCustomPresenter = 0x40;
    static constexpr uint32_t OpenCustomByteStream = 0x100;
    static constexpr uint32_t OpenAudioOnly = 0x10000;
    static constexpr uint32_t OpenVideoOnly = 0x20000;
    static constexpr uint32_t OpenSurfaceRenderer = 0x100000;
    static constexpr uint32_t OpenTextureRenderer = 0x200000;
    static constexpr uint32_t OpenFileStreamSource = 0x1000000;

    virtual ~MoviePlayerFactory() = default;
    // A player holding one reference for the caller, or null. The cookie is pointer-sized
    // so that an item's address survives the round trip through the posted message.
    virtual MoviePlayer* open(const std::u16string& fileName, uint32_t flags, uintptr_t cookie) = 0;
};
