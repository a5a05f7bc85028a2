#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "platform/exe_location.h"
#include "app/single_instance.h"
#include "support/test_files.h"

// Every spelling of one folder, a link to it included, shares one guard; another folder has its
// own; the names an earlier launcher used, held by anyone, keep no one out.
TEST(SingleInstance, OneKeyPerFolderWhateverItsSpelling) {
    TempDir temp;
    const std::wstring folder = temp / L"Install";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((temp / L"other").c_str(), nullptr));
    const std::wstring key = InstanceKeyOf(folder);
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(InstanceKeyOf(temp / L"INSTALL"), key);
    EXPECT_EQ(InstanceKeyOf(folder + L"\\"), key);
    EXPECT_EQ(InstanceKeyOf(folder + L"\\..\\install"), key);
    EXPECT_NE(InstanceKeyOf(temp / L"other"), key);
    EXPECT_TRUE(InstanceKeyOf(temp / L"missing").empty());
    if (MakeSymlink(temp / L"alias", folder)) {
        EXPECT_EQ(InstanceKeyOf(temp / L"alias"), key);
    }

    // Held by a thread that stays, as another user's process would hold them.
    const UniqueKernelHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueKernelHandle squatting(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread squatter([&] {
        const UniqueKernelHandle global(::CreateMutexW(nullptr, TRUE, (L"Global\\" + key).c_str()));
        const UniqueKernelHandle local(::CreateMutexW(nullptr, TRUE, (L"Local\\" + key).c_str()));
        if (global && local)
            ::SetEvent(squatting.get());
        ::WaitForSingleObject(stop.get(), INFINITE);
    });
    const bool squatted = ::WaitForSingleObject(squatting.get(), 10000) == WAIT_OBJECT_0;
    FolderClaim first;
    const bool claimedFirst = ClaimInstallFolder(folder, first, 300);
    ::SetEvent(stop.get());
    squatter.join();
    ASSERT_TRUE(squatted);
    ASSERT_TRUE(claimedFirst);
    ASSERT_TRUE(HoldsFolder(first));

    // A second claim on a held folder gives way; once the first lets go, the folder is free.
    std::thread([&] {
        FolderClaim second;
        EXPECT_FALSE(ClaimInstallFolder(temp / L"INSTALL", second, 300));
        EXPECT_FALSE(HoldsFolder(second));
        FolderClaim elsewhere;
        EXPECT_TRUE(ClaimInstallFolder(temp / L"other", elsewhere));
    }).join();
    ReleaseFolder(first);
    EXPECT_FALSE(HoldsFolder(first));
    std::thread([&] {
        FolderClaim again;
        EXPECT_TRUE(ClaimInstallFolder(folder, again));
    }).join();
}

namespace {

// A launcher-like process holding a folder: the probe copied into it, so that its window counts
// as a window of that folder's launcher. Ended when the test is done with it.
struct Holder {
    UniqueKernelHandle process;
    ~Holder() {
        if (process && ::TerminateProcess(process.get(), 99))
            ::WaitForSingleObject(process.get(), 10000);
    }
};

bool WaitForFile(const std::wstring& path, DWORD ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!PathExists(path)) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        ::Sleep(20);
    }
    return true;
}

bool StartHolder(const TempDir& temp, DWORD holdMs, bool window, Holder& holder) {
    const std::wstring probe = temp / L"Talvora.exe";
    if (!::CopyFileW((ExeDirectory() + L"\\folder_lock_probe.exe").c_str(), probe.c_str(), FALSE))
        return false;
    std::wstring command = L"\"" + probe + L"\" hold \"" + (temp / L"held") + L"\" " +
                           std::to_wstring(holdMs) + (window ? L" window" : L" end");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        return false;
    }
    holder.process.reset(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);
    return WaitForFile(temp / L"held", 60000);
}

struct HolderCase {
    const char* what;
    DWORD holdMs;    // from the holder's claim to its window or its end
    bool window;     // the holder then shows its window (else it ends)
    DWORD waitMs;    // the bound given to the claim; 0 for the launcher's own
    bool claimed;    // what the claim must answer
    double atLeast;  // seconds the claim must have waited
    double atMost;
};

}  // namespace

// A start behind a launcher that holds the folder but shows no window yet (its self-update runs
// up to 20 s first) waits: it hands over once the window shows, claims the folder once the holder
// ends, and gives up only at its bound while the holder still runs.
TEST(SingleInstance, StartBehindAHolderWithoutWindowWaitsForItsWindowOrItsEnd) {
    const HolderCase cases[] = {
        {"a holder whose window is up", 0, true, 0, false, 0.0, 3.0},
        {"a holder still starting for 12 s", 12000, true, 0, false, 10.5, 25.0},
        {"a holder that ends without a window", 2500, false, 0, true, 1.0, 15.0},
        {"a holder past the bound", 20000, true, 1500, false, 1.4, 8.0},
    };
    for (const HolderCase& row : cases) {
        SCOPED_TRACE(row.what);
        TempDir temp;
        Holder holder;
        ASSERT_TRUE(StartHolder(temp, row.holdMs, row.window, holder));
        if (row.holdMs == 0) {
            ASSERT_TRUE(WaitForFile(temp / L"held.shown", 30000));
        }
        FolderClaim claim;
        const auto start = std::chrono::steady_clock::now();
        const bool claimed = row.waitMs == 0 ? ClaimInstallFolder(temp.path(), claim)
                                             : ClaimInstallFolder(temp.path(), claim, row.waitMs);
        const double waited =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Never two on the folder: handed over to one that is still there, or claimed from one
        // that let go as it ended.
        const bool holderRuns =
            ::WaitForSingleObject(holder.process.get(), row.claimed ? 2000 : 0) == WAIT_TIMEOUT;
        EXPECT_EQ(claimed, row.claimed);
        EXPECT_EQ(HoldsFolder(claim), row.claimed);
        EXPECT_GE(waited, row.atLeast);
        EXPECT_LE(waited, row.atMost);
        EXPECT_EQ(holderRuns, !row.claimed);
        if (!row.claimed && row.waitMs == 0) {
            EXPECT_TRUE(PathExists(temp / L"held.shown")) << "handed over to no window";
        }
        ReleaseFolder(claim);
    }
}
