#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/kernel_handles.h"
#include "net/http_client.h"
#include "support/test_files.h"
#include "support/test_server.h"

namespace {

struct Call {
    std::uint64_t done;
    std::uint64_t total;
};

// One download with its callbacks recorded.
struct Recorded {
    bool result = false;
    int cancelAsked = 0;
    std::vector<Call> calls;
};

constexpr std::uint64_t kNoCap = ~std::uint64_t{0};

// A text through a session of its own, as a run's first fetch is.
bool GetText(const std::wstring& url, std::string& body,
             const CancelPredicate& cancel = CancelPredicate(),
             std::uint64_t maxBytes = kMaxTextBytes) {
    return HttpGetText(HttpSession::Open(), url, body, cancel, maxBytes);
}

// The client writes through a handle the caller made; here a plain new file at `path`.
bool DownloadTo(const std::wstring& url, const std::wstring& path, const CancelPredicate& cancel,
                ProgressCallback progress, std::uint64_t maxBytes) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && HttpDownloadFile(HttpSession::Open(), url, file.get(), cancel,
                                    std::move(progress), maxBytes);
}

Recorded Download(const std::wstring& url, const std::wstring& path, int cancelAfterAsks = -1,
                  std::uint64_t maxBytes = kNoCap) {
    Recorded r;
    const CancelPredicate cancel = [&r, cancelAfterAsks] {
        return cancelAfterAsks >= 0 && r.cancelAsked++ >= cancelAfterAsks;
    };
    const CancelPredicate counting = [&r] {
        ++r.cancelAsked;
        return false;
    };
    r.result = DownloadTo(
        url, path, cancelAfterAsks >= 0 ? cancel : counting,
        [&r](std::uint64_t done, std::uint64_t total) {
            r.calls.push_back({done, total});
        },
        maxBytes);
    return r;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HttpClient : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(TestServerUrl().empty()) << "run through tests/server/with_server.py";
    }
    static std::wstring Url(const std::wstring& path) { return TestServerUrl() + path; }
    TempDir temp;
};

}  // namespace

TEST(SplitUrl, SchemesPortsAndFailures) {
    UrlParts parts;
    ASSERT_TRUE(SplitUrl(L"http://patch.example/pack/patch_manifest.txt", parts));
    EXPECT_EQ(parts.host, L"patch.example");
    EXPECT_EQ(parts.path, L"/pack/patch_manifest.txt");
    EXPECT_EQ(parts.port, 80);
    EXPECT_FALSE(parts.secure);

    ASSERT_TRUE(SplitUrl(L"https://patch.example/pack/a.pak", parts));
    EXPECT_EQ(parts.host, L"patch.example");
    EXPECT_EQ(parts.path, L"/pack/a.pak");
    EXPECT_EQ(parts.port, 443);
    EXPECT_TRUE(parts.secure);

    ASSERT_TRUE(SplitUrl(L"http://127.0.0.1:8123/x/y.bin", parts));
    EXPECT_EQ(parts.host, L"127.0.0.1");
    EXPECT_EQ(parts.path, L"/x/y.bin");
    EXPECT_EQ(parts.port, 8123);
    EXPECT_FALSE(parts.secure);

    // A failed split leaves the output as it was.
    EXPECT_FALSE(SplitUrl(L"not a url", parts));
    EXPECT_FALSE(SplitUrl(L"", parts));
    EXPECT_FALSE(SplitUrl(L"http://" + std::wstring(300, L'h') + L"/x", parts));
    EXPECT_EQ(parts.host, L"127.0.0.1");
    EXPECT_EQ(parts.path, L"/x/y.bin");
    EXPECT_EQ(parts.port, 8123);
}

TEST_F(HttpClient, TextWithLengthWithoutLengthAndChunked) {
    const std::string content = PatternBytes(200000, 1);
    ASSERT_TRUE(ServeFile(L"pack/t.bin", content));
    for (const wchar_t* path :
         {L"/pack/t.bin", L"/fault/nolength/pack/t.bin", L"/fault/chunked/pack/t.bin"}) {
        std::string body = "left over";
        EXPECT_TRUE(GetText(Url(path), body)) << path;
        EXPECT_TRUE(body == content) << path << ": " << body.size() << " bytes";
    }
}

TEST_F(HttpClient, ErrorPageIsTheBody) {
    std::string body;
    ASSERT_TRUE(GetText(Url(L"/pack/missing.txt"), body));
    EXPECT_NE(body.find("<html>"), std::string::npos);
    EXPECT_NE(body.find("Not Found"), std::string::npos);

    const std::wstring file = temp / L"page.html";
    const Recorded r = Download(Url(L"/pack/missing.txt"), file);
    EXPECT_TRUE(r.result);
    EXPECT_EQ(ReadFileBytes(file), body);
    ASSERT_FALSE(r.calls.empty());
    EXPECT_EQ(r.calls.back().done, body.size());
    EXPECT_EQ(r.calls.back().total, body.size());
}

TEST_F(HttpClient, FailedConnectionTouchesNothing) {
    std::string body = "kept";
    // Port 1 on loopback: nothing listens there.
    EXPECT_FALSE(GetText(L"http://127.0.0.1:1/pack/patch_manifest.txt", body));
    EXPECT_EQ(body, "kept");
    EXPECT_FALSE(GetText(L"no url at all", body));
    EXPECT_EQ(body, "kept");

    const std::wstring file = temp / L"never.bin";
    EXPECT_FALSE(Download(L"http://127.0.0.1:1/pack/a.bin", file).result);
    EXPECT_EQ(ReadFileBytes(file), "");
    EXPECT_FALSE(Download(L"::", file).result);
    EXPECT_EQ(ReadFileBytes(file), "");
}

TEST_F(HttpClient, TextCutShortByCloseOrResetFails) {
    ASSERT_TRUE(ServeFile(L"pack/cut.txt", PatternBytes(300000, 2)));
    std::string body;
    EXPECT_FALSE(GetText(Url(L"/fault/cut/pack/cut.txt"), body));
    EXPECT_FALSE(GetText(Url(L"/fault/reset/pack/cut.txt"), body));
}

TEST_F(HttpClient, DownloadCutShortByCloseOrResetFailsAndKeepsThePart) {
    const std::string content = PatternBytes(300000, 3);
    ASSERT_TRUE(ServeFile(L"pack/cut.bin", content));
    for (const wchar_t* path : {L"/fault/cut/pack/cut.bin", L"/fault/reset/pack/cut.bin"}) {
        const std::wstring file = temp / L"cut.bin";
        const Recorded r = Download(Url(path), file);
        EXPECT_FALSE(r.result) << path;
        // What arrived stays on disk for the caller to delete; it is a prefix of the content.
        const std::string kept = ReadFileBytes(file);
        EXPECT_LT(kept.size(), content.size()) << path;
        EXPECT_EQ(kept, content.substr(0, kept.size())) << path;
    }
}

TEST_F(HttpClient, DownloadStreamsWithProgressAfterEveryChunk) {
    const std::string content = PatternBytes(1000003, 4);
    ASSERT_TRUE(ServeFile(L"pack/dir/big.bin", content));
    const std::wstring file = temp / L"big.bin";
    const Recorded r = Download(Url(L"/pack/dir/big.bin"), file);
    ASSERT_TRUE(r.result);
    EXPECT_TRUE(ReadFileBytes(file) == content);
    ASSERT_GE(r.calls.size(), 2u);
    std::uint64_t previous = 0;
    for (const Call& c : r.calls) {
        EXPECT_GT(c.done, previous);
        EXPECT_EQ(c.total, content.size());
        previous = c.done;
    }
    EXPECT_EQ(r.calls.back().done, content.size());
    // Asked before every chunk (and while waiting for data).
    EXPECT_GE(r.cancelAsked, static_cast<int>(r.calls.size()));
}

TEST_F(HttpClient, DownloadWithoutLengthReportsTotalZero) {
    const std::string content = PatternBytes(150000, 5);
    ASSERT_TRUE(ServeFile(L"pack/n.bin", content));
    for (const wchar_t* path : {L"/fault/chunked/pack/n.bin", L"/fault/nolength/pack/n.bin"}) {
        const std::wstring file = temp / L"n.bin";
        const Recorded r = Download(Url(path), file);
        EXPECT_TRUE(r.result) << path;
        EXPECT_TRUE(ReadFileBytes(file) == content) << path;
        ASSERT_FALSE(r.calls.empty());
        for (const Call& c : r.calls)
            EXPECT_EQ(c.total, 0u) << path;
        EXPECT_EQ(r.calls.back().done, content.size());
    }
}

// A stop may come before the server has answered (the file is then never touched) or after
// (it is created empty); either way nothing of the body is written.
TEST_F(HttpClient, CancelAlreadyTrueWritesNothing) {
    ASSERT_TRUE(ServeFile(L"pack/c.bin", PatternBytes(100000, 6)));
    const std::wstring file = temp / L"c.bin";
    ASSERT_TRUE(WriteFileBytes(file, "old content"));
    const Recorded r = Download(Url(L"/pack/c.bin"), file, 0);
    EXPECT_FALSE(r.result);
    EXPECT_TRUE(r.calls.empty());
    const std::string left = ReadFileBytes(file);
    EXPECT_TRUE(left.empty() || left == "old content") << left.size();
}

TEST_F(HttpClient, CancelMidwayStopsWithinOneChunk) {
    const std::string content = PatternBytes(2000000, 7);
    ASSERT_TRUE(ServeFile(L"pack/m.bin", content));
    const std::wstring file = temp / L"m.bin";
    const Recorded r = Download(Url(L"/pack/m.bin"), file, 3);
    EXPECT_FALSE(r.result);
    EXPECT_LE(r.calls.size(), 3u);
    const std::string kept = ReadFileBytes(file);
    EXPECT_EQ(kept.size(), r.calls.empty() ? 0u : r.calls.back().done);
    EXPECT_LT(kept.size(), content.size());
    EXPECT_EQ(kept, content.substr(0, kept.size()));
}

TEST_F(HttpClient, EmptyBodyGivesAnEmptyFileAndNoProgress) {
    ASSERT_TRUE(ServeFile(L"pack/empty.bin", ""));
    for (const wchar_t* path : {L"/pack/empty.bin", L"/fault/empty/x"}) {
        const std::wstring file = temp / L"e.bin";
        ASSERT_TRUE(WriteFileBytes(file, "previous"));
        const Recorded r = Download(Url(path), file);
        EXPECT_TRUE(r.result) << path;
        EXPECT_TRUE(r.calls.empty()) << path;
        EXPECT_TRUE(PathExists(file));
        EXPECT_EQ(ReadFileBytes(file), "") << path;
        std::string body = "x";
        EXPECT_TRUE(GetText(Url(path), body));
        EXPECT_EQ(body, "");
    }
}

TEST_F(HttpClient, ExistingDestinationIsTruncatedAndRewritten) {
    const std::string content = PatternBytes(5000, 8);
    ASSERT_TRUE(ServeFile(L"pack/r.bin", content));
    const std::wstring file = temp / L"r.bin";
    ASSERT_TRUE(WriteFileBytes(file, PatternBytes(50000, 9)));
    EXPECT_TRUE(Download(Url(L"/pack/r.bin"), file).result);
    EXPECT_TRUE(ReadFileBytes(file) == content);
}

TEST_F(HttpClient, EmptyCallbacksAreAllowed) {
    const std::string content = PatternBytes(40000, 10);
    ASSERT_TRUE(ServeFile(L"pack/q.bin", content));
    const std::wstring file = temp / L"q.bin";
    EXPECT_TRUE(
        DownloadTo(Url(L"/pack/q.bin"), file, CancelPredicate(), ProgressCallback(), kNoCap));
    EXPECT_TRUE(ReadFileBytes(file) == content);
}

TEST_F(HttpClient, ServerSeesOnlyGetWithOurUserAgent) {
    ASSERT_TRUE(ServeFile(L"pack/h.txt", "hello"));
    std::string body;
    ASSERT_TRUE(GetText(Url(L"/pack/h.txt?text"), body));
    ASSERT_TRUE(Download(Url(L"/pack/h.txt?file"), temp / L"h.txt").result);

    const std::vector<LoggedRequest> requests = LoggedRequestsFor("/pack/h.txt");
    ASSERT_EQ(requests.size(), 2u);
    for (const LoggedRequest& r : requests) {
        EXPECT_EQ(r.method, "GET");
        int userAgents = 0;
        for (const auto& [name, value] : r.headers) {
            if (_stricmp(name.c_str(), "User-Agent") == 0) {
                ++userAgents;
                EXPECT_EQ(value, "TalvoraPatcher/1.0");
            } else {
                // Only what the HTTP stack itself must send.
                EXPECT_TRUE(_stricmp(name.c_str(), "Host") == 0 ||
                            _stricmp(name.c_str(), "Connection") == 0)
                    << "unexpected header " << name << ": " << value;
            }
        }
        EXPECT_EQ(userAgents, 1);
    }
}

// A text body may reach 64 MiB exactly; one byte more, or a body without end, is refused.
TEST_F(HttpClient, TextBodyIsCappedAt64MiBOrTheCallersCap) {
    // A caller that knows its text is small (a signature, an index) sets a smaller cap.
    const std::string signature = PatternBytes(4096, 15);
    ASSERT_TRUE(ServeFile(L"pack/sig.bin", signature));
    ASSERT_TRUE(ServeFile(L"pack/sig-over.bin", signature + "x"));
    std::string small;
    EXPECT_TRUE(GetText(Url(L"/pack/sig.bin"), small, {}, 4096));
    EXPECT_TRUE(small == signature);
    EXPECT_FALSE(GetText(Url(L"/pack/sig-over.bin"), small, {}, 4096));
    EXPECT_FALSE(GetText(Url(L"/fault/chunked/pack/sig-over.bin"), small, {}, 4096));
    EXPECT_LE(small.size(), 4096u);

    constexpr std::uint64_t kCap = 64ull * 1024 * 1024;
    ASSERT_TRUE(ServeFile(L"pack/cap.bin", std::string(kCap, 'a')));
    ASSERT_TRUE(ServeFile(L"pack/over.bin", std::string(kCap + 1, 'b')));
    std::string body;
    EXPECT_TRUE(GetText(Url(L"/pack/cap.bin"), body));
    EXPECT_EQ(body.size(), kCap);
    EXPECT_FALSE(GetText(Url(L"/pack/over.bin"), body));
    EXPECT_FALSE(GetText(Url(L"/fault/chunked/pack/over.bin"), body));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(GetText(Url(L"/fault/endless/x"), body));
    EXPECT_LE(body.size(), kCap);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// A server may drop a keep-alive connection right after a response (load balancers and idle
// timeouts do). The next call must not inherit that dead connection and fail.
TEST_F(HttpClient, ConnectionDroppedAfterAResponseDoesNotFailTheNextCall) {
    ASSERT_TRUE(ServeFile(L"pack/d.bin", PatternBytes(300000, 4)));
    ASSERT_TRUE(ServeFile(L"pack/d.txt", "VERSION\t1\n"));
    TempDir dir;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::string body;
        EXPECT_TRUE(GetText(Url(L"/fault/closeafter/pack/d.txt"), body));
        EXPECT_EQ(body, "VERSION\t1\n");
        EXPECT_TRUE(Download(Url(L"/fault/closeafter/pack/d.bin"), dir / L"d.bin").result);
        EXPECT_EQ(ReadFileBytes(dir / L"d.bin").size(), 300000u);
    }
}

// A download may reach its cap exactly; a body that passes it, announced or not, fails as soon
// as it does, and nothing past the cap reaches the disk.
TEST_F(HttpClient, DownloadStopsAtItsSizeCap) {
    const std::string content = PatternBytes(100000, 11);
    ASSERT_TRUE(ServeFile(L"pack/capped.bin", content));
    const std::wstring file = temp / L"capped.bin";
    EXPECT_TRUE(Download(Url(L"/pack/capped.bin"), file, -1, content.size()).result);
    EXPECT_TRUE(ReadFileBytes(file) == content);

    // Announced longer than the cap: refused before anything is written.
    const std::wstring announced = temp / L"announced.bin";
    EXPECT_FALSE(Download(Url(L"/pack/capped.bin"), announced, -1, content.size() - 1).result);
    EXPECT_EQ(ReadFileBytes(announced), "");

    const auto start = std::chrono::steady_clock::now();
    for (const wchar_t* path : {L"/fault/longer/pack/capped.bin",
                                L"/fault/nolength/pack/capped.bin", L"/fault/endless/x"}) {
        const std::uint64_t cap = path[7] == L'n' ? content.size() - 1 : content.size();
        const Recorded r = Download(Url(path), file, -1, cap);
        EXPECT_FALSE(r.result) << path;
        EXPECT_LE(ReadFileBytes(file).size(), cap) << path;
    }
    EXPECT_LT(SecondsSince(start), 20.0);
}

// A server that trickles a byte now and then, or accepts and never answers, is dropped by the
// floor on speed; a slow but live line of about 50 KB/s, running longer than the floor's
// stretch, is not. The three run side by side.
TEST_F(HttpClient, SpeedFloorDropsTricklesAndSilenceButNotASlowLine) {
    const std::string content = PatternBytes(1400000, 12);  // about 28 s at 50 KB/s
    ASSERT_TRUE(ServeFile(L"pack/slow.bin", content));
    double trickleSeconds = 0, silentSeconds = 0, liveSeconds = 0;
    bool trickleResult = true, silentResult = true;
    Recorded live;
    std::thread trickle([&] {
        const auto start = std::chrono::steady_clock::now();
        std::string body;
        trickleResult = GetText(Url(L"/fault/trickle/pack/slow.bin"), body);
        trickleSeconds = SecondsSince(start);
    });
    std::thread silent([&] {
        const auto start = std::chrono::steady_clock::now();
        silentResult = Download(Url(L"/fault/silent/pack/slow.bin"), temp / L"silent.bin").result;
        silentSeconds = SecondsSince(start);
    });
    const auto start = std::chrono::steady_clock::now();
    live = Download(Url(L"/fault/live/pack/slow.bin"), temp / L"live.bin");
    liveSeconds = SecondsSince(start);
    trickle.join();
    silent.join();
    std::printf("dropped after: trickle %.1f s, silent %.1f s; live line took %.1f s\n",
                trickleSeconds, silentSeconds, liveSeconds);

    EXPECT_FALSE(trickleResult);
    EXPECT_FALSE(silentResult);
    EXPECT_EQ(ReadFileBytes(temp / L"silent.bin"), "");
    EXPECT_LT(trickleSeconds, 60.0);
    EXPECT_LT(silentSeconds, 60.0);
    EXPECT_TRUE(live.result);
    EXPECT_TRUE(ReadFileBytes(temp / L"live.bin") == content);
    EXPECT_GT(liveSeconds, 21.0) << "the line was not slow enough to cross the floor's stretch";
}

// The floor judges the line, not the caller: a first small piece that takes longer than the
// floor's stretch to write away (a disk that stalls) does not drop a live transfer.
TEST_F(HttpClient, ACallerThatStallsIsNotASlowLine) {
    const std::string content = PatternBytes(200000, 14);
    ASSERT_TRUE(ServeFile(L"pack/drip.bin", content));
    bool stalled = false;
    const bool ok = DownloadTo(
        Url(L"/fault/drip/pack/drip.bin"), temp / L"drip.bin", {},
        [&stalled](std::uint64_t done, std::uint64_t) {
            if (!stalled && done < 16 * 1024) {
                stalled = true;
                std::this_thread::sleep_for(std::chrono::seconds(21));
            }
        },
        kNoCap);
    EXPECT_TRUE(stalled) << "the first piece was too large to show the fault";
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ReadFileBytes(temp / L"drip.bin") == content);
}

// A stop is honoured within a fraction of a second however the server behaves: before it has
// answered, and while it trickles a body.
TEST_F(HttpClient, CancelEndsAWaitOnASilentOrTricklingServerAtOnce) {
    ASSERT_TRUE(ServeFile(L"pack/t.txt", PatternBytes(1000, 13)));
    for (const wchar_t* path : {L"/fault/silent/pack/t.txt", L"/fault/trickle/pack/t.txt"}) {
        auto start = std::chrono::steady_clock::now();
        const CancelPredicate stop = [&start] { return SecondsSince(start) > 1.0; };
        std::string body;
        EXPECT_FALSE(GetText(Url(path), body, stop)) << path;
        EXPECT_LT(SecondsSince(start), 3.0) << path;
        start = std::chrono::steady_clock::now();
        const std::wstring file = temp / L"t.bin";
        EXPECT_FALSE(DownloadTo(Url(path), file, stop, ProgressCallback(), kNoCap)) << path;
        EXPECT_LT(SecondsSince(start), 3.0) << path;
    }
}

// A range comes back as asked (206 with its Content-Range) or, from a server that ignores Range,
// as the whole file from offset 0; anything else fails, and a range request is bounded like every
// other transfer: never a byte past what was asked for, and a stop while the server is silent or
// trickling is honoured at once.
TEST_F(HttpClient, RangeFetchIsTheRangeOrTheWholeFileAndIsBounded) {
    const std::string content = PatternBytes(100000, 14);
    ASSERT_TRUE(ServeFile(L"pack/r.bin", content));
    std::string got;
    std::uint64_t taken = 0;
    bool sinkFails = false;
    const RangeSink sink = [&](std::uint64_t at, const char* data, std::size_t size) {
        taken += size;
        if (sinkFails || at + size > got.size())
            return false;
        got.replace(static_cast<size_t>(at), size, data, size);
        return true;
    };
    const auto fetch = [&](const wchar_t* path, ByteRange range, std::uint64_t wholeSize,
                           const CancelPredicate& cancel = CancelPredicate()) {
        got.assign(content.size(), '\0');
        taken = 0;
        return HttpFetchRange(HttpSession::Open(), Url(path), range, wholeSize, sink, cancel);
    };

    EXPECT_EQ(fetch(L"/pack/r.bin", {1000, 5000}, content.size()), RangeFetch::Done);
    EXPECT_EQ(got.substr(1000, 5000), content.substr(1000, 5000));
    EXPECT_EQ(taken, 5000u);
    EXPECT_EQ(fetch(L"/fault/norange/pack/r.bin", {1000, 5000}, content.size()),
              RangeFetch::DoneWhole);
    EXPECT_TRUE(got == content);

    // A file of another size than expected, an error page, a body longer than announced for the
    // file, a range past the end and a sink that gives up all fail; nothing past the range is
    // handed over.
    EXPECT_EQ(fetch(L"/pack/r.bin", {0, 10}, content.size() + 1), RangeFetch::Failed);
    EXPECT_EQ(fetch(L"/fault/norange/pack/r.bin", {0, 10}, content.size() - 1), RangeFetch::Failed);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(fetch(L"/fault/404/pack/r.bin", {0, 10}, content.size()), RangeFetch::Failed);
    EXPECT_EQ(fetch(L"/fault/longer/pack/r.bin", {0, 10}, content.size()), RangeFetch::Failed);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(fetch(L"/fault/nolength/pack/r.bin", {0, 10}, content.size() - 1),
              RangeFetch::Failed);
    EXPECT_LE(taken, content.size() - 1);
    EXPECT_EQ(fetch(L"/pack/r.bin", {99990, 11}, content.size()), RangeFetch::Failed);
    sinkFails = true;
    EXPECT_EQ(fetch(L"/pack/r.bin", {0, 10}, content.size()), RangeFetch::Failed);
    sinkFails = false;

    for (const wchar_t* path : {L"/fault/silent/pack/r.bin", L"/fault/trickle/pack/r.bin"}) {
        const auto start = std::chrono::steady_clock::now();
        const CancelPredicate stop = [&start] { return SecondsSince(start) > 1.0; };
        EXPECT_EQ(fetch(path, {0, 10}, content.size(), stop), RangeFetch::Failed) << path;
        EXPECT_LT(SecondsSince(start), 3.0) << path;
    }
}
