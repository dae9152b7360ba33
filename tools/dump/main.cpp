// layerdeck-dump: shows what the player's readers make of a file (.mbc, .gbcf, .png, .bmp).
#include <cstdio>
#include <cstring>
#include <string>

#include "graphics/GbcfDecoder.h"
#include "splitters/GbcfPayload.h"
#include "tools/dump/DumpCommands.h"

namespace {

const char kUsage[] =
    "usage: layerdeck-dump info FILE\n"
    "       layerdeck-dump frames FILE OUTDIR [--raw]\n"
    "       layerdeck-dump audio FILE OUT.wav\n"
    "\n"
    "info    prints one JSON object: format, width, height, frameCount,\n"
    "        durationHundredNs, hasVideo, hasAudio, channels, sampleRate, bitsPerSample\n"
    "frames  writes every delivered picture in display order as OUTDIR/NNNNN.png, or with\n"
    "        --raw as NNNNN.bgra (top-down rows of width*4 bytes, as the splitter delivers)\n"
    "audio   writes the PCM the movie's audio stream delivers as a WAV file\n"
    "\n"
    "FILE is an .mbc movie or a .gbcf, .png or .bmp picture. On failure one line goes to\n"
    "stderr and the exit status is 1.\n";

int usage() {
    std::fputs("layerdeck-dump: bad arguments (see --help)\n", stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    setGbcfPayloadDecoder(&decodeGbcfPayload);
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 3) return usage();
    const std::string command = argv[1];
    std::string error;
    int status;
    if (command == "info" && argc == 3) {
        status = dump::info(argv[2], stdout, error);
    } else if (command == "frames" && (argc == 4 || (argc == 5 && !std::strcmp(argv[4], "--raw")))) {
        status = dump::frames(argv[2], argv[3], argc == 5, error);
    } else if (command == "audio" && argc == 4) {
        status = dump::audio(argv[2], argv[3], error);
    } else {
        return usage();
    }
    if (status) std::fprintf(stderr, "layerdeck-dump: %s\n", error.c_str());
    return status;
}
