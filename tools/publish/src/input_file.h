// A file opened for sequential reading, closed when the record goes away.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace talvora {

class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool Open(const std::filesystem::path& path, std::string& error);
    // Bytes read (0 at the end of the file), or -1 with `error` set.
    long long Read(void* buffer, std::size_t size, std::string& error);

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace talvora
