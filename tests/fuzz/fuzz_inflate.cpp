// The inflating writer of compressed copies: any bytes as a stream, and any bytes deflated.
// The first byte picks the cap and the level, the second the piece size; the rest is the data.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "fuzz_support.h"
#include "portable/patch/zlib_stream.h"

namespace {

struct Run {
    bool finished = false;
    InflateFault fault = InflateFault::None;
    std::string out;
};

Run Inflate(const std::string& stream, std::uint64_t cap, std::size_t piece) {
    Run run;
    ZlibInflater inflater(cap, [&run](const char* data, std::size_t size) {
        run.out.append(data, size);
        return true;
    });
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        if (!inflater.Feed(stream.data() + at, std::min(piece, stream.size() - at)))
            break;
    }
    run.finished = inflater.Finish();
    run.fault = inflater.fault();
    Require(run.out.size() <= cap, "the sink never gets more than the cap");
    Require(inflater.inflated() == run.out.size(), "inflated() counts what the sink took");
    Require(inflater.taken() <= stream.size(), "taken() counts only bytes fed");
    Require(!run.finished || inflater.taken() == stream.size(),
            "a finished stream used every byte");
    return run;
}

// zlib's own one-shot inflate says whether the bytes are exactly one stream within the cap.
bool OracleFinishes(const std::string& stream, std::uint64_t cap, std::string& out) {
    std::vector<Bytef> buffer(static_cast<std::size_t>(cap) + 1);
    uLongf length = static_cast<uLongf>(buffer.size());
    uLong used = static_cast<uLong>(stream.size());
    const int result =
        uncompress2(buffer.data(), &length, reinterpret_cast<const Bytef*>(stream.data()), &used);
    out.assign(reinterpret_cast<const char*>(buffer.data()), length);
    return result == Z_OK && used == stream.size() && length <= cap;
}

void CheckHostileStream(const std::string& stream, std::uint64_t cap, std::size_t piece) {
    const Run pieces = Inflate(stream, cap, piece);
    const Run whole = Inflate(stream, cap, stream.size() + 1);
    // Garbage past the cap may be seen before or after the cap, as the pieces fall.
    const bool eitherFault =
        (pieces.fault == InflateFault::Garbage || pieces.fault == InflateFault::PastCap) &&
        (whole.fault == InflateFault::Garbage || whole.fault == InflateFault::PastCap);
    Require(pieces.fault == whole.fault || eitherFault, "pieces do not change the end");
    Require(!pieces.finished || pieces.out == whole.out, "pieces do not change the output");
    std::string expected;
    Require(pieces.finished == OracleFinishes(stream, cap, expected), "finishes as zlib does");
    Require(!pieces.finished || pieces.out == expected, "a finished stream inflates as zlib does");
}

void CheckRoundTrip(const std::string& data, int level, std::size_t piece) {
    std::string stream;
    ZlibDeflater deflater(level, [&stream](const char* bytes, std::size_t size) {
        stream.append(bytes, size);
        return true;
    });
    for (std::size_t at = 0; at < data.size(); at += piece)
        Require(deflater.Feed(data.data() + at, std::min(piece, data.size() - at)),
                "deflate feeds");
    Require(deflater.Finish(), "deflate finishes");
    const Run back = Inflate(stream, data.size(), piece);
    Require(back.finished && back.out == data, "what zlib compresses inflates back to the input");
    if (!data.empty())
        Require(Inflate(stream, data.size() - 1, piece).fault == InflateFault::PastCap,
                "one byte over the cap fails");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static const std::uint64_t kCaps[] = {0, 1, 64, 4096, 65536, 65537, 1u << 20};
    const std::uint64_t cap = kCaps[data[0] % 7];
    const std::size_t piece = std::size_t{data[1]} + 1;
    const std::string rest = Bytes(data + 2, size - 2);
    CheckHostileStream(rest, cap, piece);
    CheckRoundTrip(rest, data[0] / 7 % 10, piece);
    return 0;
}
