// The check pass of an update run: which listed files must be downloaded.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "patch/verified_files.h"

// How many threads hash at once for an installation: min(hardware threads, 8), and one on a volume
// that reports a seek penalty, where parallel reads would only make the head jump.
unsigned CheckPassThreads(const std::wstring& installDir);

// Appends to `pending`, in manifest order, a copy of every entry that needs a download: an
// IFMISSING entry whose file (or folder) is absent; in full-check mode every other entry; otherwise
// every entry whose file cannot be opened, has another size, or whose digest differs or cannot be
// made. Entries' paths must already be known to be safe. Files are hashed on `threads` threads,
// largest first, each with its own 1 MiB buffer. Returns false, with `pending` unchanged, when
// `stop` turned true before every decision was made; no thread is left running either way.
// With `quick` (the quick check, facts gathered for these entries), a file the record vouches
// for is kept without being opened, and one hashed to its digest, as listed, is flushed and
// marked verified.
bool RunCheckPass(const std::wstring& installDir, const std::vector<ManifestEntry>& entries,
                  bool fullCheck, const std::atomic<bool>& stop, unsigned threads,
                  std::vector<ManifestEntry>& pending, QuickFacts* quick = nullptr);
