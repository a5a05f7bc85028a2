#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/kernel_handles.h"
#include "platform/file_hash.h"
#include "platform/stream_hash.h"
#include "support/manifest_lines.h"
#include "support/pattern_bytes.h"
#include "support/test_files.h"

namespace {

std::string HashAt(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? Sha256RestOfFileHex(file.get()) : "no such file";
}

std::string HashOf(const TempDir& dir, const std::string& content) {
    const std::wstring path = dir / L"content.bin";
    EXPECT_TRUE(WriteFileBytes(path, content));
    return HashAt(path);
}

}  // namespace

TEST(Sha256RestOfFileHex, KnownVectors) {
    TempDir dir;
    EXPECT_EQ(HashOf(dir, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashOf(dir, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HashOf(dir, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// Files around the 1 MiB read size: exactly one buffer, and one byte more. The expected digests
// come from an independent implementation over the same generated content; hash_crosscheck.py
// compares with the host's sha256sum live.
TEST(Sha256RestOfFileHex, ReadBufferBoundaries) {
    TempDir dir;
    EXPECT_EQ(HashOf(dir, std::string(1048576, '\0')),
              "30e14955ebf1352266dc2ff8067e68104607e750abb9d3b36582b8af909fcb58");
    EXPECT_EQ(HashOf(dir, PatternBytes(1048576, 7)),
              "c5da9a3a79ce56454a99468e78fe0ea40edcd5c13322f009319e08bafe9cdc82");
    EXPECT_EQ(HashOf(dir, PatternBytes(1048577, 7)),
              "dab00043110e892778cf5db4b00e48f1c2502592d15916afa04c4b8c7cfececb");
    EXPECT_EQ(HashOf(dir, PatternBytes(3 * 1048576 + 123, 9)),
              "4705ff7dfa4885be37feee631dba8e0191517110fde5d66426df8fdb86f4b163");
}

TEST(Sha256RestOfFileHex, DigitsAreLowerCaseAndStable) {
    TempDir dir;
    const std::string first = HashOf(dir, PatternBytes(5000, 1));
    ASSERT_EQ(first.size(), 64u);
    for (char c : first)
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
    EXPECT_EQ(HashAt(dir / L"content.bin"), first);
}

// A handle that cannot be read gives no digest rather than the digest of nothing; the rest of a
// file is hashed from where its handle stands.
TEST(Sha256RestOfFileHex, EmptyWhenTheHandleCannotBeReadAndRestFromWhereItStands) {
    TempDir dir;
    const std::wstring path = dir / L"content.bin";
    ASSERT_TRUE(WriteFileBytes(path, "xyzabc"));
    UniqueFile writeOnly(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writeOnly.valid());
    EXPECT_EQ(Sha256RestOfFileHex(writeOnly.get()), "");
    writeOnly.reset();

    UniqueFile reader(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader.valid());
    LARGE_INTEGER at{};
    at.QuadPart = 3;
    ASSERT_TRUE(::SetFilePointerEx(reader.get(), at, nullptr, FILE_BEGIN));
    EXPECT_EQ(Sha256RestOfFileHex(reader.get()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// One read buffer is kept and lent to one caller at a time: callers on several threads at once
// must each hash their own bytes.
TEST(Sha256RestOfFileHex, ConcurrentCallersDoNotShareBytes) {
    TempDir dir;
    std::vector<std::wstring> paths;
    std::vector<std::string> expected;
    for (std::uint32_t i = 0; i < 4; ++i) {
        paths.push_back(dir / (L"f" + std::to_wstring(i)));
        ASSERT_TRUE(WriteFileBytes(paths.back(), PatternBytes(3 * 1048576 + i * 4099, 40 + i)));
        expected.push_back(HashAt(paths.back()));
        ASSERT_EQ(expected.back().size(), 64u);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < paths.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 8; ++round) {
                if (HashAt(paths[t]) != expected[t])
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Bytes hashed as they are written give the file's digest only when they were the whole file, in
// order; anything else gives none, so the caller reads the file instead.
TEST(StreamHash, DigestOnlyForTheWholeStreamInOrder) {
    const std::string bytes = PatternBytes(3 * StreamHash::kBufferSize + 12345, 5);
    const std::string want = Sha256Hex(bytes);
    const auto submit = [&bytes](StreamHash& hash, std::uint64_t at, std::size_t size) {
        char* buffer = hash.Acquire();
        std::memcpy(buffer, bytes.data() + at, size);
        hash.Submit(buffer, static_cast<DWORD>(size), at);
    };
    const auto inPieces = [&](std::size_t piece) {
        StreamHash hash;
        for (std::uint64_t at = 0; at < bytes.size(); at += piece)
            submit(hash, at, std::min<std::size_t>(piece, bytes.size() - at));
        return hash.Finish(bytes.size());
    };
    EXPECT_EQ(inPieces(StreamHash::kBufferSize), want);
    EXPECT_EQ(inPieces(4097), want);  // more pieces than buffers: the writer waits for the hash

    StreamHash swapped;
    submit(swapped, 0, 100);
    submit(swapped, 200, 100);
    submit(swapped, 100, 100);
    EXPECT_EQ(swapped.Finish(300), "");
    StreamHash again;  // the whole file again over what was written (a server ignoring Range)
    submit(again, 0, 100);
    submit(again, 0, 300);
    EXPECT_EQ(again.Finish(300), "");
    StreamHash shorter;
    submit(shorter, 0, 100);
    EXPECT_EQ(shorter.Finish(300), "");
    StreamHash released;  // a buffer given back unused leaves the stream as it was
    submit(released, 0, 300);
    released.Release(released.Acquire());
    EXPECT_EQ(released.Finish(300), Sha256Hex(bytes.substr(0, 300)));
}
