#include "support/gdiplus_environment.h"

#include <utility>

#include "ui/frame_cache.h"

GdiplusEnvironment::GdiplusEnvironment(std::function<void()> beforeShutdown)
    : beforeShutdown_(std::move(beforeShutdown)) {}

void GdiplusEnvironment::SetUp() {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(token_.put(), &input, nullptr), Gdiplus::Ok);
}

void GdiplusEnvironment::TearDown() {
    if (beforeShutdown_)
        beforeShutdown_();
    ReleaseFrameCache();
    token_.reset();
}
