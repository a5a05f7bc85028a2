// Servers and local users that try to turn the operators' retries against the player. The runs are
// made with retries, as an operator's build has them; whatever the attack, a file arrives right
// or fails as it would without retries, within a bound of bytes and time, and nothing of anyone
// else's is carried into the installation.
#include <aclapi.h>

#include "patch/patch_run.h"

namespace {

// Whether the file's access list lets everyone write, delete or re-own it.
bool EveryoneMayChange(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
        ADD_FAILURE() << "no access list";
        return true;
    }
    bool may = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
            ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ::IsWellKnownSid(&ace->SidStart, WinWorldSid) &&
            (ace->Mask & (FILE_WRITE_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL)) != 0) {
            may = true;
        }
    }
    ::LocalFree(sd);
    return may;
}

std::uint64_t BodyBytesOfStep(std::uint64_t request, std::uint64_t size) {
    constexpr std::uint64_t kStep = 262144;  // the test server's STEP_PIECE
    return std::min(request * kStep, size);
}

// The budget of a file's tries: twice its size and 4 MiB.
std::uint64_t BudgetOf(std::uint64_t size) {
    return 2 * size + 4 * 1024 * 1024;
}

class HostileRetries : public PatchRun {
  protected:
    void SetUp() override {
        PatchRun::SetUp();
        status.downloadRetries = 10;
    }
};

}  // namespace

// A plain .part at the right name, holding the file's own first bytes, but planted with an access
// list that lets everyone change it: a launcher that continued it would rename it into place with
// that list, and whoever planted it could rewrite the game after it was verified. It is deleted
// and the file fetched whole into a staging file the launcher made.
TEST_F(HostileRetries, PlantedPartWithForeignRightsIsNeverContinued) {
    const std::string content = PatternBytes(300000, 60);
    ServeManifest(Publish("velkaro.exe", content));
    ASSERT_TRUE(WriteFileBytes(Local("velkaro.exe.part"), content.substr(0, 100000)));
    ASSERT_TRUE(GrantEveryoneFullControl(Local("velkaro.exe.part")));
    ASSERT_TRUE(EveryoneMayChange(Local("velkaro.exe.part")));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("velkaro.exe")) == content);
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(RangeOf(requests[0]), "") << "the planted file was continued";
    EXPECT_FALSE(EveryoneMayChange(Local("velkaro.exe")));
    EXPECT_FALSE(PathExists(Local("velkaro.exe.part")));
}

// Every resume answered with the whole file (200), each one cut a step further than the last: each
// try passes the mark of the one before, so counting tries without progress never ends it. What
// all the tries may receive together does.
TEST_F(HostileRetries, ServerRestartingEveryResumeSpendsAtMostTwiceTheFile) {
    const std::uint64_t size = 8ull * 1024 * 1024;
    ServeManifest(Publish("big.pak", PatternBytes(size, 61)), "/fault/rangestep");
    Run(false);
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"big.pak");
    const std::uint64_t requests = FileRequests().size();
    std::uint64_t offeredBefore = 0;  // by every answer but the last, which may be cut short
    for (std::uint64_t n = 1; n < requests; ++n)
        offeredBefore += BodyBytesOfStep(n, size);
    std::printf("restarting server: %llu requests, %.1f MiB offered before the last\n",
                static_cast<unsigned long long>(requests),
                static_cast<double>(offeredBefore) / 1048576.0);
    EXPECT_GT(requests, 3u) << "the tries did not go on while each one brought more";
    EXPECT_LE(offeredBefore, BudgetOf(size));
    EXPECT_FALSE(PathExists(Local("big.pak")));
}

// One byte per connection, ranges honoured: each try brings a new byte, so the count of tries
// never runs out, and each transfer alone is too short for the speed floor. The floor over the
// file's whole time ends it.
TEST_F(HostileRetries, OneBytePerConnectionFailsAtTheFloorOverAllTries) {
    ServeManifest(Publish("drip.pak", PatternBytes(65536, 62)), "/fault/onebyte");
    const auto start = std::chrono::steady_clock::now();
    Run(false);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ExpectEnd(PatchPhase::Failed, std::wstring(kDownloadError) + L"drip.pak");
    const std::size_t requests = FileRequests().size();
    std::printf("one byte per connection: %zu requests, failed after %.1f s\n", requests, seconds);
    EXPECT_GT(requests, 5u) << "the tries did not go on while each one brought a byte";
    EXPECT_LT(seconds, 60.0);
    // Kept for the next run, which gets a budget of its own.
    EXPECT_LT(ReadFileBytes(Local("drip.pak.part")).size(), 1000u);
}

// A .part kept for an entry that later leaves the list is removed by the next run that gets
// through its check pass, whatever the list names now; the launcher's record of kept files goes
// once nothing is pending, and a .part it never kept is not its to remove. A list that names
// the record is refused.
TEST_F(HostileRetries, KeptPartsOfEntriesTheListNoLongerHasAreRemoved) {
    const std::string content = PatternBytes(300000, 63);
    ServeManifest(Publish("old.pak", content), "/fault/stall");  // half, then silence
    StartPatchRun(status, false);
    const auto partSize = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return ::GetFileAttributesExW(Local("old.pak.part").c_str(), GetFileExInfoStandard, &data)
                   ? data.nFileSizeLow
                   : 0;
    };
    ASSERT_TRUE(WaitFor([&] { return partSize() == 150000; }));
    status.stopRequested.store(true);
    WaitIdle();
    ASSERT_TRUE(PathExists(Local("old.pak.part")));
    Install("other.pak.part", "not the launcher's");

    ServeManifest(Publish("new.pak", content));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_FALSE(PathExists(Local("old.pak.part")));
    EXPECT_FALSE(PathExists(Local("talvora.parts")));
    EXPECT_TRUE(PathExists(Local("other.pak.part")));

    ServeManifest(Publish("new.pak", content) + Publish("Talvora.Parts", "x"));
    Run(false);
    ExpectEnd(PatchPhase::Failed, kBadList);
}
