// Whole update runs against nginx, the static server a real operator puts in front of the pack.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "patch/patch_status.h"
#include "platform/text_conversion.h"
#include "patch/patch_worker.h"
#include "support/manifest_lines.h"
#include "support/test_files.h"
#include "support/test_server.h"

namespace {

using namespace std::chrono_literals;

std::string Line(const std::string& relPath, const std::string& content,
                 const std::string& suffix = "") {
    EXPECT_TRUE(ServeFile(Utf8ToWide("pack/files/" + relPath), content));
    return ManifestLine(relPath, content, suffix);
}

void RunToEnd(PatchStatus& status, bool fullCheck) {
    StartPatchRun(status, fullCheck);
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (status.busy.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_FALSE(status.busy.load()) << "run did not end";
}

}  // namespace

TEST(NginxRun, UpdateUpToDateAndRepair) {
    const std::wstring server = TestServerUrl();
    ASSERT_FALSE(server.empty()) << "run through tests/server/with_nginx.py";
    const std::string exe = PatternBytes(300000, 1), big = PatternBytes(8 << 20, 2),
                      map = PatternBytes(123457, 3);
    const std::string manifest = "# published for the nginx run\nVERSION\t3\nBASE\t" +
                                 std::string(server.begin(), server.end()) + "/pack/files/\n" +
                                 Line("velkaro.exe", exe) + Line("data/big.pak", big) +
                                 Line("data/térképek/észak.pak", map) + Line("data/empty.dat", "") +
                                 Line("config.ini", "[video]\n", "\tIFMISSING");
    ASSERT_TRUE(ServeFile(L"pack/patch_manifest.txt", manifest));

    TempDir install;
    ASSERT_TRUE(WriteFileBytes(install / L"velkaro.exe", exe.substr(0, 1000)));  // outdated
    ASSERT_TRUE(WriteFileBytes(install / L"config.ini", "[video]\nwidth=1920\n"));
    PatchStatus status;
    status.installDir = install.path();
    status.manifestUrl = server + L"/pack/patch_manifest.txt";

    RunToEnd(status, false);
    EXPECT_EQ(status.phase.load(), PatchPhase::Updated);
    EXPECT_EQ(ReadStatusText(status), L"Frissítés kész. Indíthatod a játékot!");
    EXPECT_EQ(status.overallProgress.load(), 1.0);
    EXPECT_TRUE(ReadFileBytes(install / L"velkaro.exe") == exe);
    EXPECT_TRUE(ReadFileBytes(install / L"data\\big.pak") == big);
    EXPECT_TRUE(ReadFileBytes(install / L"data\\térképek\\észak.pak") == map);
    EXPECT_TRUE(PathExists(install / L"data\\empty.dat"));
    EXPECT_EQ(ReadFileBytes(install / L"config.ini"), "[video]\nwidth=1920\n");
    EXPECT_FALSE(PathExists(install / L"data\\big.pak.part"));

    RunToEnd(status, false);
    EXPECT_EQ(status.phase.load(), PatchPhase::UpToDate);
    EXPECT_EQ(ReadStatusText(status), L"A játék naprakész. Indíthatod!");

    RunToEnd(status, true);
    EXPECT_EQ(status.phase.load(), PatchPhase::Updated);
    EXPECT_EQ(ReadFileBytes(install / L"config.ini"), "[video]\nwidth=1920\n");
    status.workerThread.join();

    // Three manifests, four files in the first run and four again in the repair: all GETs with
    // our User-Agent.
    const auto requests = LoggedRequests();
    EXPECT_EQ(LoggedRequestsFor("/pack/patch_manifest.txt").size(), 3u);
    EXPECT_EQ(LoggedRequestsFor("/pack/files/").size(), 8u);
    for (const LoggedRequest& r : requests) {
        EXPECT_EQ(r.method, "GET");
        ASSERT_EQ(r.headers.size(), 1u);
        EXPECT_EQ(r.headers[0].second, "TalvoraPatcher/1.0");
    }
}
