// The two commands of talvora-publish. Each checks its input, does its work
// and writes its file atomically; messages go to `err`, the one-line summary
// to `out`. The result is the process exit code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "signature_commands.h"

namespace talvora {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;  // input the launcher would refuse, or an I/O error
constexpr int kExitUsage = 2;    // malformed command line

struct ManifestOptions {
    std::filesystem::path clientDir;
    std::string baseUrl;
    bool versionGiven = false;
    std::string version;  // the current UTC time when not given
    std::vector<std::string> ifMissing;
    std::filesystem::path out = "patch_manifest.txt";
    char separator = '/';  // between folders in the written paths: '/' or '\\'
    unsigned jobs = 0;     // 0: one hashing thread per core
    bool progress = false;
    std::uint64_t blocksMin = 4u * 1024u * 1024u;  // 0: no block indexes
    bool compress = false;                         // compressed copies beside the files that shrink
    unsigned compressMinSaving = 5;                // percent a copy must save to be written
    SigningOptions signing;
};

struct LauncherOptions {
    std::filesystem::path exe;
    long long version = 0;
    std::string url;
    std::filesystem::path out = "launcher_version.txt";
    SigningOptions signing;
};

int RunManifest(const ManifestOptions& options, std::ostream& out, std::ostream& err);
int RunLauncher(const LauncherOptions& options, std::ostream& out, std::ostream& err);

}  // namespace talvora
