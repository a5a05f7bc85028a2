// The launcher's window in-process: real windows of its class driven with messages, a real
// update run against the local patch server, and the badge fade read back from the system.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include <thread>

#include "platform/exe_location.h"
#include "app/game_launch.h"
#include "patch/patch_status.h"
#include "app/resource_ids.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/window_proc.h"
#include "app/window_state.h"
#include "platform/file_hash.h"
#include "support/gdiplus_environment.h"
#include "support/manifest_lines.h"
#include "support/pictures.h"
#include "support/test_files.h"
#include "ui/frame_cache.h"

namespace {

::testing::Environment* const gGdiplus =
    ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// The window class, once for the program, as start-up registers it.
class WindowClassEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        gInstance = ::GetModuleHandleW(nullptr);
        RegisterMainWindowClass();
    }
};

::testing::Environment* const gWindowClass =
    ::testing::AddGlobalTestEnvironment(new WindowClassEnvironment);

// Runs the message loop of this thread for a while, or until `done` holds.
bool Pump(int milliseconds, const std::function<bool()>& done = nullptr) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done && done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return done ? done() : true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Click(HWND window, int x, int y) {
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}

PatchPhase Phase() {
    return gPatchStatus ? gPatchStatus->phase.load() : PatchPhase::Idle;
}

bool RunEnded() {
    return gPatchStatus != nullptr && !gPatchStatus->busy.load();
}

// A pack on the local patch server and an installation folder for the window to work on.
class LauncherWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowState();
        server_ = EnvVar(L"TALVORA_TEST_SERVER");
        root_ = EnvVar(L"TALVORA_TEST_SERVER_ROOT");
        ASSERT_FALSE(server_.empty()) << "run through tests/server/with_server.py";
        ::CreateDirectoryW((root_ + L"\\pack").c_str(), nullptr);
        ::CreateDirectoryW((root_ + L"\\pack\\client").c_str(), nullptr);
        params_.installDir = install_.path();
        params_.manifestUrl = server_ + L"/pack/patch_manifest.txt";
    }

    void TearDown() override {
        if (window_ != nullptr && ::IsWindow(window_))
            ::DestroyWindow(window_);
        Pump(50);
        ::DeleteFileW((ExeDirectory() + L"\\velkaro-started.txt").c_str());
    }

    // Publishes one file; `slow` serves it through the dripping fault mode.
    void Publish(const std::string& content, bool slow = false) {
        ASSERT_TRUE(WriteFileBytes(root_ + L"\\pack\\client\\game.pak", content));
        std::string base(server_.begin(), server_.end());
        base += slow ? "/fault/drip/pack/client/" : "/pack/client/";
        const std::string manifest =
            "VERSION\t1\nBASE\t" + base + "\n" + ManifestLine("game.pak", content);
        ASSERT_TRUE(WriteFileBytes(root_ + L"\\pack\\patch_manifest.txt", manifest));
    }

    void Open() {
        window_ = CreateMainWindow(&params_);
        ASSERT_NE(window_, nullptr);
    }

    void OpenUpToDate() {
        const std::string content = PatternBytes(5000, 3);
        Publish(content);
        ASSERT_TRUE(WriteFileBytes(install_ / L"game.pak", content));
        Open();
        ASSERT_TRUE(Pump(30000, RunEnded));
        ASSERT_EQ(Phase(), PatchPhase::UpToDate);
    }

    // The window is never shown here, so the system asks for no paint: ask for one directly.
    void Paint() {
        ::InvalidateRect(window_, nullptr, FALSE);
        ::SendMessageW(window_, WM_PAINT, 0, 0);
    }

    TempDir install_;
    std::wstring server_, root_;
    MainWindowParams params_;
    HWND window_ = nullptr;
};

}  // namespace

TEST_F(LauncherWindow, CreationStartsARunAndTheTimerDrivesFrames) {
    const std::string content = PatternBytes(70000, 5);
    Publish(content);
    Open();
    ASSERT_NE(gPatchStatus, nullptr);
    EXPECT_EQ(gPatchStatus->installDir, install_.path());
    EXPECT_TRUE(gPatchStatus->busy.load() || Phase() != PatchPhase::Idle) << "no run was started";
    ASSERT_TRUE(Pump(30000, RunEnded));
    EXPECT_EQ(Phase(), PatchPhase::Updated);
    EXPECT_EQ(ReadStatusText(*gPatchStatus), L"Frissítés kész. Indíthatod a játékot!");
    EXPECT_EQ(ReadFileBytes(install_ / L"game.pak"), content);

    const int ticks = gFrameTick;
    Pump(400);
    EXPECT_GE(gFrameTick - ticks, 4) << "the 33 ms timer is not running";

    ::DestroyWindow(window_);
    EXPECT_EQ(gPatchStatus, nullptr);
}

TEST_F(LauncherWindow, MessagesThatNeedNoPage) {
    OpenUpToDate();
    EXPECT_EQ(::SendMessageW(window_, WM_ERASEBKGND, 0, 0), 1);
    ::SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(0xFFFF, 0x8001));
    EXPECT_EQ(gMouseX, 65535) << "coordinates are unsigned 16-bit";
    EXPECT_EQ(gMouseY, 0x8001);
    const int ticks = gFrameTick;
    ::SendMessageW(window_, WM_TIMER, 77, 0);
    EXPECT_EQ(gFrameTick, ticks + 1) << "any timer id counts";
}

TEST_F(LauncherWindow, ClicksHitButtonsOnlyInsideTheirHalfOpenRectangles) {
    OpenUpToDate();
    // Nothing has been painted yet: no rectangle exists, so nothing can be hit.
    Click(window_, 660, 438);
    EXPECT_FALSE(gSettingsOpen);

    Paint();
    const HitRect settings = ButtonHitRect(Button::SettingsButton);
    ASSERT_EQ(settings.x, 660.0f);
    ASSERT_EQ(settings.y, 438.0f);
    for (const HitRect& r :
         {ButtonHitRect(Button::GameConfigButton), ButtonHitRect(Button::FullCheckButton),
          ButtonHitRect(Button::BackButton)}) {
        EXPECT_EQ(r.width, 0.0f) << "SettingsView has not been painted";
    }
    Click(window_, 660 + 180, 438);
    Click(window_, 660, 438 + 34);
    Click(window_, 659, 450);
    EXPECT_FALSE(gSettingsOpen) << "right, bottom and outer edges are outside";
    Click(window_, 660, 438);
    EXPECT_TRUE(gSettingsOpen) << "the top-left corner belongs to the button";

    Paint();
    EXPECT_EQ(ButtonHitRect(Button::BackButton).y, 500.0f);
    Click(window_, 60 + 160, 500);
    EXPECT_TRUE(gSettingsOpen);
    Click(window_, 60, 500);
    EXPECT_FALSE(gSettingsOpen);
}

TEST_F(LauncherWindow, PlayWorksOnlyAfterARunThatEndedWell) {
    OpenUpToDate();
    Paint();
    for (PatchPhase phase : {PatchPhase::Idle, PatchPhase::Checking, PatchPhase::Downloading,
                             PatchPhase::Verifying, PatchPhase::Failed}) {
        gPatchStatus->phase.store(phase);
        Click(window_, 750, 398);
        EXPECT_FALSE(gSplashActive) << "PLAY reacted in phase " << static_cast<int>(phase);
    }
    EXPECT_FALSE(PathExists(ExeDirectory() + L"\\velkaro-started.txt"));

    gPatchStatus->phase.store(PatchPhase::Updated);
    Click(window_, 660, 370);
    ASSERT_TRUE(gSplashActive) << "PLAY on its top-left corner must start the game";
    EXPECT_EQ(gSplashTick, 0);
    // Fully transparent before the first fade step.
    BYTE alpha = 99;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(window_, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    const std::wstring record = ExeDirectory() + L"\\velkaro-started.txt";
    ASSERT_TRUE(Pump(15000, [&] { return PathExists(record); })) << "the game did not start";

    // The window is now the borderless, transparent, topmost badge in the middle of the screen.
    RECT rect;
    ::GetWindowRect(window_, &rect);
    const SplashGeometry expected = ComputeSplashGeometry(::GetSystemMetrics(SM_CXSCREEN),
                                                          ::GetSystemMetrics(SM_CYSCREEN), 1.0f);
    EXPECT_EQ(rect.left, expected.x);
    EXPECT_EQ(rect.top, expected.y);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    const LONG style = ::GetWindowLongW(window_, GWL_STYLE);
    const LONG exStyle = ::GetWindowLongW(window_, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION), static_cast<LONG>(WS_POPUP));
    EXPECT_TRUE(exStyle & WS_EX_LAYERED);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);

    // A second click, even where PLAY was, starts nothing more.
    Click(window_, 750, 398);
    Pump(1500);
    const std::string text = ReadFileBytes(record);
    EXPECT_EQ(text.find("cwd="), text.rfind("cwd=")) << "the game was started twice";
    EXPECT_NE(text.find("argc=1\n"), std::string::npos) << text;
}

TEST_F(LauncherWindow, ClicksOnTheBadgeReachNoButtonUnderIt) {
    OpenUpToDate();
    Paint();
    Click(window_, 660, 370);
    ASSERT_TRUE(gSplashActive);
    // The page's rectangles are still stored; the badge now covers them all.
    ASSERT_EQ(ButtonHitRect(Button::SettingsButton).x, 660.0f);
    Click(window_, 660, 438);
    EXPECT_FALSE(gSettingsOpen) << "a click on the badge reached the button hidden under it";
    const std::wstring record = ExeDirectory() + L"\\velkaro-started.txt";
    ASSERT_TRUE(Pump(15000, [&] { return PathExists(record); })) << "the game did not start";
    Pump(300);
    Click(window_, 660, 438);
    EXPECT_FALSE(gSettingsOpen) << "a click on the badge reached the button hidden under it";
}

TEST_F(LauncherWindow, FullCheckIsRefusedWhileBusyAndShowsTheNewRunAfter) {
    OpenUpToDate();
    Paint();
    Click(window_, 660, 438);
    ASSERT_TRUE(gSettingsOpen);
    Paint();

    gPatchStatus->busy.store(true);  // as if a run were still going
    Click(window_, 60, 330);
    EXPECT_TRUE(gSettingsOpen) << "the page must stay while a run is in progress";
    EXPECT_FALSE(gPatchStatus->fullCheck.load());
    gPatchStatus->busy.store(false);

    Click(window_, 60, 330);
    EXPECT_FALSE(gSettingsOpen) << "MainView shows the new run";
    EXPECT_TRUE(gPatchStatus->fullCheck.load());
    ASSERT_TRUE(Pump(30000, RunEnded));
    EXPECT_EQ(Phase(), PatchPhase::Updated) << "a full check fetches the file again";
}

TEST_F(LauncherWindow, DestroyDuringADownloadStopsTheRunAndLeavesNoPart) {
    Publish(PatternBytes(6 * 1024 * 1024, 8), true);  // ~30 s at the drip rate
    ASSERT_TRUE(WriteFileBytes(install_ / L"game.pak", "the old file"));
    Open();
    const std::wstring part = install_ / L"game.pak.part";
    ASSERT_TRUE(Pump(30000, [&] { return PathExists(part); })) << "the download never started";
    Pump(300);
    EXPECT_EQ(Phase(), PatchPhase::Downloading);

    const auto start = std::chrono::steady_clock::now();
    ::DestroyWindow(window_);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0) << "the worker did not stop inside the download";
    EXPECT_EQ(gPatchStatus, nullptr);
    EXPECT_FALSE(PathExists(part));
    EXPECT_EQ(ReadFileBytes(install_ / L"game.pak"), "the old file");
}

// Closing the window must not wait for the server, whatever it does: here the manifest arrives
// at one byte every five seconds, or the server accepts and never answers.
TEST_F(LauncherWindow, DestroyWhileTheManifestIsHeldUpEndsAtOnce) {
    Publish(PatternBytes(5000, 9));
    for (const wchar_t* fault : {L"/fault/trickle", L"/fault/silent"}) {
        params_.manifestUrl = server_ + fault + L"/pack/patch_manifest.txt";
        Open();
        Pump(2000);
        ASSERT_EQ(Phase(), PatchPhase::Checking);
        const auto start = std::chrono::steady_clock::now();
        ::DestroyWindow(window_);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("destroy while the manifest is held up (%ls): %.2f s\n", fault, seconds);
        EXPECT_LT(seconds, 2.0);
        EXPECT_EQ(gPatchStatus, nullptr);
        EXPECT_TRUE(ListTree(install_.path()).empty());
        Pump(50);
    }
}

// A run stuck in a step that does not look at the stop request (a hash of a huge download, a
// read from a disk that hangs) must not hold the window's destruction: it is left its record and
// the process is told to end without it.
TEST_F(LauncherWindow, DestroyDoesNotWaitForARunThatIgnoresTheStop) {
    OpenUpToDate();
    PatchStatus* status = gPatchStatus;
    status->workerThread.join();
    UniqueKernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueKernelHandle returned(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    status->busy.store(true);
    status->phase.store(PatchPhase::Verifying);
    HANDLE releaseEvent = release.get(), returnedEvent = returned.get();
    status->workerThread = std::thread([status, releaseEvent, returnedEvent] {
        ::WaitForSingleObject(releaseEvent, 60000);
        FinishCancelled(*status);
        ::SetEvent(returnedEvent);
    });

    ::DestroyWindow(window_);
    EXPECT_FALSE(::IsWindow(window_));
    EXPECT_EQ(gPatchStatus, nullptr);
    EXPECT_TRUE(gRunAbandoned);
    EXPECT_TRUE(status->busy.load()) << "the destruction waited for the stuck run";
    EXPECT_TRUE(status->stopRequested.load());
    EXPECT_FALSE(status->workerThread.joinable());

    // The process would end here; this one lets the run finish and frees what it kept.
    ::SetEvent(releaseEvent);
    ASSERT_EQ(::WaitForSingleObject(returnedEvent, 60000), WAIT_OBJECT_0);
    delete status;
    gRunAbandoned = false;
}

// A second launcher on the folder hands over to a launcher whose window is up, and waits for
// one whose window is gone (hidden first while it is being destroyed) instead of ending for it.
TEST_F(LauncherWindow, ASecondStartHandsOverOnlyToAVisibleWindow) {
    OpenUpToDate();  // a launcher window of this program, which lives in ExeDirectory
    // The claim runs on a thread of its own, as in another process; this one keeps pumping,
    // since bringing the window to the front sends it messages.
    std::atomic<int> claimed{-1};
    const auto claimFromElsewhere = [&] {
        claimed = -1;
        return std::thread([&] {
            FolderClaim claim;
            claimed = ClaimInstallFolder(ExeDirectory(), claim, 60000) ? 1 : 0;
        });
    };
    FolderClaim first;
    ASSERT_TRUE(ClaimInstallFolder(ExeDirectory(), first));

    // Hidden: the claim waits, and succeeds once the first lets go.
    std::thread second = claimFromElsewhere();
    Pump(600);
    EXPECT_EQ(claimed.load(), -1) << "handed over to a window nobody can see";
    ReleaseFolder(first);
    Pump(30000, [&] { return claimed.load() != -1; });
    second.join();
    EXPECT_EQ(claimed.load(), 1);

    // Shown: the claim gives way at once, long before its wait would run out.
    ASSERT_TRUE(ClaimInstallFolder(ExeDirectory(), first));
    ::ShowWindow(window_, SW_SHOWNOACTIVATE);
    second = claimFromElsewhere();
    EXPECT_TRUE(Pump(30000, [&] { return claimed.load() != -1; }));
    second.join();
    EXPECT_EQ(claimed.load(), 0);
    ::ShowWindow(window_, SW_HIDE);
}

TEST(SplashFade, AlphaRisesHoldsFallsAndThenCloses) {
    ResetWindowState();
    HWND window = ::CreateWindowExW(WS_EX_LAYERED, L"STATIC", L"badge", WS_POPUP, 0, 0, 50, 50,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ::SetLayeredWindowAttributes(window, 0, 0, LWA_ALPHA);
    gSplashActive = true;
    gSplashTick = 0;

    const int rising[] = {25, 51, 76, 102, 127, 153, 178, 204, 229};
    const int falling[] = {243, 231, 220, 208, 197, 185, 173, 162, 150, 139, 127,
                           115, 104, 92,  81,  69,  57,  46,  34,  23,  11,  0};
    for (int tick = 1; tick <= 72; ++tick) {
        const bool closed = SplashFade(window);
        BYTE alpha = 0;
        DWORD flags = 0;
        ASSERT_TRUE(::GetLayeredWindowAttributes(window, nullptr, &alpha, &flags));
        int expected = 255;
        if (tick < 10)
            expected = rising[tick - 1];
        if (tick > 50)
            expected = falling[tick - 51];
        EXPECT_EQ(alpha, expected) << "tick " << tick;
        EXPECT_EQ(closed, tick == 72) << "tick " << tick;
        EXPECT_EQ(gSplashTick, tick);
    }
    MSG message;
    EXPECT_TRUE(::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_EQ(SplashAlpha(51), 243);
    EXPECT_EQ(SplashAlpha(52), 231);
    EXPECT_EQ(SplashAlpha(71), 11);
    ::DestroyWindow(window);
}

TEST(SplashGeometry, HalfTheScreenHighInTheMiddle) {
    const SplashGeometry g = ComputeSplashGeometry(1920, 1080, 1024.0f / 1024.0f);
    EXPECT_EQ(g.width, 540);
    EXPECT_EQ(g.height, 540);
    EXPECT_EQ(g.x, 690);
    EXPECT_EQ(g.y, 270);
    EXPECT_EQ(g.corner, 97);
    const SplashGeometry wide = ComputeSplashGeometry(1920, 1080, 1.5f);
    EXPECT_EQ(wide.width, 810);
    EXPECT_EQ(wide.x, 555);
    EXPECT_EQ(wide.corner, 97);
    const SplashGeometry odd = ComputeSplashGeometry(1366, 767, 1.0f);
    EXPECT_EQ(odd.height, 383);  // 383.5 truncated
    EXPECT_EQ(odd.x, (1366 - 383) / 2);
}

#ifdef TALVORA_EXE_UTF8
// What Talvora.exe carries: the pictures and the icon under the ids the code loads, and one
// application manifest that asks for administrator rights and leaves scaling to the system.
TEST(Executable, CarriesThePicturesTheIconAndOneManifest) {
    std::wstring path = BuildPath(TALVORA_EXE_UTF8);
    std::replace(path.begin(), path.end(), L'/', L'\\');  // the loader wants backslashes
    HMODULE exe = ::LoadLibraryExW(path.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr) << TALVORA_EXE_UTF8;
    for (int id : {TALVORA_BACKGROUND_PICTURE, TALVORA_BADGE_PICTURE})
        EXPECT_NE(::FindResourceW(exe, MAKEINTRESOURCEW(id), RT_RCDATA), nullptr) << id;
    EXPECT_NE(::FindResourceW(exe, MAKEINTRESOURCEW(TALVORA_ICON), RT_GROUP_ICON), nullptr);

    std::vector<ULONG_PTR> manifests;
    ::EnumResourceNamesW(
        exe, RT_MANIFEST,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::vector<ULONG_PTR>*>(found)->push_back(
                reinterpret_cast<ULONG_PTR>(name));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&manifests));
    ASSERT_EQ(manifests.size(), 1u);
    ASSERT_EQ(manifests[0], static_cast<ULONG_PTR>(1));
    HRSRC found = ::FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(exe, found)));
    ASSERT_NE(data, nullptr);
    const std::string manifest(data, ::SizeofResource(exe, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos)
        << "a DPI-aware window is drawn 20-50 % too small on a scaled display";
    ::FreeLibrary(exe);
}
#endif
