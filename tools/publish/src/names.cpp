#include "names.h"

#include <algorithm>
#include <map>

#include "text.h"

namespace talvora {

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return AsciiLower(c); });
    return text;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 name devices on Windows, with or
// without an extension: "aux.pak" opens the device, not a file.
bool IsReservedDeviceName(const std::string& name) {
    std::string stem = AsciiLower(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul")
        return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
        stem[3] >= '0' && stem[3] <= '9') {
        return true;
    }
    return false;
}

}  // namespace

std::string NameRefusal(const std::string& name) {
    if (name.empty())
        return "empty name";
    if (name == "." || name == "..")
        return "'" + name + "' segment";
    if (!IsValidUtf8(name))
        return "name is not valid UTF-8";
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\t':
                return "name contains a TAB";
            case '\r':
                return "name contains a CR";
            case '\n':
                return "name contains a LF";
            case ':':
                return "name contains ':'";
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
                if (c < 0x20 || c == 0x7F)
                    return "name contains a control character";
                break;
        }
    }
    if (name.back() == '.' || name.back() == ' ') {
        return "name ends with a dot or a space, which Windows drops";
    }
    if (IsReservedDeviceName(name))
        return "name is a reserved Windows device name";
    return std::string();
}

std::string PathRefusal(const std::string& relPath) {
    if (relPath.empty())
        return "empty path";
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = relPath.find('/', start);
        const std::string name =
            relPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        std::string reason = NameRefusal(name);
        if (!reason.empty())
            return reason;
        if (slash == std::string::npos)
            return std::string();
        start = slash + 1;
    }
}

std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths) {
    std::vector<std::string> clashes;
    std::map<std::string, std::string> files;    // folded path -> first path seen
    std::map<std::string, std::string> folders;  // folded folder -> first spelling seen
    for (const std::string& path : relPaths) {
        const std::string folded = AsciiLower(path);
        const auto inserted = files.emplace(folded, path);
        if (!inserted.second) {
            clashes.push_back("'" + Printable(inserted.first->second) + "' and '" +
                              Printable(path) + "' are the same file on Windows");
        }
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            folders.emplace(folded.substr(0, slash), path.substr(0, slash));
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
    return clashes;
}

}  // namespace talvora
