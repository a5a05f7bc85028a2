#include "selfupdate/self_update.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/exe_location.h"
#include "build_config.h"
#include "net/http_client.h"
#include "platform/text_conversion.h"
#include "net/update_signature.h"
#include "patch/install_paths.h"
#include "patch/file_updates.h"
#include "patch/install_step.h"
#include "portable/selfupdate/launcher_version.h"

#include <chrono>

const std::int32_t CurrentLauncherVersion = TALVORA_LAUNCHER_VERSION;

namespace {

// A launcher is a few megabytes; when the version file names no size, nothing larger is taken.
constexpr std::uint64_t kMaxLauncherBytes = 512ull * 1024 * 1024;

// The launcher's folder and its file name in it; false without a usable path.
bool SplitExePath(const std::wstring& exePath, std::wstring& folder, std::wstring& name) {
    const size_t last = exePath.find_last_of(L"\\/");
    if (last == std::wstring::npos || last == 0 || last + 1 >= exePath.size())
        return false;
    folder = exePath.substr(0, last);
    name = exePath.substr(last + 1);
    return true;
}

// exePath + suffix must not lead through a link planted beside the launcher.
bool SiblingIsPlain(const std::wstring& exePath, const wchar_t* suffix) {
    std::wstring folder, name;
    return SplitExePath(exePath, folder, name) &&
           IsPlainPathBelow(OpenInstallRoot(folder), name + suffix);
}

bool SwapNamesArePlain(const std::wstring& exePath) {
    return SiblingIsPlain(exePath, L".new") && SiblingIsPlain(exePath, L".old");
}

}  // namespace

std::wstring LauncherVersionUrl() {
    return TALVORA_PATCH_SERVER L"/pack/launcher_version.txt";
}

void RunSelfUpdate() {
    RunSelfUpdateFrom(LauncherVersionUrl(), CurrentLauncherVersion, BuiltInUpdateKeys());
}

void RunSelfUpdateFrom(const std::wstring& versionUrl, std::int32_t currentVersion,
                       const UpdateKeys& keys) {
    const std::wstring exePath = ExePath();
    if (!InstallNewerLauncher(versionUrl, currentVersion, keys, exePath))
        return;

    const auto started = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        nullptr, L"open", exePath.c_str(), nullptr, ExeDirectory().c_str(), SW_SHOWNORMAL));
    if (started <= 32) {
        // A build that cannot even start must not replace a working launcher: put the old one
        // back and carry on with it.
        RollBackLauncherSwap(exePath);
        return;
    }
    ::ExitProcess(0);
}

bool InstallNewerLauncher(const std::wstring& versionUrl, std::int32_t currentVersion,
                          const UpdateKeys& keys, const std::wstring& exePath) {
    // Without our own path every derived name would point somewhere else.
    std::wstring folder, name;
    if (!SplitExePath(exePath, folder, name))
        return false;

    const auto deadline = std::chrono::steady_clock::now() + kSelfUpdateDeadline;
    const CancelPredicate pastDeadline = [deadline] {
        return std::chrono::steady_clock::now() >= deadline;
    };
    const HttpSession session = HttpSession::Open();
    std::string body;
    // Retries, when built in, stay within the deadline like everything else here.
    const int retries = TALVORA_DOWNLOAD_RETRIES;
    if (!HttpGetText(session, versionUrl, body, pastDeadline, kMaxTextBytes, Retry{retries}))
        return false;
    if (!IsAuthenticUpdateFile(session, versionUrl, body, keys, pastDeadline, retries))
        return false;
    LauncherVersionInfo info;
    if (!ParseLauncherVersion(body, info))
        return false;
    if (info.version <= currentVersion)
        return false;

    if (!SwapNamesArePlain(exePath))
        return false;
    // The same road as every file of the game, installed by the swap below instead of a move.
    const std::uint64_t cap = info.size > 0 ? info.size : kMaxLauncherBytes;
    const FileRoad road{session, OpenInstallRoot(folder), retries, false, false, pastDeadline};
    FileJob job{Utf8ToWide(info.url),
                name,
                name,
                name + L".new",
                cap,
                info.size > 0,
                info.sha256,
                nullptr,
                {},
                0,
                BudgetFor(cap)};
    RunEnd end = StageAndFetch(road, job, ProgressCallback());
    if (end.going())
        end = VerifyStaged(job);
    // Dropped on every failure, which deletes the staging file through its handle.
    return end.going() && SwapInNewLauncher(exePath, job.staged);
}

bool SwapInNewLauncher(const std::wstring& exePath, StagingFile& staged) {
    std::wstring folder, name;
    if (!SplitExePath(exePath, folder, name))
        return false;
    const InstallRoot root = OpenInstallRoot(folder);
    if (RemoveFileBelow(root, name + L".old") != StepResult::Done ||
        MoveFileBelow(root, name, name + L".old") != StepResult::Done) {
        return false;
    }
    if (InstallStagingFile(staged, name) != StepResult::Done) {
        // Over whatever holds the name by now: under Wine a link swapped in for the staging name
        // can be what the rename moved there, and the player must be left a launcher.
        MoveFileOverBelow(root, name + L".old", name);
        return false;
    }
    return true;
}

void RollBackLauncherSwap(const std::wstring& exePath) {
    std::wstring folder, name;
    if (!SplitExePath(exePath, folder, name))
        return;
    const InstallRoot root = OpenInstallRoot(folder);
    if (MoveFileBelow(root, name, name + L".new") != StepResult::Done)
        return;
    if (MoveFileOverBelow(root, name + L".old", name) != StepResult::Done) {
        MoveFileOverBelow(root, name + L".new", name);  // never leave no launcher at all
        return;
    }
    RemoveFileBelow(root, name + L".new");
}

void RemoveOldLauncherCopy(const std::wstring& exePath) {
    std::wstring folder, name;
    if (SiblingIsPlain(exePath, L".old") && SplitExePath(exePath, folder, name))
        RemoveFileBelow(OpenInstallRoot(folder), name + L".old");
}
