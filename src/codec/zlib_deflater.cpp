// The deflating half of the zlib streams (portable/patch/zlib_stream.h), over the zlib library.
#include <zlib.h>

#include <algorithm>
#include <new>

#include "portable/patch/zlib_stream.h"

namespace {

constexpr std::size_t kOutputBytes = 64 * 1024;
constexpr std::size_t kMaxPiece = 1u << 30;  // zlib counts a piece in 32 bits

}  // namespace

struct ZlibDeflater::State {
    z_stream stream{};
    bool ready = false;
    bool ok = false;
    ByteSink sink;
    char output[kOutputBytes];
};

namespace {

// Deflates what zlib holds of the input until it is used up (Z_NO_FLUSH) or the stream has
// ended (Z_FINISH), handing every output byte to the sink.
bool Pump(ZlibDeflater::State& state, int flush) {
    z_stream& stream = state.stream;
    int result = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(state.output);
        stream.avail_out = kOutputBytes;
        result = deflate(&stream, flush);
        const std::size_t produced = kOutputBytes - stream.avail_out;
        if (result == Z_STREAM_ERROR || (produced != 0 && !state.sink(state.output, produced)))
            return false;
    } while (stream.avail_out == 0 || (flush == Z_FINISH && result == Z_OK));
    return flush == Z_FINISH ? result == Z_STREAM_END : stream.avail_in == 0;
}

}  // namespace

ZlibDeflater::ZlibDeflater(int level, ByteSink sink) : state_(new (std::nothrow) State) {
    if (!state_)
        return;
    State& state = *state_.get();
    state.sink = std::move(sink);
    state.ready = deflateInit(&state.stream, level) == Z_OK;
    state.ok = state.ready;
}

void ZlibDeflater::Free(State* state) noexcept {
    if (state->ready)
        deflateEnd(&state->stream);
    delete state;
}

bool ZlibDeflater::Feed(const void* data, std::size_t size) noexcept {
    if (!state_ || !state_.get()->ok)
        return false;
    State& state = *state_.get();
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (state.ok && size != 0) {
        const std::size_t piece = std::min(size, kMaxPiece);
        state.stream.next_in = const_cast<Bytef*>(bytes);  // zlib's type; it never writes there
        state.stream.avail_in = static_cast<uInt>(piece);
        state.ok = Pump(state, Z_NO_FLUSH);
        bytes += piece;
        size -= piece;
    }
    return state.ok;
}

bool ZlibDeflater::Finish() noexcept {
    if (!state_ || !state_.get()->ok)
        return false;
    State& state = *state_.get();
    state.ok = false;  // a stream is finished once
    return Pump(state, Z_FINISH);
}

bool ZlibCompress(const void* data, std::size_t size, int level, std::string& out) {
    out.clear();
    ZlibDeflater deflater(level, [&out](const char* bytes, std::size_t count) {
        out.append(bytes, count);
        return true;
    });
    return deflater.Feed(data, size) && deflater.Finish();
}
