#pragma once
// The command line of layerdeck-dump.
#include <string>
#include <vector>

#include "tools/dump/DumpCommands.h"

namespace dump {

struct Arguments {
    enum class Command { Help, Info, Frames, Audio };
    Command command = Command::Help;
    std::string file;
    std::string output;  // OUTDIR for frames, OUT.wav for audio
    InfoOptions info;
    FrameOptions frames;
    Route route = Route::Auto;
};

extern const char kUsage[];

// Parses the words after the program's name; false with a one-line reason.
bool parseArguments(const std::vector<std::string>& words, Arguments& out, std::string& error);

}  // namespace dump
