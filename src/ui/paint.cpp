#include "ui/paint.h"

#include "app/window_state.h"
#include "ui/badge.h"
#include "ui/buttons.h"
#include "ui/frame_cache.h"
#include "ui/frame_parts.h"
#include "app/unique_handle.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

FrameMode gFrameMode = FrameMode::Cached;

void StoreAndDrawButton(GpGraphics* graphics, Button button, const HitRect& rect,
                        const std::wstring& label, bool enabled, bool primary) {
    ButtonHitRect(button) = rect;
    DrawButton(graphics, rect, label, enabled, primary);
}

void DrawMainView(GpGraphics* graphics, int width, int height) {
    const float w = static_cast<float>(width);
    const float p = LowerPanelTop(height);
    DrawMainPanel(graphics, width, height);
    DrawLabel(graphics, CurrentStatusText(), 60.0f, p + 14.0f, 14.5f, 0xFFEEE6DA, false,
              StringAlignmentNear);
    DrawProgressBar(graphics, 60.0f, p + 62.0f, w - 324.0f, 20.0f, CurrentOverallFraction(),
                    kOverallBarLabel);
    DrawProgressBar(graphics, 60.0f, p + 108.0f, w - 324.0f, 20.0f, CurrentFileFraction(),
                    kFileBarLabel);
    StoreAndDrawButton(graphics, Button::PlayButton,
                       MainViewButtonRect(Button::PlayButton, width, height),
                       CurrentReady() ? kPlayReadyLabel : kPlayBusyLabel, CurrentReady(), true);
    for (Button b : {Button::SettingsButton, Button::WebsiteButton, Button::DiscordButton,
                     Button::FacebookButton}) {
        const wchar_t* label = b == Button::SettingsButton  ? kSettingsLabel
                               : b == Button::WebsiteButton ? kWebsiteLabel
                               : b == Button::DiscordButton ? kDiscordLabel
                                                            : kFacebookLabel;
        StoreAndDrawButton(graphics, b, MainViewButtonRect(b, width, height), label, true, false);
    }
}

void DrawSettingsView(GpGraphics* graphics, int width, int height) {
    DrawSettingsPanel(graphics, width, height);
    DrawLabel(graphics, kSettingsHeading, 60.0f, 150.0f, 27.0f, 0xFFFFEBBE, true,
              StringAlignmentNear);
    StoreAndDrawButton(graphics, Button::GameConfigButton,
                       SettingsViewButtonRect(Button::GameConfigButton, width, height),
                       kGameConfigLabel, true, true);
    DrawLabel(graphics, kGameConfigDescription, 60.0f, 286.0f, 14.0f, 0xFFC8C2BA, false,
              StringAlignmentNear);
    StoreAndDrawButton(graphics, Button::FullCheckButton,
                       SettingsViewButtonRect(Button::FullCheckButton, width, height),
                       kFullCheckLabel, CurrentFullCheckEnabled(), false);
    DrawLabel(graphics, kFullCheckDescription, 60.0f, 384.0f, 14.0f, 0xFFC8C2BA, false,
              StringAlignmentNear);
    StoreAndDrawButton(graphics, Button::BackButton,
                       SettingsViewButtonRect(Button::BackButton, width, height), kBackLabel, true,
                       false);
}

// The whole frame from scratch into a new bitmap, in layout order.
UniqueBitmap ComposePlainFrame(int width, int height) {
    UniqueBitmap bitmap;
    if (width <= 0 || height <= 0 ||
        GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, bitmap.put()) !=
            Ok) {
        bitmap.reset();
        return bitmap;
    }
    UniqueGraphics graphics;
    if (GdipGetImageGraphicsContext(bitmap.get(), graphics.put()) != Ok) {
        bitmap.reset();
        return bitmap;
    }
    GpGraphics* g = graphics.get();
    GdipSetSmoothingMode(g, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(g, TextRenderingHintAntiAlias);

    if (gSplashActive) {
        DrawSplash(g, width, height);
        return bitmap;
    }
    DrawBackground(g, width, height);
    DrawEmberBand(g, width, height);
    DrawHeaderBand(g, width);
    DrawHeaderRule(g, width);
    DrawTitle(g, width);
    DrawSlogan(g, width);
    if (gSettingsOpen) {
        DrawSettingsView(g, width, height);
    } else {
        DrawMainView(g, width, height);
    }
    DrawFooter(g, width, height);
    return bitmap;
}

void PresentPlainFrame(HDC dc, GpBitmap* frame, int width, int height) {
    UniqueGraphics target;
    if (GdipCreateFromHDC(dc, target.put()) != Ok)
        return;
    GdipDrawImageRectI(target.get(), frame, 0, 0, width, height);
}

bool CopyBitmapPixels(GpBitmap* bitmap, int width, int height, std::vector<std::uint32_t>& pixels) {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    Rect all(0, 0, width, height);
    BitmapData data{};
    data.Width = static_cast<UINT>(width);
    data.Height = static_cast<UINT>(height);
    data.Stride = width * 4;
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = pixels.data();
    // The caller's buffer receives the pixels directly.
    if (GdipBitmapLockBits(bitmap, &all, ImageLockModeRead | ImageLockModeUserInputBuf,
                           PixelFormat32bppARGB, &data) != Ok) {
        return false;
    }
    GdipBitmapUnlockBits(bitmap, &data);
    return true;
}

}  // namespace

FrameMode GetFrameMode() {
    return gFrameMode;
}

void SetFrameMode(FrameMode mode) {
    gFrameMode = mode;
}

void PaintWindow(HDC dc, int width, int height) {
    if (gFrameMode == FrameMode::Cached) {
        PaintCachedFrame(dc, width, height);
        return;
    }
    const UniqueBitmap frame = ComposePlainFrame(width, height);
    if (frame)
        PresentPlainFrame(dc, frame.get(), width, height);
}

bool ComposeFrame(int width, int height, FrameMode mode, std::vector<std::uint32_t>& pixels) {
    if (mode == FrameMode::Cached)
        return ComposeCachedFrame(width, height, pixels);
    const UniqueBitmap frame = ComposePlainFrame(width, height);
    return frame && CopyBitmapPixels(frame.get(), width, height, pixels);
}
