#include "patch/update_list.h"

#include <chrono>
#include <string>

#include "net/http_client.h"
#include "platform/text_conversion.h"
#include "net/update_signature.h"
#include "patch/check_pass.h"
#include "portable/patch/relative_path.h"
#include "patch/staging.h"
#include "patch/verified_files.h"

RunEnd FetchList(PatchStatus& status, const HttpSession& session, PatchManifest& manifest) {
    const auto deadline = std::chrono::steady_clock::now() + status.listDeadline;
    const CancelPredicate cancel = [&status, deadline] {
        return status.stopRequested.load() || std::chrono::steady_clock::now() >= deadline;
    };
    std::string body;
    const int retries = status.downloadRetries;
    if (!HttpGetText(session, status.manifestUrl, body, cancel, kMaxTextBytes, Retry{retries}))
        return EndWith(RunOutcome::Unreachable);
    // Checked over the bytes as received, before any of them is interpreted.
    if (!IsAuthenticUpdateFile(session, status.manifestUrl, body, status.updateKeys, cancel,
                               retries))
        return EndWith(RunOutcome::NotAuthentic);
    if (!ParsePatchManifest(body, manifest.baseUrl, manifest.entries))
        return EndWith(RunOutcome::BadList);
    return Going();
}

RunEnd JudgeList(const PatchStatus& status, const PatchManifest& manifest) {
    for (const ManifestEntry& entry : manifest.entries) {
        if (!IsSafeRelativePath(entry.relPath))
            return EndWith(RunOutcome::BadPath, Utf8ToWide(entry.relPath));
    }
    // The records the launcher keeps below the folder are no entry's to overwrite.
    std::vector<std::string> records;
    if (status.downloadRetries > 0)
        records.push_back(kKeptPartsRecord);
    if (status.quickCheck)
        records.push_back(kVerifiedRecord);
    if (EntriesCollide(manifest.entries, records))
        return EndWith(RunOutcome::BadList);
    // With retries a staging file is continued by the next run; it goes when its file no longer
    // needs it (after the check pass). With the quick check the check pass's listings find them.
    if (status.downloadRetries == 0 && !status.quickCheck)
        RemoveLeftoverStaging(OpenInstallRoot(status.installDir), manifest.entries);
    return Going();
}

RunEnd FindPending(PatchStatus& status, const PatchManifest& manifest,
                   std::vector<ManifestEntry>& pending) {
    const bool fullCheck = status.fullCheck.load();
    const bool quickCheck = status.quickCheck;
    const InstallRoot root = OpenInstallRoot(status.installDir);
    const bool keepParts = status.downloadRetries > 0;
    QuickFacts quick;
    // With the quick check the full check does not trust the record: it hashes every file, and
    // only what differs is fetched again.
    if (quickCheck && !GatherQuickFacts(root, manifest.entries, !fullCheck, !keepParts,
                                        status.stopRequested, quick)) {
        return EndWith(RunOutcome::Cancelled);
    }
    RemoveLeftoverStaging(root, manifest.entries, quick.leftovers);
    if (!RunCheckPass(status.installDir, manifest.entries, fullCheck && !quickCheck,
                      status.stopRequested, CheckPassThreads(status.installDir), pending,
                      quickCheck ? &quick : nullptr)) {
        return EndWith(RunOutcome::Cancelled);
    }
    if (quickCheck)
        RecordCheckedFiles(root, manifest.entries, quick);
    if (keepParts)
        SettleKeptParts(root, manifest.entries, pending);
    return pending.empty() ? EndWith(RunOutcome::UpToDate) : Going();
}
