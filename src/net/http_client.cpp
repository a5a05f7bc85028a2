#include "net/http_client.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <utility>

#include "portable/net/hex_digest.h"
#include "portable/net/http_headers.h"
#include "portable/net/sha256.h"

namespace {

constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusPartialContent = 206;

// The waits between tries.
constexpr auto kFirstBackoff = std::chrono::milliseconds(500);
constexpr auto kLongestBackoff = std::chrono::seconds(8);
constexpr std::uint64_t kLongestRetryAfterSeconds = 30;
constexpr auto kWaitStep = std::chrono::milliseconds(50);

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD step = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, step, &written, nullptr) || written != step)
            return false;
        data += step;
        size -= step;
    }
    return true;
}

bool Truncate(HANDLE file) {
    LARGE_INTEGER zero = {};
    return ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

std::wstring Widened(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// "Later, please": the server is busy or failing for now.
bool IsPassingStatus(DWORD status) {
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

// How one try ended, for the loop of tries.
enum class Try { Done, Again, Fail };

// What a try tells the loop besides its end.
struct TryNotes {
    bool progressed = false;  // new bytes arrived
    std::string retryAfter;   // the server's Retry-After, if it gave one
};

// Waits before the next try: about 0.5 s doubling to 8 s, each with up to a quarter of jitter
// either way, or what a Retry-After of at most 30 s asks for. False when a cancel came first.
class Backoff {
  public:
    Backoff()
        : random_(static_cast<std::uint32_t>(
              std::chrono::steady_clock::now().time_since_epoch().count())) {}
    void Reset() { next_ = kFirstBackoff; }
    bool Wait(const std::string& retryAfter, const CancelPredicate& cancel) {
        std::chrono::milliseconds wait = next_;
        std::uint64_t seconds = 0;
        if (ParseRetryAfterSeconds(retryAfter, seconds) && seconds <= kLongestRetryAfterSeconds) {
            wait = std::chrono::milliseconds(seconds * 1000);
        } else {
            std::uniform_int_distribution<long long> jitter(-next_.count() / 4, next_.count() / 4);
            wait += std::chrono::milliseconds(jitter(random_));
            next_ = std::min<std::chrono::milliseconds>(next_ * 2, kLongestBackoff);
        }
        const auto until = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < until) {
            if (cancel && cancel())
                return false;
            std::this_thread::sleep_for(kWaitStep);
        }
        return !(cancel && cancel());
    }

  private:
    std::minstd_rand random_;
    std::chrono::milliseconds next_ = kFirstBackoff;
};

// Runs tries until one is done or fails for good, or `retries` tries in a row brought nothing
// new. Without retries the first try is the only one.
template <typename OneTry>
bool RunTries(int retries, const CancelPredicate& cancel, OneTry oneTry) {
    Backoff backoff;
    int barren = 0;
    for (;;) {
        TryNotes notes;
        const Try result = oneTry(notes);
        if (result == Try::Done)
            return true;
        if (result == Try::Fail || (cancel && cancel()))
            return false;
        if (notes.progressed) {
            barren = 0;
            backoff.Reset();
        }
        if (++barren > retries || !backoff.Wait(notes.retryAfter, cancel))
            return false;
    }
}

// Exactly the range asked for, of a file of `wholeSize` bytes when the total is given.
bool IsRangeAskedFor(const std::string& text, std::uint64_t first, std::uint64_t last,
                     std::uint64_t wholeSize) {
    ContentRange got;
    return ParseContentRange(text, got) && (!got.totalKnown || got.total == wholeSize) &&
           got.first == first && got.last == last;
}

// The bytes a download has put into its file so far, and their digest.
struct FileSoFar {
    std::uint64_t have = 0;
    std::unique_ptr<Sha256> hash;  // null once a byte could not be hashed in order

    void StartOver() {
        have = 0;
        hash.reset(new Sha256());
    }
    void Took(const char* data, std::size_t size) {
        if (hash)
            hash->Update(data, size);
        have += size;
    }
    // Hashes what an earlier run left in the file; false when it cannot be read.
    bool HashKept(HANDLE file, std::uint64_t size) {
        StartOver();
        LARGE_INTEGER zero = {};
        if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
            return false;
        std::unique_ptr<char[]> buffer(new char[1u << 20]);
        while (have < size) {
            const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(1u << 20, size - have));
            DWORD got = 0;
            if (!::ReadFile(file, buffer.get(), want, &got, nullptr) || got != want)
                return false;
            Took(buffer.get(), got);
        }
        return true;
    }
};

}  // namespace

bool HttpGetText(const HttpSession& session, const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel, std::uint64_t maxBytes, int retries) {
    std::size_t longest = 0;  // a try that gets no further than an earlier one is no progress
    return RunTries(retries, cancel, [&](TryNotes& notes) {
        bool hasLength = false, passing = false;
        std::uint64_t declared = 0;
        const auto answered = [&](const HttpAnswer& answer) {
            body.clear();
            if (retries > 0 && IsPassingStatus(answer.status)) {
                passing = true;
                notes.retryAfter = answer.retryAfter;
                return false;
            }
            hasLength = answer.hasLength;
            declared = answer.declared;
            return !hasLength || declared <= maxBytes;
        };
        const auto take = [&](const std::string& piece) {
            if (piece.size() > maxBytes - body.size())
                return false;
            body.append(piece);
            notes.progressed = notes.progressed || body.size() > longest;
            longest = std::max(longest, body.size());
            return true;
        };
        switch (HttpTransfer(session, url, std::wstring(), cancel, answered, take)) {
            case TransferEnd::Complete:
                return !hasLength || body.size() >= declared ? Try::Done : Try::Again;
            case TransferEnd::Broken:
                return Try::Again;
            case TransferEnd::Refused:
                return passing ? Try::Again : Try::Fail;
            case TransferEnd::Cancelled:
                break;
        }
        return Try::Fail;
    });
}

bool HttpGetText(const std::wstring& url, std::string& body, const CancelPredicate& cancel,
                 std::uint64_t maxBytes) {
    return HttpGetText(HttpSession::Open(), url, body, cancel, maxBytes);
}

bool HttpDownloadFile(const HttpSession& session, const std::wstring& url, HANDLE file,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes, const DownloadOptions& options, std::string* sha256) {
    // Owned here and declared first, so it is released after every handle.
    const ProgressCallback report = std::move(progress);
    std::uint64_t reported = 0;
    const auto show = [&](std::uint64_t done, std::uint64_t total) {
        reported = std::max(reported, done);
        if (report)
            report(reported, total);
    };
    FileSoFar so;
    so.StartOver();
    if (options.retries > 0 && options.resumeFrom > 0 &&
        !(options.resumeFrom <= maxBytes && so.HashKept(file, options.resumeFrom))) {
        if (!Truncate(file))
            return false;
        so.StartOver();
    }
    const bool done = RunTries(options.retries, cancel, [&](TryNotes& notes) {
        const std::uint64_t from = so.have;
        bool hasLength = false, passing = false, capped = false;
        std::uint64_t total = 0;
        const auto answered = [&](const HttpAnswer& answer) {
            if (options.retries > 0 && IsPassingStatus(answer.status)) {
                passing = true;
                notes.retryAfter = answer.retryAfter;
                return false;
            }
            std::uint64_t before = 0;  // bytes of the body this answer does not carry
            if (from > 0) {
                ContentRange range;
                if (answer.status == kStatusPartialContent &&
                    ParseContentRange(answer.contentRange, range) && range.first == from &&
                    (!range.totalKnown || range.last + 1 == range.total)) {
                    before = from;
                } else {
                    // Anything but the rest asked for: the file starts over, now or next try.
                    if (!Truncate(file))
                        return false;
                    so.StartOver();
                    if (answer.status != kStatusOk) {
                        passing = true;
                        return false;
                    }
                }
            }
            // A body announced longer than the cap can never be accepted: nothing is written.
            if (answer.hasLength && answer.declared > maxBytes - before) {
                capped = true;
                return false;
            }
            hasLength = answer.hasLength;
            total = hasLength ? before + answer.declared : 0;
            if (before > 0)
                show(before, total);
            return true;
        };
        // Every piece that is taken is written at once: the bytes received stay in the file.
        const auto take = [&](const std::string& piece) {
            if (piece.size() > maxBytes - so.have || !WriteAll(file, piece.data(), piece.size()))
                return false;
            so.Took(piece.data(), piece.size());
            // Bytes that only make up for a start over are no progress: a server that always
            // cuts at the same point must not keep the download going for ever.
            notes.progressed = notes.progressed || so.have > reported;
            show(so.have, total);
            return true;
        };
        const std::wstring headers = from > 0 ? Widened(RangeRequestHeader(from, 0)) : L"";
        switch (HttpTransfer(session, url, headers, cancel, answered, take)) {
            case TransferEnd::Complete:
                return !hasLength || so.have >= total ? Try::Done : Try::Again;
            case TransferEnd::Broken:
                return Try::Again;
            case TransferEnd::Refused:
                return passing && !capped ? Try::Again : Try::Fail;
            case TransferEnd::Cancelled:
                break;
        }
        return Try::Fail;
    });
    Sha256Digest digest;
    if (done && sha256 != nullptr && so.hash && so.hash->Finish(digest))
        *sha256 = HexDigest(digest.data(), digest.size());
    return done;
}

bool HttpDownloadFile(const std::wstring& url, HANDLE file, const CancelPredicate& cancel,
                      ProgressCallback progress, std::uint64_t maxBytes) {
    return HttpDownloadFile(HttpSession::Open(), url, file, cancel, std::move(progress), maxBytes);
}

RangeFetch HttpFetchRange(const HttpSession& session, const std::wstring& url,
                          const ByteRange& range, std::uint64_t wholeSize, const RangeSink& sink,
                          const CancelPredicate& cancel, int retries) {
    if (range.length == 0 || range.first >= wholeSize || range.length > wholeSize - range.first)
        return RangeFetch::Failed;
    bool whole = false;
    std::uint64_t got = 0;  // bytes of the range handed over, over every try
    const bool done = RunTries(retries, cancel, [&](TryNotes& notes) {
        const std::uint64_t first = range.first + got;
        const std::uint64_t last = range.first + range.length - 1;
        bool passing = false;
        std::uint64_t expected = 0, taken = 0;
        const auto answered = [&](const HttpAnswer& answer) {
            if (retries > 0 && IsPassingStatus(answer.status)) {
                passing = true;
                notes.retryAfter = answer.retryAfter;
                return false;
            }
            whole = answer.status == kStatusOk;
            if (!whole && !(answer.status == kStatusPartialContent &&
                            IsRangeAskedFor(answer.contentRange, first, last, wholeSize))) {
                return false;
            }
            expected = whole ? wholeSize : last - first + 1;
            return !answer.hasLength || answer.declared == expected;
        };
        // Nothing past what was asked for is ever taken.
        const auto take = [&](const std::string& piece) {
            if (piece.size() > expected - taken ||
                !sink((whole ? 0 : first) + taken, piece.data(), piece.size())) {
                return false;
            }
            taken += piece.size();
            if (!whole)
                got += piece.size();
            notes.progressed = true;
            return true;
        };
        const TransferEnd end =
            HttpTransfer(session, url, Widened(RangeRequestHeader(first, last - first + 1)), cancel,
                         answered, take);
        if (end == TransferEnd::Complete && taken == expected)
            return Try::Done;
        // A whole file broken off is not continued: the caller takes the range road again.
        if (whole)
            return Try::Fail;
        if (end == TransferEnd::Complete || end == TransferEnd::Broken)
            return Try::Again;
        return end == TransferEnd::Refused && passing ? Try::Again : Try::Fail;
    });
    if (!done)
        return RangeFetch::Failed;
    return whole ? RangeFetch::WholeBody : RangeFetch::Range;
}
