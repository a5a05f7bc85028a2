// Which relative paths can be published. The launcher joins each path to its
// installation folder and to the download base without any check or escaping,
// so whatever would break the manifest line, leave the folder, fail on Windows
// or change the download URL is refused here instead.
#pragma once

#include <string>
#include <vector>

namespace talvora {

// Why one file or folder name cannot be published; empty when it can.
std::string NameRefusal(const std::string& name);

// Why a relative path ('/' between names) cannot be published; empty when it
// can. Every name along the path is checked.
std::string PathRefusal(const std::string& relPath);

// Pairs of paths that Windows would take for the same file or for a file and
// a folder of the same name (ASCII letters compared without case). One
// message per clash, naming both paths.
std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths);

}  // namespace talvora
