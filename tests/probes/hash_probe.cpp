// Prints the launcher's digest of each file named on the command line, one per line, so that
// scripts can compare it with other implementations.
#include <cstdio>

#include "support/file_digest.h"

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string hex = Sha256FileHex(argv[i]);
        std::printf("%s\n", hex.empty() ? "-" : hex.c_str());
    }
    return argc > 1 ? 0 : 2;
}
