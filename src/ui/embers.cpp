#include "ui/embers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/brushes.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

std::vector<Ember> gEmbers;

void UpdateEmbers(int width, int height, std::int32_t frameTick) {
    // A zero-width client area has no spawn position (and no remainder by zero).
    if (width > 0 && static_cast<int>(gEmbers.size()) < kMaxEmbers && frameTick % 3 == 0) {
        Ember ember;
        ember.x = static_cast<float>(std::rand() % width);
        ember.y = static_cast<float>(height + 10);
        ember.riseSpeed = static_cast<float>(std::rand() % 100) / 60.0f + 0.6f;
        ember.size = static_cast<float>(std::rand() % 100) / 40.0f + 1.5f;
        ember.life = static_cast<float>(std::rand() % 120 + 120);
        ember.initialLife = ember.life;
        gEmbers.push_back(ember);
    }
    for (Ember& ember : gEmbers) {
        ember.y -= ember.riseSpeed;
        const float phase = 0.02f * (ember.x + ember.y);
        ember.x += 0.4f * static_cast<float>(std::sin(static_cast<double>(phase)));
        ember.life -= 1.0f;
    }
    gEmbers.erase(std::remove_if(gEmbers.begin(), gEmbers.end(),
                                 [](const Ember& e) { return e.life <= 0.0f || e.y < -10.0f; }),
                  gEmbers.end());
}

ARGB NextEmberColour(const Ember& ember) {
    const int alpha = static_cast<int>(ember.life / ember.initialLife * 150.0f);
    const int green = 160 + std::rand() % 70;
    return (static_cast<ARGB>(alpha & 0xFF) << 24) | 0x00FF0000u | (static_cast<ARGB>(green) << 8) |
           0x32u;
}

void DrawEmbers(GpGraphics* graphics, const RectF* visible) {
    for (const Ember& ember : gEmbers) {
        const ARGB colour = NextEmberColour(ember);
        // Anti-aliasing reaches less than a pixel past the ellipse's square.
        if (visible != nullptr &&
            (ember.x + ember.size + 2.0f < visible->X ||
             ember.x - 2.0f > visible->X + visible->Width ||
             ember.y + ember.size + 2.0f < visible->Y ||
             ember.y - 2.0f > visible->Y + visible->Height || (colour >> 24) == 0)) {
            continue;
        }
        const UniqueSolidFill brush = SolidFill(colour);
        if (brush) {
            GdipFillEllipse(graphics, brush.get(), ember.x, ember.y, ember.size, ember.size);
        }
    }
}
