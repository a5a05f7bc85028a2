// The fixture of whole update runs against the local patch server: an installation folder of its
// own, a namespace of its own on the server, a watcher of what the window would show.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/exe_location.h"
#include "patch/patch_status.h"
#include "platform/kernel_handles.h"
#include "platform/text_conversion.h"
#include "portable/patch/block_index.h"
#include "patch/install_paths.h"
#include "patch/patch_worker.h"
#include "support/block_plan.h"
#include "support/manifest_lines.h"
#include "support/test_files.h"
#include "support/test_server.h"

using namespace std::chrono_literals;

const wchar_t kChecking[] = L"Frissítések keresése...";
const wchar_t kUpToDate[] = L"A játék naprakész. Indíthatod!";
const wchar_t kUpdated[] = L"Frissítés kész. Indíthatod a játékot!";
const wchar_t kUnreachable[] = L"Nem sikerült elérni a frissítőszervert. Ellenőrizd az internetet.";
const wchar_t kBadList[] = L"Hibás frissítési lista a szerveren.";
const wchar_t kDownloadError[] = L"Letöltési hiba: ";
const wchar_t kCorrupt[] = L"Sérült letöltés (hash nem egyezik): ";
const wchar_t kInstallFailed[] = L"Nem sikerült telepíteni: ";
const wchar_t kBadPath[] = L"Hibás fájlútvonal a frissítési listában: ";
const wchar_t kCancelled[] = L"Megszakítva.";

inline std::wstring Wide(const std::string& utf8) {
    return Utf8ToWide(utf8);
}

// For ASCII text and messages only.
inline std::string Narrow(const std::wstring& wide) {
    std::string narrow;
    for (wchar_t c : wide)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

// The Range header of a request, or empty.
inline std::string RangeOf(const LoggedRequest& request) {
    for (const auto& header : request.headers) {
        if (header.first == "Range")
            return header.second;
    }
    return std::string();
}

// What a watcher on another thread saw of a run, one entry per change.
struct Sample {
    PatchPhase phase;
    std::wstring text;
    double overall;
};

class PatchRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(TestServerUrl().empty()) << "run through tests/server/with_server.py";
        install = temp / L"install";
        ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
        status.installDir = install;
        // Each test keeps to its own folder on the server, so the binary may also run whole.
        ns = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        status.manifestUrl = ManifestAt();
    }

    void TearDown() override {
        status.stopRequested.store(true);
        StopWatching();
        if (status.workerThread.joinable())
            status.workerThread.join();
    }

    // URL path of a published file.
    std::string Files(const std::string& relPath = "") const {
        return "/" + ns + "/files/" + relPath;
    }

    // The manifest's URL, through a fault mode such as "/fault/cut" when one is given.
    std::wstring ManifestAt(const std::string& fault = "") const {
        return TestServerUrl() + Wide(fault + "/" + ns + "/pack/patch_manifest.txt");
    }

    // Publishes a file under Files() and returns its manifest line.
    std::string Publish(const std::string& relPath, const std::string& content,
                        const std::string& suffix = "") {
        EXPECT_TRUE(ServeFile(Wide(ns + "/files/" + relPath), content));
        return ManifestLine(relPath, content, suffix);
    }

    // The BASE line points at Files(), through `fault` when given; kNoBase leaves it out.
    void ServeManifest(const std::string& lines, const std::string& fault = "") {
        const std::string baseLine =
            fault == kNoBase ? "" : "BASE\t" + Narrow(TestServerUrl()) + fault + Files() + "\n";
        ASSERT_TRUE(
            ServeFile(Wide(ns + "/pack/patch_manifest.txt"), "VERSION\t7\n" + baseLine + lines));
    }

    std::wstring Local(const std::string& relPath) { return install + L"\\" + Wide(relPath); }

    void Install(const std::string& relPath, const std::string& content) {
        CreateParentDirectories(Local(relPath));
        ASSERT_TRUE(WriteFileBytes(Local(relPath), content));
    }

    // Starts a run and watches it until busy is cleared (bounded). The thread is left for the
    // next StartPatchRun to join, as the window leaves it.
    void Run(bool fullCheck) {
        StartPatchRun(status, fullCheck);
        StartWatching();
        WaitIdle();
    }

    void WaitIdle() {
        const auto deadline = std::chrono::steady_clock::now() + 90s;
        while (status.busy.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        StopWatching();
        ASSERT_FALSE(status.busy.load()) << "run did not end";
    }

    // Waits until `done` holds, at most 30 s.
    template <typename F>
    bool WaitFor(F done) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    void StartWatching() {
        watching.store(true);
        watcher = std::thread([this] {
            while (watching.load()) {
                Sample s{status.phase.load(), ReadStatusText(status),
                         status.overallProgress.load()};
                if (samples.empty() || samples.back().phase != s.phase ||
                    samples.back().text != s.text || samples.back().overall != s.overall) {
                    samples.push_back(s);
                }
                std::this_thread::sleep_for(200us);
            }
        });
    }

    void StopWatching() {
        watching.store(false);
        if (watcher.joinable())
            watcher.join();
    }

    // The lines the watcher saw must come in the order given (it may have missed some).
    void ExpectLinesInOrder(const std::vector<std::wstring>& order) {
        size_t at = 0;
        for (const Sample& s : samples) {
            size_t i = at;
            while (i < order.size() && order[i] != s.text)
                ++i;
            ASSERT_LT(i, order.size()) << "line out of order or unexpected: " << Narrow(s.text);
            at = i;
        }
    }

    // Requests the server saw for files (not the manifest).
    std::vector<LoggedRequest> FileRequests() const { return LoggedRequestsFor(Files()); }

    // Puts `old` in place and runs an update that must end with `fresh` installed after asking
    // for two files (the block index, then data); gives the Range of the second request.
    std::string UpdateThroughIndex(const std::string& relPath, const std::string& old,
                                   const std::string& fresh) {
        Install(relPath, old);
        const size_t before = FileRequests().size();
        Run(false);
        ExpectEnd(PatchPhase::Updated, kUpdated);
        EXPECT_TRUE(ReadFileBytes(Local(relPath)) == fresh);
        const auto requests = FileRequests();
        EXPECT_EQ(requests.size(), before + 2);
        return requests.size() == before + 2 ? RangeOf(requests.back()) : "(not two requests)";
    }

    void ExpectEnd(PatchPhase phase, const std::wstring& text) {
        EXPECT_EQ(status.phase.load(), phase);
        EXPECT_EQ(ReadStatusText(status), text);
        EXPECT_FALSE(status.busy.load());
    }

    static constexpr const char* kNoBase = "no BASE line";
    std::string ns;
    TempDir temp;
    std::wstring install;
    PatchStatus status;
    std::atomic<bool> watching{false};
    std::thread watcher;
    std::vector<Sample> samples;
};
