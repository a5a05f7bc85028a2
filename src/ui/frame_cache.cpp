#include "ui/frame_cache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "app/window_state.h"
#include "ui/badge.h"
#include "ui/buttons.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui/frame_parts.h"
#include "app/unique_handle.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Pixel rectangle, half-open.
struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool Empty() const { return right <= left || bottom <= top; }
    Box Intersect(const Box& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    bool Overlaps(const Box& o) const { return !Intersect(o).Empty(); }
};

// Every pixel a drawing inside the float rectangle can touch: anti-aliasing, half-pixel pens and
// text shadows reach at most a few pixels past it.
Box Around(float x, float y, float w, float h, float margin = 3.0f) {
    const float x2 = x + std::max(w, 0.0f);
    const float y2 = y + std::max(h, 0.0f);
    return {static_cast<int>(std::floor(x - margin)), static_cast<int>(std::floor(y - margin)),
            static_cast<int>(std::ceil(x2 + margin)), static_cast<int>(std::ceil(y2 + margin))};
}

Box Union(const Box& a, const Box& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// W x H pixels of 0xAARRGGBB with a GDI+ bitmap and graphics drawing straight into them. The
// memory is either our own or a DIB section that can be presented with BitBlt.
class Surface {
  public:
    bool Create(int width, int height, bool presentable) {
        Release();
        width_ = width;
        height_ = height;
        if (presentable) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = -height;  // top-down rows, like the GDI+ layers
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            void* bits = nullptr;
            dib_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
            if (!dib_)
                return Fail();
            dc_.reset(::CreateCompatibleDC(nullptr));
            if (!dc_)
                return Fail();
            ::SelectObject(dc_.get(), dib_.get());
            pixels_ = static_cast<std::uint32_t*>(bits);
        } else {
            own_.reset(new (std::nothrow) std::uint32_t[Count()]);
            if (!own_)
                return Fail();
            pixels_ = own_.get();
        }
        if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                      reinterpret_cast<BYTE*>(pixels_), bitmap_.put()) != Ok) {
            bitmap_.reset();
            return Fail();
        }
        if (GdipGetImageGraphicsContext(bitmap_.get(), graphics_.put()) != Ok) {
            graphics_.reset();
            return Fail();
        }
        GdipSetSmoothingMode(graphics_.get(), SmoothingModeAntiAlias);
        GdipSetTextRenderingHint(graphics_.get(), TextRenderingHintAntiAlias);
        Fill(0);
        return true;
    }

    void Release() {
        graphics_.reset();
        bitmap_.reset();
        dc_.reset();
        dib_.reset();
        own_.reset();
        pixels_ = nullptr;
        width_ = height_ = 0;
    }

    bool Valid() const { return pixels_ != nullptr && graphics_.valid(); }
    GpGraphics* graphics() const { return graphics_.get(); }
    HDC dc() const { return dc_.get(); }
    std::uint32_t* Row(int y) const { return pixels_ + static_cast<size_t>(y) * width_; }
    const std::uint32_t* Pixels() const { return pixels_; }
    size_t Count() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    Box Bounds() const { return {0, 0, width_, height_}; }
    int Width() const { return width_; }

    void Fill(std::uint32_t value) { std::fill(pixels_, pixels_ + Count(), value); }
    void Fill(const Box& box, std::uint32_t value) {
        for (int y = box.top; y < box.bottom; ++y)
            std::fill(Row(y) + box.left, Row(y) + box.right, value);
    }
    void CopyFrom(const Surface& from, const Box& box) {
        const size_t bytes = static_cast<size_t>(box.right - box.left) * 4;
        for (int y = box.top; y < box.bottom; ++y) {
            std::memcpy(Row(y) + box.left, from.Row(y) + box.left, bytes);
        }
    }

  private:
    bool Fail() {
        Release();
        return false;
    }

    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<std::uint32_t[]> own_;
    UniqueGdiBitmap dib_;
    UniqueMemoryDc dc_;
    UniqueBitmap bitmap_;
    UniqueGraphics graphics_;
    std::uint32_t* pixels_ = nullptr;
};

// A GDI+ bitmap and graphics over one rectangle of a surface, shifted so that elements draw in
// window coordinates. Nothing can land outside the rectangle, and GDI+ only works on its pixels.
class SurfaceView {
  public:
    SurfaceView(const Surface& surface, const Box& box) {
        BYTE* first = reinterpret_cast<BYTE*>(surface.Row(box.top) + box.left);
        if (GdipCreateBitmapFromScan0(box.right - box.left, box.bottom - box.top,
                                      surface.Width() * 4, PixelFormat32bppARGB, first,
                                      bitmap_.put()) != Ok) {
            bitmap_.reset();
            return;
        }
        if (GdipGetImageGraphicsContext(bitmap_.get(), graphics_.put()) != Ok) {
            graphics_.reset();
            return;
        }
        GdipSetSmoothingMode(graphics_.get(), SmoothingModeAntiAlias);
        GdipSetTextRenderingHint(graphics_.get(), TextRenderingHintAntiAlias);
        GdipTranslateWorldTransform(graphics_.get(), static_cast<REAL>(-box.left),
                                    static_cast<REAL>(-box.top), MatrixOrderPrepend);
    }
    GpGraphics* graphics() const { return graphics_.get(); }

  private:
    UniqueBitmap bitmap_;
    UniqueGraphics graphics_;
};

// Source-over of one non-premultiplied colour onto another, in the integer arithmetic GDI+
// uses when it blends a colour onto a 32-bit ARGB bitmap.
inline std::uint32_t Over(std::uint32_t fg, std::uint32_t bg) {
    const std::uint32_t fa = fg >> 24;
    if (fa == 0xFF)
        return fg;
    if (fa == 0)
        return bg;
    const std::uint32_t ba = (bg >> 24) * (0xFF - fa) / 0xFF;
    if (ba == 0)
        return fg;
    const std::uint32_t a = ba + fa;
    const auto channel = [&](int shift) {
        return (((bg >> shift) & 0xFF) * ba + ((fg >> shift) & 0xFF) * fa) / a;
    };
    return (a << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
}

// One part of the frame drawn after the embers: where it can draw, what its look depends on,
// and how to draw it.
struct Element {
    Box bounds;
    std::wstring key;
    std::function<void(GpGraphics*)> draw;
    // Progress tracks: where the fill ends. When only the fill changed, only the columns between
    // the old and the new end look different.
    bool hasFillEnd = false;
    float fillEnd = 0.0f;
};

// The columns a change of fill end touches, within the element's rows.
Box FillChange(const Element& before, const Element& after) {
    const float from = std::min(before.fillEnd, after.fillEnd);
    const float to = std::max(before.fillEnd, after.fillEnd);
    return Box{static_cast<int>(std::floor(from)) - 3, after.bounds.top,
               static_cast<int>(std::ceil(to)) + 3, after.bounds.bottom}
        .Intersect(after.bounds);
}

std::wstring FloatKey(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return std::to_wstring(bits);
}

// Everything the current page draws after the embers, in drawing order. Stores the HitRects of
// the page's buttons, as a plain paint does.
std::vector<Element> BuildScene(int width, int height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    const float p = LowerPanelTop(height);
    std::vector<Element> scene;
    scene.push_back({Around(0, 0, w, kHeaderBottom), L"band",
                     [=](GpGraphics* g) { DrawHeaderBand(g, width); }});
    scene.push_back({Around(0, kHeaderBottom - 1.0f, w, 2.0f), L"rule",
                     [=](GpGraphics* g) { DrawHeaderRule(g, width); }});
    scene.push_back(
        {Around(0, 8, w + 2.0f, 80.0f), L"title", [=](GpGraphics* g) { DrawTitle(g, width); }});
    scene.push_back(
        {Around(0, 86, w, 26.0f), L"slogan", [=](GpGraphics* g) { DrawSlogan(g, width); }});

    const auto label = [&](const std::wstring& text, float x, float y, float size, ARGB colour,
                           bool bold) {
        scene.push_back({Around(x, y, 900.0f, 2.0f * size), L"label|" + text, [=](GpGraphics* g) {
                             DrawLabel(g, text, x, y, size, colour, bold, StringAlignmentNear);
                         }});
    };
    const auto button = [&](Button which, const HitRect& rect, const std::wstring& text,
                            bool enabled, bool primary) {
        ButtonHitRect(which) = rect;
        const bool hovered = IsButtonHovered(rect, enabled);
        scene.push_back(
            {Around(rect.x - 6.0f, rect.y - 6.0f, rect.width + 12.0f, rect.height + 12.0f),
             text + (enabled ? L"|on" : L"|off") + (hovered ? L"|hover" : L""),
             [=](GpGraphics* g) { DrawButton(g, rect, text, enabled, primary); }});
    };

    if (gSettingsOpen) {
        scene.push_back({Around(24, 134, w - 48.0f, h - 158.0f), L"panel",
                         [=](GpGraphics* g) { DrawSettingsPanel(g, width, height); }});
        label(kSettingsHeading, 60, 150, 27.0f, 0xFFFFEBBE, true);
        button(Button::GameConfigButton,
               SettingsViewButtonRect(Button::GameConfigButton, width, height), kGameConfigLabel,
               true, true);
        label(kGameConfigDescription, 60, 286, 14.0f, 0xFFC8C2BA, false);
        button(Button::FullCheckButton,
               SettingsViewButtonRect(Button::FullCheckButton, width, height), kFullCheckLabel,
               CurrentFullCheckEnabled(), false);
        label(kFullCheckDescription, 60, 384, 14.0f, 0xFFC8C2BA, false);
        button(Button::BackButton, SettingsViewButtonRect(Button::BackButton, width, height),
               kBackLabel, true, false);
    } else {
        scene.push_back({Around(24, p, w - 48.0f, 194.0f), L"panel",
                         [=](GpGraphics* g) { DrawMainPanel(g, width, height); }});
        label(CurrentStatusText(), 60, p + 14.0f, 14.5f, 0xFFEEE6DA, false);
        const float barWidth = w - 324.0f;
        const auto bar = [&](float y, double fraction, const wchar_t* caption) {
            scene.push_back({Around(60, y - 19.0f, 900.0f, 25.0f), caption,
                             [=](GpGraphics* g) { DrawProgressCaption(g, 60.0f, y, caption); }});
            const bool fill = ProgressShowsFill(fraction);
            const float f = fill ? ProgressFillWidth(barWidth, fraction) : 0.0f;
            Element track{
                Around(60, y, barWidth, 20.0f), fill ? FloatKey(f) : L"-",
                [=](GpGraphics* g) { DrawProgressTrack(g, 60.0f, y, barWidth, 20.0f, fraction); }};
            // The fill is cut by the track; beyond it nothing changes.
            track.hasFillEnd = barWidth > 20.0f && f >= 0.0f;
            track.fillEnd = 60.0f + std::min(f, barWidth);
            scene.push_back(track);
            // The percentage is centred on the track: each character is at most one em wide.
            const std::wstring percent = PercentText(fraction);
            const float half = 0.5f * 12.5f * static_cast<float>(percent.size());
            const float centre = 60.0f + barWidth / 2.0f;
            scene.push_back({Around(centre - half, y, 2.0f * half + 1.0f, 21.0f)
                                 .Intersect(Around(60, y, barWidth + 1.0f, 21.0f)),
                             percent, [=](GpGraphics* g) {
                                 DrawProgressPercent(g, 60.0f, y, barWidth, 20.0f, fraction);
                             }});
        };
        bar(p + 62.0f, CurrentOverallFraction(), kOverallBarLabel);
        bar(p + 108.0f, CurrentFileFraction(), kFileBarLabel);
        const bool ready = CurrentReady();
        button(Button::PlayButton, MainViewButtonRect(Button::PlayButton, width, height),
               ready ? kPlayReadyLabel : kPlayBusyLabel, ready, true);
        button(Button::SettingsButton, MainViewButtonRect(Button::SettingsButton, width, height),
               kSettingsLabel, true, false);
        button(Button::WebsiteButton, MainViewButtonRect(Button::WebsiteButton, width, height),
               kWebsiteLabel, true, false);
        button(Button::DiscordButton, MainViewButtonRect(Button::DiscordButton, width, height),
               kDiscordLabel, true, false);
        button(Button::FacebookButton, MainViewButtonRect(Button::FacebookButton, width, height),
               kFacebookLabel, true, false);
    }
    scene.push_back({Around(0, h - 22.0f, w - 12.0f, 24.0f), L"footer",
                     [=](GpGraphics* g) { DrawFooter(g, width, height); }});
    return scene;
}

class FrameCache {
  public:
    // Composes the current frame into frame_; false when there is none.
    bool Compose(int width, int height) {
        if (width <= 0 || height <= 0)
            return false;
        if (!EnsureSize(width, height))
            return false;
        const TextCacheScope text(text_);
        if (gSplashActive)
            return ComposeSplash();
        ComposePage();
        return true;
    }

    void Present(HDC dc) const { ::BitBlt(dc, 0, 0, width_, height_, frame_.dc(), 0, 0, SRCCOPY); }

    void CopyFrame(std::vector<std::uint32_t>& pixels) const {
        pixels.assign(frame_.Pixels(), frame_.Pixels() + frame_.Count());
    }

  private:
    bool EnsureSize(int width, int height) {
        if (width == width_ && height == height_ && frame_.Valid())
            return true;
        Forget();
        if (!frame_.Create(width, height, true) || !base_.Create(width, height, false) ||
            !still_.Create(width, height, false) || !top_.Create(width, height, false) ||
            !work_.Create(width, height, false)) {
            Forget();
            return false;
        }
        width_ = width;
        height_ = height;
        return true;
    }

    void Forget() {
        for (Surface* s : {&frame_, &base_, &still_, &top_, &work_})
            s->Release();
        width_ = height_ = 0;
        baseKey_.clear();
        pageKey_.clear();
        splashKey_.clear();
        scene_.clear();
        emberBoxes_.clear();
    }

    bool ComposeSplash() {
        const std::wstring key = std::to_wstring(reinterpret_cast<std::uintptr_t>(gBadgePicture)) +
                                 (IsPictureUsable(gBadgePicture) ? L"|usable" : L"|unusable") +
                                 L"|" + UiFontFamilyName();
        if (key != splashKey_) {
            DrawSplash(frame_.graphics(), width_, height_);
            splashKey_ = key;
        }
        // The page layers no longer match what the frame shows.
        pageKey_.clear();
        return true;
    }

    void ComposePage() {
        splashKey_.clear();
        const std::wstring baseKey =
            std::to_wstring(reinterpret_cast<std::uintptr_t>(gBackgroundPicture)) +
            (IsPictureUsable(gBackgroundPicture) ? L"|usable" : L"|unusable");
        if (baseKey != baseKey_) {
            base_.Fill(0);
            DrawBackground(base_.graphics(), width_, height_);
            baseKey_ = baseKey;
            pageKey_.clear();
        }

        const int panelTop = height_ - 214;
        // Rows where embers can appear, one more on each side than the band's clip.
        band_ = Box{0, std::min(118, panelTop) - 1, width_, std::max(118, panelTop) + 1}.Intersect(
            frame_.Bounds());

        std::vector<Element> scene = BuildScene(width_, height_);
        const std::wstring pageKey =
            baseKey_ + (gSettingsOpen ? L"|settings|" : L"|main|") + UiFontFamilyName();
        if (pageKey != pageKey_ || scene.size() != scene_.size()) {
            scene_ = std::move(scene);
            RebuildAll();
            pageKey_ = pageKey;
        } else {
            std::vector<Box> dirty;
            for (size_t i = 0; i < scene.size(); ++i) {
                if (scene[i].key == scene_[i].key)
                    continue;
                if (scene[i].hasFillEnd && scene_[i].hasFillEnd) {
                    dirty.push_back(FillChange(scene_[i], scene[i]));
                } else {
                    dirty.push_back(Union(scene[i].bounds, scene_[i].bounds));
                }
            }
            scene_ = std::move(scene);
            for (const Box& box : dirty)
                Redraw(box.Intersect(frame_.Bounds()));
        }
        MoveEmbers();
    }

    void RebuildAll() {
        const Box all = frame_.Bounds();
        still_.CopyFrom(base_, all);
        for (const Element& e : scene_)
            e.draw(still_.graphics());
        DrawTop(band_);
        work_.CopyFrom(base_, all);
        frame_.CopyFrom(still_, all);
        emberBoxes_.clear();
    }

    // Draws again, inside the box only, the still frame and (where embers can be) the top layer.
    void Redraw(const Box& box) {
        if (box.Empty())
            return;
        still_.CopyFrom(base_, box);
        {
            const SurfaceView view(still_, box);
            if (view.graphics() != nullptr) {
                for (const Element& e : scene_) {
                    if (e.bounds.Overlaps(box))
                        e.draw(view.graphics());
                }
            }
        }
        DrawTop(box.Intersect(band_));
        frame_.CopyFrom(still_, box);
    }

    void DrawTop(const Box& box) {
        if (box.Empty())
            return;
        top_.Fill(box, 0);
        const SurfaceView view(top_, box);
        if (view.graphics() == nullptr)
            return;
        for (const Element& e : scene_) {
            if (e.bounds.Overlaps(box))
                e.draw(view.graphics());
        }
    }

    // The ember step of a plain paint, drawn on a copy of the background; only the pixels the
    // embers changed are put together with the top layer.
    void MoveEmbers() {
        for (const Box& box : emberBoxes_) {
            frame_.CopyFrom(still_, box);
            work_.CopyFrom(base_, box);
        }
        DrawEmberBand(work_.graphics(), width_, height_, true);
        emberBoxes_.clear();
        for (const Ember& e : gEmbers) {
            const Box box = Around(e.x, e.y, e.size, e.size, 2.0f).Intersect(band_);
            if (box.Empty())
                continue;
            emberBoxes_.push_back(box);
            for (int y = box.top; y < box.bottom; ++y) {
                const std::uint32_t* w = work_.Row(y);
                const std::uint32_t* b = base_.Row(y);
                const std::uint32_t* t = top_.Row(y);
                const std::uint32_t* s = still_.Row(y);
                std::uint32_t* f = frame_.Row(y);
                for (int x = box.left; x < box.right; ++x) {
                    f[x] = w[x] == b[x] ? s[x] : Over(t[x], w[x]);
                }
            }
        }
    }

    int width_ = 0;
    int height_ = 0;
    Surface frame_;
    Surface base_;
    Surface still_;
    Surface top_;
    Surface work_;
    Box band_;
    std::wstring baseKey_;
    std::wstring pageKey_;
    std::wstring splashKey_;
    std::vector<Element> scene_;
    std::vector<Box> emberBoxes_;
    TextCache text_;
};

// Not a static object: its GDI+ objects must go before GdiplusShutdown, which runs before static
// destructors would.
FrameCache* gFrameCache = nullptr;

FrameCache& TheCache() {
    if (gFrameCache == nullptr)
        gFrameCache = new FrameCache();
    return *gFrameCache;
}

}  // namespace

void PaintCachedFrame(HDC dc, int width, int height) {
    FrameCache& cache = TheCache();
    if (cache.Compose(width, height))
        cache.Present(dc);
}

bool ComposeCachedFrame(int width, int height, std::vector<std::uint32_t>& pixels) {
    FrameCache& cache = TheCache();
    if (!cache.Compose(width, height))
        return false;
    cache.CopyFrame(pixels);
    return true;
}

void ReleaseFrameCache() {
    delete gFrameCache;
    gFrameCache = nullptr;
}
