// Walking the client folder: every regular file below it, with its path
// relative to the folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talvora {

struct ClientFile {
    std::filesystem::path path;  // where to read it
    std::string relPath;         // UTF-8 names joined with '/'
    std::uint64_t size = 0;
};

struct WalkResult {
    std::vector<ClientFile> files;
    // One message per entry that cannot be published, naming it.
    std::vector<std::string> problems;
};

// Collects the files below `root` in no particular order. `exclude` (may be
// empty or not exist) is left out wherever it is found: the manifest being
// written may lie inside the folder it describes.
//
// A symbolic link to a regular file inside the folder is published as a copy
// of that file under the link's name. Links that point outside the folder,
// links to folders, broken links and entries that are neither files nor
// folders are problems, as are names that cannot be published (see names.h).
// Returns false, with the reason in `error`, only when `root` itself is not
// a readable folder.
bool WalkClientDir(const std::filesystem::path& root, const std::filesystem::path& exclude,
                   WalkResult& result, std::string& error);

}  // namespace talvora
