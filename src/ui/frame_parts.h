// The pieces of a launcher frame, each drawn exactly as the layout fixes it. The plain painter
// calls them in frame order; the frame cache calls the same functions for the parts it redraws.
#pragma once

#include <string>

#include "app/window_state.h"
#include "ui/gdiplus_include.h"

// Top edge of MainView's lower panel, and bottom edge of the ember band.
inline float LowerPanelTop(int height) {
    return static_cast<float>(height) - 214.0f;
}
constexpr float kHeaderBottom = 118.0f;

void DrawBackground(Gdiplus::GpGraphics* graphics, int width, int height);
// Sets the band clip, advances the embers, draws them and lifts the clip. With `skipHidden`,
// embers outside the band are not sent to GDI+ (same pixels, less work).
void DrawEmberBand(Gdiplus::GpGraphics* graphics, int width, int height, bool skipHidden = false);
void DrawHeaderBand(Gdiplus::GpGraphics* graphics, int width);
void DrawHeaderRule(Gdiplus::GpGraphics* graphics, int width);
void DrawTitle(Gdiplus::GpGraphics* graphics, int width);
void DrawSlogan(Gdiplus::GpGraphics* graphics, int width);
void DrawFooter(Gdiplus::GpGraphics* graphics, int width, int height);

// A rounded panel (corner size 16) with a vertical gradient from y1 to y2 and a 1 px outline.
void DrawPanel(Gdiplus::GpGraphics* graphics, float x, float y, float w, float h, float y1,
               float y2, Gdiplus::ARGB top, Gdiplus::ARGB bottom);
void DrawMainPanel(Gdiplus::GpGraphics* graphics, int width, int height);
void DrawSettingsPanel(Gdiplus::GpGraphics* graphics, int width, int height);

// The values of MainView that come from the status record, read the way the layout says.
std::wstring CurrentStatusText();
bool CurrentReady();
double CurrentOverallFraction();
double CurrentFileFraction();
bool CurrentFullCheckEnabled();

// Texts of the window.
extern const wchar_t kPlayReadyLabel[];
extern const wchar_t kPlayBusyLabel[];
extern const wchar_t kSettingsLabel[];
extern const wchar_t kWebsiteLabel[];
extern const wchar_t kDiscordLabel[];
extern const wchar_t kFacebookLabel[];
extern const wchar_t kOverallBarLabel[];
extern const wchar_t kFileBarLabel[];
extern const wchar_t kSettingsHeading[];
extern const wchar_t kGameConfigLabel[];
extern const wchar_t kGameConfigDescription[];
extern const wchar_t kFullCheckLabel[];
extern const wchar_t kFullCheckDescription[];
extern const wchar_t kBackLabel[];

// Where each button goes for a client size; the same values become the HitRects.
HitRect MainViewButtonRect(Button button, int width, int height);
HitRect SettingsViewButtonRect(Button button, int width, int height);
