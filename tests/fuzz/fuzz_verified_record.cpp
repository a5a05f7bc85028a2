// The record of verified files as the launcher finds it on the disk: any bytes.
#include "fuzz_support.h"
#include "portable/patch/verified_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = Bytes(data, size);
    VerifiedRecord record;
    record.folder = "untouched";
    record.files.push_back({"stale", {}, std::string(64, '0')});
    if (!ReadVerifiedRecord(bytes, record)) {
        Require(record.folder == "untouched" && record.files.size() == 1,
                "a refused record leaves the result alone");
        return 0;
    }
    Require(FormatVerifiedRecord(record) == bytes,
            "only what the writer makes is read: the record writes back to the same bytes");
    std::vector<ManifestEntry> entries(record.files.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].relPath = record.files[i].relPath;
    Require(bytes.size() <= VerifiedRecordCap(record.folder, entries),
            "a record of the list fits the list's cap");
    return 0;
}
