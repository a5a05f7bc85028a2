#include "input_file.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace talvora {

#ifdef _WIN32

bool InputFile::Open(const std::filesystem::path& path, std::string& error) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = std::system_category().message(static_cast<int>(GetLastError()));
        return false;
    }
    file_.reset(file);
    return true;
}

long long InputFile::Read(void* buffer, std::size_t size, std::string& error) {
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(file_.get(), buffer, want, &got, nullptr)) {
        error = std::system_category().message(static_cast<int>(GetLastError()));
        return -1;
    }
    return static_cast<long long>(got);
}

#else

bool InputFile::Open(const std::filesystem::path& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::generic_category().message(errno);
        return false;
    }
    file_.reset(fd);
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(file_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
}

long long InputFile::Read(void* buffer, std::size_t size, std::string& error) {
    while (true) {
        const ssize_t got = read(file_.get(), buffer, size);
        if (got >= 0)
            return static_cast<long long>(got);
        if (errno == EINTR)
            continue;
        error = std::generic_category().message(errno);
        return -1;
    }
}

#endif

}  // namespace talvora
