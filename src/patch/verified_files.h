// The quick check (TALVORA_QUICK_CHECK): the launcher keeps a record of the files it verified, each
// with the state of the file it verified (FileState) and its SHA-256, so that a start hashes only
// the files whose state changed. The record is a hint that saves work: it is read only when it is
// the launcher's own file for this folder, names only files whose data was flushed, and vouches
// only for a file whose every fact is unchanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "patch/install_paths.h"
#include "patch/manifest.h"
#include "portable/patch/verified_record.h"

// The record's name below the installation; a list that names it is refused (EntriesCollide).
extern const char kVerifiedRecord[];

// What the check pass knows of each entry's file before reading any of it, by index.
struct QuickFacts {
    std::vector<FileState> states;  // as the listing of the file's folder gave it
    std::vector<char> settled;      // a state was listed, and it may be recorded
    std::vector<char> writtenOut;   // settled long ago: its data is on the disk without a flush
    std::vector<char> vouched;      // the record names this very state with the entry's digest
    std::vector<char> verified;     // set by the check pass: hashed right now, same state, flushed
    std::vector<std::size_t> leftovers;  // entries whose staging file may lie beside them
    std::string recordBytes;             // the record as it was read; empty when there was none
    std::size_t recordFiles = 0;         // the files it names
};

// Lists the folders of the entries' files once, for their states and, with `findLeftovers`, for
// staging files that a killed run left; reads the record, and with `trustRecord` takes what it
// vouches for. False when `stop` came first.
bool GatherQuickFacts(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                      bool trustRecord, bool findLeftovers, const std::atomic<bool>& stop,
                      QuickFacts& facts);

// A change this close after a file's last one could leave its times as they were: the tick of the
// coarsest clock among volumes that keep access lists (NTFS counts in 15.6 ms steps), in the
// 100 ns units of file times. (FAT and exFAT keep none, so no record there is the launcher's own.)
constexpr std::int64_t kSettleTime = 50 * 10000;

// A state that may be recorded when it was read at `takenAt`: a real id and change time, and no
// change within `settle` before.
bool IsSettledState(const FileState& state, std::int64_t takenAt,
                    std::int64_t settle = kSettleTime);

// A file unchanged for this long has long been written out by the system (its writeback takes
// seconds), so the check pass records it without flushing it itself: a file that refuses to be
// opened for writing (a read-only one) is recorded too.
constexpr std::int64_t kWrittenOutTime = 3600LL * 10000000;

// The current time in the units of file times.
std::int64_t FileTimeNow();

// After the check pass: the record names the entries that were vouched for or verified (written
// only when it changed).
void RecordCheckedFiles(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                        const QuickFacts& facts);

// After a run flushed the files it installed: adds them to the record, with the states read
// through their handles after the flush.
void RecordInstalledFiles(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                          const std::vector<VerifiedFile>& installed);
