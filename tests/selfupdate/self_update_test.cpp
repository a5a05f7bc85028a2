#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/exe_location.h"
#include "platform/kernel_handles.h"
#include "support/file_digest.h"
#include "selfupdate/self_update.h"
#include "support/test_files.h"

// ---------------------------------------------------------------------------------------------
// Where the version file is fetched (its format is tested natively)

TEST(LauncherVersionFile, UrlOfTheBuild) {
    const std::wstring url = LauncherVersionUrl();
    const std::wstring tail = L"/pack/launcher_version.txt";
    ASSERT_GT(url.size(), tail.size());
    EXPECT_EQ(url.substr(url.size() - tail.size()), tail);
    EXPECT_EQ(url.rfind(L"http", 0), 0u);
    EXPECT_GE(CurrentLauncherVersion, 1);
}

// ---------------------------------------------------------------------------------------------
// Whole self-updates of real executables

namespace {

std::wstring ProbePath(int version) {
    return ExeDirectory() + L"\\selfupdate_probe_v" + std::to_wstring(version) + L".exe";
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 20000) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

class ScopedEnv {
  public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name) {
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { ::SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const wchar_t* name_;
};

class SelfUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = EnvVar(L"TALVORA_TEST_SERVER");
        root_ = EnvVar(L"TALVORA_TEST_SERVER_ROOT");
        log_ = EnvVar(L"TALVORA_TEST_SERVER_LOG");
        ASSERT_FALSE(server_.empty()) << "run through tests/server/with_server.py";
        ::CreateDirectoryW((root_ + L"\\pack").c_str(), nullptr);
        v1_ = ReadFileBytes(ProbePath(1));
        v2_ = ReadFileBytes(ProbePath(2));
        ASSERT_FALSE(v1_.empty());
        ASSERT_FALSE(v2_.empty());
        ASSERT_NE(v1_, v2_);
        exe_ = install_ / L"Talvora.exe";
        ASSERT_TRUE(WriteFileBytes(exe_, v1_));
        ASSERT_TRUE(WriteFileBytes(root_ + L"\\pack\\Talvora-v2.exe", v2_));
        v2Digest_ = Sha256FileHex(root_ + L"\\pack\\Talvora-v2.exe");
    }

    void Publish(const std::string& versionFile) {
        ASSERT_TRUE(WriteFileBytes(root_ + L"\\pack\\launcher_version.txt", versionFile));
    }
    // `size` > 0 adds the SIZE line that the publisher writes.
    std::string VersionFile(int version, const std::string& digest, const std::string& path,
                            std::uint64_t size = 0) {
        std::string server(server_.begin(), server_.end());
        return "VERSION\t" + std::to_string(version) + "\nSHA256\t" + digest + "\nURL\t" + server +
               path + "\n" + (size > 0 ? "SIZE\t" + std::to_string(size) + "\n" : "");
    }

    // Starts the installed launcher and waits for it and for whatever it started; the seconds
    // until the last run was recorded (where the real launcher would show its window).
    double RunLauncher(size_t expectedRuns) {
        double seconds = -1;
        RunAndWait(expectedRuns, seconds);
        return seconds;
    }

    void RunAndWait(size_t expectedRuns, double& seconds) {
        const auto start = std::chrono::steady_clock::now();
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring command = L"\"" + exe_ + L"\"";
        ASSERT_TRUE(::CreateProcessW(exe_.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                     install_.path().c_str(), &si, &pi));
        UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
        ASSERT_TRUE(WaitFor([&] { return Runs().size() >= expectedRuns * 3; }))
            << "runs so far: " << Runs();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    std::string Runs() const { return ReadFileBytes(install_ / L"probe-runs.txt"); }
    std::string RequestLog() const { return ReadFileBytes(log_); }

    void ExpectUnchanged() {
        EXPECT_TRUE(ReadFileBytes(exe_) == v1_) << "the running launcher must stay in place";
        EXPECT_FALSE(PathExists(exe_ + L".new"));
        EXPECT_FALSE(PathExists(exe_ + L".old"));
        EXPECT_EQ(Runs(), "v1\n");
    }

    TempDir install_;
    std::wstring server_, root_, log_, exe_;
    std::string v1_, v2_, v2Digest_;
};

}  // namespace

TEST_F(SelfUpdate, NewerBuildReplacesTheRunningExecutable) {
    Publish(VersionFile(2, v2Digest_, "/pack/Talvora-v2.exe"));
    {
        ScopedEnv keepOld(L"TALVORA_PROBE_KEEP_OLD", L"1");
        RunLauncher(1);
    }
    EXPECT_EQ(Runs(), "v2\n") << "the old build must hand over without going on itself";
    EXPECT_TRUE(ReadFileBytes(exe_) == v2_) << "the new build must be in place";
    EXPECT_TRUE(ReadFileBytes(exe_ + L".old") == v1_) << "the previous build must wait under .old";
    EXPECT_FALSE(PathExists(exe_ + L".new"));

    // The next start removes the old copy and finds nothing newer than itself.
    RunLauncher(2);
    EXPECT_EQ(Runs(), "v2\nv2\n");
    EXPECT_FALSE(PathExists(exe_ + L".old"));
    EXPECT_TRUE(ReadFileBytes(exe_) == v2_) << "the new build must be in place";
}

// Under Wine a dangling link is invisible, yet a file created at its name lands where it points.
TEST_F(SelfUpdate, DanglingLinkAtTheNewNameIsNotWrittenThrough) {
    TempDir outside;
    const std::wstring target = outside / L"created.dll";
    ASSERT_TRUE(WriteFileBytes(target, ""));
    if (!MakeSymlink(exe_ + L".new", target))
        GTEST_SKIP() << "this system does not let the test make links";
    ASSERT_TRUE(::DeleteFileW(target.c_str()));
    Publish(VersionFile(2, v2Digest_, "/pack/Talvora-v2.exe"));
    EXPECT_FALSE(InstallNewerLauncher(server_ + L"/pack/launcher_version.txt", 1, {}, exe_));
    EXPECT_FALSE(PathExists(target));
    EXPECT_TRUE(ReadFileBytes(exe_) == v1_);
}

TEST_F(SelfUpdate, SameVersionDownloadsNothing) {
    Publish(VersionFile(1, v2Digest_, "/pack/Talvora-v2.exe"));
    RunLauncher(1);
    ExpectUnchanged();
    EXPECT_NE(RequestLog().find("launcher_version.txt"), std::string::npos);
    EXPECT_EQ(RequestLog().find("Talvora-v2.exe"), std::string::npos);
}

TEST_F(SelfUpdate, WrongOrUpperCaseDigestLeavesTheLauncherAlone) {
    Publish(VersionFile(2, std::string(64, '0'), "/pack/Talvora-v2.exe"));
    RunLauncher(1);
    ExpectUnchanged();
    EXPECT_NE(RequestLog().find("Talvora-v2.exe"), std::string::npos);

    std::string upper = v2Digest_;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    Publish(VersionFile(2, upper, "/pack/Talvora-v2.exe"));
    ::DeleteFileW((install_ / L"probe-runs.txt").c_str());
    RunLauncher(1);
    ExpectUnchanged();
}

TEST_F(SelfUpdate, DownloadErrorsLeaveTheLauncherAlone) {
    // A 404 page arrives as a body and fails the digest; a reset fails the download itself.
    for (const char* path : {"/pack/missing.exe", "/fault/reset/pack/Talvora-v2.exe"}) {
        SCOPED_TRACE(path);
        Publish(VersionFile(2, v2Digest_, path));
        ::DeleteFileW((install_ / L"probe-runs.txt").c_str());
        RunLauncher(1);
        ExpectUnchanged();
    }
}

TEST_F(SelfUpdate, UnreachableServerOrInvalidFileLeavesTheLauncherAlone) {
    {
        ScopedEnv url(L"TALVORA_PROBE_VERSION_URL",
                      L"http://127.0.0.1:9/pack/launcher_version.txt");
        RunLauncher(1);
        ExpectUnchanged();
    }
    Publish("VERSION\t2\nSHA256\t" + v2Digest_ + "\n");  // no URL
    ::DeleteFileW((install_ / L"probe-runs.txt").c_str());
    RunLauncher(1);
    ExpectUnchanged();
}

TEST_F(SelfUpdate, BuildThatCannotStartIsRolledBack) {
    // Published with a correct digest, but not a program: the swap must not leave the player
    // with a launcher that does not start.
    const std::string junk = "this is not an executable\n";
    ASSERT_TRUE(WriteFileBytes(root_ + L"\\pack\\broken.exe", junk));
    Publish(VersionFile(2, Sha256FileHex(root_ + L"\\pack\\broken.exe"), "/pack/broken.exe"));
    RunLauncher(1);
    ExpectUnchanged();
}

namespace {

// The new build as the self-update leaves it before the swap: a staging file it made, holding the
// verified bytes.
void StageNewBuild(const std::wstring& exe, const std::string& content, StagingFile& staged) {
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    const std::wstring name = exe.substr(folder.size() + 1);
    ASSERT_EQ(CreateStagingFile(OpenInstallRoot(folder), name + L".new", staged), StepResult::Done);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(staged.handle.get(), content.data(), static_cast<DWORD>(content.size()),
                            &written, nullptr));
}

}  // namespace

TEST(SelfUpdateSwap, SecondMoveFailingPutsTheOldBuildBack) {
    TempDir dir;
    const std::wstring exe = dir / L"Talvora.exe";
    ASSERT_TRUE(WriteFileBytes(exe, "old build"));
    {
        StagingFile staged;
        StageNewBuild(exe, "new build", staged);
        // The staging file is no longer found where it was put: the second move is refused
        // after the first.
        staged.relPath = L"Talvora.exe.moved";
        EXPECT_FALSE(SwapInNewLauncher(exe, staged));
        EXPECT_EQ(ReadFileBytes(exe), "old build");
        EXPECT_FALSE(PathExists(exe + L".old"));
    }
}

TEST(SelfUpdateSwap, FirstMoveFailingRemovesTheNewBuild) {
    TempDir dir;
    const std::wstring exe = dir / L"Talvora.exe";
    ASSERT_TRUE(WriteFileBytes(exe, "old build"));
    {
        StagingFile staged;
        StageNewBuild(exe, "new build", staged);
        UniqueFile holder(::CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(SwapInNewLauncher(exe, staged));
    }
    EXPECT_EQ(ReadFileBytes(exe), "old build");
    EXPECT_FALSE(PathExists(exe + L".new"));
    EXPECT_FALSE(PathExists(exe + L".old"));
}

// The swap went wrong after the launcher's name was taken: under Wine a rename through a handle
// acts on the name the handle was opened under, so a link put there from outside is what moves
// into place. Whatever happens, a plain launcher of either build stays under its own name and
// nothing outside changes.
TEST(SelfUpdateSwap, ALinkMovedIntoTheLauncherNameIsReplacedByTheOldBuild) {
    TempDir dir;
    const std::wstring exe = dir / L"Talvora.exe";
    const std::wstring victim = dir / L"victim.dll";
    ASSERT_TRUE(WriteFileBytes(exe, "old build"));
    ASSERT_TRUE(WriteFileBytes(victim, "system file"));
    {
        StagingFile staged;
        StageNewBuild(exe, "new build", staged);
        if (!RenameAsUnixProcess(exe + L".new", exe + L".held"))
            GTEST_SKIP() << "only a Unix process can move a held file (Wine)";
        ASSERT_TRUE(MakeSymlink(exe + L".new", victim));
        staged.relPath = L"Talvora.exe.held";
        SwapInNewLauncher(exe, staged);
    }
    const std::string launcher = ReadFileBytes(exe);
    EXPECT_TRUE(launcher == "old build" || launcher == "new build") << launcher;
    EXPECT_EQ(ReadFileBytes(victim), "system file");
}

TEST(SelfUpdateSwap, RollBackRestoresThePreviousBuild) {
    TempDir dir;
    const std::wstring exe = dir / L"Talvora.exe";
    ASSERT_TRUE(WriteFileBytes(exe, "new build"));
    ASSERT_TRUE(WriteFileBytes(exe + L".old", "old build"));
    RollBackLauncherSwap(exe);
    EXPECT_EQ(ReadFileBytes(exe), "old build");
    EXPECT_FALSE(PathExists(exe + L".old"));
    EXPECT_FALSE(PathExists(exe + L".new"));
}

// The fault rows of the self-update: the server holds the version file or the new build back,
// or sends a build without end. Start-up goes on without the update within its deadline, with
// the running launcher untouched and no ".new" left behind.
namespace {

class SelfUpdateFaultRow : public SelfUpdate {
  protected:
    void Row(const char* row) {
        const double seconds = RunLauncher(1);
        std::printf("fault row %s: start-up went on after %.1f s\n", row, seconds);
        ExpectUnchanged();
        EXPECT_LT(seconds, 40.0);
    }
};

}  // namespace

TEST_F(SelfUpdateFaultRow, VersionFileAtOneByteEveryFiveSeconds) {
    Publish(VersionFile(2, v2Digest_, "/pack/Talvora-v2.exe"));
    const ScopedEnv url(L"TALVORA_PROBE_VERSION_URL",
                        server_ + L"/fault/trickle/pack/launcher_version.txt");
    Row("version file trickle");
}

TEST_F(SelfUpdateFaultRow, VersionServerAcceptsAndNeverAnswers) {
    Publish(VersionFile(2, v2Digest_, "/pack/Talvora-v2.exe"));
    const ScopedEnv url(L"TALVORA_PROBE_VERSION_URL",
                        server_ + L"/fault/silent/pack/launcher_version.txt");
    Row("version file silent");
}

TEST_F(SelfUpdateFaultRow, NewBuildAtOneByteEveryFiveSeconds) {
    Publish(VersionFile(2, v2Digest_, "/fault/trickle/pack/Talvora-v2.exe"));
    Row("new build trickle");
}

TEST_F(SelfUpdateFaultRow, NewBuildLongerThanPublished) {
    Publish(VersionFile(2, v2Digest_, "/fault/longer/pack/Talvora-v2.exe", v2_.size()));
    Row("new build longer than its SIZE");
}

// Stopped at the published size, or at the built-in cap (or the deadline) without one.
TEST_F(SelfUpdateFaultRow, NewBuildWithoutEnd) {
    Publish(VersionFile(2, v2Digest_, "/fault/endless/x", v2_.size()));
    Row("new build endless, SIZE given");
    Publish(VersionFile(2, v2Digest_, "/fault/endless/x"));
    ::DeleteFileW((install_ / L"probe-runs.txt").c_str());
    Row("new build endless, no SIZE");
}

// The published size is the cap, not a hint: the right build under a SIZE line still installs.
TEST_F(SelfUpdate, PublishedSizeLetsTheRightBuildThrough) {
    Publish(VersionFile(2, v2Digest_, "/pack/Talvora-v2.exe", v2_.size()));
    RunLauncher(1);
    EXPECT_EQ(Runs(), "v2\n");
    EXPECT_TRUE(ReadFileBytes(exe_) == v2_);
}

// A ".old" beside the launcher that is a link must not lead the elevated launcher to delete what
// it points to (under Wine, deleting a link to a file deletes its target).
TEST(SelfUpdateSwap, OldCopyThatIsALinkIsLeftAlone) {
    TempDir dir;
    const std::wstring exe = dir / L"Talvora.exe";
    const std::wstring victim = dir / L"victim.dll";
    ASSERT_TRUE(WriteFileBytes(exe, "launcher"));
    ASSERT_TRUE(WriteFileBytes(victim, "system file"));
    if (!MakeSymlink(exe + L".old", victim))
        GTEST_SKIP() << "this system does not let the test make links";
    RemoveOldLauncherCopy(exe);
    EXPECT_EQ(ReadFileBytes(victim), "system file");
    EXPECT_EQ(ReadFileBytes(exe), "launcher");
}

// The copy a self-update left behind goes at the next start, and only that copy: without a known
// path the name would be ".old" in whatever folder the launcher was started from.
TEST(SelfUpdateSwap, OldCopyGoesBesideTheExecutableNeverInTheCurrentFolder) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"Talvora.exe.old", "previous launcher"));
    ASSERT_TRUE(WriteFileBytes(dir / L".old", "a player's file"));
    wchar_t previous[MAX_PATH] = {};
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));

    RemoveOldLauncherCopy(L"");
    const bool keptInCurrentFolder = PathExists(dir / L".old");
    RemoveOldLauncherCopy(dir / L"Talvora.exe");
    ::SetCurrentDirectoryW(previous);

    EXPECT_TRUE(keptInCurrentFolder);
    EXPECT_FALSE(PathExists(dir / L"Talvora.exe.old"));
    EXPECT_TRUE(PathExists(dir / L".old"));
}
