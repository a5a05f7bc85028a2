#include "ui/frame_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "ui/frame_parts.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;

namespace {

// Every value a part is drawn from, so that any change of the layout counts. A field added to a
// part belongs here too.
auto Fields(const GradientRectPart& p) {
    return std::tie(p.x, p.y, p.width, p.height, p.top, p.bottom);
}

auto Fields(const RulePart& p) {
    return std::tie(p.y, p.width, p.thickness, p.edge, p.middle);
}

auto Fields(const TextPart& p) {
    return std::tie(p.text, p.box.X, p.box.Y, p.box.Width, p.box.Height, p.size, p.bold, p.colour);
}

auto Fields(const TitlePart& p) {
    return std::tuple_cat(
        std::tie(p.text, p.box.X, p.box.Y, p.box.Width, p.box.Height, p.size, p.bold,
                 p.shadowOffset, p.shadow, p.gradientTop, p.gradientBottom),
        std::tie(p.blend[0], p.blend[1], p.blend[2], p.blend[3], p.blendPositions[0],
                 p.blendPositions[1], p.blendPositions[2], p.blendPositions[3]));
}

auto Fields(const PanelPart& p) {
    return std::tie(p.rect.X, p.rect.Y, p.rect.Width, p.rect.Height, p.corner, p.fillTop,
                    p.fillBottom, p.top, p.bottom, p.outline);
}

auto Fields(const LabelPart& p) {
    return std::tie(p.text, p.x, p.y, p.size, p.bold, p.colour, p.alignment);
}

auto Fields(const ButtonPart& p) {
    return std::tie(p.button, p.rect.x, p.rect.y, p.rect.width, p.rect.height, p.label, p.enabled,
                    p.primary, p.hovered);
}

// A bar draws its pieces separately; the scene compares each piece on its own.
auto Fields(const BarPart& p) {
    return std::tie(p.x, p.y, p.width, p.height);
}

bool SamePart(const PagePart& a, const PagePart& b) {
    if (a.index() != b.index())
        return false;
    return std::visit(
        [&b](const auto& part) {
            using Part = std::decay_t<decltype(part)>;
            return Fields(part) == Fields(std::get<Part>(b));
        },
        a);
}

template <typename Part>
void AddElements(std::vector<SceneElement>& scene, std::size_t index, const Part& part) {
    SceneElement element;
    element.bounds = Around(PartExtent(part));
    element.part = index;
    scene.push_back(std::move(element));
}

void AddElements(std::vector<SceneElement>& scene, std::size_t index, const BarPart& bar) {
    SceneElement caption;
    caption.bounds = Around(
        LabelBox(bar.x, bar.y - kProgressCaptionRise, kProgressCaptionSize, StringAlignmentNear));
    caption.part = index;
    caption.piece = PartPiece::BarCaption;
    scene.push_back(std::move(caption));

    SceneElement track;
    track.bounds = Around(bar.x, bar.y, bar.width, bar.height);
    track.part = index;
    track.piece = PartPiece::BarTrack;
    track.fill = ProgressShowsFill(bar.fraction);
    const float f = track.fill ? ProgressFillWidth(bar.width, bar.fraction) : 0.0f;
    track.fillWidth = f;
    // The fill is cut by the track; beyond it nothing changes. Past the rounded ends, a fill
    // change shows only between the old and the new end.
    track.hasFillEnd = bar.width > bar.height && f >= 0.0f;
    track.fillEnd = bar.x + std::min(f, bar.width);
    scene.push_back(std::move(track));

    // Centred on the track, each character at most one em wide; the text stays inside the
    // track's box and its shadow's.
    SceneElement percent;
    percent.text = PercentText(bar.fraction);
    const float half = 0.5f * kProgressPercentSize * static_cast<float>(percent.text.size());
    const float centre = bar.x + bar.width / 2.0f;
    const float shadow = kProgressPercentShadowOffset;
    percent.bounds = Around(centre - half, bar.y, 2.0f * half + shadow, bar.height + shadow)
                         .Intersect(Around(bar.x, bar.y, bar.width + shadow, bar.height + shadow));
    percent.part = index;
    percent.piece = PartPiece::BarPercent;
    scene.push_back(std::move(percent));
}

// Whether the two elements put the same pixels in the same places.
bool SameLook(const PageLayout& beforeLayout, const SceneElement& before,
              const PageLayout& afterLayout, const SceneElement& after) {
    if (before.piece != after.piece ||
        !SamePart(beforeLayout.parts[before.part], afterLayout.parts[after.part])) {
        return false;
    }
    switch (after.piece) {
        case PartPiece::BarCaption:
            return std::get<BarPart>(beforeLayout.parts[before.part]).caption ==
                   std::get<BarPart>(afterLayout.parts[after.part]).caption;
        case PartPiece::BarTrack:
            return before.fill == after.fill && before.fillWidth == after.fillWidth;
        case PartPiece::BarPercent:
            return before.text == after.text;
        default:
            return true;
    }
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
    scene.reserve(layout.parts.size() + 4);
    for (std::size_t i = 0; i < layout.parts.size(); ++i)
        std::visit([&scene, i](const auto& p) { AddElements(scene, i, p); }, layout.parts[i]);
    return scene;
}

void DrawElement(GpGraphics* graphics, const PageLayout& layout, const SceneElement& element) {
    const PagePart& part = layout.parts[element.part];
    const BarPart* bar = std::get_if<BarPart>(&part);
    if (element.piece == PartPiece::Whole || bar == nullptr) {
        DrawPart(graphics, part);
        return;
    }
    switch (element.piece) {
        case PartPiece::BarCaption:
            DrawProgressCaption(graphics, bar->x, bar->y, bar->caption);
            break;
        case PartPiece::BarTrack:
            DrawProgressTrack(graphics, bar->x, bar->y, bar->width, bar->height, bar->fraction);
            break;
        default:
            DrawProgressPercent(graphics, bar->x, bar->y, bar->width, bar->height, bar->fraction);
            break;
    }
}

std::vector<Box> ChangedBoxes(const PageLayout& beforeLayout,
                              const std::vector<SceneElement>& before,
                              const PageLayout& afterLayout,
                              const std::vector<SceneElement>& after) {
    std::vector<Box> dirty;
    for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
        if (SameLook(beforeLayout, before[i], afterLayout, after[i]))
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
