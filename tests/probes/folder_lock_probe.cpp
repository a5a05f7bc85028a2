// Another process on an installation folder, for the one-launcher-per-folder tests.
//   folder_lock_probe hold MARKER HOLD_MS window|end
//     claims its own folder as a launcher does, writes MARKER, holds the folder HOLD_MS without a
//     window (a launcher in its self-update), then shows a launcher's window (MARKER + ".shown"
//     once it is up) or ends.
//   folder_lock_probe squat FOLDER MARKER
//     holds mutexes at the names an earlier launcher used for FOLDER (Global\ and Local\ plus its
//     key), as any local user can, writes MARKER and waits to be ended.
#include <windows.h>

#include <string>

#include "app/single_instance.h"
#include "app/window_proc.h"
#include "platform/exe_location.h"

namespace {

bool Mark(const std::wstring& path) {
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr))
        .valid();
}

// A window the hand-over recognises: the launcher's class, visible, kept off the screen.
int ShowLauncherWindow(const std::wstring& marker) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kMainWindowClass;
    ::RegisterClassW(&windowClass);
    HWND window =
        ::CreateWindowExW(WS_EX_TOOLWINDOW, kMainWindowClass, L"Talvora probe", WS_POPUP, -3000,
                          -3000, 40, 40, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 3;
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    Mark(marker + L".shown");
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
    return 0;
}

int Hold(const std::wstring& marker, DWORD holdMs, bool withWindow) {
    FolderClaim claim;
    if (!ClaimInstallFolder(ExeDirectory(), claim, 0) || !HoldsFolder(claim))
        return 2;
    Mark(marker);
    ::Sleep(holdMs);
    return withWindow ? ShowLauncherWindow(marker) : 0;
}

int Squat(const std::wstring& folder, const std::wstring& marker) {
    const std::wstring key = InstanceKeyOf(folder);
    if (key.empty())
        return 2;
    const UniqueKernelHandle global(::CreateMutexW(nullptr, TRUE, (L"Global\\" + key).c_str()));
    const UniqueKernelHandle local(::CreateMutexW(nullptr, TRUE, (L"Local\\" + key).c_str()));
    if (!global || !local || !Mark(marker))
        return 3;
    ::Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold" && argc == 5)
        return Hold(argv[2], static_cast<DWORD>(_wtoi(argv[3])),
                    std::wstring(argv[4]) == L"window");
    if (mode == L"squat" && argc == 4)
        return Squat(argv[2], argv[3]);
    return 1;
}
