// PaintWindow timed frame by frame into a real window, plain frames against cached frames in the
// same run: MainView during a download (background picture, pointer over a button), SettingsView
// and the splash with the badge picture.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "patch/patch_status.h"
#include "app/window_state.h"
#include "support/pictures.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui/frame_cache.h"
#include "app/window_proc.h"
#include "ui/paint.h"

namespace {

struct Figures {
    double median;
    double p95;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    return {n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2.0,
            ms[std::min(n - 1, static_cast<size_t>(0.95 * static_cast<double>(n)))]};
}

enum class Page { MainDownloading, Settings, Splash };

// One frame's worth of change, as a download and a moving pointer would bring.
void Advance(PatchStatus& status, Page page, int frame) {
    ++gFrameTick;
    if (page == Page::MainDownloading) {
        const int file = frame / 60 + 1;
        if (frame % 60 == 0) {
            SetStatusText(status, L"Letöltés (" + std::to_wstring(file) + L"/12): pack\\terrain_" +
                                      std::to_wstring(file) + L".pak");
        }
        status.fileProgress.store((frame % 60) / 60.0);
        status.overallProgress.store(frame / 720.0);
        // The pointer wanders over the link buttons.
        gMouseX = 60 + (frame * 3) % 380;
        gMouseY = 500;
    } else if (page == Page::Settings) {
        gMouseX = 100 + (frame * 2) % 200;
        gMouseY = 250 + (frame / 50 % 2) * 100;
    }
}

std::vector<double> Run(HDC dc, PatchStatus& status, Page page, FrameMode mode, int frames,
                        int width, int height) {
    SetFrameMode(mode);
    gSettingsOpen = page == Page::Settings;
    gSplashActive = page == Page::Splash;
    gEmbers.clear();
    std::srand(1);
    // Let the embers reach their steady number before timing, then paint a few frames so that
    // the first, which builds every layer, is not among the timed ones.
    for (int i = 0; i < 240; ++i) {
        ++gFrameTick;
        UpdateEmbers(width, height, gFrameTick);
    }
    for (int i = 0; i < 3; ++i) {
        Advance(status, page, i);
        PaintWindow(dc, width, height);
    }
    std::vector<double> ms;
    for (int i = 0; i < frames; ++i) {
        Advance(status, page, i);
        const auto start = std::chrono::steady_clock::now();
        PaintWindow(dc, width, height);
        ::GdiFlush();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return ms;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 300;

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return 1;
    int rc = 0;
    {
        bool bgFromSource = false;
        bool badgeFromSource = false;
        Picture background = ProjectPictureOrGenerated(TALVORA_SOURCE_DIR_UTF8, L"background.jpg",
                                                       1088, 976, &bgFromSource);
        Picture badge = ProjectPictureOrGenerated(TALVORA_SOURCE_DIR_UTF8, L"varnguard.jpg", 1024,
                                                  1024, &badgeFromSource);
        gBackgroundPicture = background.get();
        gBadgePicture = badge.get();
        std::printf("pictures: background %s, badge %s\n",
                    bgFromSource ? "res/background.jpg" : "generated 1088x976 JPEG",
                    badgeFromSource ? "res/varnguard.jpg" : "generated 1024x1024 JPEG");
        std::printf("font family: %ls\n",
                    UiFontFamilyName().empty() ? L"(none)" : UiFontFamilyName().c_str());

        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TalvoraPaintBench";
        ::RegisterClassW(&wc);
        RECT r{0, 0, 900, 560};
        ::AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
        HWND window = ::CreateWindowW(wc.lpszClassName, L"Talvora",
                                      WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, r.right - r.left,
                                      r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
        if (window == nullptr) {
            std::printf("no window\n");
            rc = 1;
        } else {
            HDC dc = ::GetDC(window);
            PatchStatus status;
            status.phase.store(PatchPhase::Downloading);
            status.busy.store(true);
            gPatchStatus = &status;

            struct Case {
                const char* name;
                Page page;
                int width;
                int height;
            };
            const Case cases[] = {
                {"MainView downloading 900x560", Page::MainDownloading, 900, 560},
                {"SettingsView 900x560", Page::Settings, 900, 560},
                {"splash with badge 540x540", Page::Splash, 540, 540},
            };
            for (const Case& c : cases) {
                const Figures plain =
                    Summarise(Run(dc, status, c.page, FrameMode::Plain, frames, c.width, c.height));
                const Figures cached = Summarise(
                    Run(dc, status, c.page, FrameMode::Cached, frames, c.width, c.height));
                std::printf(
                    "%s: plain median %.2f ms p95 %.2f ms | cached median %.2f ms p95 "
                    "%.2f ms | ratio plain/cached median %.1f\n",
                    c.name, plain.median, plain.p95, cached.median, cached.p95,
                    plain.median / cached.median);
                std::fflush(stdout);
            }
            gPatchStatus = nullptr;
            ::ReleaseDC(window, dc);
            ::DestroyWindow(window);
        }
        ReleaseFrameCache();
        gBackgroundPicture = nullptr;
        gBadgePicture = nullptr;
    }
    Gdiplus::GdiplusShutdown(token);
    return rc;
}
