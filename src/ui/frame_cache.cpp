#include "ui/frame_cache.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "ui/badge.h"
#include "ui/blend.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui/frame_parts.h"
#include "ui/frame_scene.h"
#include "ui/page_layout.h"
#include "ui/surface.h"

namespace {

std::wstring PictureKey(Gdiplus::GpImage* picture) {
    return std::to_wstring(reinterpret_cast<std::uintptr_t>(picture)) +
           (IsPictureUsable(picture) ? L"|usable" : L"|unusable");
}

class FrameCache {
  public:
    // Composes the current frame into frame_; false when there is none.
    bool Compose(const FrameInput& input, int width, int height) {
        if (width <= 0 || height <= 0)
            return false;
        if (!EnsureSize(width, height))
            return false;
        const TextCacheScope text(text_);
        if (input.splashActive)
            return ComposeSplash(input);
        ComposePage(input);
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
        layout_ = PageLayout();
        emberBoxes_.clear();
    }

    bool ComposeSplash(const FrameInput& input) {
        const std::wstring key = PictureKey(input.badge) + L"|" + UiFontFamilyName();
        if (key != splashKey_) {
            DrawSplash(frame_.graphics(), width_, height_, input.badge);
            splashKey_ = key;
        }
        // The page layers no longer match what the frame shows.
        pageKey_.clear();
        return true;
    }

    void ComposePage(const FrameInput& input) {
        splashKey_.clear();
        PageLayout layout = DescribePage(input, width_, height_);
        const std::wstring baseKey = PictureKey(input.background);
        if (baseKey != baseKey_) {
            base_.Fill(0);
            DrawBackground(base_.graphics(), layout.background, input.background);
            baseKey_ = baseKey;
            pageKey_.clear();
        }

        // Rows where embers can appear, one more on each side than the band's clip.
        const Gdiplus::RectF& clip = layout.emberBand;
        band_ = Box{0, static_cast<int>(std::floor(std::min(clip.Y, clip.Y + clip.Height))) - 1,
                    width_, static_cast<int>(std::ceil(std::max(clip.Y, clip.Y + clip.Height))) + 1}
                    .Intersect(frame_.Bounds());

        StoreHitRects(layout, input.hitRects);
        std::vector<SceneElement> scene = BuildScene(layout);
        const std::wstring pageKey =
            baseKey_ + (input.settingsOpen ? L"|settings|" : L"|main|") + UiFontFamilyName();
        const bool rebuild = pageKey != pageKey_ || scene.size() != scene_.size();
        const std::vector<Box> dirty =
            rebuild ? std::vector<Box>() : ChangedBoxes(layout_, scene_, layout, scene);
        scene_ = std::move(scene);
        layout_ = std::move(layout);
        if (rebuild) {
            RebuildAll();
            pageKey_ = pageKey;
        }
        for (const Box& box : dirty)
            Redraw(box.Intersect(frame_.Bounds()));
        MoveEmbers(layout_.emberBand, input.frameTick);
    }

    void RebuildAll() {
        const Box all = frame_.Bounds();
        still_.CopyFrom(base_, all);
        for (const SceneElement& e : scene_)
            DrawElement(still_.graphics(), layout_, e);
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
        DrawScene(still_, box);
        DrawTop(box.Intersect(band_));
        frame_.CopyFrom(still_, box);
    }

    // The parts drawn after the embers, on their own transparent layer.
    void DrawTop(const Box& box) {
        if (box.Empty())
            return;
        top_.Fill(box, 0);
        DrawScene(top_, box);
    }

    void DrawScene(const Surface& surface, const Box& box) const {
        const SurfaceView view(surface, box);
        if (view.graphics() == nullptr)
            return;
        for (const SceneElement& e : scene_) {
            if (e.bounds.Overlaps(box))
                DrawElement(view.graphics(), layout_, e);
        }
    }

    // The ember step of a plain paint, drawn on a copy of the background; only the pixels the
    // embers changed are put together with the top layer.
    void MoveEmbers(const Gdiplus::RectF& band, std::int32_t frameTick) {
        for (const Box& box : emberBoxes_) {
            frame_.CopyFrom(still_, box);
            work_.CopyFrom(base_, box);
        }
        DrawEmberBand(work_.graphics(), band, width_, height_, frameTick, true);
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
    PageLayout layout_;  // the scene's parts
    std::vector<SceneElement> scene_;
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

void PaintCachedFrame(HDC dc, int width, int height, const FrameInput& input) {
    FrameCache& cache = TheCache();
    if (cache.Compose(input, width, height))
        cache.Present(dc);
}

bool ComposeCachedFrame(int width, int height, const FrameInput& input,
                        std::vector<std::uint32_t>& pixels) {
    FrameCache& cache = TheCache();
    if (!cache.Compose(input, width, height))
        return false;
    cache.CopyFrame(pixels);
    return true;
}

void ReleaseFrameCache() {
    delete gFrameCache;
    gFrameCache = nullptr;
}
