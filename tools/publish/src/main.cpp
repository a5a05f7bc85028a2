#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>

// Wide arguments, so that paths and URLs outside the console's code page
// survive; everything after this speaks UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(talvora::PathToUtf8(std::filesystem::path(argv[i])));
    return talvora::RunCommandLine(args, std::cout, std::cerr);
}

#else

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return talvora::RunCommandLine(args, std::cout, std::cerr);
}

#endif
