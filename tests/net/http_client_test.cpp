#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

Recorded Download(const std::wstring& url, const std::wstring& path, int cancelAfterAsks = -1) {
    Recorded r;
    const CancelPredicate cancel = [&r, cancelAfterAsks] {
        return cancelAfterAsks >= 0 && r.cancelAsked++ >= cancelAfterAsks;
    };
    const CancelPredicate counting = [&r] {
        ++r.cancelAsked;
        return false;
    };
    r.result = HttpDownloadFile(url, path, cancelAfterAsks >= 0 ? cancel : counting,
                                [&r](std::uint64_t done, std::uint64_t total) {
                                    r.calls.push_back({done, total});
                                });
    return r;
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
        EXPECT_TRUE(HttpGetText(Url(path), body)) << path;
        EXPECT_TRUE(body == content) << path << ": " << body.size() << " bytes";
    }
}

TEST_F(HttpClient, ErrorPageIsTheBody) {
    std::string body;
    ASSERT_TRUE(HttpGetText(Url(L"/pack/missing.txt"), body));
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
    EXPECT_FALSE(HttpGetText(L"http://127.0.0.1:1/pack/patch_manifest.txt", body));
    EXPECT_EQ(body, "kept");
    EXPECT_FALSE(HttpGetText(L"no url at all", body));
    EXPECT_EQ(body, "kept");

    const std::wstring file = temp / L"never.bin";
    EXPECT_FALSE(Download(L"http://127.0.0.1:1/pack/a.bin", file).result);
    EXPECT_FALSE(PathExists(file));
    EXPECT_FALSE(Download(L"::", file).result);
    EXPECT_FALSE(PathExists(file));
}

TEST_F(HttpClient, TextCutShortByCloseOrResetFails) {
    ASSERT_TRUE(ServeFile(L"pack/cut.txt", PatternBytes(300000, 2)));
    std::string body;
    EXPECT_FALSE(HttpGetText(Url(L"/fault/cut/pack/cut.txt"), body));
    EXPECT_FALSE(HttpGetText(Url(L"/fault/reset/pack/cut.txt"), body));
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
    // Asked before every data query: once per chunk plus the query that saw the end.
    EXPECT_EQ(r.cancelAsked, static_cast<int>(r.calls.size()) + 1);
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

TEST_F(HttpClient, CancelAlreadyTrueLeavesAnEmptyFile) {
    ASSERT_TRUE(ServeFile(L"pack/c.bin", PatternBytes(100000, 6)));
    const std::wstring file = temp / L"c.bin";
    ASSERT_TRUE(WriteFileBytes(file, "old content"));
    const Recorded r = Download(Url(L"/pack/c.bin"), file, 0);
    EXPECT_FALSE(r.result);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_TRUE(PathExists(file));
    EXPECT_EQ(ReadFileBytes(file), "");
}

TEST_F(HttpClient, CancelMidwayStopsWithinOneChunk) {
    const std::string content = PatternBytes(2000000, 7);
    ASSERT_TRUE(ServeFile(L"pack/m.bin", content));
    const std::wstring file = temp / L"m.bin";
    const Recorded r = Download(Url(L"/pack/m.bin"), file, 3);
    EXPECT_FALSE(r.result);
    ASSERT_EQ(r.calls.size(), 3u);
    EXPECT_EQ(ReadFileBytes(file), content.substr(0, r.calls.back().done));
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
        EXPECT_TRUE(HttpGetText(Url(path), body));
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
    EXPECT_TRUE(HttpDownloadFile(Url(L"/pack/q.bin"), file, CancelPredicate(), ProgressCallback()));
    EXPECT_TRUE(ReadFileBytes(file) == content);
}

TEST_F(HttpClient, ServerSeesOnlyGetWithOurUserAgent) {
    ASSERT_TRUE(ServeFile(L"pack/h.txt", "hello"));
    std::string body;
    ASSERT_TRUE(HttpGetText(Url(L"/pack/h.txt?text"), body));
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
TEST_F(HttpClient, TextBodyIsCappedAt64MiB) {
    constexpr std::uint64_t kCap = 64ull * 1024 * 1024;
    ASSERT_TRUE(ServeFile(L"pack/cap.bin", std::string(kCap, 'a')));
    ASSERT_TRUE(ServeFile(L"pack/over.bin", std::string(kCap + 1, 'b')));
    std::string body;
    EXPECT_TRUE(HttpGetText(Url(L"/pack/cap.bin"), body));
    EXPECT_EQ(body.size(), kCap);
    EXPECT_FALSE(HttpGetText(Url(L"/pack/over.bin"), body));
    EXPECT_FALSE(HttpGetText(Url(L"/fault/chunked/pack/over.bin"), body));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HttpGetText(Url(L"/fault/endless/x"), body));
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
        EXPECT_TRUE(HttpGetText(Url(L"/fault/closeafter/pack/d.txt"), body));
        EXPECT_EQ(body, "VERSION\t1\n");
        EXPECT_TRUE(Download(Url(L"/fault/closeafter/pack/d.bin"), dir / L"d.bin").result);
        EXPECT_EQ(ReadFileBytes(dir / L"d.bin").size(), 300000u);
    }
}
