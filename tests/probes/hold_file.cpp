// Holds a file open with no sharing, as a running game holds its own files, until told to let go.
// usage: hold_file PATH EVENT_PREFIX. Signals EVENT_PREFIX-held once the file is open, then waits
// for EVENT_PREFIX-release (at most 60 s, so it never outlives a failed test for long).
#include <windows.h>

#include <string>

#include "platform/kernel_handles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring prefix = argv[2];
    UniqueKernelHandle held(::OpenEventW(EVENT_MODIFY_STATE, FALSE, (prefix + L"-held").c_str()));
    UniqueKernelHandle release(::OpenEventW(SYNCHRONIZE, FALSE, (prefix + L"-release").c_str()));
    if (!held || !release)
        return 3;
    UniqueFile file(::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 4;
    ::SetEvent(held.get());
    return ::WaitForSingleObject(release.get(), 60000) == WAIT_OBJECT_0 ? 0 : 5;
}
