#include "patch/manifest.h"

#include "net/text_conversion.h"

#include <limits>

std::vector<std::string> SplitTabFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string current;
    for (char c : line) {
        if (c == '\t') {
            fields.push_back(current);
            current.clear();
        } else if (c != '\r') {
            current.push_back(c);
        }
    }
    fields.push_back(current);
    return fields;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::uint64_t ParseManifestSize(const std::string& field) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    size_t i = 0;
    while (i < field.size() && IsSpace(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(field[i] - '0');
        if (value > (kMax - digit) / 10)
            overflow = true;
        if (!overflow)
            value = value * 10 + digit;
    }
    if (overflow)
        return kMax;
    return negative ? (~value + 1) : value;
}

bool ParsePatchManifest(const std::string& body, std::wstring& baseUrl,
                        std::vector<ManifestEntry>& entries) {
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string line = body.substr(start, end - start);
        start = end + 1;

        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = SplitTabFields(line);
        if (fields.size() == 2) {
            if (fields[0] == "BASE")
                baseUrl = Utf8ToWide(fields[1]);
            continue;  // VERSION and unknown keys carry nothing the launcher uses
        }
        if (fields.size() >= 3) {
            ManifestEntry entry;
            entry.relPath = std::move(fields[0]);
            entry.size = ParseManifestSize(fields[1]);
            entry.sha256 = std::move(fields[2]);
            entry.ifMissing = fields.size() >= 4 && fields[3] == "IFMISSING";
            entry.blocks = fields.size() >= 4 && fields[3] == "BLOCKS";
            entries.push_back(std::move(entry));
        }
    }
    return !entries.empty();
}
