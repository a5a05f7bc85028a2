#include "selfupdate/self_update.h"

#include <windows.h>
#include <shellapi.h>

#include "app/exe_location.h"
#include "build_config.h"
#include "net/file_hash.h"
#include "net/http_client.h"
#include "net/text_conversion.h"
#include "net/update_signature.h"
#include "patch/install_paths.h"
#include "patch/staging.h"
#include "selfupdate/launcher_version.h"

const std::int32_t CurrentLauncherVersion = TALVORA_LAUNCHER_VERSION;

namespace {

// A swap that a power loss cannot leave half on disk.
bool MoveDurably(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// exePath + suffix must not lead through a link planted beside the launcher.
bool SiblingIsPlain(const std::wstring& exePath, const wchar_t* suffix) {
    const std::wstring folder = DirectoryOfPath(exePath);
    if (folder.size() >= exePath.size())
        return false;
    return IsPlainPathBelow(folder, exePath.substr(folder.size() + 1) + suffix);
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
    if (exePath.empty())
        return false;

    std::string body;
    if (!HttpGetText(versionUrl, body))
        return false;
    if (!IsAuthenticUpdateFile(versionUrl, body, keys))
        return false;
    LauncherVersionInfo info;
    if (!ParseLauncherVersion(body, info))
        return false;
    if (info.version <= currentVersion)
        return false;

    if (!SwapNamesArePlain(exePath))
        return false;
    const std::wstring newPath = exePath + L".new";
    bool inTheWay = false;
    if (!MakeFreshStagingFile(newPath, inTheWay))
        return false;

    const CancelPredicate never = [] { return false; };
    if (!HttpDownloadFile(Utf8ToWide(info.url), newPath, never,
                          [](std::uint64_t, std::uint64_t) {})) {
        ::DeleteFileW(newPath.c_str());
        return false;
    }
    if (Sha256FileHex(newPath) != info.sha256) {
        ::DeleteFileW(newPath.c_str());
        return false;
    }
    return SwapInNewLauncher(exePath);
}

bool SwapInNewLauncher(const std::wstring& exePath) {
    const std::wstring newPath = exePath + L".new";
    const std::wstring oldPath = exePath + L".old";
    ::DeleteFileW(oldPath.c_str());
    if (!MoveDurably(exePath, oldPath)) {
        ::DeleteFileW(newPath.c_str());
        return false;
    }
    if (!MoveDurably(newPath, exePath)) {
        MoveDurably(oldPath, exePath);
        ::DeleteFileW(newPath.c_str());
        return false;
    }
    return true;
}

void RollBackLauncherSwap(const std::wstring& exePath) {
    const std::wstring newPath = exePath + L".new";
    const std::wstring oldPath = exePath + L".old";
    if (!MoveDurably(exePath, newPath))
        return;
    if (!MoveDurably(oldPath, exePath)) {
        MoveDurably(newPath, exePath);  // never leave no launcher at all
        return;
    }
    ::DeleteFileW(newPath.c_str());
}

void RemoveOldLauncherCopy(const std::wstring& exePath) {
    if (!exePath.empty() && SiblingIsPlain(exePath, L".old"))
        ::DeleteFileW((exePath + L".old").c_str());
}
