#include "ui/frame_scene.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "ui/frame_parts.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;

namespace {

// Keys list every value a part is drawn from, so that any change of the layout reaches them.
void Append(std::wstring& key, const std::wstring& text) {
    key += std::to_wstring(text.size());
    key += L':';
    key += text;
}

void Append(std::wstring& key, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    key += std::to_wstring(bits);
    key += L'|';
}

template <typename T>
std::enable_if_t<std::is_integral<T>::value || std::is_enum<T>::value> Append(std::wstring& key,
                                                                              T value) {
    key += std::to_wstring(static_cast<long long>(value));
    key += L'|';
}

void Append(std::wstring& key, const RectF& r) {
    for (float v : {r.X, r.Y, r.Width, r.Height})
        Append(key, v);
}

void Append(std::wstring& key, const HitRect& r) {
    for (float v : {r.x, r.y, r.width, r.height})
        Append(key, v);
}

template <typename... Values>
std::wstring MakeKey(const wchar_t* kind, const Values&... values) {
    std::wstring key = kind;
    key += L'|';
    (Append(key, values), ...);
    return key;
}

std::wstring Key(const GradientRectPart& p) {
    return MakeKey(L"gradient", p.x, p.y, p.width, p.height, p.top, p.bottom);
}

std::wstring Key(const RulePart& p) {
    return MakeKey(L"rule", p.y, p.width, p.thickness, p.edge, p.middle);
}

std::wstring Key(const TextPart& p) {
    return MakeKey(L"text", p.text, p.box, p.size, p.bold, p.colour);
}

std::wstring Key(const TitlePart& p) {
    std::wstring key = MakeKey(L"title", p.text, p.box, p.size, p.bold, p.shadowOffset, p.shadow,
                               p.gradientTop, p.gradientBottom);
    for (int i = 0; i < 4; ++i) {
        Append(key, p.blend[i]);
        Append(key, p.blendPositions[i]);
    }
    return key;
}

std::wstring Key(const PanelPart& p) {
    return MakeKey(L"panel", p.rect, p.corner, p.fillTop, p.fillBottom, p.top, p.bottom, p.outline);
}

std::wstring Key(const LabelPart& p) {
    return MakeKey(L"label", p.text, p.x, p.y, p.size, p.bold, p.colour, p.alignment);
}

std::wstring Key(const ButtonPart& p) {
    return MakeKey(L"button", p.button, p.rect, p.label, p.enabled, p.primary, p.hovered);
}

template <typename Part>
void AddElements(std::vector<SceneElement>& scene, const Part& part) {
    scene.push_back(
        {Around(PartExtent(part)), Key(part), [part](GpGraphics* g) { DrawPart(g, part); }});
}

void AddElements(std::vector<SceneElement>& scene, const BarPart& bar) {
    const float x = bar.x;
    const float y = bar.y;
    const float width = bar.width;
    const float height = bar.height;
    const double fraction = bar.fraction;
    const std::wstring caption = bar.caption;
    scene.push_back(
        {Around(LabelBox(x, y - kProgressCaptionRise, kProgressCaptionSize, StringAlignmentNear)),
         MakeKey(L"caption", caption, x, y),
         [=](GpGraphics* g) { DrawProgressCaption(g, x, y, caption); }});

    const bool fill = ProgressShowsFill(fraction);
    const float f = fill ? ProgressFillWidth(width, fraction) : 0.0f;
    SceneElement track{
        Around(x, y, width, height),
        fill ? MakeKey(L"track", x, y, width, height, f) : MakeKey(L"track", x, y, width, height),
        [=](GpGraphics* g) { DrawProgressTrack(g, x, y, width, height, fraction); }};
    // The fill is cut by the track; beyond it nothing changes. Past the rounded ends, a fill
    // change shows only between the old and the new end.
    track.hasFillEnd = width > height && f >= 0.0f;
    track.fillEnd = x + std::min(f, width);
    scene.push_back(track);

    // Centred on the track, each character at most one em wide; the text stays inside the
    // track's box and its shadow's.
    const std::wstring percent = PercentText(fraction);
    const float half = 0.5f * kProgressPercentSize * static_cast<float>(percent.size());
    const float centre = x + width / 2.0f;
    const float shadow = kProgressPercentShadowOffset;
    scene.push_back({Around(centre - half, y, 2.0f * half + shadow, height + shadow)
                         .Intersect(Around(x, y, width + shadow, height + shadow)),
                     MakeKey(L"percent", percent, x, y, width, height), [=](GpGraphics* g) {
                         DrawProgressPercent(g, x, y, width, height, fraction);
                     }});
}

// The columns a change of fill end touches, within the element's rows.
Box FillChange(const SceneElement& before, const SceneElement& after) {
    const float from = std::min(before.fillEnd, after.fillEnd);
    const float to = std::max(before.fillEnd, after.fillEnd);
    return Box{static_cast<int>(std::floor(from)) - 3, after.bounds.top,
               static_cast<int>(std::ceil(to)) + 3, after.bounds.bottom}
        .Intersect(after.bounds);
}

bool SameBox(const Box& a, const Box& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

std::vector<SceneElement> BuildScene(const PageLayout& layout) {
    std::vector<SceneElement> scene;
    for (const PagePart& part : layout.parts)
        std::visit([&scene](const auto& p) { AddElements(scene, p); }, part);
    return scene;
}

std::vector<Box> ChangedBoxes(const std::vector<SceneElement>& before,
                              const std::vector<SceneElement>& after) {
    std::vector<Box> dirty;
    for (size_t i = 0; i < after.size() && i < before.size(); ++i) {
        if (after[i].key == before[i].key)
            continue;
        if (after[i].hasFillEnd && before[i].hasFillEnd &&
            SameBox(after[i].bounds, before[i].bounds)) {
            dirty.push_back(FillChange(before[i], after[i]));
        } else {
            dirty.push_back(Union(after[i].bounds, before[i].bounds));
        }
    }
    return dirty;
}
