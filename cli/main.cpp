// vemora-cli: flashes firmware images into boards without a window, for
// factory lines, scripts and machines without a display.
#include "Options.h"
#include "Runner.h"

#include <cstdio>

int main(int argc, char** argv)
{
    // Line by line, so that the libraries' lines and ours reach a pipe or a
    // file in the order they were written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    std::string error;
    if (!ParseOptions(argc - 1, argv + 1, options, error)) {
        std::fprintf(stderr, "vemora-cli: %s\nTry 'vemora-cli --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kHelpText, stdout);
        return kExitAllGood;
    }
    return RunBoards(options);
}
