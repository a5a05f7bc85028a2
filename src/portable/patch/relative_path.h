// Which manifest paths the launcher may join to its installation folder, and when two paths name
// the same file there. The launcher refuses what fails here; the publisher refuses it before it
// is ever published.
#pragma once

#include <string>

enum class PathFault {
    None,
    Empty,        // names no file: "", "/", "a/.."
    Escapes,      // a ".." step leaves the folder
    Stream,       // ':' anywhere: drive letters, alternate streams, device paths
    Control,      // a character below U+0020
    DotsSegment,  // "...", ".. ": dots and spaces only, which Windows may read as a step up
    Device,       // CON, NUL, COM1, LPT1.pak and the like open a device, not a file
};

// The first fault of a manifest path (UTF-8, '\' or '/' between names). Leading, doubled and
// trailing separators, "." steps and ".." steps that stay inside are all allowed: the path is read
// lexically, as LexicalRelativePath gives it.
PathFault CheckRelativePath(const std::string& relPath);

bool IsSafeRelativePath(const std::string& relPath);

// Why a path with this fault cannot be used, in English, for the publisher's messages.
const char* PathFaultText(PathFault fault);

// The path with its "." and ".." steps applied and '\' between names: where the file lies below
// the installation folder. Empty for a path with a fault.
std::string LexicalRelativePath(const std::string& relPath);

// A key that is equal for two paths exactly when Windows could take them for one file: the names
// of LexicalRelativePath, folded by Unicode simple case folding and without trailing dots and
// spaces. A path with a fault gets a key of its own.
std::string CollisionKey(const std::string& relPath);
