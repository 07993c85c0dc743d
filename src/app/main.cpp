#include <cstdio>
#include <cstring>

#include "SimPort.h"
#include "TarvelApp.h"
#include "TarvelVersion.h"

namespace {

const char USAGE[] =
    "Usage: tarvel [OPTIONS] [FILE.hcs]\n"
    "Sets up Halvern Systems GPS time clocks. Opens the window; with FILE.hcs that\n"
    "setup file is loaded at start, as File > Load > From File does.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

// Printed and ended before any window or display is needed.
int PrintAndExit(const char* text) {
    std::fputs(text, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return PrintAndExit(USAGE);
        if (std::strcmp(argv[i], "--version") == 0) return PrintAndExit("tarvel " TARVEL_VERSION_STRING "\n");
    }
    // Before the window and its port: the stored port may be the simulated clock.
    RegisterSimPort();
    CTarvelApp app(argc, argv);
    return app.Run();
}
