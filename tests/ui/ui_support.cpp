#include "ui_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "app/window_state.h"
#include "ui/embers.h"
#include "support/gdiplus_environment.h"
#include "support/test_files.h"
#include "ui/frame_cache.h"

namespace {

std::unique_ptr<std::pair<Picture, Picture>>& Pictures() {
    static std::unique_ptr<std::pair<Picture, Picture>> pictures;
    return pictures;
}

// The painter's state and the pictures go before GDI+ shuts down.
::testing::Environment* const gGdiplus =
    ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment([] {
        ResetPaintState();
        Pictures().reset();
    }));

std::pair<Picture, Picture>& LoadedPictures() {
    auto& pictures = Pictures();
    if (!pictures) {
        pictures.reset(new std::pair<Picture, Picture>());
        pictures->first = ProjectPictureOrGenerated(TALVORA_SOURCE_DIR_UTF8, L"background.jpg",
                                                    1088, 976, nullptr);
        pictures->second = ProjectPictureOrGenerated(TALVORA_SOURCE_DIR_UTF8, L"varnguard.jpg",
                                                     1024, 1024, nullptr);
    }
    return *pictures;
}

}  // namespace

Frame Compose(int width, int height, FrameMode mode) {
    Frame frame;
    if (ComposeFrame(width, height, mode, CurrentFrameInput(), frame.pixels)) {
        frame.width = width;
        frame.height = height;
    }
    return frame;
}

std::uint32_t Blend(std::uint32_t over, std::uint32_t under) {
    const double fa = (over >> 24) / 255.0;
    const double ba = (under >> 24) / 255.0 * (1.0 - fa);
    const double a = fa + ba;
    if (a <= 0.0)
        return 0;
    std::uint32_t result = static_cast<std::uint32_t>(std::lround(a * 255.0)) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double c = (((over >> shift) & 0xFF) * fa + ((under >> shift) & 0xFF) * ba) / a;
        result |= static_cast<std::uint32_t>(std::lround(c)) << shift;
    }
    return result;
}

std::uint32_t Mix(std::uint32_t a, std::uint32_t b, double t) {
    std::uint32_t result = 0;
    for (int shift = 0; shift <= 24; shift += 8) {
        const double c = ((a >> shift) & 0xFF) * (1.0 - t) + ((b >> shift) & 0xFF) * t;
        result |= static_cast<std::uint32_t>(std::lround(c)) << shift;
    }
    return result;
}

int ChannelDistance(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int shift = 0; shift <= 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        worst = std::max(worst, d < 0 ? -d : d);
    }
    return worst;
}

std::string Hex(std::uint32_t colour) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", colour);
    return text;
}

void SaveFrame(const Frame& frame, const std::string& name) {
    if (frame.pixels.empty())
        return;
    const std::wstring dir = BuildPath(TALVORA_UI_FRAMES_DIR_UTF8);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring path = dir + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
    EXPECT_TRUE(SavePng(path, frame.pixels.data(), frame.width, frame.height)) << name;
}

ScopedStatus::ScopedStatus(PatchPhase phase, bool busy, double overall, double file,
                           const std::wstring& text) {
    status_.phase.store(phase);
    status_.busy.store(busy);
    status_.overallProgress.store(overall);
    status_.fileProgress.store(file);
    SetStatusText(status_, text);
    gPatchStatus = &status_;
}

ScopedStatus::~ScopedStatus() {
    gPatchStatus = nullptr;
}

void ResetPaintState() {
    ResetWindowState();
    gEmbers.clear();
    gPatchStatus = nullptr;
    SetFrameMode(FrameMode::Cached);
}

Picture& BackgroundPicture() {
    return LoadedPictures().first;
}
Picture& BadgePicture() {
    return LoadedPictures().second;
}
