// A one-line progress bar on stderr, redrawn in place. Only drawn when stderr
// is a terminal, so logs and pipes get no control characters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvora {

bool StderrIsTerminal();

void DrawProgress(std::size_t filesDone, std::size_t filesTotal, std::uint64_t bytesDone,
                  std::uint64_t bytesTotal);

// Erases the bar so that the next message starts on a clean line.
void ClearProgress();

}  // namespace talvora
