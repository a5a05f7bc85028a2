// A file opened for sequential reading, closed when the record goes away.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "file_handle.h"

namespace talvora {

class InputFile {
  public:
    bool Open(const std::filesystem::path& path, std::string& error);
    // Bytes read (0 at the end of the file), or -1 with `error` set.
    long long Read(void* buffer, std::size_t size, std::string& error);

  private:
    UniqueFileHandle file_;
};

}  // namespace talvora
