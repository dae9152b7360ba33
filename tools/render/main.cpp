// layerdeck-render: the headless compositor (see RenderCommand.h and --help).
#include <iostream>
#include <string>
#include <vector>

#include "tools/render/RenderCommand.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return runRenderCommand(args, std::cout, std::cerr);
}
