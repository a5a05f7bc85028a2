#include "ui/frame_parts.h"

#include <algorithm>
#include <cmath>

#include "app/patch_status.h"
#include "ui/brushes.h"
#include "ui/buttons.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

const wchar_t kPlayReadyLabel[] = L"JÁTÉK";
const wchar_t kPlayBusyLabel[] = L"Frissítés...";
const wchar_t kSettingsLabel[] = L"Beállítások";
const wchar_t kWebsiteLabel[] = L"Weboldal";
const wchar_t kDiscordLabel[] = L"Discord";
const wchar_t kFacebookLabel[] = L"Facebook";
const wchar_t kOverallBarLabel[] = L"Letöltés összesen";
const wchar_t kFileBarLabel[] = L"Aktuális fájl";
const wchar_t kSettingsHeading[] = L"Beállítások";
const wchar_t kGameConfigLabel[] = L"Játék konfiguráció";
const wchar_t kGameConfigDescription[] = L"A játék saját beállításai (felbontás, hang, ablak...).";
const wchar_t kFullCheckLabel[] = L"Teljes ellenőrzés / javítás";
const wchar_t kFullCheckDescription[] = L"Minden pack fájlt újra ellenőriz és hiányost pótol.";
const wchar_t kBackLabel[] = L"Vissza";

void DrawBackground(GpGraphics* graphics, int width, int height) {
    if (IsPictureUsable(gBackgroundPicture)) {
        // Stretched: the picture's aspect ratio is not kept.
        GdipDrawImageRectI(graphics, gBackgroundPicture, 0, 0, width, height);
        return;
    }
    const UniqueLineBrush brush =
        VerticalGradient(0.0f, 0.0f, static_cast<float>(height), 0xFF1C101E, 0xFF0A080E);
    if (brush)
        GdipFillRectangleI(graphics, brush.get(), 0, 0, width, height);
}

void DrawEmberBand(GpGraphics* graphics, int width, int height, bool skipHidden) {
    const RectF band(0.0f, kHeaderBottom, static_cast<float>(width),
                     LowerPanelTop(height) - kHeaderBottom);
    UniqueRegion region;
    if (GdipCreateRegionRect(&band, region.put()) == Ok) {
        GdipSetClipRegion(graphics, region.get(), CombineModeReplace);
    }
    UpdateEmbers(width, height);
    // Taken wide on purpose: a band of negative height counts with its absolute extent, so
    // nothing that could be drawn is skipped.
    const RectF visible(0.0f, std::min(band.Y, band.Y + band.Height), band.Width,
                        std::abs(band.Height));
    DrawEmbers(graphics, skipHidden ? &visible : nullptr);
    GdipResetClip(graphics);
}

void DrawHeaderBand(GpGraphics* graphics, int width) {
    const UniqueLineBrush brush =
        VerticalGradient(0.0f, 0.0f, kHeaderBottom, 0xD208050C, 0x0008050C);
    if (brush)
        GdipFillRectangleI(graphics, brush.get(), 0, 0, width, 118);
}

void DrawHeaderRule(GpGraphics* graphics, int width) {
    const float w = static_cast<float>(width);
    const UniqueLineBrush brush = LineGradient(0.0f, 0.0f, w, 0.0f, 0x00FFAA3C, 0x00FFAA3C);
    if (!brush)
        return;
    // Glows in the middle and fades out to both sides.
    const ARGB colours[3] = {0x00FFAA3C, 0xDCFFC878, 0x00FFAA3C};
    const REAL positions[3] = {0.0f, 0.5f, 1.0f};
    GdipSetLinePresetBlend(brush.get(), colours, positions, 3);
    UniquePen pen;
    if (GdipCreatePen2(brush.get(), 2.0f, UnitWorld, pen.put()) == Ok) {
        GdipDrawLine(graphics, pen.get(), 0.0f, kHeaderBottom, w, kHeaderBottom);
    }
}

void DrawTitle(GpGraphics* graphics, int width) {
    const UiFont font(54.0f, true);
    if (font.get() == nullptr)
        return;
    const UiFormat format(StringAlignmentCenter, StringAlignmentCenter);
    const float w = static_cast<float>(width);
    const UniqueSolidFill shadow = SolidFill(0xAA000000);
    const RectF shadowBox(2.0f, 10.0f, w, 78.0f);
    if (shadow) {
        GdipDrawString(graphics, L"Talvora", -1, font.get(), &shadowBox, format.get(),
                       shadow.get());
    }
    const UniqueLineBrush face = VerticalGradient(0.0f, 8.0f, 86.0f, 0xFFFFECAA, 0xFFD6781E);
    if (!face)
        return;
    const ARGB colours[4] = {0xFFFFF6C8, 0xFFFFD26E, 0xFFE28C28, 0xFFB45612};
    const REAL positions[4] = {0.0f, 0.4f, 0.7f, 1.0f};
    GdipSetLinePresetBlend(face.get(), colours, positions, 4);
    const RectF faceBox(0.0f, 8.0f, w, 78.0f);
    GdipDrawString(graphics, L"Talvora", -1, font.get(), &faceBox, format.get(), face.get());
}

void DrawSlogan(GpGraphics* graphics, int width) {
    const UiFont font(15.0f, false);
    if (font.get() == nullptr)
        return;
    const UiFormat format(StringAlignmentCenter, StringAlignmentCenter);
    const UniqueSolidFill brush = SolidFill(0xE6DCBE96);
    const RectF box(0.0f, 86.0f, static_cast<float>(width), 26.0f);
    if (brush) {
        GdipDrawString(graphics, L"A soha véget nem érő kaland", -1, font.get(), &box, format.get(),
                       brush.get());
    }
}

void DrawFooter(GpGraphics* graphics, int width, int height) {
    DrawLabel(graphics, L"Pellorin", static_cast<float>(width) - 12.0f,
              static_cast<float>(height) - 22.0f, 12.0f, 0x78FFC878, false, StringAlignmentFar);
}

void DrawPanel(GpGraphics* graphics, float x, float y, float w, float h, float y1, float y2,
               ARGB top, ARGB bottom) {
    const UniquePath path = NewPath();
    if (!path)
        return;
    AddRoundedRect(path.get(), x, y, w, h, 16.0f);
    const UniqueLineBrush fill = VerticalGradient(0.0f, y1, y2, top, bottom);
    if (fill)
        GdipFillPath(graphics, fill.get(), path.get());
    UniquePen outline;
    if (GdipCreatePen1(0x5AFFBE6E, 1.0f, UnitWorld, outline.put()) == Ok) {
        GdipDrawPath(graphics, outline.get(), path.get());
    }
}

void DrawMainPanel(GpGraphics* graphics, int width, int height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    const float p = LowerPanelTop(height);
    DrawPanel(graphics, 24.0f, p, w - 48.0f, 194.0f, p, h - 20.0f, 0x960C0810, 0xB906040A);
}

void DrawSettingsPanel(GpGraphics* graphics, int width, int height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    DrawPanel(graphics, 24.0f, 134.0f, w - 48.0f, h - 158.0f, 134.0f, h - 24.0f, 0xA00C0810,
              0xBE06040A);
}

std::wstring CurrentStatusText() {
    return gPatchStatus != nullptr ? ReadStatusText(*gPatchStatus) : std::wstring();
}

bool CurrentReady() {
    return gPatchStatus != nullptr && IsReadyPhase(gPatchStatus->phase.load());
}

double CurrentOverallFraction() {
    return gPatchStatus != nullptr ? gPatchStatus->overallProgress.load() : 0.0;
}

double CurrentFileFraction() {
    if (gPatchStatus == nullptr)
        return 0.0;
    // A run that ended well shows a full file bar, whatever the last file reported.
    if (IsReadyPhase(gPatchStatus->phase.load()))
        return 1.0;
    return gPatchStatus->fileProgress.load();
}

bool CurrentFullCheckEnabled() {
    return gPatchStatus != nullptr && !gPatchStatus->busy.load();
}

HitRect MainViewButtonRect(Button button, int width, int height) {
    const float w = static_cast<float>(width);
    const float p = LowerPanelTop(height);
    switch (button) {
        case Button::PlayButton:
            return {w - 240.0f, p + 24.0f, 180.0f, 56.0f};
        case Button::SettingsButton:
            return {w - 240.0f, p + 92.0f, 180.0f, 34.0f};
        case Button::WebsiteButton:
            return {60.0f, p + 142.0f, 120.0f, 34.0f};
        case Button::DiscordButton:
            return {188.0f, p + 142.0f, 120.0f, 34.0f};
        case Button::FacebookButton:
            return {316.0f, p + 142.0f, 120.0f, 34.0f};
        default:
            return HitRect();
    }
}

HitRect SettingsViewButtonRect(Button button, int /*width*/, int height) {
    switch (button) {
        case Button::GameConfigButton:
            return {60.0f, 226.0f, 300.0f, 50.0f};
        case Button::FullCheckButton:
            return {60.0f, 330.0f, 300.0f, 46.0f};
        case Button::BackButton:
            return {60.0f, static_cast<float>(height) - 60.0f, 160.0f, 38.0f};
        default:
            return HitRect();
    }
}
