#include "names.h"

#include <map>

#include "portable/net/utf8.h"
#include "portable/patch/relative_path.h"
#include "portable/patch/staging_name.h"
#include "text.h"

namespace talvora {

namespace {

// The publisher's own refusals of one name, beyond the launcher's rule.
std::string NameRefusal(const std::string& name) {
    if (name.empty())
        return "empty name";
    if (name == "." || name == "..")
        return "'" + name + "' segment";
    if (!IsValidUtf8(name))
        return "name is not valid UTF-8";
    for (const char ch : name) {
        switch (ch) {
            case '\t':
                return "name contains a TAB";
            case '\r':
                return "name contains a CR";
            case '\n':
                return "name contains a LF";
            case '\x7F':
                return "name contains a control character";
            case '\\':
                return "name contains '\\', which the launcher reads as a folder separator";
            case '<':
            case '>':
            case '"':
            case '|':
            case '?':
            case '*':
                return std::string("name contains '") + ch + "', which Windows does not allow";
            case '#':
            case '%':
                // The launcher puts names into the download URL unescaped: '#' would
                // cut the URL short and '%' would be decoded by the server.
                return std::string("name contains '") + ch + "', which breaks the download URL";
            default:
                break;
        }
    }
    if (name.back() == '.' || name.back() == ' ')
        return "name ends with a dot or a space, which Windows drops";
    return std::string();
}

}  // namespace

std::string PathRefusal(const std::string& relPath) {
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = relPath.find('/', start);
        const std::string name =
            relPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        std::string reason = NameRefusal(name);
        if (!reason.empty())
            return reason;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    // Checked on the whole path, as the launcher reads it.
    return PathFaultText(CheckRelativePath(relPath));
}

std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths) {
    std::vector<std::string> clashes;
    std::map<std::string, std::string> files;    // key -> first path seen
    std::map<std::string, std::string> folders;  // key -> first spelling seen
    for (const std::string& path : relPaths) {
        const auto inserted = files.emplace(CollisionKey(path), path);
        if (!inserted.second) {
            clashes.push_back("'" + Printable(inserted.first->second) + "' and '" +
                              Printable(path) + "' are the same file on Windows");
        }
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            const std::string folder = path.substr(0, slash);
            folders.emplace(CollisionKey(folder), folder);
        }
    }
    // Folders that differ only in case merge harmlessly on Windows; a file and a
    // folder of the same name cannot both exist.
    for (const auto& file : files) {
        const auto folder = folders.find(file.first);
        if (folder != folders.end()) {
            clashes.push_back("file '" + Printable(file.second) + "' and folder '" +
                              Printable(folder->second) + "' are the same name on Windows");
        }
    }
    // The launcher downloads each file into a staging file beside it; that name must not be
    // another file or folder of the list.
    for (const std::string& path : relPaths) {
        const std::string staging = CollisionKey(StagingPathOf(path));
        const auto file = files.find(staging);
        const auto folder = folders.find(staging);
        if (file != files.end() || folder != folders.end()) {
            const std::string& other = file != files.end() ? file->second : folder->second;
            clashes.push_back("'" + Printable(other) + "' is where the launcher downloads '" +
                              Printable(path) + "' to");
        }
    }
    return clashes;
}

}  // namespace talvora
