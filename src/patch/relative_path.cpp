#include "patch/relative_path.h"

#include <vector>

#include "patch/case_fold.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "..", but also "..." or ".. ": Windows drops trailing dots and spaces from a name, so nothing
// made only of dots (and trailing spaces) can be told apart from a step upwards with certainty.
bool IsDotsSegment(const std::string& segment) {
    size_t end = segment.size();
    while (end > 0 && segment[end - 1] == ' ')
        --end;
    if (end < 2)
        return false;
    return segment.find_first_not_of('.') >= end;
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

}  // namespace

PathFault CheckRelativePath(const std::string& relPath) {
    if (relPath.empty())
        return PathFault::Empty;
    if (IsSeparator(relPath.front()))
        return PathFault::Rooted;
    for (const std::string& segment : Segments(relPath)) {
        for (const char ch : segment) {
            if (ch == ':')
                return PathFault::Stream;
            if (static_cast<unsigned char>(ch) < 0x20)
                return PathFault::Control;
        }
        if (IsDotsSegment(segment))
            return PathFault::DotsSegment;
        if (IsDeviceSegment(segment))
            return PathFault::Device;
    }
    return PathFault::None;
}

bool IsSafeRelativePath(const std::string& relPath) {
    return CheckRelativePath(relPath) == PathFault::None;
}

const char* PathFaultText(PathFault fault) {
    switch (fault) {
        case PathFault::None:
            return "";
        case PathFault::Empty:
            return "empty path";
        case PathFault::Rooted:
            return "path starts with a separator";
        case PathFault::Stream:
            return "name contains ':'";
        case PathFault::Control:
            return "name contains a control character";
        case PathFault::DotsSegment:
            return "name made of dots only, such as '..'";
        case PathFault::Device:
            return "name is a reserved Windows device name";
    }
    return "";
}

std::string CollisionKey(const std::string& relPath) {
    std::vector<std::string> kept;
    for (std::string segment : Segments(relPath)) {
        const size_t end = segment.find_last_not_of(". ");
        if (end != std::string::npos)
            segment.erase(end + 1);
        if (segment.empty() || segment == ".")
            continue;
        if (segment == ".." && !kept.empty() && kept.back() != "..") {
            kept.pop_back();
            continue;
        }
        kept.push_back(FoldCaseUtf8(segment));
    }
    std::string key;
    for (const std::string& segment : kept) {
        if (!key.empty())
            key.push_back('/');
        key += segment;
    }
    return key;
}
