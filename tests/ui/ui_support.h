// Shared by the painting tests: GDI+ for the whole test program, frames as pixels, colour
// arithmetic, and a status record to paint from.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "patch/patch_status.h"
#include "support/pictures.h"
#include "ui/paint.h"

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

// Test names and messages show the mode by name.
inline void PrintTo(FrameMode mode, std::ostream* out) {
    *out << (mode == FrameMode::Plain ? "Plain" : "Cached");
}

// ComposeFrame with the given mode; an empty frame when none could be made.
Frame Compose(int width, int height, FrameMode mode = FrameMode::Plain);

// Draws with `draw` on a W x H ARGB bitmap first filled with `background`.
template <typename F>
Frame DrawOnBitmap(int width, int height, std::uint32_t background, F draw);

// Non-premultiplied source-over, in exact arithmetic rounded at the end.
std::uint32_t Blend(std::uint32_t over, std::uint32_t under);
// The colour of a two-colour gradient at t (0..1), channel by channel.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, double t);
// Largest difference of any channel, alpha included.
int ChannelDistance(std::uint32_t a, std::uint32_t b);
std::string Hex(std::uint32_t colour);

// Saves the frame as a PNG in the build tree's ui_frames folder, for people to look at.
void SaveFrame(const Frame& frame, const std::string& name);

// A status record published as gPatchStatus for the lifetime of this object.
class ScopedStatus {
  public:
    ScopedStatus(PatchPhase phase, bool busy, double overall, double file,
                 const std::wstring& text);
    ~ScopedStatus();
    ScopedStatus(const ScopedStatus&) = delete;
    ScopedStatus& operator=(const ScopedStatus&) = delete;
    PatchStatus& status() { return status_; }

  private:
    PatchStatus status_;
};

// Every window-thread value, the embers and the frame cache back to their start.
void ResetPaintState();

// The project's pictures when the source tree has them, else generated JPEGs of their size.
Picture& BackgroundPicture();
Picture& BadgePicture();

#include "ui_support_impl.h"
