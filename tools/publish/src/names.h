// Which relative paths can be published. Whatever the launcher would refuse is refused by the
// launcher's own rule (patch/relative_path.h); on top of it the publisher refuses names that
// Windows would change or that would change the download URL, since the launcher uses them as
// they stand.
#pragma once

#include <string>
#include <vector>

namespace talvora {

// Whether a relative path ('/' between names, as walked) can be published; `error` says why not.
bool IsPublishablePath(const std::string& relPath, std::string& error);

// Pairs of paths that Windows would take for the same file (the launcher's collision key), or for
// a file and a folder of the same name. One message per clash, naming both paths.
std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths);

}  // namespace talvora
