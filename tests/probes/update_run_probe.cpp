// One whole update run, as the launcher's worker makes it, with the keys this probe was built
// with. usage: update_run_probe MANIFEST_URL INSTALL_DIR RESULT_FILE; the result file gets the
// final phase number, a line feed and the status line in UTF-8.
#include <windows.h>

#include <string>

#include "patch/patch_status.h"
#include "net/update_keys.h"
#include "patch/patch_worker.h"

const UpdateKeys& TestUpdateKeys();

int wmain(int argc, wchar_t** argv) {
    if (argc != 4)
        return 2;
    PatchStatus status;
    status.manifestUrl = argv[1];
    status.installDir = argv[2];
    status.updateKeys = TestUpdateKeys();
    status.busy.store(true);
    PatchWorker(status);

    const std::wstring text = ReadStatusText(status);
    std::string line = std::to_string(static_cast<int>(status.phase.load())) + "\n";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size,
                          nullptr, nullptr);
    line += utf8;
    HANDLE file = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok ? 0 : 1;
}
