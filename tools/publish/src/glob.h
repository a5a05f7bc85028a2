// Glob patterns for --if-missing, matched against the whole relative path
// with '/' between names:
//   *     any run of characters within one name (never crosses '/')
//   ?     exactly one character other than '/'
//   **    any run of characters, '/' included
//   **/   zero or more whole folders ("**/x.cfg" also matches "x.cfg")
// A '\' in a pattern is read as '/'. Everything else matches itself, byte for
// byte and case-sensitive; there are no character classes or escapes.
#pragma once

#include <string>

namespace talvora {

bool GlobMatch(const std::string& pattern, const std::string& path);

}  // namespace talvora
