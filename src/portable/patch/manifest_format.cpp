#include "portable/patch/manifest_format.h"

#include "portable/net/decimal.h"
#include "portable/patch/compressed_copy.h"

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

std::uint64_t ParseManifestSize(const std::string& field) {
    const DecimalRead read = ReadDecimal(field);
    if (read.overflow || !read.negative)
        return read.magnitude;
    return ~read.magnitude + 1;
}

bool ReadManifestText(const std::string& body, ManifestText& text) {
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
            if (fields[0] == "BASE") {
                text.hasBase = true;
                text.baseUrl = std::move(fields[1]);
            }
            continue;  // VERSION and unknown keys carry nothing the launcher uses
        }
        if (fields.size() >= 3) {
            ManifestEntry entry;
            entry.relPath = std::move(fields[0]);
            entry.size = ParseManifestSize(fields[1]);
            entry.sha256 = std::move(fields[2]);
            entry.ifMissing = fields.size() >= 4 && fields[3] == "IFMISSING";
            entry.blocks = fields.size() >= 4 && fields[3] == "BLOCKS";
            if (entry.blocks && fields.size() >= 5)
                entry.blocksSha256 = std::move(fields[4]);
            if (fields.size() >= 6 && fields[3] == kCompressedCopyWord)
                ReadCompressedCopy(fields[4], fields[5], entry);
            text.entries.push_back(std::move(entry));
        }
    }
    return !text.entries.empty();
}

std::string FormatManifestText(const std::string& version, const std::string& baseUrl,
                               const std::vector<ManifestEntry>& entries) {
    std::string text = "VERSION\t" + version + "\nBASE\t" + baseUrl + "\n";
    for (const ManifestEntry& entry : entries) {
        text += entry.relPath;
        text += '\t';
        text += std::to_string(entry.size);
        text += '\t';
        text += entry.sha256;
        if (entry.ifMissing)
            text += "\tIFMISSING";
        else if (entry.blocks)
            text += entry.blocksSha256.empty() ? "\tBLOCKS" : "\tBLOCKS\t" + entry.blocksSha256;
        else if (entry.compressedSize != 0)
            text += std::string("\t") + kCompressedCopyWord + '\t' +
                    std::to_string(entry.compressedSize) + '\t' + entry.compressedSha256;
        text += '\n';
    }
    return text;
}
