#include "progress.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "text.h"

namespace talvora {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

void DrawProgress(std::size_t filesDone, std::size_t filesTotal, std::uint64_t bytesDone,
                  std::uint64_t bytesTotal) {
    constexpr int kWidth = 30;
    const double fraction =
        bytesTotal > 0
            ? static_cast<double>(bytesDone) / static_cast<double>(bytesTotal)
            : (filesTotal > 0 ? static_cast<double>(filesDone) / static_cast<double>(filesTotal)
                              : 1.0);
    const int filled = static_cast<int>(fraction * kWidth + 0.5);
    std::string bar(static_cast<std::size_t>(kWidth), '-');
    for (int i = 0; i < filled && i < kWidth; ++i)
        bar[static_cast<std::size_t>(i)] = '#';
    std::string percent = std::to_string(static_cast<int>(fraction * 100.0)) + "%";
    percent.insert(0, percent.size() < 4 ? 4 - percent.size() : 0, ' ');
    const std::string line = "\r[" + bar + "] " + percent + "  " + std::to_string(filesDone) + "/" +
                             std::to_string(filesTotal) + " files  " + HumanBytes(bytesDone) +
                             " / " + HumanBytes(bytesTotal) + "   ";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ClearProgress() {
    std::fprintf(stderr, "\r%*s\r", 100, "");
    std::fflush(stderr);
}

}  // namespace talvora
