#include "names.h"

#include <map>

#include "portable/net/utf8.h"
#include "portable/patch/relative_path.h"
#include "portable/patch/staging_name.h"
#include "text.h"

namespace talvora {

namespace {

// Why a name may not hold this character; empty when it may.
std::string CharacterFault(char ch) {
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
            // The launcher puts names into the download URL unescaped: '#' would cut the URL
            // short and '%' would be decoded by the server.
            return std::string("name contains '") + ch + "', which breaks the download URL";
        default:
            return std::string();
    }
}

// The publisher's own rules for one name, beyond the launcher's.
bool IsPublishableName(const std::string& name, std::string& error) {
    if (name.empty())
        return Refuse(error, "empty name");
    if (name == "." || name == "..")
        return Refuse(error, "'" + name + "' segment");
    if (!IsValidUtf8(name))
        return Refuse(error, "name is not valid UTF-8");
    for (const char ch : name) {
        const std::string fault = CharacterFault(ch);
        if (!fault.empty())
            return Refuse(error, fault);
    }
    if (name.back() == '.' || name.back() == ' ')
        return Refuse(error, "name ends with a dot or a space, which Windows drops");
    return true;
}

}  // namespace

bool IsPublishablePath(const std::string& relPath, std::string& error) {
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = relPath.find('/', start);
        const std::string name =
            relPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!IsPublishableName(name, error))
            return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    // Checked on the whole path, as the launcher reads it.
    error = PathFaultText(CheckRelativePath(relPath));
    return error.empty();
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
