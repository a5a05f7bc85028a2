// The first stages of an update run: the list of files, fetched, authenticated and judged before
// anything is written.
#pragma once

#include <vector>

#include "patch/patch_status.h"
#include "net/http_transport.h"
#include "patch/manifest.h"
#include "patch/run_outcome.h"

// Fetches the manifest and, with keys built in, its signature, both within the list's deadline,
// and reads it. Unreachable, NotAuthentic or BadList when it cannot be used.
RunEnd FetchList(PatchStatus& status, const HttpSession& session, PatchManifest& manifest);

// Judges the whole list: every path safe, no two entries meeting on disk; then removes the
// staging files a killed run left for these entries. BadPath or BadList otherwise.
RunEnd JudgeList(const PatchStatus& status, const PatchManifest& manifest);

// The check pass: the entries whose local file is missing or different, in manifest order.
// UpToDate when there are none, Cancelled when a stop cut the pass short.
RunEnd FindPending(PatchStatus& status, const PatchManifest& manifest,
                   std::vector<ManifestEntry>& pending);
