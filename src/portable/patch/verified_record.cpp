#include "portable/patch/verified_record.h"

#include <limits>
#include <unordered_set>

#include "portable/net/hex_digest.h"

// The layout, LF after every line, TAB between fields:
//   TALVORA VERIFIED 1
//   FOLDER <final path>
//   <path> <size> <last write> <change time> <id: 32 hex digits> <sha256>   (one per file)
//   END <number of file lines>
// Numbers are plain decimal without sign or leading zeros, as std::to_string writes them.

namespace {

const char kVersionLine[] = "TALVORA VERIFIED 1";
const char kFolderKey[] = "FOLDER";
const char kEndKey[] = "END";

// TAB and the two line ends of all fields: size, two times, id, digest, and the line feed.
constexpr std::uint64_t kFixedLineBytes = 1 + 20 + 1 + 19 + 1 + 19 + 1 + 32 + 1 + 64 + 1;

bool IsField(const std::string& text) {
    return !text.empty() && text.find_first_of("\t\r\n") == std::string::npos;
}

bool IsDigest(const std::string& text) {
    unsigned char bytes[32];
    return ParseHexDigest(text, bytes, sizeof bytes);
}

bool Writable(const VerifiedFile& file) {
    return IsField(file.relPath) && IsDigest(file.sha256) && file.state.lastWrite >= 0 &&
           file.state.changeTime >= 0;
}

std::string IdText(const FileState& state) {
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(state.idHigh >> (56 - 8 * i));
        bytes[8 + i] = static_cast<unsigned char>(state.idLow >> (56 - 8 * i));
    }
    return HexDigest(bytes, sizeof bytes);
}

// Plain decimal up to `max`: digits only, no leading zero but in "0".
bool ReadNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        return false;
    std::uint64_t read = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (read > (max - digit) / 10)
            return false;
        read = read * 10 + digit;
    }
    value = read;
    return true;
}

bool ReadTime(const std::string& text, std::int64_t& value) {
    std::uint64_t read = 0;
    if (!ReadNumber(text, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()),
                    read)) {
        return false;
    }
    value = static_cast<std::int64_t>(read);
    return true;
}

bool ReadId(const std::string& text, FileState& state) {
    unsigned char bytes[16];
    if (!ParseHexDigest(text, bytes, sizeof bytes))
        return false;
    state.idHigh = 0;
    state.idLow = 0;
    for (int i = 0; i < 8; ++i) {
        state.idHigh = (state.idHigh << 8) | bytes[i];
        state.idLow = (state.idLow << 8) | bytes[8 + i];
    }
    return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string::npos ? tab : tab - at));
        if (tab == std::string::npos)
            return fields;
        at = tab + 1;
    }
}

bool ReadFileLine(const std::string& line, VerifiedFile& file) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 6 || !IsField(fields[0]) || !IsDigest(fields[5]))
        return false;
    file.relPath = fields[0];
    file.sha256 = fields[5];
    return ReadNumber(fields[1], kMax, file.state.size) &&
           ReadTime(fields[2], file.state.lastWrite) &&
           ReadTime(fields[3], file.state.changeTime) && ReadId(fields[4], file.state);
}

// The lines of `bytes`, each ended by LF; false when the last one has none.
bool SplitLines(const std::string& bytes, std::vector<std::string>& lines) {
    if (bytes.empty() || bytes.back() != '\n')
        return false;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        lines.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

bool ReadEnds(const std::vector<std::string>& lines, std::string& folder) {
    if (lines.size() < 3 || lines.front() != kVersionLine)
        return false;
    const std::vector<std::string> head = SplitTabs(lines[1]);
    const std::vector<std::string> end = SplitTabs(lines.back());
    std::uint64_t count = 0;
    if (head.size() != 2 || head[0] != kFolderKey || !IsField(head[1]) || end.size() != 2 ||
        end[0] != kEndKey || !ReadNumber(end[1], lines.size(), count) ||
        count != lines.size() - 3) {
        return false;
    }
    folder = head[1];
    return true;
}

}  // namespace

bool operator==(const FileState& a, const FileState& b) {
    return a.size == b.size && a.lastWrite == b.lastWrite && a.changeTime == b.changeTime &&
           a.idHigh == b.idHigh && a.idLow == b.idLow;
}

bool operator!=(const FileState& a, const FileState& b) {
    return !(a == b);
}

std::string FormatVerifiedRecord(const VerifiedRecord& record) {
    std::string bytes = std::string(kVersionLine) + "\n" + kFolderKey + "\t" +
                        (IsField(record.folder) ? record.folder : "?") + "\n";
    std::size_t count = 0;
    for (const VerifiedFile& file : record.files) {
        if (!Writable(file))
            continue;
        bytes += file.relPath + "\t" + std::to_string(file.state.size) + "\t" +
                 std::to_string(file.state.lastWrite) + "\t" +
                 std::to_string(file.state.changeTime) + "\t" + IdText(file.state) + "\t" +
                 file.sha256 + "\n";
        ++count;
    }
    return bytes + kEndKey + "\t" + std::to_string(count) + "\n";
}

bool ReadVerifiedRecord(const std::string& bytes, VerifiedRecord& record) {
    std::vector<std::string> lines;
    VerifiedRecord read;
    if (!SplitLines(bytes, lines) || !ReadEnds(lines, read.folder))
        return false;
    std::unordered_set<std::string> seen;
    read.files.reserve(lines.size() - 3);
    for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
        VerifiedFile file;
        if (!ReadFileLine(lines[i], file) || !seen.insert(file.relPath).second)
            return false;
        read.files.push_back(std::move(file));
    }
    record = std::move(read);
    return true;
}

std::uint64_t VerifiedRecordCap(const std::string& folder,
                                const std::vector<ManifestEntry>& entries) {
    std::uint64_t cap =
        sizeof kVersionLine + sizeof kFolderKey + folder.size() + 1 + sizeof kEndKey + 21;
    for (const ManifestEntry& entry : entries)
        cap += entry.relPath.size() + kFixedLineBytes;
    return cap;
}
