#include "patch/patch_run.h"

TEST_F(PatchRun, AllUpToDateWritesNothing) {
    const std::string a = PatternBytes(70000, 1), b = PatternBytes(3000, 2);
    ServeManifest(Publish("velkaro.exe", a) + Publish("data\\b.pak", b) +
                  Publish("data/sub/c.pak", "") + Publish("cfg.ini", "x", "\tIFMISSING"));
    Install("velkaro.exe", a);
    Install("data\\b.pak", b);
    Install("data\\sub\\c.pak", "");
    Install("cfg.ini", "user settings");
    const std::vector<std::wstring> before = ListTree(install);

    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_EQ(status.overallProgress.load(), 1.0);
    EXPECT_EQ(status.fileProgress.load(), 0.0);
    EXPECT_EQ(ListTree(install), before);
    EXPECT_EQ(ReadFileBytes(Local("cfg.ini")), "user settings");
    EXPECT_TRUE(FileRequests().empty());
    ExpectLinesInOrder({L"Készen áll.", kChecking, kUpToDate});
}

// Missing, resized and changed-at-the-right-size files are fetched in manifest order; an identical
// one is left alone.
TEST_F(PatchRun, MissingResizedAndChangedFilesAreReplaced) {
    const std::string a = PatternBytes(50000, 3), b = PatternBytes(60000, 4),
                      c = PatternBytes(200000, 5), d = PatternBytes(70000, 6);
    ServeManifest(Publish("a.bin", a) + Publish("b.bin", b) + Publish("data/c.pak", c) +
                  Publish("d.bin", d));
    Install("b.bin", b + "longer");
    std::string changed = c;
    changed[123456] ^= 0x20;
    Install("data/c.pak", changed);
    Install("d.bin", d);

    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.bin")) == a);
    EXPECT_TRUE(ReadFileBytes(Local("b.bin")) == b);
    EXPECT_TRUE(ReadFileBytes(Local("data/c.pak")) == c);
    EXPECT_FALSE(PathExists(Local("data/c.pak.part")));
    EXPECT_EQ(status.overallProgress.load(), 1.0);
    EXPECT_EQ(status.fileProgress.load(), 1.0);
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, Files("a.bin"));
    EXPECT_EQ(requests[1].path, Files("b.bin"));
    EXPECT_EQ(requests[2].path, Files("data/c.pak"));
    ExpectLinesInOrder({L"Készen áll.", kChecking, L"Letöltés (1/3): a.bin",
                        L"Letöltés (2/3): b.bin", L"Letöltés (3/3): data/c.pak", kUpdated});
    double last = 0.0;
    for (const Sample& s : samples) {
        EXPECT_GE(s.overall, last);
        last = s.overall;
    }
}

TEST_F(PatchRun, IfMissingEntriesAreOnlyFetchedWhenAbsent) {
    const std::string fresh = PatternBytes(1000, 8);
    ServeManifest(Publish("cfg.ini", "server default", "\tIFMISSING") +
                  Publish("saves", "server file", "\tIFMISSING\textra") +
                  Publish("new.ini", fresh, "\tIFMISSING"));
    Install("cfg.ini", "user's own, other size and digest");
    ASSERT_TRUE(::CreateDirectoryW(Local("saves").c_str(), nullptr));

    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("new.ini")) == fresh);
    Run(true);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);

    EXPECT_EQ(ReadFileBytes(Local("cfg.ini")), "user's own, other size and digest");
    EXPECT_TRUE(::GetFileAttributesW(Local("saves").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, Files("new.ini"));
}

TEST_F(PatchRun, FullCheckFetchesEveryOrdinaryEntryAgain) {
    const std::string a = PatternBytes(40000, 9), b = PatternBytes(50000, 10);
    ServeManifest(Publish("a.pak", a) + Publish("d/b.pak", b) +
                  Publish("cfg.ini", "default", "\tIFMISSING"));
    Install("a.pak", a);
    Install("d/b.pak", b);
    Install("cfg.ini", "mine");

    Run(true);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(status.fullCheck.load());
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, Files("a.pak"));
    EXPECT_EQ(requests[1].path, Files("d/b.pak"));
    EXPECT_EQ(ReadFileBytes(Local("cfg.ini")), "mine");
    EXPECT_TRUE(ReadFileBytes(Local("d/b.pak")) == b);
    ExpectLinesInOrder({L"Készen áll.", kChecking, L"Letöltés (1/2): a.pak",
                        L"Letöltés (2/2): d/b.pak", kUpdated});
}

TEST_F(PatchRun, UpperCaseDigestIsACorruptDownload) {
    const std::string a = PatternBytes(10000, 11);
    std::string digest = Sha256Hex(a);
    for (char& c : digest)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    Publish("a.pak", a);
    ServeManifest("a.pak\t10000\t" + digest + "\n");
    Install("a.pak", a);  // identical content, but the digest never matches

    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kCorrupt) + L"a.pak");
    EXPECT_FALSE(PathExists(Local("a.pak.part")));
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == a);
}

TEST_F(PatchRun, ManifestWithoutBaseIsADownloadError) {
    ServeManifest(Publish("data/a.pak", "abc"), kNoBase);
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"data/a.pak");
    EXPECT_FALSE(PathExists(Local("data/a.pak.part")));
    EXPECT_FALSE(PathExists(Local("data/a.pak")));
}

TEST_F(PatchRun, ErrorPageForAFileIsACorruptDownload) {
    // Listed (with room for the page) but not published.
    ServeManifest("a.pak\t100000\t" + Sha256Hex("hello") + "\n");
    Install("a.pak", "old!!");
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kCorrupt) + L"a.pak");
    EXPECT_FALSE(PathExists(Local("a.pak.part")));
    EXPECT_EQ(ReadFileBytes(Local("a.pak")), "old!!");
    EXPECT_EQ(FileRequests().size(), 1u);
}

TEST_F(PatchRun, TransferCutShortIsADownloadError) {
    ServeManifest(Publish("a.pak", PatternBytes(100000, 12)), "/fault/cut");
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"a.pak");
    EXPECT_FALSE(PathExists(Local("a.pak.part")));
    EXPECT_FALSE(PathExists(Local("a.pak")));
}

TEST_F(PatchRun, SecondOfThreeFailsFirstStaysThirdUntouched) {
    const std::string a = PatternBytes(30000, 13), c = PatternBytes(30000, 14);
    ServeManifest(Publish("a.pak", a) + "b.pak\t100000\t" + Sha256Hex("b") + "\n" +
                  Publish("c.pak", c));
    Install("c.pak", "old third");

    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kCorrupt) + L"b.pak");
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == a);
    EXPECT_FALSE(PathExists(Local("b.pak")));
    EXPECT_FALSE(PathExists(Local("b.pak.part")));
    EXPECT_EQ(ReadFileBytes(Local("c.pak")), "old third");
    EXPECT_TRUE(LoggedRequestsFor(Files("c.pak")).empty());
    ExpectLinesInOrder({L"Készen áll.", kChecking, L"Letöltés (1/3): a.pak",
                        L"Letöltés (2/3): b.pak", std::wstring(kCorrupt) + L"b.pak"});
}

TEST_F(PatchRun, StopDuringASlowDownload) {
    // Dripped at about 200 KiB/s, so the stop arrives long before the end.
    ServeManifest(Publish("big.pak", PatternBytes(3 << 20, 15)), "/fault/drip");
    Install("big.pak", "previous version");
    StartPatchRun(status, false);
    StartWatching();
    ASSERT_TRUE(WaitFor([&] { return status.fileProgress.load() > 0.0 || !status.busy.load(); }));
    EXPECT_EQ(ReadStatusText(status), L"Letöltés (1/1): big.pak");
    EXPECT_EQ(status.phase.load(), PatchPhase::Downloading);
    EXPECT_TRUE(PathExists(Local("big.pak.part")));
    status.stopRequested.store(true);
    WaitIdle();
    ExpectEnd(PatchPhase::Idle, kCancelled);
    EXPECT_FALSE(PathExists(Local("big.pak.part")));
    EXPECT_EQ(ReadFileBytes(Local("big.pak")), "previous version");
    EXPECT_LT(status.overallProgress.load(), 0.5);
}

TEST_F(PatchRun, StopBeforeTheCheckPassEndsCancelled) {
    // The stop must come after the start and before the worker reaches the entries: a slowly
    // dripped manifest keeps it in that window.
    ServeManifest(Publish("a.pak", "a") + std::string(200000, '#'));
    status.manifestUrl = ManifestAt("/fault/drip");
    StartPatchRun(status, false);
    ASSERT_TRUE(WaitFor([&] { return status.phase.load() == PatchPhase::Checking; }));
    status.stopRequested.store(true);
    StartWatching();
    WaitIdle();
    ExpectEnd(PatchPhase::Idle, kCancelled);
    EXPECT_FALSE(PathExists(Local("a.pak")));
    EXPECT_TRUE(FileRequests().empty());
}

// A stop during verification lets that file be verified and installed, and is honoured before the
// next download.
TEST_F(PatchRun, StopWhileVerifyingEndsBeforeTheNextDownload) {
    const std::string big = PatternBytes(48 << 20, 24);
    ServeManifest(Publish("big.pak", big) + Publish("next.pak", "next"));
    StartPatchRun(status, false);
    // The digest is taken while the file is written, so verifying is brief; the file is flushed
    // and moved into place after it. A stop anywhere there waits for the next file.
    const auto fetched = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return ::GetFileAttributesExW(Local("big.pak.part").c_str(), GetFileExInfoStandard,
                                      &data) &&
               data.nFileSizeLow == big.size();
    };
    ASSERT_TRUE(WaitFor([&] {
        return status.phase.load() == PatchPhase::Verifying || fetched() || !status.busy.load();
    }));
    status.stopRequested.store(true);
    StartWatching();
    WaitIdle();
    ExpectEnd(PatchPhase::Idle, kCancelled);
    EXPECT_TRUE(ReadFileBytes(Local("big.pak")) == big);
    EXPECT_FALSE(PathExists(Local("big.pak.part")));
    EXPECT_FALSE(PathExists(Local("next.pak")));
    EXPECT_TRUE(LoggedRequestsFor(Files("next.pak")).empty());
}

TEST_F(PatchRun, SlashAndBackslashPathsMakeTheSameFolders) {
    const std::string a = PatternBytes(1000, 16), b = PatternBytes(2000, 17);
    ServeManifest(Publish("adat/térkép/a.pak", a) + Publish("mods\\deep\\b.pak", b));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(::GetFileAttributesW((install + L"\\adat\\térkép").c_str()) &
                FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(ReadFileBytes(install + L"\\adat\\térkép\\a.pak") == a);
    EXPECT_TRUE(ReadFileBytes(install + L"\\mods\\deep\\b.pak") == b);
    // The path reaches the URL and the status line as written.
    EXPECT_EQ(LoggedRequestsFor(Files("adat/")).size(), 1u);
    ExpectLinesInOrder({L"Készen áll.", kChecking, L"Letöltés (1/2): adat/térkép/a.pak",
                        L"Letöltés (2/2): mods\\deep\\b.pak", kUpdated});
}

TEST_F(PatchRun, EveryUnsafePathIsRefusedBeforeAnythingIsWritten) {
    const std::vector<std::string> unsafe = {"",
                                             "/",
                                             "C:\\evil.dll",
                                             "C:evil.dll",
                                             "a.pak:ads",
                                             "..\\evil.dll",
                                             "../evil.dll",
                                             "data/../../evil.dll",
                                             "data\\..",
                                             "\\\\?\\C:\\evil",
                                             "data/.. /evil.dll",
                                             "data\\LPT1.pak",
                                             "data\\COM\xC2\xB9.pak"};
    for (const std::string& bad : unsafe) {
        SCOPED_TRACE(bad);
        // A missing safe entry first: it would be fetched if the refusal came late.
        ServeManifest(Publish("good.pak", "good") + bad + "\t4\t" + Sha256Hex("evil") + "\n");
        Run(false);
        ExpectEnd(PatchPhase::Failed, kBadPath + Wide(bad));
        EXPECT_TRUE(ListTree(install).empty());
        EXPECT_EQ(ListTree(temp.path()), std::vector<std::wstring>{L"install\\"});
        EXPECT_TRUE(FileRequests().empty());
    }
}

TEST_F(PatchRun, LeadingSeparatorsAndStepsUpThatStayInsideAreInstalledInside) {
    const std::string a = PatternBytes(1000, 30), b = PatternBytes(1500, 31),
                      c = PatternBytes(500, 32);
    ServeManifest(Publish("deep/c.pak", c) + Publish("/lead.pak", a) +
                  Publish("deep\\..\\up.pak", b));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(install + L"\\lead.pak") == a);
    EXPECT_TRUE(ReadFileBytes(install + L"\\up.pak") == b);
    EXPECT_TRUE(ReadFileBytes(install + L"\\deep\\c.pak") == c);
    EXPECT_EQ(ListTree(install),
              (std::vector<std::wstring>{L"deep\\", L"deep\\c.pak", L"lead.pak", L"up.pak"}));
    // The URL and the status line keep the path as written.
    EXPECT_EQ(LoggedRequestsFor(Files("/lead.pak")).size(), 1u);
    ExpectLinesInOrder({L"Készen áll.", kChecking, L"Letöltés (1/3): deep/c.pak",
                        L"Letöltés (2/3): /lead.pak", L"Letöltés (3/3): deep\\..\\up.pak",
                        kUpdated});
}

// Another process holds the installed file open without sharing, as a running game does.
class FileHolder {
  public:
    explicit FileHolder(const std::wstring& path) {
        const std::wstring prefix =
            L"Local\\talvora-hold-" + std::to_wstring(::GetCurrentProcessId());
        held_.reset(::CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-held").c_str()));
        release_.reset(::CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-release").c_str()));
        std::wstring command =
            L"\"" + ExeDirectory() + L"\\hold_file.exe\" \"" + path + L"\" \"" + prefix + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info)) {
            process_.reset(info.hProcess);
            UniqueKernelHandle thread(info.hThread);
            HANDLE waits[2] = {held_.get(), process_.get()};
            holding_ = ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
        }
    }
    ~FileHolder() {
        ::SetEvent(release_.get());
        if (process_)
            ::WaitForSingleObject(process_.get(), 30000);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool holding() const { return holding_; }

  private:
    UniqueKernelHandle held_, release_, process_;
    bool holding_ = false;
};

TEST_F(PatchRun, TargetHeldOpenByAnotherProcessCannotBeInstalled) {
    const std::string fresh = PatternBytes(20000, 18);
    ServeManifest(Publish("velkaro.exe", fresh));
    Install("velkaro.exe", "running game");
    {
        FileHolder holder(Local("velkaro.exe"));
        ASSERT_TRUE(holder.holding());
        Run(false);
    }
    ExpectEnd(PatchPhase::Failed, std::wstring(kInstallFailed) + L"velkaro.exe");
    EXPECT_EQ(ReadFileBytes(Local("velkaro.exe")), "running game");
    EXPECT_FALSE(PathExists(Local("velkaro.exe.part")));
    EXPECT_EQ(FileRequests().size(), 1u);

    // Once the game has let go, the next run installs it.
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("velkaro.exe")) == fresh);
}

// A read-only file from an old installer must not block every future update. (Windows refuses to
// replace it unless the attribute is cleared first; Wine replaces it either way.)
TEST_F(PatchRun, ReadOnlyTargetIsReplaced) {
    const std::string fresh = PatternBytes(9000, 19);
    ServeManifest(Publish("data.pak", fresh));
    Install("data.pak", "old read-only content");
    ASSERT_TRUE(::SetFileAttributesW(Local("data.pak").c_str(), FILE_ATTRIBUTE_READONLY));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("data.pak")) == fresh);
    EXPECT_FALSE(PathExists(Local("data.pak.part")));
}

// The attribute is cleared only for the replacement: a target that stays (held open by the game)
// keeps it.
TEST_F(PatchRun, ReadOnlyTargetKeepsItsAttributeWhenTheInstallFails) {
    ServeManifest(Publish("velkaro.exe", PatternBytes(5000, 21)));
    Install("velkaro.exe", "running read-only game");
    ASSERT_TRUE(::SetFileAttributesW(Local("velkaro.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    {
        FileHolder holder(Local("velkaro.exe"));
        ASSERT_TRUE(holder.holding());
        Run(false);
    }
    ExpectEnd(PatchPhase::Failed, std::wstring(kInstallFailed) + L"velkaro.exe");
    EXPECT_EQ(ReadFileBytes(Local("velkaro.exe")), "running read-only game");
    const DWORD attributes = ::GetFileAttributesW(Local("velkaro.exe").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(PatchRun, ZeroTotalBytesJumpsToOneAfterEachFile) {
    // Two empty files, missing, so they are fetched, and the run total is 0. (A body longer than
    // its listed size is a download error: see the fault rows.)
    Publish("a.pak", "");
    Publish("b.pak", "");
    ServeManifest("a.pak\t0\t" + Sha256Hex("") + "\nb.pak\t0\t" + Sha256Hex("") + "\n");
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(status.overallProgress.load(), 1.0);
    for (const Sample& s : samples)
        EXPECT_TRUE(s.overall == 0.0 || s.overall == 1.0) << s.overall;
    EXPECT_TRUE(PathExists(Local("b.pak")));
    EXPECT_EQ(ReadFileBytes(Local("b.pak")), "");
}

TEST_F(PatchRun, ManifestFailures) {
    status.manifestUrl = L"http://127.0.0.1:1/pack/patch_manifest.txt";
    Run(false);
    ExpectEnd(PatchPhase::Failed, kUnreachable);

    status.manifestUrl = ManifestAt();  // not published yet: a 404 page
    Run(false);
    ExpectEnd(PatchPhase::Failed, kBadList);

    // A manifest cut short by the server is never parsed, even though its first lines are whole.
    ServeManifest(Publish("a.pak", "a") + std::string(100000, '#'));
    status.manifestUrl = ManifestAt("/fault/cut");
    Run(false);
    ExpectEnd(PatchPhase::Failed, kUnreachable);
    EXPECT_TRUE(ListTree(install).empty());
    EXPECT_TRUE(FileRequests().empty());
}

TEST_F(PatchRun, StartWhileBusyIsIgnored) {
    ServeManifest(Publish("big.pak", PatternBytes(1 << 20, 21)), "/fault/drip");
    StartPatchRun(status, false);
    StartWatching();
    ASSERT_TRUE(WaitFor([&] { return status.fileProgress.load() > 0.0 || !status.busy.load(); }));
    ASSERT_TRUE(status.busy.load());
    const std::thread::id running = status.workerThread.get_id();
    StartPatchRun(status, true);
    EXPECT_FALSE(status.fullCheck.load());
    EXPECT_EQ(status.workerThread.get_id(), running);
    WaitIdle();
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(FileRequests().size(), 1u);
}

TEST_F(PatchRun, SecondRunAfterAStoppedOneJoinsAndRestarts) {
    const std::string a = PatternBytes(1 << 20, 22);
    ServeManifest(Publish("a.pak", a), "/fault/drip");
    StartPatchRun(status, false);
    ASSERT_TRUE(WaitFor([&] { return status.fileProgress.load() > 0.0 || !status.busy.load(); }));
    status.stopRequested.store(true);
    WaitIdle();
    ExpectEnd(PatchPhase::Idle, kCancelled);
    const double stoppedAt = status.fileProgress.load();
    EXPECT_GT(stoppedAt, 0.0);
    EXPECT_LT(stoppedAt, 1.0);

    // The new run clears the stop flag and takes the full-check mode.
    ServeManifest(Publish("a.pak", a));
    StartPatchRun(status, true);
    EXPECT_FALSE(status.stopRequested.load());
    EXPECT_TRUE(status.fullCheck.load());
    StartWatching();
    WaitIdle();
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == a);
    ExpectLinesInOrder({kCancelled, kChecking, L"Letöltés (1/1): a.pak", kUpdated});
}

TEST_F(PatchRun, FileProgressIsKeptAcrossRuns) {
    const std::string a = PatternBytes(100000, 23);
    ServeManifest(Publish("a.pak", a), "/fault/chunked");
    status.fileProgress.store(0.25);
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(status.fileProgress.load(), 0.0);  // no Content-Length: every report was 0.0

    ServeManifest(Publish("a.pak", a));
    Run(true);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(status.fileProgress.load(), 1.0);

    status.fileProgress.store(0.625);
    Run(false);  // up to date: no download reports anything
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_EQ(status.fileProgress.load(), 0.625);
}

// The fault matrix: one hostile server per row. A row's run is left alone to see what the player
// is shown and when; for a server that holds the run, a copy on another folder is stopped three
// seconds in, as closing the window stops it, to see how long the stop takes. Nothing may be
// half-installed either way. The figures are printed; the bounds are generous.
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class FaultRow : public PatchRun {
  protected:
    // `prepare` fills an installation folder before its run.
    template <typename Prepare>
    void RunRow(const char* row, Prepare prepare, bool holdsTheRun) {
        const std::wstring stoppedDir = temp / L"stopped";
        ASSERT_TRUE(::CreateDirectoryW(stoppedDir.c_str(), nullptr));
        prepare(install);
        prepare(stoppedDir);
        const std::vector<std::wstring> before = ListTree(install);
        PatchStatus stopped;
        stopped.installDir = stoppedDir;
        stopped.manifestUrl = status.manifestUrl;
        stopped.updateKeys = status.updateKeys;

        const auto start = std::chrono::steady_clock::now();
        StartPatchRun(status, false);
        double secondsToStop = -1;
        if (holdsTheRun) {
            StartPatchRun(stopped, false);
            std::this_thread::sleep_for(3s);
            EXPECT_TRUE(stopped.busy.load()) << "the server did not hold the run";
            const auto stopAt = std::chrono::steady_clock::now();
            stopped.stopRequested.store(true);
            stopped.workerThread.join();
            secondsToStop = SecondsSince(stopAt);
            EXPECT_EQ(stopped.phase.load(), PatchPhase::Idle);
            EXPECT_EQ(ReadStatusText(stopped), kCancelled);
            EXPECT_EQ(ListTree(stoppedDir), before) << "the stop left something behind";
            EXPECT_LT(secondsToStop, 2.0);
        }
        WaitIdle();
        secondsToEnd = SecondsSince(start);
        std::printf("fault row %s: \"%s\" after %.1f s; stop to end %.2f s\n", row,
                    Narrow(ReadStatusText(status)).c_str(), secondsToEnd, secondsToStop);
        EXPECT_EQ(ListTree(install), before) << "the failed run left something behind";
        EXPECT_LT(secondsToEnd, 60.0);
    }

    double secondsToEnd = 0;
};

}  // namespace

// The body runs past the size the manifest gives (announced so, or without end): a download
// error as soon as it does, and the old file stays.
TEST_F(FaultRow, FileLongerThanItsManifestSize) {
    ServeManifest(Publish("a.pak", PatternBytes(300000, 30)), "/fault/longer");
    RunRow(
        "file longer than its size",
        [](const std::wstring& dir) { WriteFileBytes(dir + L"\\a.pak", "old"); }, false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"a.pak");
    EXPECT_EQ(ReadFileBytes(Local("a.pak")), "old");
    EXPECT_LT(secondsToEnd, 15.0);
}

TEST_F(FaultRow, FileWithAnEndlessBody) {
    ServeManifest(Publish("a.pak", PatternBytes(300000, 31)), "/fault/endless");
    RunRow(
        "endless file", [](const std::wstring& dir) { WriteFileBytes(dir + L"\\a.pak", "old"); },
        false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"a.pak");
    EXPECT_EQ(ReadFileBytes(Local("a.pak")), "old");
    EXPECT_LT(secondsToEnd, 15.0);
}

TEST_F(FaultRow, FileAtOneByteEveryFiveSeconds) {
    ServeManifest(Publish("a.pak", PatternBytes(300000, 32)), "/fault/trickle");
    RunRow(
        "file trickle", [](const std::wstring& dir) { WriteFileBytes(dir + L"\\a.pak", "old"); },
        true);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"a.pak");
    EXPECT_EQ(ReadFileBytes(Local("a.pak")), "old");
}

TEST_F(FaultRow, ManifestAtOneByteEveryFiveSeconds) {
    ServeManifest(Publish("a.pak", PatternBytes(1000, 33)));
    status.manifestUrl = ManifestAt("/fault/trickle");
    RunRow(
        "manifest trickle", [](const std::wstring&) {}, true);
    ExpectEnd(PatchPhase::Failed, kUnreachable);
    EXPECT_TRUE(FileRequests().empty());
}

// With keys built in, the manifest's signature is one more fetch that a stop must not wait for.
TEST_F(FaultRow, ManifestSignatureAtOneByteEveryFiveSeconds) {
    ServeManifest(Publish("a.pak", PatternBytes(1000, 35)));
    ASSERT_TRUE(ServeFile(Wide(ns + "/pack/patch_manifest.txt.sig"), std::string(200, 's')));
    ASSERT_TRUE(ServeFile(Wide(ns + "/pack/patch_manifest.txt.sig.fault"), "trickle"));
    status.updateKeys = {"a key: the signature never arrives to be checked"};
    RunRow(
        "manifest signature trickle", [](const std::wstring&) {}, true);
    ExpectEnd(PatchPhase::Failed, L"A frissítési lista hitelesítése sikertelen.");
    EXPECT_TRUE(FileRequests().empty());
}

// A signature is at most 72 bytes: a longer answer is dropped at once, not read to its end.
TEST_F(FaultRow, ManifestSignatureLongerThanAnySignature) {
    ServeManifest(Publish("a.pak", PatternBytes(1000, 36)));
    ASSERT_TRUE(ServeFile(Wide(ns + "/pack/patch_manifest.txt.sig"), PatternBytes(1400000, 37)));
    ASSERT_TRUE(ServeFile(Wide(ns + "/pack/patch_manifest.txt.sig.fault"), "live"));
    status.updateKeys = {"a key: the signature is refused before it is checked"};
    RunRow(
        "manifest signature of 1.4 MB at 50 KB/s", [](const std::wstring&) {}, false);
    ExpectEnd(PatchPhase::Failed, L"A frissítési lista hitelesítése sikertelen.");
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_LT(secondsToEnd, 10.0) << "the signature was read far past any signature's size";
}

// A list that arrives fast enough for the speed floor but never ends in time: the run gives up
// at the list's deadline as if the server could not be reached.
TEST_F(FaultRow, ManifestSlowerThanItsDeadline) {
    std::string padding;
    while (padding.size() < 1400000)
        padding += "# " + std::string(97, 'x') + "\n";
    ServeManifest(padding + Publish("a.pak", PatternBytes(1000, 38)));
    status.manifestUrl = ManifestAt("/fault/live");
    status.listDeadline = 2s;
    RunRow(
        "manifest of 1.4 MB at 50 KB/s, 2 s deadline", [](const std::wstring&) {}, false);
    ExpectEnd(PatchPhase::Failed, kUnreachable);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_LT(secondsToEnd, 10.0) << "the deadline did not end the fetch";
}

TEST_F(FaultRow, ManifestServerAcceptsAndNeverAnswers) {
    ServeManifest(Publish("a.pak", PatternBytes(1000, 34)));
    status.manifestUrl = ManifestAt("/fault/silent");
    RunRow(
        "manifest silent", [](const std::wstring&) {}, true);
    ExpectEnd(PatchPhase::Failed, kUnreachable);
    EXPECT_TRUE(FileRequests().empty());
}

// Two entries that would meet on disk (one file listed twice, or one entry's staging file being
// another entry or its folder) can never all end up in place: the list is refused before anything
// is written or fetched.
TEST_F(PatchRun, CollidingEntriesAreRefusedBeforeAnythingIsWritten) {
    const std::vector<std::vector<std::string>> collisions = {
        {"foo", "foo.part"},          {"data/A.pak", "DATA\\a.pak"}, {"x.pak", "X.PAK.part"},
        {"térkép.pak", "TÉRKÉP.pak"}, {"same.pak", "./same.pak."},   {"maps", "maps/start.map"},
        {"cfg.ini", "cfg.ini.part/x"}};
    for (const auto& pair : collisions) {
        SCOPED_TRACE(pair[0] + " / " + pair[1]);
        RemoveTree(install);
        ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
        // Both entries in place where they can be: what a run writes for one destroys the other.
        Install(pair[0], "old");
        CreateParentDirectories(Local(pair[1]));
        WriteFileBytes(Local(pair[1]), "old");
        ServeManifest(pair[0] + "\t11\t" + Sha256Hex("new content") + "\n" + pair[1] + "\t3\t" +
                      Sha256Hex("old") + "\n");
        const std::vector<std::wstring> before = ListTree(install);
        Run(false);
        ExpectEnd(PatchPhase::Failed, kBadList);
        EXPECT_EQ(ListTree(install), before);
        EXPECT_EQ(ReadFileBytes(Local(pair[0])), "old");
        EXPECT_TRUE(FileRequests().empty());
    }
}

// A killed run leaves staging files behind; the next run removes those of listed entries and
// nothing else.
// Found name by name, or with the quick check by the listings of the check pass.
TEST_F(PatchRun, LeftoverStagingFilesOfListedEntriesAreRemoved) {
    const std::string a = PatternBytes(5000, 25);
    ServeManifest(Publish("a.pak", a) + Publish("data/b.pak", "b"));
    for (bool quick : {false, true}) {
        SCOPED_TRACE(quick ? "quick check" : "default build");
        status.quickCheck = quick;
        Install("a.pak", a);
        Install("data/b.pak", "b");
        Install("a.pak.part", "half of a");
        Install("data/B.PAK.part", "half of b");
        Install("other.pak.part", "not ours to judge");
        Run(false);
        ExpectEnd(PatchPhase::UpToDate, kUpToDate);
        std::vector<std::wstring> left = ListTree(install);
        std::sort(left.begin(), left.end());
        std::vector<std::wstring> expected = {L"a.pak", L"data\\", L"data\\b.pak",
                                              L"other.pak.part"};
        if (quick)
            expected.push_back(L"talvora.verified");
        EXPECT_EQ(left, expected);
    }
}

// Links planted below the installation that lead elsewhere (as junctions do on Windows; here real
// Unix links). Nothing may be written, moved or deleted through them.
TEST_F(PatchRun, LinksBelowTheInstallationAreNeverWrittenThrough) {
    const std::wstring outside = temp / L"outside";
    struct Case {
        const char* name;
        std::wstring link;    // below the installation
        std::wstring target;  // below `outside`
        bool targetIsFolder;
        std::string entry;  // listed and missing
    };
    const std::vector<Case> cases = {
        {"folder link", L"data", L"", true, "data/engine.dll"},
        {"link to a folder further down", L"mods", L"deep", true, "mods/x/engine.dll"},
        {"staging file linked to a file", L"cfg.pak.part", L"victim.dll", false, "cfg.pak"},
        {"dangling staging link", L"new.pak.part", L"created.dll", false, "new.pak"},
        {"installed file linked to a file", L"game.dll", L"victim.dll", false, "game.dll"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(install);
        RemoveTree(outside);
        ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((outside + L"\\deep").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(outside + L"\\victim.dll", "system file"));
        ASSERT_TRUE(WriteFileBytes(outside + L"\\engine.dll.part", "someone's file"));
        const std::wstring target = c.target.empty() ? outside : outside + L"\\" + c.target;
        const bool dangling = !PathExists(target);
        if (dangling) {
            ASSERT_TRUE(WriteFileBytes(target, ""));
        }
        if (!MakeSymlink(install + L"\\" + c.link, target))
            GTEST_SKIP() << "this system does not let the test make links";
        if (dangling) {
            ASSERT_TRUE(::DeleteFileW(target.c_str()));
        }
        const std::vector<std::wstring> before = ListTree(outside);

        ServeManifest(Publish("first.pak", "fine") + Publish(c.entry, "payload"));
        Run(false);
        ExpectEnd(PatchPhase::Failed, kBadPath + Wide(c.entry));
        EXPECT_EQ(ListTree(outside), before);
        EXPECT_EQ(ReadFileBytes(outside + L"\\victim.dll"), "system file");
        EXPECT_EQ(ReadFileBytes(outside + L"\\engine.dll.part"), "someone's file");
        EXPECT_EQ(ReadFileBytes(Local("first.pak")), "fine");  // the run got as far as the link
    }
    RemoveTree(install);
}

// Hundreds of files of mixed sizes, one much larger than the rest: the parallel check pass queues
// exactly the missing, resized and changed ones, and they are fetched in manifest order.
TEST_F(PatchRun, ManyMixedFilesAreFetchedInManifestOrder) {
    std::string lines;
    std::vector<std::string> expected;
    for (int i = 0; i < 120; ++i) {
        const std::string rel = "data/" + std::to_string(i % 7) + "/f" + std::to_string(i);
        const std::string content =
            PatternBytes(i == 100 ? 6u << 20 : static_cast<std::uint64_t>(i % 37) * 2777, i);
        const bool ifMissing = i % 11 == 3;
        lines += Publish(rel, content, ifMissing ? "\tIFMISSING" : "");
        if (ifMissing) {
            if (i % 2 == 0)
                Install(rel, "the player's own");  // present: kept whatever it holds
            else
                expected.push_back(rel);
            continue;
        }
        std::string local = content;
        if (i == 100) {
            local.back() ^= 0x01;  // the largest file, changed in its last byte
        } else if (i % 5 == 1) {
            local += "+";
        } else if (i % 13 == 2 && !local.empty()) {
            local[local.size() / 3] ^= 0x40;
        } else if (i % 17 == 4) {
            expected.push_back(rel);  // missing
            continue;
        }
        if (local != content)
            expected.push_back(rel);
        Install(rel, local);
    }
    ServeManifest(lines);

    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    std::vector<std::string> fetched;
    for (const LoggedRequest& request : FileRequests())
        fetched.push_back(request.path);
    std::vector<std::string> expectedPaths;
    for (const std::string& rel : expected)
        expectedPaths.push_back(Files(rel));
    EXPECT_EQ(fetched, expectedPaths);
    std::vector<std::wstring> shown = {L"Készen áll.", kChecking};
    for (size_t n = 0; n < expected.size(); ++n) {
        shown.push_back(DownloadStatusLine(static_cast<int>(n + 1),
                                           static_cast<int>(expected.size()), Wide(expected[n])));
    }
    shown.push_back(kUpdated);
    ExpectLinesInOrder(shown);

    // Everything now matches, the large file included.
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_EQ(FileRequests().size(), expected.size());
}

// Files large enough that hashing them takes many seconds: a stop while every thread is inside a
// file ends the run at once.
TEST_F(PatchRun, StopDuringAParallelCheckPassEndsQuickly) {
    std::string lines;
    for (int i = 0; i < 4; ++i) {
        const std::string rel = "big" + std::to_string(i) + ".pak";
        ASSERT_TRUE(WriteZeroFile(Local(rel), 1u << 30));
        lines += rel + "\t1073741824\t" + std::string(64, '0') + "\n";
    }
    ServeManifest(lines);
    StartPatchRun(status, false);
    ASSERT_TRUE(WaitFor([&] { return status.phase.load() == PatchPhase::Checking; }));
    std::this_thread::sleep_for(700ms);  // manifest fetched, every thread inside a file
    ASSERT_TRUE(status.busy.load());
    const auto stoppedAt = std::chrono::steady_clock::now();
    status.stopRequested.store(true);
    StartWatching();
    WaitIdle();
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 2s);
    ExpectEnd(PatchPhase::Idle, kCancelled);
    ExpectLinesInOrder({kChecking, kCancelled});
    EXPECT_TRUE(FileRequests().empty());
}

namespace {

// The index the publisher would write for `content`; SHA-256 digests come from the tests' own.
std::string IndexFor(const std::string& content, BlockDigestKind kind = BlockDigestKind::Xxh64) {
    const BlockDigestFn sha256Half = [](const unsigned char* data, size_t size,
                                        BlockDigest& digest) {
        FileSha256 full;
        EXPECT_TRUE(ParseSha256Hex(
            Sha256Hex(std::string(reinterpret_cast<const char*>(data), size)), full));
        std::copy_n(full.begin(), digest.size(), digest.begin());
        return true;
    };
    BlockIndex index =
        IndexOfBytes(content, kDefaultBlockSize,
                     kind == BlockDigestKind::Xxh64 ? BlockDigestFn(Xxh64BlockDigest) : sha256Half);
    index.digestKind = kind;
    EXPECT_TRUE(ParseSha256Hex(Sha256Hex(content), index.fileSha256));
    return FormatBlockIndex(index);
}

// Bytes asked for by "bytes=FIRST-LAST".
std::uint64_t RangeLength(const std::string& range) {
    std::uint64_t first = 0, last = 0;
    EXPECT_EQ(sscanf(range.c_str(), "bytes=%llu-%llu", &first, &last), 2) << range;
    return last - first + 1;
}

const size_t kBlock = kDefaultBlockSize;

}  // namespace

// A changed local copy of a BLOCKS entry: the index and two byte ranges are fetched instead of
// the file, and the result is the published file.
TEST_F(PatchRun, BlocksEntryFetchesOnlyTheChangedBlocks) {
    const std::string fresh = PatternBytes(16 * kBlock + 1000, 31);
    std::string old = fresh;
    old[3 * kBlock + 10] ^= 1;
    old[12 * kBlock + 77] ^= 1;
    ServeManifest(Publish("data/big.pak", fresh, "\tBLOCKS"));
    ASSERT_TRUE(ServeFile(Wide(ns + "/files/data/big.pak.blocks"), IndexFor(fresh)));
    Install("data/big.pak", old);

    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("data/big.pak")) == fresh);
    EXPECT_FALSE(PathExists(Local("data/big.pak.part")));
    EXPECT_EQ(status.fileProgress.load(), 1.0);
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, Files("data/big.pak.blocks"));
    std::uint64_t fetched = 0;
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].path, Files("data/big.pak"));
        fetched += RangeLength(RangeOf(requests[i]));
    }
    EXPECT_EQ(fetched, 2 * kBlock);
}

// A server that ignores Range answers the first range with the whole file: that file is used,
// and nothing is fetched twice. The index is of the first kind (SHA-256 halves), which packs
// published before still carry.
TEST_F(PatchRun, BlocksEntryFromAServerThatIgnoresRange) {
    const std::string fresh = PatternBytes(8 * kBlock + 5, 32);
    std::string old = fresh;
    old[kBlock] ^= 1;
    ServeManifest(Publish("big.pak", fresh, "\tBLOCKS"), "/fault/norange");
    ASSERT_TRUE(ServeFile(Wide(ns + "/files/big.pak.blocks"),
                          IndexFor(fresh, BlockDigestKind::Sha256Half)));
    Install("big.pak", old);

    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("big.pak")) == fresh);
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RangeOf(requests[1]), "bytes=65536-131071");
}

// A manifest that names the index's digest vouches for it: the right index is used, and any other,
// even one that describes the same file correctly, is refused for a whole download.
TEST_F(PatchRun, BlocksEntryTakesOnlyTheIndexTheManifestNames) {
    const std::string fresh = PatternBytes(6 * kBlock + 9, 39);
    std::string old = fresh;
    old[2 * kBlock] ^= 1;
    const std::string vouched = IndexFor(fresh);
    const std::string other = IndexFor(fresh, BlockDigestKind::Sha256Half);
    for (const bool servedIsVouched : {true, false}) {
        SCOPED_TRACE(servedIsVouched ? "the vouched index" : "another index of the same file");
        ServeManifest(Publish("a.pak", fresh, "\tBLOCKS\t" + Sha256Hex(vouched)));
        ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.pak.blocks"), servedIsVouched ? vouched : other));
        EXPECT_EQ(UpdateThroughIndex("a.pak", old, fresh),
                  servedIsVouched ? "bytes=131072-196607" : "");
    }
}

// Whatever the index says, nothing wrong is installed: an index that does not fit the manifest,
// one out of bounds or a missing one means a whole download; one that lies about its blocks
// builds a file whose digest fails, and the old file stays.
TEST_F(PatchRun, HostileBlockIndexes) {
    const std::string fresh = PatternBytes(4 * kBlock + 3, 33);
    const std::string old = PatternBytes(4 * kBlock + 3, 34);
    std::string absurd = IndexFor(fresh);
    absurd[24] = 0;
    absurd[29] = 1;  // 2^40 blocks
    const std::string indexes[] = {"", IndexFor(old), absurd, IndexFor(fresh).substr(0, 100)};
    for (const std::string& index : indexes) {
        ServeManifest(Publish("a.pak", fresh, "\tBLOCKS"));
        if (!index.empty()) {
            ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.pak.blocks"), index));
        }
        EXPECT_EQ(UpdateThroughIndex("a.pak", old, fresh), "");
        ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.pak.blocks"), "not an index"));
    }

    // Header right, blocks claiming content the local file holds elsewhere.
    std::string lying = IndexFor(fresh);
    const std::string local = IndexFor(old);
    lying.replace(kBlockIndexHeaderSize, 4 * kBlockRecordSize,
                  local.substr(kBlockIndexHeaderSize + kBlockRecordSize, 3 * kBlockRecordSize) +
                      local.substr(kBlockIndexHeaderSize, kBlockRecordSize));
    ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.pak.blocks"), lying));
    Install("a.pak", old);
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kCorrupt) + L"a.pak");
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == old);
    EXPECT_FALSE(PathExists(Local("a.pak.part")));
}

// Operators' options for real lines. The tests set them on the record, as a build with the options
// would; the default build has neither, which the first test holds to.
namespace {

// The Range header of every request for a file, in order.
std::vector<std::string> RangesOf(const std::vector<LoggedRequest>& requests) {
    std::vector<std::string> ranges;
    for (const LoggedRequest& request : requests)
        ranges.push_back(RangeOf(request));
    return ranges;
}

}  // namespace

// As specified: one file at a time, no Range outside block patching, no second try; a broken
// transfer ends the run and leaves no .part.
TEST_F(PatchRun, DefaultBuildFetchesOneFileAtATimeWithoutRangeOrRetry) {
    EXPECT_EQ(PatchStatus().downloadsInFlight, 1);
    EXPECT_EQ(PatchStatus().downloadRetries, 0);
    ServeManifest(Publish("a.pak", PatternBytes(300000, 40)), "/fault/rangecut");
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"a.pak");
    EXPECT_EQ(RangesOf(FileRequests()), std::vector<std::string>{""});
    EXPECT_FALSE(PathExists(Local("a.pak.part")));
}

// A connection cut every 64 KiB: each try continues with "Range: bytes=N-" from the bytes
// already written. A server that answers a Range with anything but that range (another range,
// the whole file, a 206 of another total or a longer body) makes the file start over from its first
// byte, never a mix of the two; one that is busy is asked again after its Retry-After.
TEST_F(PatchRun, RetriesResumeWithRangeAndNeverOverADifferentAnswer) {
    const std::string content = PatternBytes(200000, 41);
    status.downloadRetries = 2;
    ServeManifest(Publish("a.pak", content), "/fault/rangecut");
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == content);
    EXPECT_EQ(RangesOf(FileRequests()),
              (std::vector<std::string>{"", "bytes=65536-", "bytes=131072-", "bytes=196608-"}));

    struct Case {
        const char* fault;
        PatchPhase phase;
        std::vector<std::string> ranges;
    } cases[] = {
        // The whole file in answer to a Range: taken from its first byte.
        {"/fault/rangefull", PatchPhase::Updated, {"", "bytes=100000-"}},
        // A 206 of another range: dropped, and the file starts over; cut at the same place again,
        // it makes no progress, so the two tries without progress run out.
        {"/fault/rangewrong", PatchPhase::Failed, {"", "bytes=100000-", ""}},
        {"/fault/busyonce", PatchPhase::Updated, {"", ""}},
        // A 206 from the right byte but of a file of another length, or with a longer body than
        // the rest: not the rest asked for, so the file starts over.
        {"/fault/rangetotal", PatchPhase::Updated, {"", "bytes=100000-", ""}},
        {"/fault/rangelonger", PatchPhase::Updated, {"", "bytes=100000-", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string name = std::string(c.fault + 7) + ".pak";
        const size_t before = FileRequests().size();
        ServeManifest(Publish(name, content), c.fault);
        Run(false);
        EXPECT_EQ(status.phase.load(), c.phase);
        const auto requests = FileRequests();
        EXPECT_EQ(
            RangesOf({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()}),
            c.ranges);
        if (c.phase == PatchPhase::Updated) {
            EXPECT_TRUE(ReadFileBytes(Local(name)) == content);
        } else {
            // Kept for the next run, and only ever the file's own first bytes.
            const std::string kept = ReadFileBytes(Local(name + ".part"));
            EXPECT_TRUE(content.compare(0, kept.size(), kept) == 0);
            EXPECT_FALSE(PathExists(Local(name)));
        }
    }
}

// A window closed during a download: the .part stays, and the next run continues it; one that no
// longer matches (a file published anew) is fetched again from its first byte.
TEST_F(PatchRun, PartFileIsContinuedByTheNextRun) {
    const std::string content = PatternBytes(300000, 42);
    status.downloadRetries = 2;
    ServeManifest(Publish("a.pak", content), "/fault/stall");  // half, then silence
    StartPatchRun(status, false);
    // Sized by name: the run holds the file open to nobody else.
    const auto partSize = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return ::GetFileAttributesExW(Local("a.pak.part").c_str(), GetFileExInfoStandard, &data)
                   ? data.nFileSizeLow
                   : 0;
    };
    ASSERT_TRUE(WaitFor([&] { return partSize() == 150000; }));
    status.stopRequested.store(true);
    WaitIdle();
    ExpectEnd(PatchPhase::Idle, kCancelled);
    ASSERT_EQ(ReadFileBytes(Local("a.pak.part")).size(), 150000u);

    ServeManifest(Publish("a.pak", content));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == content);
    EXPECT_EQ(RangesOf(FileRequests()), (std::vector<std::string>{"", "bytes=150000-"}));
    EXPECT_FALSE(PathExists(Local("a.pak.part")));

    // A leftover that is not this file's beginning: continued, found wrong, fetched whole.
    const std::string renewed = PatternBytes(300000, 43);
    ASSERT_TRUE(WriteFileBytes(Local("a.pak.part"), content.substr(0, 1000)));
    ServeManifest(Publish("a.pak", renewed));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.pak")) == renewed);
    const auto ranges = RangesOf(FileRequests());
    EXPECT_EQ(std::vector<std::string>(ranges.end() - 2, ranges.end()),
              (std::vector<std::string>{"bytes=1000-", ""}));
}

// Several files in flight: installed strictly in manifest order with the same status lines as one
// at a time; the first failure in that order ends the run, the files before it stay installed,
// and those after it are neither installed nor left as .part files.
TEST_F(PatchRun, FilesInFlightInstallInManifestOrderAndStopAtTheFirstFailure) {
    status.downloadsInFlight = 3;
    std::string lines;
    std::vector<std::string> contents;
    for (int i = 0; i < 8; ++i) {
        // Larger files first, so later ones finish their transfer before earlier ones.
        contents.push_back(PatternBytes(static_cast<std::size_t>(900000 - i * 100000), 44 + i));
        lines += Publish("f" + std::to_string(i) + ".pak", contents.back());
    }
    ServeManifest(lines);
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    std::vector<std::wstring> order = {L"Készen áll.", kChecking};
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(ReadFileBytes(Local("f" + std::to_string(i) + ".pak")) ==
                    contents[static_cast<std::size_t>(i)]);
        order.push_back(DownloadStatusLine(i + 1, 8, L"f" + std::to_wstring(i) + L".pak"));
    }
    order.push_back(kUpdated);
    ExpectLinesInOrder(order);
    EXPECT_EQ(status.overallProgress.load(), 1.0);

    ns += "-failing";
    status.manifestUrl = ManifestAt();
    lines.clear();
    for (int i = 0; i < 8; ++i)
        lines += Publish("g" + std::to_string(i) + ".pak", contents[static_cast<std::size_t>(i)]);
    ServeManifest(lines);
    ASSERT_TRUE(ServeFile(Wide(ns + "/files/g3.pak.fault"), "cut"));
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"g3.pak");
    for (int i = 0; i < 8; ++i) {
        const std::string name = "g" + std::to_string(i) + ".pak";
        EXPECT_EQ(PathExists(Local(name)), i < 3) << name;
        EXPECT_FALSE(PathExists(Local(name + ".part"))) << name;
    }
    // A stop while three slow transfers are in flight ends them all at once.
    ns += "-stopped";
    status.manifestUrl = ManifestAt();
    lines.clear();
    for (int i = 0; i < 4; ++i)
        lines += Publish("h" + std::to_string(i) + ".pak", contents[static_cast<std::size_t>(i)]);
    ServeManifest(lines, "/fault/live");
    StartPatchRun(status, false);
    ASSERT_TRUE(WaitFor([&] { return FileRequests().size() >= 3; }));
    const auto stopAt = std::chrono::steady_clock::now();
    status.stopRequested.store(true);
    WaitIdle();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 2s);
    ExpectEnd(PatchPhase::Idle, kCancelled);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(PathExists(Local("h" + std::to_string(i) + ".pak.part"))) << i;
}
