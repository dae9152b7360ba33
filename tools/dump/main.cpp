// layerdeck-dump: shows what the player's engine makes of a file: its description, its
// pictures and its sound.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dump/DumpArguments.h"
#include "tools/dump/DumpCommands.h"

namespace {

// The failure line stays one line whatever the file names hold.
void reportFailure(std::string reason) {
    for (char& c : reason)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    std::fprintf(stderr, "layerdeck-dump: %s\n", reason.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    dump::Arguments arguments;
    std::string error;
    if (!dump::parseArguments(words, arguments, error)) {
        reportFailure(error);
        return 1;
    }
    if (arguments.command == dump::Arguments::Command::Help) {
        std::fputs(dump::kUsage, stdout);
        return 0;
    }
    dump::registerEngine();
    int status = 1;
    switch (arguments.command) {
        case dump::Arguments::Command::Info:
            status = dump::info(arguments.file, arguments.info, stdout, error);
            break;
        case dump::Arguments::Command::Frames:
            status = dump::frames(arguments.file, arguments.output, arguments.frames, error);
            break;
        case dump::Arguments::Command::Audio:
            status = dump::audio(arguments.file, arguments.output, arguments.route, error);
            break;
        case dump::Arguments::Command::Help:
            break;
    }
    if (status) reportFailure(error);
    return status;
}
