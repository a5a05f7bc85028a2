// Which manifest paths the launcher may join to its installation folder, and when two paths name
// the same file there. The launcher refuses what fails here; the publisher refuses it before it
// is ever published.
#pragma once

#include <string>

enum class PathFault {
    None,
    Empty,
    Rooted,       // '\' or '/' first
    Stream,       // ':' anywhere: drive letters, alternate streams, device paths
    Control,      // a character below U+0020
    DotsSegment,  // "..", "...", ".. ": nothing made of dots can be told apart from a step up
    Device,       // CON, NUL, COM1, LPT1.pak and the like open a device, not a file
};

// The first fault of a manifest path (UTF-8, '\' or '/' between names).
PathFault CheckRelativePath(const std::string& relPath);

bool IsSafeRelativePath(const std::string& relPath);

// Why a path with this fault cannot be used, in English, for the publisher's messages.
const char* PathFaultText(PathFault fault);

// A key that is equal for two paths exactly when Windows could take them for one file: either
// separator, names folded by Unicode simple case folding, trailing dots and spaces of a name and
// "." steps dropped, ".." steps applied.
std::string CollisionKey(const std::string& relPath);
