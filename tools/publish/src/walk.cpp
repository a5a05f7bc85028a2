#include "walk.h"

#include <system_error>
#include <utility>

#include "names.h"
#include "text.h"

namespace fs = std::filesystem;

namespace talvora {

namespace {

// True when `path` is `root` or lies below it. Both must be canonical.
bool IsInside(const fs::path& path, const fs::path& root) {
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        // A trailing separator of the root shows up as an empty last element.
        if (r->empty() && std::next(r) == root.end())
            break;
        if (p == path.end() || *p != *r)
            return false;
    }
    return true;
}

struct Walker {
    fs::path canonicalRoot;
    fs::path exclude;  // empty when there is nothing to leave out
    WalkResult& result;

    void Problem(const std::string& relPath, const std::string& reason) {
        const std::string shown = relPath.empty() ? std::string(".") : Printable(relPath);
        result.problems.push_back("'" + shown + "': " + reason);
    }

    bool IsExcluded(const fs::path& path) {
        if (exclude.empty())
            return false;
        std::error_code ec;
        return fs::equivalent(path, exclude, ec);
    }

    void AddFile(const fs::path& path, const std::string& relPath, std::uint64_t size) {
        if (IsExcluded(path))
            return;
        std::string reason;
        if (!IsPublishablePath(relPath, reason)) {
            Problem(relPath, reason);
            return;
        }
        result.files.push_back(ClientFile{path, relPath, size});
    }

    void Link(const fs::path& path, const std::string& relPath) {
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        if (ec) {
            Problem(relPath, "broken symbolic link");
            return;
        }
        if (!IsInside(target, canonicalRoot)) {
            Problem(relPath, "symbolic link points outside the client folder");
            return;
        }
        const fs::file_status status = fs::status(target, ec);
        if (ec) {
            Problem(relPath, "cannot read link target: " + ec.message());
        } else if (fs::is_directory(status)) {
            Problem(relPath, "symbolic link to a folder (not followed)");
        } else if (fs::is_regular_file(status)) {
            const std::uintmax_t size = fs::file_size(target, ec);
            if (ec) {
                Problem(relPath, "cannot read size: " + ec.message());
            } else {
                AddFile(path, relPath, size);
            }
        } else {
            Problem(relPath, "symbolic link to something that is not a regular file");
        }
    }

    void Folder(const fs::path& dir, const std::string& relPrefix) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) {
            Problem(relPrefix, "cannot read folder: " + ec.message());
            return;
        }
        std::vector<std::pair<fs::path, std::string>> subfolders;
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec)
                break;
            const fs::directory_entry& entry = *it;
            bool utf8 = true;
            const std::string name = PathToUtf8(entry.path().filename(), utf8);
            const std::string relPath = relPrefix.empty() ? name : relPrefix + "/" + name;
            if (!utf8) {
                Problem(relPath, "name is not valid UTF-16");
                continue;
            }
            std::error_code statusError;
            const fs::file_status status = entry.symlink_status(statusError);
            if (statusError) {
                Problem(relPath, "cannot read: " + statusError.message());
            } else if (fs::is_symlink(status)) {
                Link(entry.path(), relPath);
            } else if (fs::is_directory(status)) {
                subfolders.emplace_back(entry.path(), relPath);
            } else if (fs::is_regular_file(status)) {
                std::error_code sizeError;
                const std::uintmax_t size = entry.file_size(sizeError);
                if (sizeError) {
                    Problem(relPath, "cannot read size: " + sizeError.message());
                } else {
                    AddFile(entry.path(), relPath, size);
                }
            } else {
                Problem(relPath, "not a regular file or folder");
            }
        }
        if (ec) {
            Problem(relPrefix, "cannot read folder: " + ec.message());
        }
        // Descend after the listing so that only one directory handle is open per level.
        for (const auto& sub : subfolders)
            Folder(sub.first, sub.second);
    }
};

}  // namespace

bool WalkClientDir(const fs::path& root, const fs::path& exclude, WalkResult& result,
                   std::string& error) {
    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec) {
        error = "cannot open client folder '" + Printable(PathToUtf8(root)) + "': " + ec.message();
        return false;
    }
    if (!fs::is_directory(canonicalRoot, ec)) {
        error = "'" + Printable(PathToUtf8(root)) + "' is not a folder";
        return false;
    }
    fs::path excludePath;
    if (!exclude.empty() && fs::exists(exclude, ec))
        excludePath = exclude;
    Walker walker{canonicalRoot, excludePath, result};
    walker.Folder(canonicalRoot, std::string());
    return true;
}

}  // namespace talvora
