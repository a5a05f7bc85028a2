// The colour arithmetic of GDI+ where the frame cache composes layers itself.
#pragma once

#include <cstdint>

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
