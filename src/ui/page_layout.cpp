#include "ui/page_layout.h"

#include "ui/buttons.h"

using namespace Gdiplus;

namespace {

// Both panels' corners and outline.
constexpr float kPanelCorner = 16.0f;
constexpr ARGB kPanelOutline = 0x5AFFBE6E;
constexpr ARGB kDescriptionColour = 0xFFC8C2BA;

// The buttons of one page, hovered as the pointer stands.
struct ButtonMaker {
    const FrameInput& input;
    ButtonPart operator()(Button button, const HitRect& rect, const std::wstring& label,
                          bool enabled, bool primary) const {
        return ButtonPart{button,  rect,
                          label,   enabled,
                          primary, IsButtonHovered(rect, enabled, input.mouseX, input.mouseY)};
    }
};

LabelPart MakeLabel(const std::wstring& text, float x, float y, float size, bool bold,
                    ARGB colour) {
    return LabelPart{text, x, y, size, bold, colour, StringAlignmentNear};
}

void AddMainView(const FrameInput& input, std::vector<PagePart>& parts, int width, int height) {
    const ButtonMaker MakeButton{input};
    const RunView& run = input.run;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    const float p = LowerPanelTop(height);
    parts.push_back(PanelPart{RectF(24.0f, p, w - 48.0f, 194.0f), kPanelCorner, p, h - 20.0f,
                              0x960C0810, 0xB906040A, kPanelOutline});
    parts.push_back(MakeLabel(run.statusText, 60.0f, p + 14.0f, 14.5f, false, 0xFFEEE6DA));
    const float barWidth = w - 324.0f;
    parts.push_back(BarPart{60.0f, p + 62.0f, barWidth, 20.0f, run.overall, L"Letöltés összesen"});
    parts.push_back(BarPart{60.0f, p + 108.0f, barWidth, 20.0f, run.file, L"Aktuális fájl"});
    const bool ready = run.ready;
    parts.push_back(MakeButton(Button::PlayButton, {w - 240.0f, p + 24.0f, 180.0f, 56.0f},
                               ready ? L"JÁTÉK" : L"Frissítés...", ready, true));
    parts.push_back(MakeButton(Button::SettingsButton, {w - 240.0f, p + 92.0f, 180.0f, 34.0f},
                               L"Beállítások", true, false));
    parts.push_back(MakeButton(Button::WebsiteButton, {60.0f, p + 142.0f, 120.0f, 34.0f},
                               L"Weboldal", true, false));
    parts.push_back(MakeButton(Button::DiscordButton, {188.0f, p + 142.0f, 120.0f, 34.0f},
                               L"Discord", true, false));
    parts.push_back(MakeButton(Button::FacebookButton, {316.0f, p + 142.0f, 120.0f, 34.0f},
                               L"Facebook", true, false));
}

void AddSettingsView(const FrameInput& input, std::vector<PagePart>& parts, int width, int height) {
    const ButtonMaker MakeButton{input};
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    parts.push_back(PanelPart{RectF(24.0f, 134.0f, w - 48.0f, h - 158.0f), kPanelCorner, 134.0f,
                              h - 24.0f, 0xA00C0810, 0xBE06040A, kPanelOutline});
    parts.push_back(MakeLabel(L"Beállítások", 60.0f, 150.0f, 27.0f, true, 0xFFFFEBBE));
    parts.push_back(MakeButton(Button::GameConfigButton, {60.0f, 226.0f, 300.0f, 50.0f},
                               L"Játék konfiguráció", true, true));
    parts.push_back(MakeLabel(L"A játék saját beállításai (felbontás, hang, ablak...).", 60.0f,
                              286.0f, 14.0f, false, kDescriptionColour));
    parts.push_back(MakeButton(Button::FullCheckButton, {60.0f, 330.0f, 300.0f, 46.0f},
                               L"Teljes ellenőrzés / javítás", input.run.canFullCheck, false));
    parts.push_back(MakeLabel(L"Minden pack fájlt újra ellenőriz és hiányost pótol.", 60.0f, 384.0f,
                              14.0f, false, kDescriptionColour));
    parts.push_back(
        MakeButton(Button::BackButton, {60.0f, h - 60.0f, 160.0f, 38.0f}, L"Vissza", true, false));
}

}  // namespace

PageLayout DescribePage(const FrameInput& input, int width, int height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    PageLayout layout;
    layout.background = GradientRectPart{0, 0, width, height, 0xFF1C101E, 0xFF0A080E};
    layout.emberBand = RectF(0.0f, kHeaderBottom, w, LowerPanelTop(height) - kHeaderBottom);

    std::vector<PagePart>& parts = layout.parts;
    parts.reserve(16);
    parts.push_back(
        GradientRectPart{0, 0, width, static_cast<int>(kHeaderBottom), 0xD208050C, 0x0008050C});
    parts.push_back(RulePart{kHeaderBottom, w, 2.0f, 0x00FFAA3C, 0xDCFFC878});
    parts.push_back(TitlePart{L"Talvora",
                              RectF(0.0f, 8.0f, w, 78.0f),
                              54.0f,
                              true,
                              2.0f,
                              0xAA000000,
                              0xFFFFECAA,
                              0xFFD6781E,
                              {0xFFFFF6C8, 0xFFFFD26E, 0xFFE28C28, 0xFFB45612},
                              {0.0f, 0.4f, 0.7f, 1.0f}});
    parts.push_back(TextPart{L"A soha véget nem érő kaland", RectF(0.0f, 86.0f, w, 26.0f), 15.0f,
                             false, 0xE6DCBE96});
    if (input.settingsOpen) {
        AddSettingsView(input, parts, width, height);
    } else {
        AddMainView(input, parts, width, height);
    }
    parts.push_back(
        LabelPart{L"Pellorin", w - 12.0f, h - 22.0f, 12.0f, false, 0x78FFC878, StringAlignmentFar});
    return layout;
}

void StoreHitRects(const PageLayout& layout, HitRect* hitRects) {
    if (hitRects == nullptr)
        return;
    for (const PagePart& part : layout.parts) {
        if (const auto* button = std::get_if<ButtonPart>(&part))
            hitRects[static_cast<int>(button->button)] = button->rect;
    }
}
