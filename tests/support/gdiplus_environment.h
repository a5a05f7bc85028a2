// GDI+ for the whole test program: started before the first test, shut down after the last.
// What the tests keep of GDI+ (the painter's frame cache, decoded pictures) goes before that.
#pragma once

#include <functional>

#include <gtest/gtest.h>

#include "ui/gdi_handles.h"

class GdiplusEnvironment : public ::testing::Environment {
  public:
    // `beforeShutdown` releases what the program's tests hold of GDI+; the frame cache is always
    // released.
    explicit GdiplusEnvironment(std::function<void()> beforeShutdown = nullptr);
    void SetUp() override;
    void TearDown() override;

  private:
    std::function<void()> beforeShutdown_;
    UniqueGdiplusToken token_;
};
