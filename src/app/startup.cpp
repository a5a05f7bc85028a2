#include "app/startup.h"

#include <objbase.h>
#include <shlwapi.h>

#include "app/exe_location.h"
#include "app/resource_ids.h"
#include "app/single_instance.h"
#include "app/window_proc.h"
#include "app/window_state.h"
#include "selfupdate/self_update.h"
#include "ui/frame_cache.h"

HINSTANCE gInstance = nullptr;
ULONG_PTR gGdiplusToken = 0;
IStream* gBackgroundStream = nullptr;
IStream* gBadgeStream = nullptr;

namespace {

constexpr int kClientWidth = 900;
constexpr int kClientHeight = 560;
constexpr DWORD kMainWindowStyle = 0x00CA0000;  // caption, system menu, minimise box

const wchar_t* const kBackgroundFiles[] = {L"\\bg.jpg", L"\\bg.png", L"\\background.jpg",
                                           L"\\background.png"};
const wchar_t* const kBadgeFiles[] = {L"\\varnguard.jpg", L"\\varnguard.png"};

void DeletePicture(Gdiplus::GpImage*& picture) {
    if (picture != nullptr)
        Gdiplus::DllExports::GdipDisposeImage(picture);
    picture = nullptr;
}

void ReleaseStream(IStream*& stream) {
    if (stream != nullptr)
        stream->Release();
    stream = nullptr;
}

void LoadPictures() {
    gBackgroundPicture = LoadPictureFromResource(TALVORA_BACKGROUND_PICTURE, &gBackgroundStream);
    if (gBackgroundPicture == nullptr)
        gBackgroundPicture = LoadPictureFromFiles(kBackgroundFiles, 4);
    gBadgePicture = LoadPictureFromResource(TALVORA_BADGE_PICTURE, &gBadgeStream);
    if (gBadgePicture == nullptr)
        gBadgePicture = LoadPictureFromFiles(kBadgeFiles, 2);
}

// Pictures before their streams, everything of GDI+ before its shutdown.
void ReleaseGraphics() {
    DeletePicture(gBackgroundPicture);
    DeletePicture(gBadgePicture);
    ReleaseStream(gBackgroundStream);
    ReleaseStream(gBadgeStream);
    ReleaseFrameCache();
    Gdiplus::GdiplusShutdown(gGdiplusToken);
    gGdiplusToken = 0;
}

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

Gdiplus::GpImage* LoadPictureFromResource(int id, IStream** stream) {
    HRSRC resource = ::FindResourceW(gInstance, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (resource == nullptr)
        return nullptr;
    HGLOBAL loaded = ::LoadResource(gInstance, resource);
    const DWORD size = ::SizeofResource(gInstance, resource);
    if (loaded == nullptr)
        return nullptr;
    const void* data = ::LockResource(loaded);
    if (data == nullptr || size == 0)
        return nullptr;
    IStream* memory = ::SHCreateMemStream(static_cast<const BYTE*>(data), size);
    if (memory == nullptr)
        return nullptr;
    Gdiplus::GpImage* picture = nullptr;
    if (Gdiplus::DllExports::GdipLoadImageFromStream(memory, &picture) == Gdiplus::Ok &&
        picture != nullptr) {
        *stream = memory;
        return picture;
    }
    if (picture != nullptr)
        Gdiplus::DllExports::GdipDisposeImage(picture);
    memory->Release();
    return nullptr;
}

Gdiplus::GpImage* LoadPictureFromFiles(const wchar_t* const* names, int count) {
    if (count <= 0)
        return nullptr;
    for (int i = 0; i < count; ++i) {
        const std::wstring path = ExeDirectory() + names[i];
        Gdiplus::GpImage* picture = nullptr;
        if (Gdiplus::DllExports::GdipLoadImageFromFile(path.c_str(), &picture) == Gdiplus::Ok &&
            picture != nullptr) {
            return picture;
        }
        if (picture != nullptr)
            Gdiplus::DllExports::GdipDisposeImage(picture);
    }
    return nullptr;
}

int RunLauncher(HINSTANCE instance) {
    gInstance = instance;
    // Two launchers on one folder would overwrite each other's files.
    HeldMutex folderGuard;
    if (!ClaimInstallFolder(ExeDirectory(), folderGuard))
        return 0;
    // The shell may hand links and programs to COM handlers, which want an apartment.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    // Left behind by the previous self-update; usually absent.
    RemoveOldLauncherCopy(ExePath());
    RunSelfUpdate();

    Gdiplus::GdiplusStartupInput startup;
    Gdiplus::GdiplusStartup(&gGdiplusToken, &startup, nullptr);
    LoadPictures();
    RegisterMainWindowClass();

    HWND window = CreateMainWindow(nullptr);
    if (window == nullptr) {
        ReleaseGraphics();
        if (SUCCEEDED(com))
            ::CoUninitialize();
        return 1;
    }
    ::ShowWindow(window, SW_SHOW);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ReleaseGraphics();
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return 0;
}
