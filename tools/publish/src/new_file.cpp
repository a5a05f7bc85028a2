#include "new_file.h"

#include <cerrno>
#include <system_error>

#include "file_handle.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace talvora {

namespace {

#ifdef _WIN32

bool CreateAndWrite(const std::filesystem::path& path, const std::string& content, bool,
                    bool& created, std::string& error) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = std::system_category().message(static_cast<int>(GetLastError()));
        return false;
    }
    created = true;
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                              &written, nullptr) &&
                    written == content.size() && FlushFileBuffers(file.get());
    if (!ok)
        error = std::system_category().message(static_cast<int>(GetLastError()));
    return ok;
}

#else

bool CreateAndWrite(const std::filesystem::path& path, const std::string& content, bool ownerOnly,
                    bool& created, std::string& error) {
    UniqueFileHandle file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                               ownerOnly ? 0600 : 0644));
    if (!file) {
        error = std::generic_category().message(errno);
        return false;
    }
    created = true;
    // The umask may only take bits away; make the mode exact whatever it is.
    bool ok = fchmod(file.get(), ownerOnly ? 0600 : 0644) == 0;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = write(file.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(file.get()) == 0;
    if (!ok)
        error = std::generic_category().message(errno);
    // Closed here, for its result: a failed close can mean lost data on some file systems.
    if (close(file.release()) != 0 && ok) {
        error = std::generic_category().message(errno);
        ok = false;
    }
    return ok;
}

#endif

}  // namespace

bool WriteNewFile(const std::filesystem::path& path, const std::string& content, bool ownerOnly,
                  std::string& error) {
    bool created = false;
    if (CreateAndWrite(path, content, ownerOnly, created, error))
        return true;
    if (created) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    return false;
}

}  // namespace talvora
