// The last stage of an update run: every pending file fetched into its staging file, verified
// and installed, strictly in manifest order.
#pragma once

#include <vector>

#include "app/patch_status.h"
#include "net/http_transport.h"
#include "patch/manifest.h"
#include "patch/run_outcome.h"

// Updated when every file is installed; otherwise the end of the first file that failed (files
// before it stay installed, nothing of it or after it is left behind) or Cancelled.
RunEnd UpdateFiles(PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
                   const std::vector<ManifestEntry>& pending);
