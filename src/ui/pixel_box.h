// Whole-pixel rectangles of a frame, for the parts of it that the frame cache redraws.
#pragma once

#include <algorithm>
#include <cmath>

#include "ui/gdiplus_include.h"

// Half-open: left and top inside, right and bottom outside.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;

    bool Empty() const { return right <= left || bottom <= top; }
    Box Intersect(const Box& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    bool Overlaps(const Box& o) const { return !Intersect(o).Empty(); }
};

// Every pixel a drawing inside the float rectangle can touch: anti-aliasing, half-pixel pens and
// text shadows reach at most a few pixels past it.
inline Box Around(float x, float y, float w, float h, float margin = 3.0f) {
    const float x2 = x + std::max(w, 0.0f);
    const float y2 = y + std::max(h, 0.0f);
    return {static_cast<int>(std::floor(x - margin)), static_cast<int>(std::floor(y - margin)),
            static_cast<int>(std::ceil(x2 + margin)), static_cast<int>(std::ceil(y2 + margin))};
}

inline Box Around(const Gdiplus::RectF& r) {
    return Around(r.X, r.Y, r.Width, r.Height);
}

inline Box Union(const Box& a, const Box& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}
