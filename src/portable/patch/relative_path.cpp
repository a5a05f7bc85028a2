#include "portable/patch/relative_path.h"

#include <vector>

#include "portable/patch/case_fold.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "..." or ".. ": made of dots and spaces only, and not exactly "." or "..". Windows drops trailing
// dots and spaces from a name, so such a name cannot be told apart from a step with certainty.
bool IsDotsSegment(const std::string& segment) {
    return segment.find_first_not_of(". ") == std::string::npos &&
           segment.find('.') != std::string::npos && segment != "." && segment != "..";
}

// Windows reads the Latin-1 superscripts 1, 2 and 3 as device digits too ("COM¹").
bool IsDeviceDigit(const std::string& text) {
    return (text.size() == 1 && text[0] >= '0' && text[0] <= '9') || text == "\xC2\xB9" ||
           text == "\xC2\xB2" || text == "\xC2\xB3";
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$ and CONOUT$ open a device instead of a file, in any
// folder and with any extension ("LPT1.pak", "nul.txt"): nothing may be written to them.
bool IsDeviceSegment(const std::string& segment) {
    size_t stem = segment.find('.');
    if (stem == std::string::npos)
        stem = segment.size();
    while (stem > 0 && segment[stem - 1] == ' ')
        --stem;
    std::string name;
    for (size_t i = 0; i < stem; ++i) {
        const char c = segment[i];
        name.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
        name == "CONOUT$") {
        return true;
    }
    return (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           IsDeviceDigit(name.substr(3));
}

std::vector<std::string> Segments(const std::string& relPath) {
    std::vector<std::string> segments(1);
    for (const char c : relPath) {
        if (IsSeparator(c))
            segments.emplace_back();
        else
            segments.back().push_back(c);
    }
    return segments;
}

// Applies the steps of `relPath` to `names`; the first fault stops it.
PathFault Walk(const std::string& relPath, std::vector<std::string>& names) {
    for (const std::string& segment : Segments(relPath)) {
        for (const char ch : segment) {
            if (ch == ':')
                return PathFault::Stream;
            if (static_cast<unsigned char>(ch) < 0x20)
                return PathFault::Control;
        }
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..") {
            if (names.empty())
                return PathFault::Escapes;
            names.pop_back();
            continue;
        }
        if (IsDotsSegment(segment))
            return PathFault::DotsSegment;
        if (IsDeviceSegment(segment))
            return PathFault::Device;
        names.push_back(segment);
    }
    return names.empty() ? PathFault::Empty : PathFault::None;
}

}  // namespace

PathFault CheckRelativePath(const std::string& relPath) {
    std::vector<std::string> names;
    return Walk(relPath, names);
}

bool IsSafeRelativePath(const std::string& relPath) {
    return CheckRelativePath(relPath) == PathFault::None;
}

const char* PathFaultText(PathFault fault) {
    switch (fault) {
        case PathFault::None:
            return "";
        case PathFault::Empty:
            return "path names no file";
        case PathFault::Escapes:
            return "path leads out of the folder";
        case PathFault::Stream:
            return "name contains ':'";
        case PathFault::Control:
            return "name contains a control character";
        case PathFault::DotsSegment:
            return "name made of dots and spaces only";
        case PathFault::Device:
            return "name is a reserved Windows device name";
    }
    return "";
}

std::string LexicalRelativePath(const std::string& relPath) {
    std::vector<std::string> names;
    std::string path;
    if (Walk(relPath, names) != PathFault::None)
        return path;
    for (const std::string& name : names) {
        if (!path.empty())
            path.push_back('\\');
        path += name;
    }
    return path;
}

std::string CollisionKey(const std::string& relPath) {
    std::vector<std::string> names;
    if (Walk(relPath, names) != PathFault::None) {
        // No valid key holds a control character: a faulty path collides only with itself.
        return std::string(1, '\0') + relPath;
    }
    std::string key;
    for (std::string& name : names) {
        name.erase(name.find_last_not_of(". ") + 1);  // Windows drops these from a name
        if (!key.empty())
            key.push_back('/');
        key += FoldCaseUtf8(name);
    }
    return key;
}
