#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "platform/kernel_handles.h"
#include "support/file_digest.h"
#include "patch/check_pass.h"
#include "patch/install_paths.h"
#include "support/test_files.h"

namespace {

std::string DigestOf(const std::wstring& path) {
    return Sha256FileHex(path);
}

// Threads of this process that are alive now.
int LiveThreads() {
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &thread); more;
         more = ::Thread32Next(snapshot.get(), &thread)) {
        if (thread.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    }
    return count;
}

std::vector<std::string> Paths(const std::vector<ManifestEntry>& entries) {
    std::vector<std::string> paths;
    for (const ManifestEntry& entry : entries)
        paths.push_back(entry.relPath);
    return paths;
}

}  // namespace

// Every kind of local file, on one thread and on more threads than cores: the decisions and their
// order (the manifest's) do not depend on how the hashing was shared out.
TEST(CheckPass, DecidesInManifestOrderOnAnyNumberOfThreads) {
    TempDir dir;
    std::vector<ManifestEntry> entries;
    std::vector<std::string> normal, full;  // expected pending paths
    UniqueFile heldForWriting;
    for (int i = 0; i < 90; ++i) {
        // Sizes from empty to 750 KiB, plus one 9 MiB file in the middle of the list.
        const std::uint64_t size = i == 45 ? 9u << 20 : (static_cast<std::uint64_t>(i) * i * 97);
        const std::string content = PatternBytes(size, static_cast<std::uint32_t>(i));
        ManifestEntry entry;
        entry.relPath = "d" + std::to_string(i % 4) + "\\f" + std::to_string(i) + ".pak";
        entry.size = content.size();
        const std::wstring local = LocalPathFor(dir.path(), entry.relPath);
        CreateParentDirectories(local);
        ASSERT_TRUE(WriteFileBytes(local, content));
        entry.sha256 = DigestOf(local);
        bool queued = true;
        switch (i % 9) {
            case 0:  // one byte changed, same size
                if (!content.empty()) {
                    std::string changed = content;
                    changed[changed.size() / 2] ^= 0x01;
                    ASSERT_TRUE(WriteFileBytes(local, changed));
                } else {
                    entry.sha256[0] = entry.sha256[0] == '0' ? '1' : '0';
                }
                break;
            case 1:  // resized
                ASSERT_TRUE(WriteFileBytes(local, content + "x"));
                break;
            case 2:  // missing
                ::DeleteFileW(local.c_str());
                break;
            case 3:  // a folder where the file should be
                ::DeleteFileW(local.c_str());
                ASSERT_TRUE(::CreateDirectoryW(local.c_str(), nullptr));
                break;
            case 4:  // digest published in upper case
                for (char& c : entry.sha256)
                    c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
                queued = entry.sha256 != DigestOf(local);
                break;
            case 5:  // IFMISSING, present with other content: kept in both modes
                entry.ifMissing = true;
                queued = false;
                ASSERT_TRUE(WriteFileBytes(local, "the player's own"));
                break;
            case 6:  // IFMISSING and absent
                entry.ifMissing = true;
                ::DeleteFileW(local.c_str());
                break;
            default:
                queued = false;
        }
        if (i == 70) {  // someone else is writing it: no digest can be made
            heldForWriting.reset(::CreateFileW(local.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(heldForWriting);
            queued = true;
        }
        if (queued)
            normal.push_back(entry.relPath);
        if (!entry.ifMissing || i % 9 == 6)
            full.push_back(entry.relPath);
        entries.push_back(entry);
    }

    const std::atomic<bool> stop{false};
    for (unsigned threads : {1u, 2u, 8u}) {
        for (bool fullCheck : {false, true}) {
            std::vector<ManifestEntry> pending;
            ASSERT_TRUE(RunCheckPass(dir.path(), entries, fullCheck, stop, threads, pending));
            EXPECT_EQ(Paths(pending), fullCheck ? full : normal)
                << threads << " threads, full check " << fullCheck;
        }
    }
    EXPECT_GE(CheckPassThreads(dir.path()), 1u);
    EXPECT_LE(CheckPassThreads(dir.path()), 8u);
}

// Every thread is inside a 1 GiB file when the stop comes: each one notices it between two reads,
// the pass reports that it was stopped, and no thread is left behind.
TEST(CheckPass, StopInsideLargeFilesEndsEveryThread) {
    using namespace std::chrono_literals;
    TempDir dir;
    std::vector<ManifestEntry> entries;
    for (int i = 0; i < 4; ++i) {
        ManifestEntry entry;
        entry.relPath = "big" + std::to_string(i) + ".pak";
        entry.size = 1u << 30;
        entry.sha256 = std::string(64, '0');
        ASSERT_TRUE(WriteZeroFile(LocalPathFor(dir.path(), entry.relPath), entry.size));
        entries.push_back(entry);
    }
    const int threadsBefore = LiveThreads();
    std::atomic<bool> stop{false};
    std::vector<ManifestEntry> pending(1);
    bool decided = true;
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        decided = RunCheckPass(dir.path(), entries, false, stop, 4, pending);
        returned.store(true);
    });
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(returned.load());
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop.store(true);
    while (!returned.load() && std::chrono::steady_clock::now() - stoppedAt < 30s)
        std::this_thread::sleep_for(1ms);
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 2s);
    caller.join();
    EXPECT_FALSE(decided);
    EXPECT_EQ(pending.size(), 1u);
    EXPECT_EQ(LiveThreads(), threadsBefore);
}
