#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "portable/patch/zlib_stream.h"
#include "support/pattern_bytes.h"

namespace {

// Text that compresses as a game's configuration files do, with a window-wide reach.
std::string ConfigText(std::size_t size) {
    std::string text;
    for (std::uint32_t i = 0; text.size() < size; ++i)
        text += "[unit_" + std::to_string(i % 977) + "]\nhp=" + std::to_string(i * 7 % 301) + "\n";
    text.resize(size);
    return text;
}

std::string Compressed(const std::string& data, int level = 6) {
    std::string out;
    EXPECT_TRUE(ZlibCompress(data.data(), data.size(), level, out));
    return out;
}

struct Outcome {
    bool fed = false;
    bool finished = false;
    InflateFault fault = InflateFault::None;
    std::string out;
    std::uint64_t taken = 0;
    std::uint64_t inflated = 0;
};

Outcome Inflate(const std::string& stream, std::uint64_t cap, std::size_t piece) {
    Outcome o;
    ZlibInflater inflater(cap, [&o](const char* data, std::size_t size) {
        o.out.append(data, size);
        return true;
    });
    o.fed = true;
    for (std::size_t at = 0; at < stream.size() && o.fed; at += piece)
        o.fed = inflater.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    o.finished = inflater.Finish();
    o.fault = inflater.fault();
    o.taken = inflater.taken();
    o.inflated = inflater.inflated();
    return o;
}

const std::string kText = ConfigText(300000);
const std::string kTextZ = Compressed(kText);

}  // namespace

// Every stream in every piece size: what is fed one byte at a time ends exactly as what is fed
// whole. The sink never gets more than the cap, and the counts say what it got and what was used.
TEST(ZlibInflater, HonestAndHostileStreamsInAnyPieces) {
    const std::string none;
    const std::string noise = PatternBytes(70000, 3);
    std::string flipped = kTextZ;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x40);
    std::string badCheck = kTextZ;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    const std::string gzip(
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x03\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00",
        20);
    const std::string dictionary("\x78\xbb\x00\x00\x00\x01\x03\x00", 8);
    struct Case {
        const char* name;
        std::string stream;
        std::uint64_t cap;
        InflateFault fault;
        const std::string* expected;  // the whole output, when the stream's data is honest
    } const cases[] = {
        {"text at its exact size", kTextZ, kText.size(), InflateFault::None, &kText},
        {"text under a larger cap", kTextZ, kText.size() * 2, InflateFault::None, &kText},
        {"text one byte over the cap", kTextZ, kText.size() - 1, InflateFault::PastCap, nullptr},
        {"noise stored at level 0", Compressed(noise, 0), noise.size(), InflateFault::None, &noise},
        {"an empty file", Compressed(""), 0, InflateFault::None, &none},
        {"an empty file's stream twice", Compressed("") + Compressed(""), 0, InflateFault::Trailing,
         &none},
        {"trailing bytes", kTextZ + "x", kText.size(), InflateFault::Trailing, &kText},
        {"cut before its check value", kTextZ.substr(0, kTextZ.size() - 1), kText.size(),
         InflateFault::Truncated, nullptr},
        {"a flipped bit", flipped, kText.size() * 2, InflateFault::Garbage, nullptr},
        {"a wrong check value", badCheck, kText.size(), InflateFault::Garbage, nullptr},
        {"noise", noise, noise.size(), InflateFault::Garbage, nullptr},
        {"gzip", gzip, 100, InflateFault::Garbage, nullptr},
        {"a preset dictionary", dictionary, 100, InflateFault::Garbage, nullptr},
    };
    for (const Case& c : cases) {
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{8192}, c.stream.size() + 1}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const Outcome o = Inflate(c.stream, c.cap, piece);
            EXPECT_EQ(o.fault, c.fault);
            EXPECT_EQ(o.finished, c.fault == InflateFault::None);
            EXPECT_LE(o.out.size(), c.cap);
            EXPECT_EQ(o.inflated, o.out.size());
            EXPECT_LE(o.taken, c.stream.size());
            if (c.expected) {
                EXPECT_EQ(o.out, *c.expected);
            }
            if (o.finished) {
                EXPECT_EQ(o.taken, c.stream.size());
            }
        }
    }
}

TEST(ZlibInflater, ABombStopsAtTheCapWithoutReadingOn) {
    const std::string zeros = Compressed(std::string(16u << 20, '\0'), 9);
    const Outcome o = Inflate(zeros, 1u << 20, 4096);
    EXPECT_EQ(o.fault, InflateFault::PastCap);
    EXPECT_EQ(o.out, std::string(o.out.size(), '\0'));
    // Deflate reaches about 1000:1, so the cap is met within the first KiB or so of the stream,
    // long before the first piece is used up.
    EXPECT_LT(o.taken, 4096u);
}

// Every proper prefix of a stream is cut short; only the whole stream finishes.
TEST(ZlibInflater, EveryCutShortOfTheEndIsTruncated) {
    const std::string data = ConfigText(2000);
    const std::string stream = Compressed(data);
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        const Outcome o = Inflate(stream.substr(0, cut), data.size(), 3);
        EXPECT_EQ(o.fault, InflateFault::Truncated) << "cut at " << cut;
        EXPECT_EQ(o.out, data.substr(0, o.out.size())) << "cut at " << cut;
    }
}

TEST(ZlibInflater, ASinkThatStopsHearsNothingMore) {
    int calls = 0;
    ZlibInflater inflater(kText.size(), [&calls](const char*, std::size_t) { return ++calls < 2; });
    EXPECT_FALSE(inflater.Feed(kTextZ.data(), kTextZ.size()));
    EXPECT_FALSE(inflater.Feed(kTextZ.data(), 1));
    EXPECT_FALSE(inflater.Finish());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(inflater.fault(), InflateFault::Stopped);
    EXPECT_LE(inflater.inflated(), 64u * 1024);  // the first call's bytes only
}

// A transfer cut short within a run goes on from taken() with the same inflater; one that must
// start over restarts it, and a fault is forgotten with the stream.
TEST(ZlibInflater, ContinuesFromTakenAndRestartsClean) {
    std::string out;
    ZlibInflater inflater(kText.size(), [&out](const char* data, std::size_t size) {
        out.append(data, size);
        return true;
    });
    const std::size_t cut = kTextZ.size() / 3;
    ASSERT_TRUE(inflater.Feed(kTextZ.data(), cut));
    EXPECT_EQ(inflater.taken(), cut);
    EXPECT_EQ(inflater.inflated(), out.size());
    ASSERT_TRUE(inflater.Feed(kTextZ.data() + inflater.taken(), kTextZ.size() - cut));
    EXPECT_TRUE(inflater.Finish());
    EXPECT_EQ(out, kText);

    EXPECT_FALSE(inflater.Feed("garbage!", 8));
    inflater.Restart();
    out.clear();
    EXPECT_TRUE(inflater.Feed(kTextZ.data(), kTextZ.size()) && inflater.Finish());
    EXPECT_EQ(out, kText);
}

TEST(ZlibDeflater, StreamsOfAnyPiecesAndLevelInflateBack) {
    const std::string data = ConfigText(200000) + PatternBytes(100000, 9);
    for (int level : {0, 9}) {
        std::string stream;
        ZlibDeflater deflater(level, [&stream](const char* bytes, std::size_t size) {
            stream.append(bytes, size);
            return true;
        });
        for (std::size_t at = 0; at < data.size(); at += 5000)
            ASSERT_TRUE(
                deflater.Feed(data.data() + at, std::min<std::size_t>(5000, data.size() - at)));
        ASSERT_TRUE(deflater.Finish());
        EXPECT_FALSE(deflater.Finish()) << "a stream ends once";
        const Outcome o = Inflate(stream, data.size(), 65536);
        EXPECT_TRUE(o.finished) << "level " << level;
        EXPECT_EQ(o.out, data) << "level " << level;
    }
}
