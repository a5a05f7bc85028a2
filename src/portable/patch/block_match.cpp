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

bool MatchLocalBlocks(const BlockIndex& index, const SequentialRead& read,
                      const BlockDigestFn& digest, const std::function<bool()>& cancel,
                      BlockMatch& match) {
    const std::size_t count = index.blocks.size();
    const std::size_t blockSize = index.blockSize;
    match = BlockMatch();
    match.localOffset.assign(count, kNoLocalSource);
    if (count == 0)
        return true;
    // The last block is shorter when the size is no multiple of the block size; the scan's windows
    // are whole blocks, so it is looked for at the local file's end only.
    const std::uint64_t tail = index.fileSize - (count - 1) * static_cast<std::uint64_t>(blockSize);
    const std::size_t fullBlocks = tail == blockSize ? count : count - 1;
    const Candidates candidates(index.blocks, fullBlocks);
    const std::uint64_t budget = (index.fileSize + kConfirmationSlackBytes) / blockSize;
    const std::uint64_t workCap = kWorkPerBlock * count + kWorkSlack;
    const std::uint64_t giveUpAt = std::max(kMinScanBeforeGivingUp, index.fileSize / 8);
    bool anyFound = false;

    // The buffer holds the file from `start`; the window begins at `pos`.
    std::vector<unsigned char> buffer(kReadChunk + blockSize);
    std::uint64_t start = 0;
    std::size_t have = 0;
    bool atEnd = false;
    const auto fill = [&](std::uint64_t pos) {
        const auto keepFrom = static_cast<std::size_t>(pos - start);
        std::memmove(buffer.data(), buffer.data() + keepFrom, have - keepFrom);
        have -= keepFrom;
        start = pos;
        while (have < buffer.size() && !atEnd) {
            const long long got = read(buffer.data() + have, buffer.size() - have);
            if (got < 0)
                return false;
            atEnd = got == 0;
            have += static_cast<std::size_t>(got);
        }
        return true;
    };

    std::uint64_t pos = 0;
    bool fresh = true;  // the window's sum must be computed anew
    RollingSum sum;
    const auto windowSize = static_cast<std::uint32_t>(blockSize);
    for (;;) {
        // The window and the byte after it (which rolls in) must be in the buffer.
        if (pos + blockSize + 1 > start + have && !atEnd) {
            if ((cancel && cancel()) || !fill(pos))
                return false;
        }
        if (!anyFound && pos >= giveUpAt)
            match.stoppedEarly = true;
        if (fullBlocks == 0 || match.stoppedEarly || pos + blockSize > start + have)
            break;
        const unsigned char* window = buffer.data() + (pos - start);
        if (fresh) {
            sum = ComputeRollingSum(window, blockSize);
            fresh = false;
        }
        // The hot loop: slide while the filter rejects, up to the last window whose next byte is
        // in the buffer.
        const unsigned char* const last = buffer.data() + have - blockSize;
        const unsigned char* p = window;
        RollingSum rolling = sum;
        while (p < last && !candidates.filter.MayHold(rolling.Value())) {
            RollOne(rolling, p[0], p[blockSize], windowSize);
            ++p;
        }
        sum = rolling;
        pos += static_cast<std::uint64_t>(p - window);
        if (candidates.filter.MayHold(sum.Value())) {
            bool failed = false;
            const std::uint64_t failedBefore = match.failedConfirmations;
            const bool found =
                Confirm(candidates, sum.Value(), p, blockSize, pos, digest, match, failed);
            if (failed)
                return false;
            if (match.work > workCap)
                match.stoppedEarly = true;
            if (found) {
                anyFound = true;
                pos += blockSize;
                fresh = true;
                continue;
            }
            if (match.failedConfirmations > budget)
                match.stoppedEarly = true;
            if (match.failedConfirmations != failedBefore && match.failedConfirmations % 64 == 0 &&
                cancel && cancel())
                return false;
            if (p < last) {
                RollOne(sum, p[0], p[blockSize], windowSize);
                ++pos;
                continue;
            }
        }
        if (atEnd)
            break;  // the last window of the file has been looked at
    }

    if (tail != blockSize && !match.stoppedEarly) {
        // Read to the end, keeping the last `tail` bytes.
        while (!atEnd) {
            if ((cancel && cancel()) || !fill(start + have - std::min<std::uint64_t>(have, tail)))
                return false;
        }
        if (have >= tail) {
            const unsigned char* last = buffer.data() + have - tail;
            const BlockSum& want = index.blocks[count - 1];
            const auto size = static_cast<std::size_t>(tail);
            BlockDigest strong;
            if (ComputeRollingSum(last, size).Value() == want.weak) {
                if (!digest(last, size, strong))
                    return false;
                if (strong == want.strong)
                    match.localOffset[count - 1] = start + have - tail;
            }
        }
    }
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
