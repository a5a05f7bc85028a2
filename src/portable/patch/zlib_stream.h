// zlib streams (RFC 1950), the form of a file's compressed copy (compressed_copy.h). The zlib
// library does the work in the one backend every build links (src/codec, library talvora_zlib).
//
// Resuming a compressed transfer cut short. Within one run the inflater outlives the try that
// broke: the next try asks for the copy from taken() with Range and feeds the bytes on, so nothing
// is fetched twice; an answer other than exactly that range starts over (Restart, and the staging
// file emptied). Across runs the inflater's state is gone (its 32 KiB window is in no file), so a
// staging file kept from an earlier run, which holds inflated bytes, continues from the raw file
// with Range from its length, as a raw file's does: the raw file stays published, and the file's
// SHA-256 judges the joined bytes as ever. Restarting the copy from its first byte instead would
// fetch a long file's first gigabytes again after every cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "portable/unique_handle.h"

// Takes bytes in order; false stops the stream.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

enum class InflateFault {
    None,
    Garbage,    // not a zlib stream, a preset dictionary, or a check value that does not match
    PastCap,    // inflates to more than the cap: a bomb stops one byte past it
    Trailing,   // bytes after the end of the stream
    Truncated,  // Finish before the end of the stream
    Stopped,    // the sink said stop
    Memory,     // no memory for the inflater's bounded state
};

// Inflates a stream fed in pieces as they arrive, handing at most `cap` bytes in all to the sink,
// at most 64 KiB a call. Its memory is fixed whatever the input (at most 130 KiB: zlib's state and
// window, held to a budget, and the output buffer), and its work is bounded by the bytes fed and
// the cap. After a fault every call fails and the sink hears nothing more.
class ZlibInflater {
  public:
    ZlibInflater(std::uint64_t cap, ByteSink sink);

    // Inflates the next piece and hands its output to the sink before returning.
    bool Feed(const void* data, std::size_t size) noexcept;
    // True exactly when the stream has ended, with no byte fed after its end and no fault.
    bool Finish() noexcept;
    // Forgets the stream: the next byte fed is the first of a new one.
    void Restart() noexcept;

    InflateFault fault() const noexcept;
    std::uint64_t taken() const noexcept;     // bytes fed that belong to the stream
    std::uint64_t inflated() const noexcept;  // bytes the sink took

    struct State;

  private:
    static void Free(State* state) noexcept;
    UniqueHandle<ReleasedBy<State*, &ZlibInflater::Free>> state_;
};

// Deflates a stream fed in pieces at `level` (0 to 9), handing the zlib stream to the sink.
class ZlibDeflater {
  public:
    ZlibDeflater(int level, ByteSink sink);

    bool Feed(const void* data, std::size_t size) noexcept;
    // Ends the stream; true when the sink has taken all of it.
    bool Finish() noexcept;

    struct State;

  private:
    static void Free(State* state) noexcept;
    UniqueHandle<ReleasedBy<State*, &ZlibDeflater::Free>> state_;
};

// `size` bytes as one zlib stream at `level`, into `out`.
bool ZlibCompress(const void* data, std::size_t size, int level, std::string& out);
