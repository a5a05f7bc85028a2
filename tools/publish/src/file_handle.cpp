#include "file_handle.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace talvora {

#ifdef _WIN32

FileHandleTraits::Type FileHandleTraits::Invalid() noexcept {
    return INVALID_HANDLE_VALUE;
}

void FileHandleTraits::Close(Type file) noexcept {
    CloseHandle(file);
}

#else

FileHandleTraits::Type FileHandleTraits::Invalid() noexcept {
    return -1;
}

void FileHandleTraits::Close(Type file) noexcept {
    close(file);
}

#endif

}  // namespace talvora
