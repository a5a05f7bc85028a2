#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "file_handle.h"
#include "text.h"

namespace fs = std::filesystem;

namespace talvora {

namespace {

std::atomic<unsigned> gTempCounter{0};

#ifdef _WIN32

std::string LastError() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

unsigned ProcessId() {
    return static_cast<unsigned>(GetCurrentProcessId());
}

// Creates `temp` (which must not exist), writes and flushes `content`.
// `created` tells whether the file is ours to remove.
bool WriteTemp(const fs::path& temp, const std::string& content, bool& created,
               std::string& error) {
    const UniqueFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "cannot create temporary file: " + LastError();
        return false;
    }
    created = true;
    std::size_t done = 0;
    while (done < content.size()) {
        const std::size_t left = content.size() - done;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file.get(), content.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            error = "cannot write temporary file: " + LastError();
            return false;
        }
        done += written;
    }
    if (!FlushFileBuffers(file.get())) {
        error = "cannot flush temporary file: " + LastError();
        return false;
    }
    return true;
}

bool Replace(const fs::path& temp, const fs::path& dest, std::string& error) {
    if (!MoveFileExW(temp.c_str(), dest.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot rename temporary file into place: " + LastError();
        return false;
    }
    return true;
}

#else

std::string ErrnoText() {
    return std::generic_category().message(errno);
}

unsigned ProcessId() {
    return static_cast<unsigned>(getpid());
}

bool WriteTemp(const fs::path& temp, const std::string& content, bool& created,
               std::string& error) {
    UniqueFileHandle file(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file) {
        error = "cannot create temporary file: " + ErrnoText();
        return false;
    }
    created = true;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = write(file.get(), content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = "cannot write temporary file: " +
                    (written < 0 ? ErrnoText() : std::string("no progress"));
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    if (fsync(file.get()) != 0) {
        error = "cannot flush temporary file: " + ErrnoText();
        return false;
    }
    // Closed here, for its result: a failed close can mean lost data on some file systems.
    if (close(file.release()) != 0) {
        error = "cannot close temporary file: " + ErrnoText();
        return false;
    }
    return true;
}

bool Replace(const fs::path& temp, const fs::path& dest, std::string& error) {
    if (rename(temp.c_str(), dest.c_str()) != 0) {
        error = "cannot rename temporary file into place: " + ErrnoText();
        return false;
    }
    // Make the rename itself durable; a folder that cannot be synced is no error.
    const fs::path parent = dest.parent_path().empty() ? fs::path(".") : dest.parent_path();
    const UniqueFileHandle dir(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        fsync(dir.get());
    return true;
}

#endif

}  // namespace

bool WriteFileAtomically(const fs::path& dest, const std::string& content, std::string& error) {
    const std::string shown = "'" + Printable(PathToUtf8(dest)) + "'";
    if (dest.filename().empty()) {
        error = shown + ": not a file name";
        return false;
    }
    std::error_code ec;
    const fs::path folder = dest.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        error = shown + ": folder '" + Printable(PathToUtf8(folder)) + "' does not exist";
        return false;
    }
    const std::string suffix =
        "." + std::to_string(ProcessId()) + "." + std::to_string(gTempCounter++);
    fs::path tempName = PathFromUtf8(kTempPrefix);
    tempName += dest.filename();
    tempName += PathFromUtf8(suffix);
    const fs::path temp = folder / tempName;

    bool created = false;
    if (!WriteTemp(temp, content, created, error) || !Replace(temp, dest, error)) {
        if (created)
            fs::remove(temp, ec);
        error = shown + ": " + error;
        return false;
    }
    return true;
}

}  // namespace talvora
