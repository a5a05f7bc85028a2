// Digests and manifest lines for content a test publishes.
#pragma once

#include <string>

// Lower-case hex SHA-256 of the bytes, computed in memory here rather than by the code under test.
std::string Sha256Hex(const std::string& bytes);

// "relPath<TAB>size<TAB>sha256" + suffix (such as "\tIFMISSING") + "\n" for the content.
std::string ManifestLine(const std::string& relPath, const std::string& content,
                         const std::string& suffix = "");
