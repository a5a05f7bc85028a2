#include "app/startup.h"

#include <objbase.h>
#include <shlwapi.h>

#include <utility>

#include "platform/exe_location.h"
#include "app/resource_ids.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "app/window_proc.h"
#include "app/window_state.h"
#include "selfupdate/self_update.h"
#include "ui/frame_cache.h"

HINSTANCE gInstance = nullptr;

namespace {

constexpr int kClientWidth = 900;
constexpr int kClientHeight = 560;
constexpr DWORD kMainWindowStyle = 0x00CA0000;  // caption, system menu, minimise box

const wchar_t* const kBackgroundFiles[] = {L"\\bg.jpg", L"\\bg.png", L"\\background.jpg",
                                           L"\\background.png"};
const wchar_t* const kBadgeFiles[] = {L"\\varnguard.jpg", L"\\varnguard.png"};

// The two pictures and the streams behind them, published to the painter while they live.
// Declared so that destruction deletes the background picture, then the badge picture, then
// their streams.
struct LoadedPictures {
    UniqueStream badgeStream;
    UniqueStream backgroundStream;
    UniqueImage badge;
    UniqueImage background;

    LoadedPictures() {
        background = LoadPictureFromResource(TALVORA_BACKGROUND_PICTURE, backgroundStream);
        if (!background)
            background = LoadPictureFromFiles(kBackgroundFiles, 4);
        badge = LoadPictureFromResource(TALVORA_BADGE_PICTURE, badgeStream);
        if (!badge)
            badge = LoadPictureFromFiles(kBadgeFiles, 2);
        gBackgroundPicture = background.get();
        gBadgePicture = badge.get();
    }
    ~LoadedPictures() {
        gBackgroundPicture = nullptr;
        gBadgePicture = nullptr;
    }
    LoadedPictures(const LoadedPictures&) = delete;
    LoadedPictures& operator=(const LoadedPictures&) = delete;
};

// The painter's cached layers are GDI+ objects too: they go before GDI+ shuts down.
struct FrameCacheScope {
    FrameCacheScope() = default;
    ~FrameCacheScope() { ReleaseFrameCache(); }
    FrameCacheScope(const FrameCacheScope&) = delete;
    FrameCacheScope& operator=(const FrameCacheScope&) = delete;
};

}  // namespace

void RegisterMainWindowClass() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = gInstance;
    windowClass.hIcon = ::LoadIconW(gInstance, MAKEINTRESOURCEW(TALVORA_ICON));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kMainWindowClass;
    ::RegisterClassW(&windowClass);
}

HWND CreateMainWindow(const MainWindowParams* params) {
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    HWND window = ::CreateWindowExW(
        0, kMainWindowClass, L"Talvora", kMainWindowStyle, (screenWidth - kClientWidth) / 2,
        (screenHeight - kClientHeight) / 2, kClientWidth, kClientHeight, nullptr, nullptr,
        gInstance, const_cast<MainWindowParams*>(params));
    if (window == nullptr)
        return nullptr;
    // The frame comes on top of the 900 x 560 client area; the corner stays where it is.
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRect(&frame, kMainWindowStyle, FALSE);
    ::SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    return window;
}

UniqueImage LoadPictureFromResource(int id, UniqueStream& stream) {
    HRSRC resource = ::FindResourceW(gInstance, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (resource == nullptr)
        return UniqueImage();
    HGLOBAL loaded = ::LoadResource(gInstance, resource);
    const DWORD size = ::SizeofResource(gInstance, resource);
    if (loaded == nullptr)
        return UniqueImage();
    const void* data = ::LockResource(loaded);
    if (data == nullptr || size == 0)
        return UniqueImage();
    UniqueStream memory(::SHCreateMemStream(static_cast<const BYTE*>(data), size));
    if (!memory)
        return UniqueImage();
    UniqueImage picture;
    if (Gdiplus::DllExports::GdipLoadImageFromStream(memory.get(), picture.put()) != Gdiplus::Ok ||
        !picture) {
        return UniqueImage();
    }
    stream = std::move(memory);
    return picture;
}

UniqueImage LoadPictureFromFiles(const wchar_t* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        const std::wstring path = ExeDirectory() + names[i];
        UniqueImage picture;
        if (Gdiplus::DllExports::GdipLoadImageFromFile(path.c_str(), picture.put()) ==
                Gdiplus::Ok &&
            picture) {
            return picture;
        }
    }
    return UniqueImage();
}

int RunLauncher(HINSTANCE instance) {
    gInstance = instance;
    // Two launchers on one folder would overwrite each other's files.
    FolderClaim folderClaim;
    if (!ClaimInstallFolder(ExeDirectory(), folderClaim))
        return 0;
    // The shell may hand links and programs to COM handlers, which want an apartment.
    const UniqueComApartment com(
        SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)));

    // Left behind by the previous self-update; usually absent.
    RemoveOldLauncherCopy(ExePath());
    RunSelfUpdate();
    ArmExitGuard();

    // Released in reverse order: the pictures and their streams, the frame cache, then GDI+.
    UniqueGdiplusToken gdiplus;
    Gdiplus::GdiplusStartupInput startup;
    Gdiplus::GdiplusStartup(gdiplus.put(), &startup, nullptr);
    const FrameCacheScope frameCache;
    const LoadedPictures pictures;
    RegisterMainWindowClass();

    HWND window = CreateMainWindow(nullptr);
    if (window == nullptr)
        return 1;
    ::ShowWindow(window, SW_SHOW);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    // A run still going would race the clean-up below for whatever it uses.
    if (gRunAbandoned)
        ForceExit();
    // Nothing touches the folder any more: a launcher started now may have it at once.
    ReleaseFolder(folderClaim);
    return 0;
}
