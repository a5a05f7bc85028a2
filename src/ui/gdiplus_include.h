// The one way this project includes GDI+. Its C++ headers use unqualified min and max, which we
// switch off with NOMINMAX, and need the COM stream declarations that WIN32_LEAN_AND_MEAN leaves
// out; both are supplied here before <gdiplus.h>.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
