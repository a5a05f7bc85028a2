#include "portable/patch/block_match.h"

#include "portable/net/sha256.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

constexpr std::size_t kReadChunk = 4u * 1024u * 1024u;
// Strong digests that fail to confirm a weak hit may cost at most the file's own size plus this
// in hashing: honest data almost never gets there.
constexpr std::uint64_t kConfirmationSlackBytes = 64u * 1024u * 1024u;
// A local copy that shares no block with the new file within its first eighth (and at least this
// much) has most likely been rewritten: the rest of the scan would only delay the whole fetch.
constexpr std::uint64_t kMinScanBeforeGivingUp = 64u * 1024u * 1024u;
// The scan's work cap (see BlockMatch::work), per block of the index, plus a little for tiny
// files: an honest scan does a few units per block it finds and per weak hit that fails; past
// this the index is taken for hostile and the rest of the file is fetched.
constexpr std::uint64_t kWorkPerBlock = 16;
constexpr std::uint64_t kWorkSlack = 4096;

// A bit per hashed weak value: most byte offsets are rejected by one bit test in a table that
// stays in cache, before any search.
class WeakFilter {
  public:
    explicit WeakFilter(std::size_t entries) {
        // 64 bits per entry: under 2 % of offsets pass, and 16 Ki blocks take 128 KiB.
        while (bits_ < 26 && (std::size_t{1} << bits_) < entries * 64)
            ++bits_;
        table_.assign((std::size_t{1} << bits_) / 64, 0);
    }
    void Add(std::uint64_t weak) {
        const std::size_t at = Slot(weak);
        table_[at / 64] |= std::uint64_t{1} << (at % 64);
    }
    bool MayHold(std::uint64_t weak) const {
        const std::size_t at = Slot(weak);
        return (table_[at / 64] >> (at % 64)) & 1;
    }

  private:
    std::size_t Slot(std::uint64_t weak) const {
        return static_cast<std::size_t>((weak * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
    }
    unsigned bits_ = 16;
    std::vector<std::uint64_t> table_;
};

// Blocks ordered by (weak, strong), so a window's weak value finds its few candidates and its
// strong digest finds the blocks with its content by binary search: the work per weak hit does
// not grow with the number of blocks that share a weak value, which an index chooses.
struct Candidates {
    struct Block {
        std::uint64_t weak;
        BlockDigest strong;
        std::uint32_t index;
    };
    std::vector<Block> byKey;
    WeakFilter filter;
    explicit Candidates(const std::vector<BlockSum>& blocks, std::size_t count) : filter(count) {
        byKey.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            byKey.push_back({blocks[i].weak, blocks[i].strong, static_cast<std::uint32_t>(i)});
            filter.Add(blocks[i].weak);
        }
        std::sort(byKey.begin(), byKey.end(), [](const Block& x, const Block& y) {
            return std::tie(x.weak, x.strong, x.index) < std::tie(y.weak, y.strong, y.index);
        });
    }
    bool HasWeak(std::uint64_t weak) const {
        const auto at =
            std::lower_bound(byKey.begin(), byKey.end(), weak,
                             [](const Block& x, std::uint64_t w) { return x.weak < w; });
        return at != byKey.end() && at->weak == weak;
    }
};

// Confirms a weak hit: every block with this weak value and the window's strong digest gets the
// window as its source, once (blocks of equal content are given their source together, so a file
// of one repeated block costs each block once, not once per window). Returns whether any block
// had the window's content.
bool Confirm(const Candidates& candidates, std::uint64_t weak, const unsigned char* window,
             std::size_t size, std::uint64_t offset, const BlockDigestFn& digest, BlockMatch& match,
             bool& failed) {
    if (!candidates.HasWeak(weak))
        return false;
    Candidates::Block key{weak, {}, 0};
    if (!digest(window, size, key.strong)) {
        failed = true;
        return false;
    }
    match.work += 2;  // the digest and the lookup
    const auto byContent = [](const Candidates::Block& x, const Candidates::Block& y) {
        return std::tie(x.weak, x.strong) < std::tie(y.weak, y.strong);
    };
    const auto range =
        std::equal_range(candidates.byKey.begin(), candidates.byKey.end(), key, byContent);
    if (range.first == range.second) {
        ++match.failedConfirmations;
        return false;
    }
    if (match.localOffset[range.first->index] == kNoLocalSource) {
        for (auto it = range.first; it != range.second; ++it)
            match.localOffset[it->index] = offset;
        match.work += static_cast<std::uint64_t>(range.second - range.first);
    }
    return true;
}

}  // namespace

namespace {

bool Sha256HalfDigest(const unsigned char* data, std::size_t size, BlockDigest& digest) {
    Sha256Digest full;
    if (!Sha256Of(data, size, full))
        return false;
    std::copy_n(full.begin(), digest.size(), digest.begin());
    return true;
}

}  // namespace

BlockDigestFn BlockDigestFor(BlockDigestKind kind) {
    return kind == BlockDigestKind::Sha256Half ? BlockDigestFn(Sha256HalfDigest)
                                               : BlockDigestFn(Xxh64BlockDigest);
}

namespace {

// The local file from `start`, read ahead in large chunks.
struct ScanBuffer {
    std::vector<unsigned char> bytes;
    std::uint64_t start = 0;
    std::size_t have = 0;
    bool atEnd = false;
};

// Keeps the bytes from file offset `keepFrom` on and reads until the buffer is full or the file
// has ended.
bool Refill(ScanBuffer& buffer, std::uint64_t keepFrom, const SequentialRead& read) {
    const auto keep = static_cast<std::size_t>(keepFrom - buffer.start);
    std::memmove(buffer.bytes.data(), buffer.bytes.data() + keep, buffer.have - keep);
    buffer.have -= keep;
    buffer.start = keepFrom;
    while (buffer.have < buffer.bytes.size() && !buffer.atEnd) {
        const long long got =
            read(buffer.bytes.data() + buffer.have, buffer.bytes.size() - buffer.have);
        if (got < 0)
            return false;
        buffer.atEnd = got == 0;
        buffer.have += static_cast<std::size_t>(got);
    }
    return true;
}

bool Cancelled(const std::function<bool()>& cancel) {
    return cancel && cancel();
}

// One scan of a local file against an index: what it reads with and reports to, its limits, and
// where its window stands.
struct Scan {
    const BlockIndex& index;
    const SequentialRead& read;
    const BlockDigestFn& digest;
    const std::function<bool()>& cancel;
    BlockMatch& match;
    std::size_t blockSize;
    ScanBuffer buffer;
    std::uint64_t failedBudget = 0;  // see BlockMatch::failedConfirmations
    std::uint64_t workCap = 0;       // see BlockMatch::work
    std::uint64_t giveUpAt = 0;      // the offset by which some block must have been found
    std::uint64_t pos = 0;           // where the window begins in the file
    bool fresh = true;               // the window's sum must be computed anew
    RollingSum sum = RollingSum();
    bool anyFound = false;
};

enum class Step { Next, Done, Failed };

// The hot loop: slides the window while the filter rejects it, up to `last`, the last window whose
// next byte is in the buffer. Returns where it stopped; `sum` is that window's.
const unsigned char* SlideWhileRejected(const WeakFilter& filter, const unsigned char* p,
                                        const unsigned char* last, std::size_t blockSize,
                                        RollingSum& sum) {
    const auto windowSize = static_cast<std::uint32_t>(blockSize);
    RollingSum rolling = sum;
    while (p < last && !filter.MayHold(rolling.Value())) {
        RollOne(rolling, p[0], p[blockSize], windowSize);
        ++p;
    }
    sum = rolling;
    return p;
}

// The window at `p` passed the filter: a found block moves the window past it, a miss by one byte.
Step OnWeakHit(Scan& scan, const Candidates& candidates, const unsigned char* p,
               const unsigned char* last) {
    BlockMatch& match = scan.match;
    bool failed = false;
    const std::uint64_t failedBefore = match.failedConfirmations;
    const bool found = Confirm(candidates, scan.sum.Value(), p, scan.blockSize, scan.pos,
                               scan.digest, match, failed);
    if (failed)
        return Step::Failed;
    if (match.work > scan.workCap)
        match.stoppedEarly = true;
    if (found) {
        scan.anyFound = true;
        scan.pos += scan.blockSize;
        scan.fresh = true;
        return Step::Next;
    }
    if (match.failedConfirmations > scan.failedBudget)
        match.stoppedEarly = true;
    if (match.failedConfirmations != failedBefore && match.failedConfirmations % 64 == 0 &&
        Cancelled(scan.cancel)) {
        return Step::Failed;
    }
    if (p < last) {
        RollOne(scan.sum, p[0], p[scan.blockSize], static_cast<std::uint32_t>(scan.blockSize));
        ++scan.pos;
        return Step::Next;
    }
    return scan.buffer.atEnd ? Step::Done : Step::Next;
}

// Scans the buffered bytes from the window on, until a weak hit has been judged or the buffer's
// last window has been looked at.
Step ScanBuffered(Scan& scan, const Candidates& candidates) {
    const ScanBuffer& buffer = scan.buffer;
    const unsigned char* window = buffer.bytes.data() + (scan.pos - buffer.start);
    if (scan.fresh) {
        scan.sum = ComputeRollingSum(window, scan.blockSize);
        scan.fresh = false;
    }
    const unsigned char* const last = buffer.bytes.data() + buffer.have - scan.blockSize;
    const unsigned char* p =
        SlideWhileRejected(candidates.filter, window, last, scan.blockSize, scan.sum);
    scan.pos += static_cast<std::uint64_t>(p - window);
    if (candidates.filter.MayHold(scan.sum.Value()))
        return OnWeakHit(scan, candidates, p, last);
    return buffer.atEnd ? Step::Done : Step::Next;
}

// Every whole block of the index, looked for at every byte offset of the local file.
bool ScanWholeBlocks(Scan& scan, const Candidates& candidates) {
    for (;;) {
        // The window and the byte after it (which rolls in) must be in the buffer.
        const ScanBuffer& buffer = scan.buffer;
        if (scan.pos + scan.blockSize + 1 > buffer.start + buffer.have && !buffer.atEnd) {
            if (Cancelled(scan.cancel) || !Refill(scan.buffer, scan.pos, scan.read))
                return false;
        }
        if (!scan.anyFound && scan.pos >= scan.giveUpAt)
            scan.match.stoppedEarly = true;
        if (scan.match.stoppedEarly || scan.pos + scan.blockSize > buffer.start + buffer.have)
            return true;
        const Step step = ScanBuffered(scan, candidates);
        if (step != Step::Next)
            return step == Step::Done;
    }
}

// The last block, shorter than the others, is looked for at the local file's end only.
bool MatchShortLastBlock(Scan& scan, std::uint64_t tail) {
    ScanBuffer& buffer = scan.buffer;
    // Read to the end, keeping the last `tail` bytes.
    while (!buffer.atEnd) {
        if (Cancelled(scan.cancel) ||
            !Refill(buffer, buffer.start + buffer.have - std::min<std::uint64_t>(buffer.have, tail),
                    scan.read)) {
            return false;
        }
    }
    if (buffer.have < tail)
        return true;
    const unsigned char* last = buffer.bytes.data() + buffer.have - tail;
    const BlockSum& want = scan.index.blocks.back();
    const auto size = static_cast<std::size_t>(tail);
    if (ComputeRollingSum(last, size).Value() != want.weak)
        return true;
    BlockDigest strong;
    if (!scan.digest(last, size, strong))
        return false;
    if (strong == want.strong)
        scan.match.localOffset.back() = buffer.start + buffer.have - tail;
    return true;
}

}  // namespace

bool MatchLocalBlocks(const BlockIndex& index, const SequentialRead& read,
                      const BlockDigestFn& digest, const std::function<bool()>& cancel,
                      BlockMatch& match) {
    const std::size_t count = index.blocks.size();
    match = BlockMatch();
    match.localOffset.assign(count, kNoLocalSource);
    if (count == 0)
        return true;
    const std::size_t blockSize = index.blockSize;
    // The scan's windows are whole blocks; the last block is shorter when the size is no
    // multiple of the block size.
    const std::uint64_t tail = index.fileSize - (count - 1) * static_cast<std::uint64_t>(blockSize);
    const std::size_t wholeBlocks = tail == blockSize ? count : count - 1;
    Scan scan{index, read, digest, cancel, match, blockSize, ScanBuffer()};
    scan.buffer.bytes.resize(kReadChunk + blockSize);
    scan.failedBudget = (index.fileSize + kConfirmationSlackBytes) / blockSize;
    scan.workCap = kWorkPerBlock * count + kWorkSlack;
    scan.giveUpAt = std::max(kMinScanBeforeGivingUp, index.fileSize / 8);
    const Candidates candidates(index.blocks, wholeBlocks);
    if (wholeBlocks > 0 && !ScanWholeBlocks(scan, candidates))
        return false;
    if (tail != blockSize && !match.stoppedEarly)
        return MatchShortLastBlock(scan, tail);
    return true;
}

namespace {

std::vector<PlanPiece> BlockPieces(const BlockIndex& index, const BlockMatch& match) {
    std::vector<PlanPiece> pieces;
    const std::uint64_t blockSize = index.blockSize;
    for (std::size_t i = 0; i < index.blocks.size(); ++i) {
        PlanPiece piece;
        piece.offset = i * blockSize;
        piece.length = std::min(blockSize, index.fileSize - piece.offset);
        piece.remote = match.localOffset[i] == kNoLocalSource;
        piece.localOffset = piece.remote ? 0 : match.localOffset[i];
        if (!pieces.empty()) {
            PlanPiece& last = pieces.back();
            const bool joins =
                last.remote == piece.remote &&
                (piece.remote || last.localOffset + last.length == piece.localOffset);
            if (joins) {
                last.length += piece.length;
                continue;
            }
        }
        pieces.push_back(piece);
    }
    return pieces;
}

// Local pieces of at most `gap` bytes with remote pieces on both sides are fetched with them.
std::vector<PlanPiece> MergeGaps(const std::vector<PlanPiece>& pieces, std::uint64_t gap) {
    std::vector<PlanPiece> merged;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].remote) {
            if (!merged.empty() && merged.back().remote)
                merged.back().length += pieces[i].length;
            else
                merged.push_back(pieces[i]);
            ++i;
            continue;
        }
        // A run of local pieces (copies from several places in the local file) between two
        // remote ones is fetched with them when the whole run is short enough.
        std::size_t end = i;
        std::uint64_t length = 0;
        while (end < pieces.size() && !pieces[end].remote)
            length += pieces[end++].length;
        const bool between = !merged.empty() && merged.back().remote && end < pieces.size();
        if (between && length <= gap) {
            merged.back().length += length;
        } else {
            merged.insert(merged.end(), pieces.begin() + static_cast<std::ptrdiff_t>(i),
                          pieces.begin() + static_cast<std::ptrdiff_t>(end));
        }
        i = end;
    }
    return merged;
}

}  // namespace

PatchPlan PlanPatch(const BlockIndex& index, const BlockMatch& match, std::uint64_t mergeGap,
                    std::size_t maxRanges) {
    const std::vector<PlanPiece> blocks = BlockPieces(index, match);
    PatchPlan plan;
    std::uint64_t gap = mergeGap;
    for (;;) {
        plan.pieces = MergeGaps(blocks, gap);
        plan.remoteRanges = 0;
        plan.remoteBytes = 0;
        for (const PlanPiece& piece : plan.pieces) {
            if (piece.remote) {
                ++plan.remoteRanges;
                plan.remoteBytes += piece.length;
            }
        }
        // At the file's size every gap is merged, so the loop ends.
        if (plan.remoteRanges <= std::max<std::size_t>(maxRanges, 1) || gap >= index.fileSize)
            return plan;
        gap = std::max<std::uint64_t>(gap * 2, index.blockSize);
    }
}
