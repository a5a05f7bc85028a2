#include "commands.h"

#include "atomic_file.h"
#include "block_files.h"
#include "compressed_copies.h"
#include "file_digests.h"
#include "glob.h"
#include "input_file.h"
#include "manifest_writer.h"
#include "portable/net/hex_digest.h"
#include "names.h"
#include "progress.h"
#include "portable/net/sha256.h"
#include "portable/patch/compressed_copy.h"
#include "portable/patch/relative_path.h"
#include "portable/selfupdate/launcher_version.h"
#include "text.h"
#include "version_file.h"
#include "walk.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace talvora {

namespace {

constexpr std::size_t kMaxProblemsShown = 50;

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::ostream& Error(std::ostream& err) {
    return err << "talvora-publish: error: ";
}
std::ostream& Warning(std::ostream& err) {
    return err << "talvora-publish: warning: ";
}

std::string Quoted(const fs::path& path) {
    return "'" + Printable(PathToUtf8(path)) + "'";
}

void ReportProblems(const std::vector<std::string>& problems, std::ostream& err) {
    for (std::size_t i = 0; i < problems.size() && i < kMaxProblemsShown; ++i) {
        Error(err) << problems[i] << "\n";
    }
    if (problems.size() > kMaxProblemsShown) {
        Error(err) << "... and " << problems.size() - kMaxProblemsShown << " more\n";
    }
}

std::vector<FileDigest> HashWithProgress(const std::vector<ClientFile>& files, unsigned jobs,
                                         bool showProgress) {
    std::vector<fs::path> paths;
    paths.reserve(files.size());
    std::uint64_t totalBytes = 0;
    for (const ClientFile& file : files) {
        paths.push_back(file.path);
        totalBytes += file.size;
    }
    HashProgress progress;
    std::function<void()> tick;
    if (showProgress) {
        tick = [&]() { DrawProgress(progress.files, files.size(), progress.bytes, totalBytes); };
    }
    std::vector<FileDigest> digests = Sha256Files(paths, jobs, progress, tick);
    if (showProgress)
        ClearProgress();
    return digests;
}

// A quick look at the executable: a file without the MZ header is most
// likely not what the operator meant to publish.
bool LooksLikeWindowsExecutable(const fs::path& exe) {
    InputFile file;
    std::string error;
    unsigned char header[2] = {0, 0};
    return file.Open(exe, error) && file.Read(header, sizeof header, error) == 2 &&
           header[0] == 'M' && header[1] == 'Z';
}

// What the stages of one manifest run hand on to each other, in the order they fill it.
struct ManifestRun {
    std::string version;
    PreparedSigning signing;
    std::vector<ClientFile> files;
    std::vector<FileDigest> digests;  // in the order of `files`
    std::vector<ManifestEntry> entries;
    std::vector<std::size_t> blockFiles;  // positions in `entries` that get a block index
    std::size_t ifMissingCount = 0;
    std::uint64_t totalBytes = 0;
    std::size_t copies = 0;  // compressed copies written
    std::uint64_t copiedRawBytes = 0;
    std::uint64_t copyBytes = 0;
};

// Each stage returns whether the run goes on; one that refuses has said why on `err`, and nothing
// after it runs.

bool CheckManifestInputs(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    if (options.versionGiven && (options.version.empty() || HasLineBreakOrTab(options.version) ||
                                 !IsValidUtf8(options.version))) {
        Error(err) << "--version must be non-empty UTF-8 text without TAB, CR or LF\n";
        return false;
    }
    run.version = options.versionGiven ? options.version : UtcTimestamp();
    if (!PrepareSigning(options.signing, run.signing, err))
        return false;
    std::string urlError;
    if (!IsUsableUrl(options.baseUrl, urlError)) {
        Error(err) << "--base: " << urlError << "\n";
        return false;
    }
    if (options.baseUrl.back() != '/') {
        Warning(err)
            << "--base does not end with '/': the launcher appends file paths to it as they "
               "stand, e.g. "
            << options.baseUrl << "data" << options.separator << "file.pak\n";
    }
    for (const std::string& pattern : options.ifMissing) {
        if (pattern.empty()) {
            Error(err) << "--if-missing needs a non-empty pattern\n";
            return false;
        }
    }
    return true;
}

// Indexes written by an earlier run sit beside their files; they are not game files.
void DropBlockIndexes(std::vector<ClientFile>& files) {
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const ClientFile& file) {
                                   return EndsWith(file.relPath, kBlockIndexSuffix) &&
                                          IsBlockIndexFile(file.path);
                               }),
                files.end());
}

// Copies written by an earlier run sit beside their files; they are not game files either.
void DropCompressedCopies(std::vector<ClientFile>& files) {
    std::set<std::string> copyNames;
    for (const ClientFile& file : files)
        copyNames.insert(CollisionKey(CompressedCopyPath(file.relPath)));
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&copyNames](const ClientFile& file) {
                                   return copyNames.count(CollisionKey(file.relPath)) != 0 &&
                                          IsCompressedCopyFile(file.path);
                               }),
                files.end());
}

// With --compress, a game file at another's copy name would be overwritten by that copy.
void FindCopyNameClashes(const std::vector<ClientFile>& files, std::vector<std::string>& problems) {
    std::set<std::string> names;
    for (const ClientFile& file : files)
        names.insert(CollisionKey(file.relPath));
    for (const ClientFile& file : files) {
        if (names.count(CollisionKey(CompressedCopyPath(file.relPath))) != 0) {
            problems.push_back("'" + Printable(CompressedCopyPath(file.relPath)) +
                               "': is where the compressed copy of '" + Printable(file.relPath) +
                               "' goes");
        }
    }
}

bool WalkClientFolder(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    WalkResult walk;
    std::string error;
    if (!WalkClientDir(options.clientDir, options.out, walk, error)) {
        Error(err) << error << "\n";
        return false;
    }
    DropBlockIndexes(walk.files);
    DropCompressedCopies(walk.files);
    if (options.compress)
        FindCopyNameClashes(walk.files, walk.problems);
    std::vector<std::string> relPaths;
    relPaths.reserve(walk.files.size());
    for (const ClientFile& file : walk.files)
        relPaths.push_back(file.relPath);
    for (std::string& clash : CaseClashes(relPaths))
        walk.problems.push_back(std::move(clash));
    if (!walk.problems.empty()) {
        ReportProblems(walk.problems, err);
        Error(err) << "the launcher would refuse " << walk.problems.size()
                   << (walk.problems.size() == 1 ? " entry" : " entries") << "; nothing written\n";
        return false;
    }
    if (walk.files.empty()) {
        // The launcher rejects a manifest without file lines as faulty.
        Error(err) << "no files below " << Quoted(options.clientDir) << "; nothing written\n";
        return false;
    }
    run.files = std::move(walk.files);
    return true;
}

// Why a file's digest cannot go into the manifest; empty when it can.
std::string DigestProblem(const ClientFile& file, const FileDigest& digest) {
    if (digest.sha256.empty())
        return "'" + Printable(file.relPath) + "': cannot read: " + digest.error;
    if (digest.size != file.size) {
        return "'" + Printable(file.relPath) + "': changed while being read (" +
               std::to_string(file.size) + " bytes, then " + std::to_string(digest.size) + ")";
    }
    return std::string();
}

// Marks the entry IFMISSING when any pattern matches it, noting which patterns did.
void ApplyIfMissing(const std::vector<std::string>& patterns, ManifestEntry& entry,
                    std::vector<bool>& patternUsed) {
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (GlobMatch(patterns[p], entry.relPath)) {
            entry.ifMissing = true;
            patternUsed[p] = true;
        }
    }
}

void WarnUnusedPatterns(const std::vector<std::string>& patterns,
                        const std::vector<bool>& patternUsed, std::ostream& err) {
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (!patternUsed[p])
            Warning(err) << "--if-missing '" << Printable(patterns[p]) << "' matches no file\n";
    }
}

bool MakeEntries(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    std::vector<std::string> readErrors;
    std::vector<bool> patternUsed(options.ifMissing.size(), false);
    run.entries.reserve(run.files.size());
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const ClientFile& file = run.files[i];
        std::string problem = DigestProblem(file, run.digests[i]);
        if (!problem.empty()) {
            readErrors.push_back(std::move(problem));
            continue;
        }
        ManifestEntry entry{file.relPath, file.size, run.digests[i].sha256, false};
        ApplyIfMissing(options.ifMissing, entry, patternUsed);
        run.ifMissingCount += entry.ifMissing ? 1 : 0;
        run.totalBytes += entry.size;
        if (!entry.ifMissing && options.blocksMin != 0 && entry.size >= options.blocksMin)
            run.blockFiles.push_back(run.entries.size());
        run.entries.push_back(std::move(entry));
    }
    if (!readErrors.empty()) {
        ReportProblems(readErrors, err);
        Error(err) << "nothing written\n";
        return false;
    }
    WarnUnusedPatterns(options.ifMissing, patternUsed, err);
    return true;
}

// Builds and writes one file's index, and names its SHA-256 on the entry.
bool WriteBlockIndex(const fs::path& clientDir, ManifestEntry& entry, std::ostream& err) {
    const fs::path path = clientDir / PathFromUtf8(entry.relPath);
    fs::path indexPath = path;
    indexPath += kBlockIndexSuffix;
    BlockIndex index;
    std::string error;
    if (!BuildBlockIndex(path, index, error)) {
        Error(err) << "'" << Printable(entry.relPath) << "': block index: " << error << "\n";
        return false;
    }
    ::FileSha256 manifestDigest;
    if (!ParseSha256Hex(entry.sha256, manifestDigest) || manifestDigest != index.fileSha256) {
        Error(err) << "'" << Printable(entry.relPath) << "': changed while being read\n";
        return false;
    }
    const std::string indexBytes = FormatBlockIndex(index);
    Sha256Digest indexDigest;
    if (!Sha256Of(indexBytes.data(), indexBytes.size(), indexDigest)) {
        Error(err) << "'" << Printable(entry.relPath) << "': block index: SHA-256 failed\n";
        return false;
    }
    if (!WriteFileAtomically(indexPath, indexBytes, error)) {
        Error(err) << error << "\n";
        return false;
    }
    entry.blocks = true;
    // The manifest vouches for the index, so a launcher takes no other from the server.
    entry.blocksSha256 = HexDigest(indexDigest.data(), indexDigest.size());
    return true;
}

// Written before the manifest that announces them, like the files themselves.
bool WriteBlockIndexes(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    for (const std::size_t at : run.blockFiles) {
        if (!WriteBlockIndex(options.clientDir, run.entries[at], err))
            return false;
    }
    return true;
}

// Compresses the entries on `jobs` threads, each taking the next one; the first failure is kept.
bool CompressEntries(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::string failure;
    const auto work = [&] {
        for (std::size_t at = next++; at < run.entries.size(); at = next++) {
            ManifestEntry& entry = run.entries[at];
            std::string error;
            const CopyResult result =
                WriteCompressedCopy(options.clientDir, entry, options.compressMinSaving, error);
            const std::lock_guard<std::mutex> hold(lock);
            if (result == CopyResult::Failed && failure.empty())
                failure = "'" + Printable(entry.relPath) + "': compressed copy: " + error;
            if (result == CopyResult::Done) {
                ++run.copies;
                run.copiedRawBytes += entry.size;
                run.copyBytes += entry.compressedSize;
            }
        }
    };
    const unsigned jobs = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < jobs && i < run.entries.size(); ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (!failure.empty())
        Error(err) << failure << "\n";
    return failure.empty();
}

// Written before the manifest that names them, like the files themselves.
bool WriteCompressedCopies(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    return !options.compress || CompressEntries(options, run, err);
}

bool WriteManifest(const ManifestOptions& options, ManifestRun& run, std::ostream& err) {
    const std::string text = WithExpiresLine(
        FormatManifest(run.version, options.baseUrl, std::move(run.entries), options.separator),
        run.signing.expiresLine);
    std::string error;
    if (!WriteFileAtomically(options.out, text, error)) {
        Error(err) << error << "\n";
        return false;
    }
    return !run.signing.sign || WriteSignatureBeside(options.out, text, run.signing, err);
}

}  // namespace

int RunManifest(const ManifestOptions& options, std::ostream& out, std::ostream& err) {
    ManifestRun run;
    if (!CheckManifestInputs(options, run, err) || !WalkClientFolder(options, run, err))
        return kExitRefused;
    run.digests = HashWithProgress(run.files, options.jobs, options.progress && StderrIsTerminal());
    if (!MakeEntries(options, run, err) || !WriteBlockIndexes(options, run, err) ||
        !WriteCompressedCopies(options, run, err) || !WriteManifest(options, run, err)) {
        return kExitRefused;
    }
    out << "wrote " << Quoted(options.out) << ": " << run.files.size() << " files, "
        << HumanBytes(run.totalBytes) << ", " << run.ifMissingCount << " IFMISSING, "
        << run.blockFiles.size() << " BLOCKS, ";
    if (options.compress) {
        out << run.copies << " ZLIB (" << HumanBytes(run.copiedRawBytes) << " as "
            << HumanBytes(run.copyBytes) << "), ";
    }
    out << "VERSION " << run.version << (run.signing.sign ? ", signed" : "") << "\n";
    return kExitOk;
}

int RunLauncher(const LauncherOptions& options, std::ostream& out, std::ostream& err) {
    std::string entryError;
    if (!IsUsableLauncherEntry(options.version, options.url, entryError)) {
        Error(err) << entryError << "\n";
        return kExitRefused;
    }
    PreparedSigning signing;
    if (!PrepareSigning(options.signing, signing, err))
        return kExitRefused;
    std::error_code ec;
    const fs::file_status status = fs::status(options.exe, ec);
    if (status.type() == fs::file_type::not_found) {
        Error(err) << Quoted(options.exe) << ": no such file\n";
        return kExitRefused;
    }
    if (ec) {
        Error(err) << Quoted(options.exe) << ": " << ec.message() << "\n";
        return kExitRefused;
    }
    if (!fs::is_regular_file(status)) {
        Error(err) << Quoted(options.exe) << ": not a regular file\n";
        return kExitRefused;
    }
    std::vector<unsigned char> buffer;
    const FileDigest digest = Sha256File(options.exe, buffer, nullptr);
    if (digest.sha256.empty()) {
        Error(err) << Quoted(options.exe) << ": cannot read: " << digest.error << "\n";
        return kExitRefused;
    }
    if (!LooksLikeWindowsExecutable(options.exe)) {
        Warning(err) << Quoted(options.exe)
                     << " does not start with 'MZ'; is it a Windows executable?\n";
    }
    LauncherVersionInfo info;
    info.version = static_cast<std::int32_t>(options.version);
    info.sha256 = digest.sha256;
    info.url = options.url;
    info.size = digest.size;
    std::string error;
    const std::string text = WithExpiresLine(FormatLauncherVersion(info), signing.expiresLine);
    if (!WriteFileAtomically(options.out, text, error)) {
        Error(err) << error << "\n";
        return kExitRefused;
    }
    if (signing.sign && !WriteSignatureBeside(options.out, text, signing, err))
        return kExitRefused;
    out << "wrote " << Quoted(options.out) << ": VERSION " << options.version << ", SHA256 "
        << digest.sha256 << ", SIZE " << digest.size << (signing.sign ? ", signed" : "") << "\n";
    return kExitOk;
}

}  // namespace talvora
