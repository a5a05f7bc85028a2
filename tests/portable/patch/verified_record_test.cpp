// The record of verified files: what the writer makes reads back exactly, and anything else,
// however close, reads as no record.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "portable/patch/verified_record.h"

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();

const std::string kDigestA(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kClientId = std::string(30, '0') + "4d";  // the sample's first id, 77

VerifiedRecord Sample() {
    VerifiedRecord record;
    record.folder = "\\\\?\\C:\\Games\\Tálvora";
    record.files.push_back({"client.exe", {12, 1, 2, 0, 77}, kDigestA});
    record.files.push_back({"data/maps/világ.map", {0, 0, 0, 0x0102030405060708u, 0}, kDigestB});
    record.files.push_back({"x/../big.pak", {kMax, kLatest, kLatest, kMax, kMax}, kDigestA});
    return record;
}

bool Reads(const std::string& bytes) {
    VerifiedRecord record;
    return ReadVerifiedRecord(bytes, record);
}

// The sample's bytes with the first `from` replaced by `to`.
std::string Edited(const std::string& from, const std::string& to) {
    std::string bytes = FormatVerifiedRecord(Sample());
    const std::size_t at = bytes.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? bytes : bytes.replace(at, from.size(), to);
}

}  // namespace

TEST(VerifiedRecord, ReadsBackWhatItWrites) {
    const VerifiedRecord written = Sample();
    VerifiedRecord read;
    read.folder = "stale";
    ASSERT_TRUE(ReadVerifiedRecord(FormatVerifiedRecord(written), read));
    EXPECT_EQ(read.folder, written.folder);
    ASSERT_EQ(read.files.size(), written.files.size());
    for (std::size_t i = 0; i < read.files.size(); ++i) {
        EXPECT_EQ(read.files[i].relPath, written.files[i].relPath);
        EXPECT_TRUE(read.files[i].state == written.files[i].state) << i;
        EXPECT_EQ(read.files[i].sha256, written.files[i].sha256);
    }
    VerifiedRecord empty;
    empty.folder = "f";
    ASSERT_TRUE(ReadVerifiedRecord(FormatVerifiedRecord(empty), read));
    EXPECT_TRUE(read.files.empty());
}

// Every fact counts: a state differing in any one of them is another state.
TEST(VerifiedRecord, StatesDifferInAnyFact) {
    const FileState base{5, 6, 7, 8, 9};
    const std::vector<void (*)(FileState&)> changes = {
        [](FileState& s) { ++s.size; },       [](FileState& s) { ++s.lastWrite; },
        [](FileState& s) { ++s.changeTime; }, [](FileState& s) { ++s.idHigh; },
        [](FileState& s) { ++s.idLow; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        FileState other = base;
        changes[i](other);
        EXPECT_TRUE(other != base && !(other == base)) << i;
    }
}

TEST(VerifiedRecord, WriterLeavesOutWhatCouldNotBeReadBack) {
    VerifiedRecord record = Sample();
    record.files.push_back({"tab\there", {}, kDigestA});
    record.files.push_back({"line\nfeed", {}, kDigestA});
    record.files.push_back({"", {}, kDigestA});
    record.files.push_back({"upper", {}, std::string(64, 'A')});
    record.files.push_back({"short", {}, kDigestA.substr(1)});
    record.files.push_back({"past", {1, -1, 0, 0, 0}, kDigestA});
    VerifiedRecord read;
    ASSERT_TRUE(ReadVerifiedRecord(FormatVerifiedRecord(record), read));
    EXPECT_EQ(read.files.size(), Sample().files.size());
}

// A record cut short anywhere, even between two lines, is no record.
TEST(VerifiedRecord, EveryRecordCutShortIsRefused) {
    const std::string bytes = FormatVerifiedRecord(Sample());
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(Reads(bytes.substr(0, length))) << length;
    EXPECT_TRUE(Reads(bytes));
}

TEST(VerifiedRecord, AnythingButTheWritersBytesIsRefused) {
    const std::string bytes = FormatVerifiedRecord(Sample());
    const std::vector<std::pair<std::string, std::string>> edits = {
        {"TALVORA VERIFIED 1", "TALVORA VERIFIED 2"},
        {"FOLDER\t", "FOLDERS\t"},
        {"END\t3", "END\t2"},
        {"END\t3", "END\t4"},
        {"END\t3", "END\t03"},
        {"client.exe\t12\t", "client.exe\t012\t"},
        {"client.exe\t12\t", "client.exe\t+12\t"},
        {"client.exe\t12\t", "client.exe\t 12\t"},
        {"client.exe\t12\t", "client.exe\t\t"},
        {"18446744073709551615\t", "18446744073709551616\t"},    // size past 2^64-1
        {"\t9223372036854775807\t", "\t9223372036854775808\t"},  // a time past 2^63-1
        {"\t1\t2\t", "\t-1\t2\t"},
        {kClientId, std::string(30, '0') + "4D"},
        {kClientId, std::string(29, '0') + "4d"},
        {kDigestB, kDigestB.substr(0, 63)},
        {"client.exe\t", "data/maps/világ.map\t"},  // the same file twice
        {"client.exe\t12", "\t12"},
        {"client.exe\t12", "client.exe\t12\t"},
        {"\nEND", "\r\nEND"},
    };
    for (const auto& edit : edits)
        EXPECT_FALSE(Reads(Edited(edit.first, edit.second))) << edit.first << " -> " << edit.second;
    EXPECT_FALSE(Reads(bytes + "\n"));
    EXPECT_FALSE(Reads(bytes + "x"));
    EXPECT_FALSE(Reads(bytes + bytes));
    EXPECT_FALSE(Reads(std::string("\xEF\xBB\xBF") + bytes));
}

// The largest record of a list still fits its cap, and one more line of the largest kind does not.
TEST(VerifiedRecord, CapHoldsTheLargestRecordOfTheListAndNoMore) {
    std::vector<ManifestEntry> entries(3);
    VerifiedRecord record;
    record.folder = "\\\\?\\D:\\a folder";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].relPath = std::string(i * 40 + 1, 'p') + std::to_string(i);
        record.files.push_back(
            {entries[i].relPath, {kMax, kLatest, kLatest, kMax, kMax}, kDigestA});
    }
    const std::uint64_t cap = VerifiedRecordCap(record.folder, entries);
    const std::string bytes = FormatVerifiedRecord(record);
    EXPECT_LE(bytes.size(), cap);
    record.files.push_back({"q", {kMax, kLatest, kLatest, kMax, kMax}, kDigestA});
    EXPECT_GT(FormatVerifiedRecord(record).size(), cap);
    EXPECT_LT(cap - bytes.size(), 64u) << "the cap is far above any record of the list";
}
