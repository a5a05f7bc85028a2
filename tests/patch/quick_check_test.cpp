// The quick check (TALVORA_QUICK_CHECK): a record of verified files spares a start the files that
// did not change. Every change to a file is still found, and a record is taken only when it is
// the launcher's own, of this folder and within the size the list justifies; the default build
// hashes every file whatever lies there.
#include "patch/patch_run.h"

#include <functional>

#include "patch/file_states.h"
#include "patch/install_step.h"
#include "patch/staging.h"
#include "patch/verified_files.h"
#include "portable/patch/verified_record.h"

namespace {

const wchar_t kRecord[] = L"talvora.verified";

class QuickCheck : public PatchRun {
  protected:
    void SetUp() override {
        PatchRun::SetUp();
        status.quickCheck = true;
    }

    // The state of an installed file as its folder's listing gives it.
    FileState Listed(const std::string& relPath) {
        const std::wstring rel = InstallRelative(relPath);
        const std::size_t cut = rel.find_last_of(L'\\');
        const std::wstring folder = cut == std::wstring::npos ? L"" : rel.substr(0, cut);
        const std::atomic<bool> never{false};
        std::vector<ListedFile> files;
        EXPECT_TRUE(ListFolderBelow(OpenInstallRoot(install), folder, 100000, never, files));
        for (const ListedFile& file : files) {
            if (file.name == rel.substr(cut + 1))
                return file.state;
        }
        ADD_FAILURE() << "not listed: " << relPath;
        return FileState();
    }

    // A record that vouches for the files as they lie now, with the given digests.
    VerifiedRecord Vouching(const std::vector<std::pair<std::string, std::string>>& files) {
        VerifiedRecord record;
        const std::wstring final = OpenInstallRoot(install).finalPath;
        record.folder = Narrow(final);
        for (const auto& file : files)
            record.files.push_back({file.first, Listed(file.first), file.second});
        return record;
    }

    void PlantRecord(const std::string& bytes) {
        ASSERT_EQ(WriteRecordBelow(OpenInstallRoot(install), kRecord, bytes), StepResult::Done);
    }

    // The record the launcher left, read as the launcher reads it.
    VerifiedRecord LeftRecord() {
        std::string bytes;
        VerifiedRecord record;
        EXPECT_TRUE(ReadRecordBelow(OpenInstallRoot(install), kRecord, 1 << 20, bytes));
        EXPECT_TRUE(ReadVerifiedRecord(bytes, record));
        return record;
    }

    // A change right after a file was written could keep its times: the launcher records only
    // states older than that.
    static void LetStatesSettle() { std::this_thread::sleep_for(2 * kSettleTime * 100ns); }

    std::vector<std::string> RequestedSince(std::size_t before) {
        std::vector<std::string> paths;
        const auto requests = FileRequests();
        for (std::size_t i = before; i < requests.size(); ++i)
            paths.push_back(requests[i].path.substr(Files().size()));
        return paths;
    }
};

// Sets the file's times to `times` (creation, last access, last write), as a tool that keeps
// them would.
void SetTimes(const std::wstring& path, const FILETIME (&times)[3]) {
    UniqueFile file(
        ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(::SetFileTime(file.get(), &times[0], &times[1], &times[2]));
}

void GetTimes(const std::wstring& path, FILETIME (&times)[3]) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(::GetFileTime(file.get(), &times[0], &times[1], &times[2]));
}

}  // namespace

// A recorded installation, then every way a file can change behind the launcher's back, and a
// new version of one on the server: only those files are fetched, and the next start finds
// nothing to do.
TEST_F(QuickCheck, EveryChangeToARecordedFileIsFoundAndRepaired) {
    const std::vector<std::string> names = {"d1/inplace.pak", "d1/renamed.pak", "d2/same.pak",
                                            "d2/deleted.pak", "resized.pak",    "d2/newer.pak"};
    std::string lines;
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < names.size(); ++i) {
        contents.push_back(PatternBytes(60000 + 1000 * i, static_cast<std::uint32_t>(70 + i)));
        lines += Publish(names[i], contents[i]);
        Install(names[i], contents[i]);
    }
    ServeManifest(lines);
    LetStatesSettle();
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_EQ(LeftRecord().files.size(), names.size());

    // A byte changed in place, size kept, last write time set back.
    FILETIME times[3];
    GetTimes(Local(names[0]), times);
    std::string changed = contents[0];
    changed[30000] ^= 0x20;
    ASSERT_TRUE(WriteFileBytes(Local(names[0]), changed));
    SetTimes(Local(names[0]), times);
    // Another file of equal size and times renamed over it.
    GetTimes(Local(names[1]), times);
    std::string other = contents[1];
    other[0] ^= 0x01;
    ASSERT_TRUE(WriteFileBytes(Local("d1/other.tmp"), other));
    SetTimes(Local("d1/other.tmp"), times);
    ASSERT_TRUE(::MoveFileExW(Local("d1/other.tmp").c_str(), Local(names[1]).c_str(),
                              MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(::DeleteFileW(Local(names[3]).c_str()));
    ASSERT_TRUE(WriteFileBytes(Local(names[4]), contents[4] + "x"));
    contents[5] = PatternBytes(contents[5].size(), 79);
    lines.clear();
    for (std::size_t i = 0; i < names.size(); ++i)
        lines += Publish(names[i], contents[i]);
    ServeManifest(lines);

    const std::size_t before = FileRequests().size();
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(RequestedSince(before),
              (std::vector<std::string>{names[0], names[1], names[3], names[4], names[5]}));
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(ReadFileBytes(Local(names[i])) == contents[i]) << names[i];

    // The installed files are recorded too, as they lie.
    const VerifiedRecord record = LeftRecord();
    EXPECT_EQ(record.files.size(), names.size());
    for (const VerifiedFile& file : record.files)
        EXPECT_TRUE(file.state == Listed(file.relPath)) << file.relPath;
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
}

// A record that vouches for a file whose bytes are wrong, planted in every way but the launcher's
// own: only the launcher's own record of this folder, within the list's size, is believed (the
// wrong file is then kept: the record saves the reading); every other record is ignored and the
// file hashed and repaired, and so in the default build whatever the record.
TEST_F(QuickCheck, OnlyTheLaunchersOwnRecordOfThisFolderIsBelieved) {
    const std::string fresh = PatternBytes(80000, 80);
    std::string wrong = fresh;
    wrong[100] ^= 0x01;
    ServeManifest(Publish("game.pak", fresh));
    TempDir elsewhere;
    const std::wstring recordPath = Local(Narrow(kRecord));
    const auto plain = [](VerifiedRecord r) { return FormatVerifiedRecord(r); };
    struct Case {
        const char* name;
        bool quick;
        std::function<std::string(VerifiedRecord)> bytesOf;
        std::function<void()> after;
        bool believed;
    };
    const std::vector<Case> cases = {
        {"the launcher's own", true, plain, nullptr, true},
        {"default build", false, plain, nullptr, false},
        {"another folder", true,
         [&](VerifiedRecord r) {
             r.folder = Narrow(FinalPathOf(elsewhere.path()));
             return FormatVerifiedRecord(r);
         },
         nullptr, false},
        {"cut short", true,
         [](VerifiedRecord r) {
             std::string bytes = FormatVerifiedRecord(r);
             bytes.pop_back();
             return bytes;
         },
         nullptr, false},
        {"larger than the list justifies", true,
         [](VerifiedRecord r) {
             for (int i = 0; i < 40; ++i)
                 r.files.push_back({"pad" + std::to_string(i), {}, r.files[0].sha256});
             return FormatVerifiedRecord(r);
         },
         nullptr, false},
        {"another version", true,
         [](VerifiedRecord r) {
             std::string bytes = FormatVerifiedRecord(r);
             bytes[17] = '2';  // "TALVORA VERIFIED 2"
             return bytes;
         },
         nullptr, false},
        {"everyone may change it", true, plain,
         [&] { ASSERT_TRUE(GrantEveryoneFullControl(recordPath)); }, false},
        {"a second name", true, plain,
         [&] {
             ASSERT_TRUE(::CreateHardLinkW((temp / L"link").c_str(), recordPath.c_str(), nullptr));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        status.quickCheck = c.quick;
        RemoveFileBelow(OpenInstallRoot(install), kRecord);
        ::DeleteFileW((temp / L"link").c_str());
        Install("game.pak", wrong);
        PlantRecord(c.bytesOf(Vouching({{"game.pak", Sha256Hex(fresh)}})));
        if (c.after)
            c.after();
        const std::size_t before = FileRequests().size();
        Run(false);
        if (c.believed) {
            ExpectEnd(PatchPhase::UpToDate, kUpToDate);
            EXPECT_TRUE(RequestedSince(before).empty());
        } else {
            ExpectEnd(PatchPhase::Updated, kUpdated);
            EXPECT_EQ(RequestedSince(before), std::vector<std::string>{"game.pak"});
            EXPECT_TRUE(ReadFileBytes(Local("game.pak")) == fresh);
        }
    }
    // A list that names the record is refused with the quick check.
    ServeManifest(Publish("game.pak", fresh) + Publish("Talvora.Verified", "x"));
    Run(false);
    ExpectEnd(PatchPhase::Failed, kBadList);
}

// With the quick check the full check trusts no record: it hashes every file and fetches only the
// one that differs, with the lines of a normal run. (The default build fetches every file:
// PatchRun.FullCheckFetchesEveryOrdinaryEntryAgain.)
TEST_F(QuickCheck, FullCheckHashesEveryFileAndFetchesOnlyWhatDiffers) {
    std::string lines;
    std::vector<std::pair<std::string, std::string>> vouched;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "d" + std::to_string(i % 2) + "/f" + std::to_string(i) + ".pak";
        const std::string content = PatternBytes(30000 + i, static_cast<std::uint32_t>(90 + i));
        lines += Publish(name, content);
        std::string installed = content;
        if (i == 2)
            installed[5] ^= 0x40;
        Install(name, installed);
        vouched.emplace_back(name, Sha256Hex(content));
    }
    ServeManifest(lines + Publish("cfg.ini", "default", "\tIFMISSING"));
    Install("cfg.ini", "mine");
    PlantRecord(FormatVerifiedRecord(Vouching(vouched)));
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_TRUE(FileRequests().empty());

    samples.clear();
    Run(true);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_EQ(RequestedSince(0), std::vector<std::string>{"d0/f2.pak"});
    EXPECT_EQ(ReadFileBytes(Local("cfg.ini")), "mine");
    ExpectLinesInOrder({kUpToDate, kChecking, L"Letöltés (1/1): d0/f2.pak", kUpdated});
}

// Installed files are flushed in batches and recorded with the states they have: a run of more
// files than a batch leaves every one of them recorded, and the next start fetches nothing.
TEST_F(QuickCheck, EveryInstalledFileIsRecordedAsItLies) {
    std::string lines;
    for (int i = 0; i < 140; ++i) {
        lines += Publish("many/f" + std::to_string(i) + ".pak",
                         PatternBytes(500 + i, static_cast<std::uint32_t>(i)));
    }
    ServeManifest(lines);
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    const VerifiedRecord record = LeftRecord();
    ASSERT_EQ(record.files.size(), 140u);
    for (const VerifiedFile& file : record.files)
        ASSERT_TRUE(file.state == Listed(file.relPath)) << file.relPath;
    const std::size_t before = FileRequests().size();
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    EXPECT_EQ(FileRequests().size(), before);
}

// A file found wrong is not recorded, even with the digest it must have, until it is repaired:
// a run whose download fails leaves it to be found wrong again by the next start.
TEST_F(QuickCheck, AFileFoundWrongIsRecordedOnlyOnceRepaired) {
    const std::string fresh = PatternBytes(50000, 85);
    std::string wrong = fresh;
    wrong[49999] ^= 0x08;
    const std::string line = Publish("w.pak", fresh);
    Install("w.pak", wrong);
    LetStatesSettle();
    ServeManifest(line, "/fault/404");
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kCorrupt) + L"w.pak");
    ServeManifest(line);
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("w.pak")) == fresh);
}

// On Windows a change made through another name of a file need not show in the listing of this
// name's folder: a file with a second name is hashed on every start, never recorded.
TEST_F(QuickCheck, AFileWithASecondNameIsNeverRecorded) {
    const std::string content = PatternBytes(7000, 86);
    ServeManifest(Publish("one.pak", content) + Publish("two.pak", content));
    Install("one.pak", content);
    Install("two.pak", content);
    ASSERT_TRUE(::CreateHardLinkW((temp / L"alias").c_str(), Local("two.pak").c_str(), nullptr));
    LetStatesSettle();
    Run(false);
    ExpectEnd(PatchPhase::UpToDate, kUpToDate);
    const VerifiedRecord record = LeftRecord();
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_EQ(record.files[0].relPath, "one.pak");
}

// Large files that the record does not cover are being hashed when the window goes: the run
// still ends within the usual bound, as a stop.
TEST_F(QuickCheck, StopDuringTheCheckOfARecordedInstallationEndsInBound) {
    std::string lines;
    std::vector<std::pair<std::string, std::string>> vouched;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "small/s" + std::to_string(i) + ".pak";
        const std::string content = PatternBytes(2000, static_cast<std::uint32_t>(i));
        lines += Publish(name, content);
        Install(name, content);
        vouched.emplace_back(name, Sha256Hex(content));
    }
    for (int i = 0; i < 2; ++i) {
        const std::string name = "big" + std::to_string(i) + ".pak";
        ASSERT_TRUE(WriteZeroFile(Local(name), 1u << 30));
        lines += name + "\t1073741824\t" + std::string(64, '0') + "\n";
    }
    ServeManifest(lines);
    PlantRecord(FormatVerifiedRecord(Vouching(vouched)));
    StartPatchRun(status, false);
    ASSERT_TRUE(WaitFor([&] { return status.phase.load() == PatchPhase::Checking; }));
    std::this_thread::sleep_for(700ms);
    ASSERT_TRUE(status.busy.load()) << "the check ended before the stop";
    const auto stoppedAt = std::chrono::steady_clock::now();
    status.stopRequested.store(true);
    WaitIdle();
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 2s);
    ExpectEnd(PatchPhase::Idle, kCancelled);
    EXPECT_TRUE(FileRequests().empty());
}

// Which states may vouch for a file: a real id and change time, and no change within a tick of
// the clock before they were read.
TEST(QuickCheckStates, OnlySettledStatesWithARealIdAreRecorded) {
    const std::int64_t now = 133000000000000000;
    const std::int64_t settled = now - kSettleTime - 1;
    const std::uint64_t none = ~std::uint64_t{0};
    struct Case {
        FileState state;
        bool recorded;
    };
    const Case cases[] = {
        {{5, settled, settled, 0, 7}, true},
        {{5, settled, settled, 7, 0}, true},
        {{5, settled, settled, none, 7}, true},
        {{0, settled, settled, 0, 1}, true},
        {{5, settled, settled, 0, 0}, false},         // no id
        {{5, settled, settled, none, none}, false},   // the id that stands for none
        {{5, settled, 0, 0, 7}, false},               // no change time
        {{5, settled, settled + 1, 0, 7}, false},     // changed within the tick
        {{5, settled + 1, settled, 0, 7}, false},     // written within the tick
        {{5, settled, now + 10000000, 0, 7}, false},  // changed "later" than now
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSettledState(c.state, now), c.recorded)
            << c.state.lastWrite - now << " " << c.state.changeTime - now << " " << c.state.idHigh
            << ":" << c.state.idLow;
    }
}
