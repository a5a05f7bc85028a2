// The inflating half of the zlib streams (portable/patch/zlib_stream.h), over the zlib library.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "portable/patch/zlib_stream.h"

namespace {

constexpr std::size_t kOutputBytes = 64 * 1024;
// zlib asks for its state (about 7 KiB) and one window of at most 32 KiB; no input makes it ask
// for more, and a budget keeps it so.
constexpr std::size_t kZlibBudget = 64 * 1024;
// zlib counts a piece in 32 bits.
constexpr std::size_t kMaxPiece = 1u << 30;

struct Budget {
    std::size_t used = 0;
};

// Each block carries its size in front, so that freeing gives it back to the budget.
voidpf BudgetAlloc(voidpf opaque, uInt items, uInt size) {
    Budget& budget = *static_cast<Budget*>(opaque);
    const std::size_t header = alignof(std::max_align_t);
    if (size != 0 && items > (kZlibBudget - budget.used) / size)
        return Z_NULL;
    const std::size_t bytes = std::size_t{items} * size;
    auto* block = static_cast<unsigned char*>(std::malloc(header + bytes));
    if (block == nullptr)
        return Z_NULL;
    *reinterpret_cast<std::size_t*>(block) = bytes;
    budget.used += bytes;
    return block + header;
}

void BudgetFree(voidpf opaque, voidpf address) {
    auto* block = static_cast<unsigned char*>(address) - alignof(std::max_align_t);
    static_cast<Budget*>(opaque)->used -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace

struct ZlibInflater::State {
    z_stream stream{};
    Budget budget;
    bool ready = false;
    bool ended = false;
    InflateFault fault = InflateFault::None;
    std::uint64_t cap = 0;
    std::uint64_t taken = 0;
    std::uint64_t inflated = 0;
    ByteSink sink;
    char output[kOutputBytes];
};

namespace {

using State = ZlibInflater::State;

bool Fail(State& state, InflateFault fault) {
    if (state.fault == InflateFault::None)
        state.fault = fault;
    return false;
}

InflateFault FaultOf(int result) {
    switch (result) {
        case Z_OK:
        case Z_STREAM_END:
        case Z_BUF_ERROR:  // no progress without more input: not a fault
            return InflateFault::None;
        case Z_MEM_ERROR:
            return InflateFault::Memory;
        default:  // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
            return InflateFault::Garbage;
    }
}

// One call of inflate into the output buffer, whose room allows one byte past the cap so that a
// stream longer than the cap is seen; its output goes to the sink.
bool InflateOnce(State& state, int& result) {
    const std::uint64_t room = state.cap - state.inflated;
    const uInt offered = static_cast<uInt>(std::min<std::uint64_t>(kOutputBytes - 1, room) + 1);
    state.stream.next_out = reinterpret_cast<Bytef*>(state.output);
    state.stream.avail_out = offered;
    result = inflate(&state.stream, Z_NO_FLUSH);
    const std::size_t produced = offered - state.stream.avail_out;
    if (FaultOf(result) != InflateFault::None)
        return Fail(state, FaultOf(result));
    if (produced > room)
        return Fail(state, InflateFault::PastCap);
    if (produced != 0 && !state.sink(state.output, produced))
        return Fail(state, InflateFault::Stopped);
    state.inflated += produced;
    state.ended = result == Z_STREAM_END;
    return true;
}

// Inflates one piece of at most kMaxPiece bytes, until it is used up or the stream ends.
bool InflatePiece(State& state, const unsigned char* data, std::size_t size) {
    z_stream& stream = state.stream;
    stream.next_in = const_cast<Bytef*>(data);  // zlib's type; it never writes there
    stream.avail_in = static_cast<uInt>(size);
    int result = Z_OK;
    bool ok = true;
    do {
        ok = InflateOnce(state, result);
    } while (ok && !state.ended && result != Z_BUF_ERROR &&
             (stream.avail_in != 0 || stream.avail_out == 0));
    state.taken += size - stream.avail_in;
    if (ok && stream.avail_in != 0)
        return Fail(state, state.ended ? InflateFault::Trailing : InflateFault::Garbage);
    return ok;
}

}  // namespace

// Default-initialised: the output buffer needs no zeroing, which would cost more than a small
// file's inflating.
ZlibInflater::ZlibInflater(std::uint64_t cap, ByteSink sink) : state_(new (std::nothrow) State) {
    if (!state_)
        return;
    State& state = *state_.get();
    state.cap = cap;
    state.sink = std::move(sink);
    state.stream.zalloc = BudgetAlloc;
    state.stream.zfree = BudgetFree;
    state.stream.opaque = &state.budget;
    // 15: the zlib format with any window up to 32 KiB, never gzip or raw deflate.
    state.ready = inflateInit2(&state.stream, 15) == Z_OK;
    if (!state.ready)
        state.fault = InflateFault::Memory;
}

void ZlibInflater::Free(State* state) noexcept {
    if (state->ready)
        inflateEnd(&state->stream);
    delete state;
}

bool ZlibInflater::Feed(const void* data, std::size_t size) noexcept {
    if (!state_ || state_.get()->fault != InflateFault::None)
        return false;
    State& state = *state_.get();
    const auto* bytes = static_cast<const unsigned char*>(data);
    // A piece after the end is refused by InflatePiece: zlib takes nothing more once it has ended.
    while (size != 0) {
        const std::size_t piece = std::min(size, kMaxPiece);
        if (!InflatePiece(state, bytes, piece))
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool ZlibInflater::Finish() noexcept {
    if (!state_)
        return false;
    State& state = *state_.get();
    if (!state.ended)
        Fail(state, InflateFault::Truncated);
    return state.fault == InflateFault::None;
}

void ZlibInflater::Restart() noexcept {
    if (!state_ || !state_.get()->ready)
        return;
    State& state = *state_.get();
    inflateReset(&state.stream);
    state.ended = false;
    state.fault = InflateFault::None;
    state.taken = 0;
    state.inflated = 0;
}

InflateFault ZlibInflater::fault() const noexcept {
    return state_ ? state_.get()->fault : InflateFault::Memory;
}

std::uint64_t ZlibInflater::taken() const noexcept {
    return state_ ? state_.get()->taken : 0;
}

std::uint64_t ZlibInflater::inflated() const noexcept {
    return state_ ? state_.get()->inflated : 0;
}
