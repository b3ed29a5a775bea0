// domivox-send: switches a device through the running Domivox panel. `domivox-send --help` tells
// how.
#include <clocale>
#include <iostream>

#include "SendTool.h"

int main(int argc, char* argv[]) {
    // Captions are matched in any letter case, non-ASCII letters included.
    if (!std::setlocale(LC_CTYPE, ""))
        std::setlocale(LC_CTYPE, "C.UTF-8");
    const std::vector<std::string> args(argv + 1, argv + argc);
    return SendTool::run(args, std::cout, std::cerr);
}
