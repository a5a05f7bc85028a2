// Where each button of the painted pages lies: the painter stores it, the click handler tests it.
#pragma once

// The clickable rectangle of one button, in client pixels. All zero until its page is painted.
struct HitRect {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

enum class Button : int {
    PlayButton,
    SettingsButton,
    WebsiteButton,
    DiscordButton,
    FacebookButton,
    GameConfigButton,
    FullCheckButton,
    BackButton,
};
constexpr int kButtonCount = 8;

// Half-open: the left and top edges belong to the rectangle, the right and bottom edges do not.
inline bool HitRectContains(const HitRect& rect, float x, float y) {
    return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}
