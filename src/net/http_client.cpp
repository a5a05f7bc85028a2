#include "net/http_client.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <utility>

#include "portable/net/hex_digest.h"
#include "portable/net/http_headers.h"
#include "portable/net/sha256.h"
#include "portable/patch/zlib_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusPartialContent = 206;

// Room beyond twice a file's size for what every fetch spends anyway (answers, an index).
constexpr std::uint64_t kBudgetSlack = 4ull * 1024 * 1024;

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

// What a try's answer and body were, as far as trying again goes.
enum class Verdict {
    Taken,      // the body asked for (without retries: whatever came)
    Busy,       // 408, 429 or 5xx
    StartOver,  // not the rest that was asked for: the bytes held so far must go
    Refused,    // no other try can mend it: a cap, an answer that is not the range, a failed write
};

// How one try went.
struct TryOutcome {
    TransferEnd end = TransferEnd::Broken;
    Verdict verdict = Verdict::Taken;
    bool whole = false;      // everything asked for is held
    std::uint64_t held = 0;  // bytes held after the try
};

enum class NextTry { Done, Resume, StartOver, Failed };

// A fetch's own account of its tries; the spending goes to the file's budget.
struct TryLedger {
    int retries = 0;
    TryBudget* budget = nullptr;
    std::uint64_t highWater = 0;  // most bytes held at once: less is only making up
    int barren = 0;               // failed tries since the last one that brought new bytes
};

// Fewer new bytes over the file's whole time than the floor asks of a single transfer.
bool BelowFloor(const TryBudget& budget) {
    const auto elapsed = Clock::now() - budget.firstTry;
    if (elapsed < kFloorWindow)
        return false;
    const auto windows = std::chrono::duration<double>(elapsed) / kFloorWindow;
    return static_cast<double>(budget.gained) < static_cast<double>(kFloorBytes) * windows;
}

// The one decision after every try: done, try again where it stopped, start over from the first
// byte, or give up. Past the budget of bytes or below the floor the file fails as any other
// broken transfer does.
NextTry DecideNextTry(const TryOutcome& tried, TryLedger& ledger) {
    if (tried.end == TransferEnd::Done && tried.whole)
        return NextTry::Done;
    if (tried.end == TransferEnd::Cancelled || tried.verdict == Verdict::Refused ||
        ledger.retries <= 0) {
        return NextTry::Failed;
    }
    // The try that failed is the first of the tries counted against `retries`.
    if (tried.held > ledger.highWater) {
        ledger.budget->gained += tried.held - ledger.highWater;
        ledger.highWater = tried.held;
        ledger.barren = 1;
    } else {
        ++ledger.barren;
    }
    if (ledger.barren > ledger.retries || BelowFloor(*ledger.budget)) {
        return NextTry::Failed;
    }
    return tried.verdict == Verdict::StartOver ? NextTry::StartOver : NextTry::Resume;
}

// Waits before the next try: about 0.5 s doubling to 8 s, each with up to a quarter of jitter
// either way, or what a Retry-After of at most 30 s asks for. False when a cancel came first.
class Backoff {
  public:
    Backoff() : random_(static_cast<std::uint32_t>(Clock::now().time_since_epoch().count())) {}
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
        const auto until = Clock::now() + wait;
        while (Clock::now() < until) {
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

// The one road of every fetch. A sink says what each try asks for (`Headers`), judges its answer
// (`Judge`), takes its body (`Take`) and says what it holds afterwards (`Settle`); `StartOver`
// drops what it holds. The loop and the decision are the same for a text, a file and a range.
template <typename Sink>
bool RunFetch(const HttpSession& session, const std::wstring& url, const CancelPredicate& cancel,
              const Retry& retry, std::uint64_t largestBody, Sink& sink) {
    TryBudget own = BudgetFor(largestBody);
    TryLedger ledger{retry.retries, retry.budget != nullptr ? retry.budget : &own};
    if (!ledger.budget->started) {
        ledger.budget->started = true;
        ledger.budget->firstTry = Clock::now();
    }
    ledger.highWater = sink.Held();
    Backoff backoff;
    for (;;) {
        std::string retryAfter;
        const auto answered = [&](const HttpAnswer& answer) {
            retryAfter = answer.retryAfter;
            return sink.Judge(answer, retry.retries > 0) == Verdict::Taken;
        };
        // The budget holds within a try too: no body runs past it.
        bool spent = false;
        const auto take = [&](const std::string& piece) {
            TryBudget& budget = *ledger.budget;
            spent = piece.size() > budget.bytesLeft;
            if (spent)
                return false;
            budget.bytesLeft -= piece.size();
            return sink.Take(piece);
        };
        const TransferEnd end = HttpTransfer(session, url, sink.Headers(), cancel, answered, take);
        const TryOutcome tried = sink.Settle(end);
        if (spent)
            return false;
        const std::uint64_t gainedBefore = ledger.budget->gained;
        switch (DecideNextTry(tried, ledger)) {
            case NextTry::Done:
                return true;
            case NextTry::Failed:
                return false;
            case NextTry::StartOver:
                if (!sink.StartOver())
                    return false;
                break;
            case NextTry::Resume:
                break;
        }
        if (ledger.budget->gained > gainedBefore)
            backoff.Reset();
        if (!backoff.Wait(retryAfter, cancel))
            return false;
    }
}

// A text into memory. Every try takes the whole body again.
struct TextSink {
    std::string& body;
    std::uint64_t maxBytes;
    bool hasLength = false;
    std::uint64_t declared = 0;
    Verdict verdict = Verdict::Taken;

    std::wstring Headers() const { return std::wstring(); }
    std::uint64_t Held() const { return body.size(); }
    Verdict Judge(const HttpAnswer& answer, bool retrying) {
        body.clear();
        hasLength = answer.hasLength;
        declared = answer.declared;
        if (retrying && IsPassingStatus(answer.status))
            verdict = Verdict::Busy;
        else
            verdict = hasLength && declared > maxBytes ? Verdict::Refused : Verdict::Taken;
        return verdict;
    }
    bool Take(const std::string& piece) {
        if (piece.size() > maxBytes - body.size()) {
            verdict = Verdict::Refused;
            return false;
        }
        body.append(piece);
        return true;
    }
    TryOutcome Settle(TransferEnd end) {
        TryOutcome tried{end, verdict, !hasLength || body.size() >= declared, body.size()};
        verdict = Verdict::Taken;
        return tried;
    }
    bool StartOver() {
        body.clear();
        return true;
    }
};

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

// The digest of what was written, when every byte could be hashed in order.
void TakeDigest(FileSoFar& so, std::string* sha256) {
    Sha256Digest digest;
    if (sha256 != nullptr && so.hash && so.hash->Finish(digest))
        *sha256 = HexDigest(digest.data(), digest.size());
}

// The rest of a file from `from` on, exactly: a 206 that starts there and runs to the end of a
// file of at most `maxBytes` (of exactly that size when it is known), with no more body than that.
bool IsTheRest(const HttpAnswer& answer, std::uint64_t from, std::uint64_t maxBytes, bool exact) {
    ContentRange range;
    if (answer.status != kStatusPartialContent || !ParseContentRange(answer.contentRange, range) ||
        range.first != from) {
        return false;
    }
    const std::uint64_t end = range.totalKnown ? range.total : range.last + 1;
    return range.last + 1 == end && (exact ? end == maxBytes : end <= maxBytes) &&
           (!answer.hasLength || answer.declared == end - from);
}

// What a sink that continues with Range decides first about an answer: a passing status while
// retrying waits; anything but the rest asked for is taken whole from its first byte (200) or
// starts over at the next try. Taken leaves the body's length to the sink.
template <typename Sink>
Verdict JudgeResume(Sink& sink, const HttpAnswer& answer, bool retrying, std::uint64_t maxBytes,
                    bool exact) {
    if (retrying && IsPassingStatus(answer.status))
        return Verdict::Busy;
    if (sink.from > 0 && !IsTheRest(answer, sink.from, maxBytes, exact)) {
        if (answer.status != kStatusOk)
            return Verdict::StartOver;
        if (!sink.StartOver())
            return Verdict::Refused;
    }
    return Verdict::Taken;
}

// A download into an open file, continued with Range from what it already holds.
struct FileSink {
    HANDLE file;
    std::uint64_t maxBytes;
    bool exactSize;
    const std::function<void(std::uint64_t, std::uint64_t)>& show;
    FileSoFar so{};
    std::uint64_t from = 0;   // what this try asked for: everything from here on
    std::uint64_t total = 0;  // the whole file's length, when the answer gave it
    bool hasLength = false;
    Verdict verdict = Verdict::Taken;

    std::wstring Headers() {
        from = so.have;
        return from > 0 ? Widened(RangeRequestHeader(from, 0)) : std::wstring();
    }
    std::uint64_t Held() const { return so.have; }
    Verdict Judge(const HttpAnswer& answer, bool retrying) {
        verdict = JudgeAnswer(answer, retrying);
        return verdict;
    }
    Verdict JudgeAnswer(const HttpAnswer& answer, bool retrying) {
        const Verdict resumed = JudgeResume(*this, answer, retrying, maxBytes, exactSize);
        if (resumed != Verdict::Taken)
            return resumed;
        const std::uint64_t before = so.have;
        // A body announced longer than the cap can never be accepted: nothing is written.
        if (answer.hasLength && answer.declared > maxBytes - before)
            return Verdict::Refused;
        hasLength = answer.hasLength;
        total = hasLength ? before + answer.declared : 0;
        if (before > 0)
            show(before, total);
        return Verdict::Taken;
    }
    // Every piece that is taken is written at once: the bytes received stay in the file.
    bool Take(const std::string& piece) {
        if (piece.size() > maxBytes - so.have) {
            // Past the file's size: a continued answer that lied starts over, a whole one fails.
            verdict = from > 0 ? Verdict::StartOver : Verdict::Refused;
            return false;
        }
        if (!WriteAll(file, piece.data(), piece.size())) {
            verdict = Verdict::Refused;
            return false;
        }
        so.Took(piece.data(), piece.size());
        show(so.have, total);
        return true;
    }
    TryOutcome Settle(TransferEnd end) {
        TryOutcome tried{end, verdict, !hasLength || so.have >= total, so.have};
        verdict = Verdict::Taken;
        return tried;
    }
    bool StartOver() {
        if (!Truncate(file))
            return false;
        so.StartOver();
        return true;
    }
};

// A compressed copy of a file, inflated into the open file as it arrives: the file gets the
// inflated bytes, at most the file's size, and the digest is theirs. A try continues the copy with
// Range from the compressed bytes taken, the inflater going on where it stopped; an answer that
// is not that rest starts the copy and the file over.
struct InflatingSink {
    HANDLE file;
    std::uint64_t copySize;  // the copy is exactly this long
    std::uint64_t fileSize;  // and inflates to at most this many bytes
    const std::function<void(std::uint64_t, std::uint64_t)>& show;
    FileSoFar so{};
    ZlibInflater inflater{fileSize,
                          [this](const char* data, std::size_t size) { return Wrote(data, size); }};
    std::uint64_t from = 0;
    Verdict verdict = Verdict::Taken;

    bool Wrote(const char* data, std::size_t size) {
        if (!WriteAll(file, data, size))
            return false;
        so.Took(data, size);
        show(so.have, fileSize);  // the bars count the file's bytes, not the copy's
        return true;
    }
    std::wstring Headers() {
        from = inflater.taken();
        return from > 0 ? Widened(RangeRequestHeader(from, 0)) : std::wstring();
    }
    std::uint64_t Held() const { return inflater.taken(); }
    Verdict Judge(const HttpAnswer& answer, bool retrying) {
        verdict = JudgeAnswer(answer, retrying);
        return verdict;
    }
    Verdict JudgeAnswer(const HttpAnswer& answer, bool retrying) {
        const Verdict resumed = JudgeResume(*this, answer, retrying, copySize, true);
        if (resumed != Verdict::Taken)
            return resumed;
        if (answer.hasLength && answer.declared > copySize - inflater.taken())
            return Verdict::Refused;
        return Verdict::Taken;
    }
    // A copy longer than listed, one that does not inflate, or a bomb past the file's size: the
    // copy is refused, whatever more the server would send.
    bool Take(const std::string& piece) {
        if (piece.size() > copySize - inflater.taken() ||
            !inflater.Feed(piece.data(), piece.size())) {
            verdict = Verdict::Refused;
            return false;
        }
        return true;
    }
    TryOutcome Settle(TransferEnd end) {
        // Only a copy that arrived whole can end its stream; one cut short is continued.
        const bool arrived = verdict == Verdict::Taken && inflater.taken() == copySize;
        const bool whole = arrived && inflater.Finish();
        const Verdict v = arrived && !whole ? Verdict::Refused : verdict;
        verdict = Verdict::Taken;
        return TryOutcome{end, v, whole, inflater.taken()};
    }
    bool StartOver() {
        if (!Truncate(file))
            return false;
        so.StartOver();
        inflater.Restart();
        return true;
    }
};

// One byte range, or the whole file from a server that ignores Range.
struct RangeFetchSink {
    const ByteRange& range;
    std::uint64_t wholeSize;
    const RangeSink& sink;
    std::uint64_t got = 0;  // bytes of the range handed over, over every try
    std::uint64_t first = 0;
    std::uint64_t expected = 0;
    std::uint64_t taken = 0;  // of this try's body
    bool whole = false;
    Verdict verdict = Verdict::Taken;

    std::wstring Headers() {
        first = range.first + got;
        taken = 0;
        return Widened(RangeRequestHeader(first, range.length - got));
    }
    std::uint64_t Held() const { return got; }
    Verdict Judge(const HttpAnswer& answer, bool retrying) {
        if (retrying && IsPassingStatus(answer.status))
            return verdict = Verdict::Busy;
        whole = answer.status == kStatusOk;
        const std::uint64_t last = range.first + range.length - 1;
        ContentRange said;
        const bool asked = answer.status == kStatusPartialContent &&
                           ParseContentRange(answer.contentRange, said) &&
                           (!said.totalKnown || said.total == wholeSize) && said.first == first &&
                           said.last == last;
        expected = whole ? wholeSize : last - first + 1;
        const bool fits = !answer.hasLength || answer.declared == expected;
        return verdict = (whole || asked) && fits ? Verdict::Taken : Verdict::Refused;
    }
    // Nothing past what was asked for is ever taken.
    bool Take(const std::string& piece) {
        if (piece.size() > expected - taken ||
            !sink((whole ? 0 : first) + taken, piece.data(), piece.size())) {
            verdict = Verdict::Refused;
            return false;
        }
        taken += piece.size();
        if (!whole)
            got += piece.size();
        return true;
    }
    TryOutcome Settle(TransferEnd end) {
        const bool done = taken == expected && verdict == Verdict::Taken;
        // A whole file broken off is not continued: the caller takes the range road again.
        const Verdict v = whole && !done ? Verdict::Refused : verdict;
        verdict = Verdict::Taken;
        return TryOutcome{end, v, done, got};
    }
    bool StartOver() { return false; }
};

}  // namespace

TryBudget BudgetFor(std::uint64_t size) {
    TryBudget budget;
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    budget.bytesLeft = size > (most - kBudgetSlack) / 2 ? most : 2 * size + kBudgetSlack;
    return budget;
}

bool HttpGetText(const HttpSession& session, const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel, std::uint64_t maxBytes, Retry retry) {
    TextSink sink{body, maxBytes};
    return RunFetch(session, url, cancel, retry, maxBytes, sink);
}

bool HttpDownloadFile(const HttpSession& session, const std::wstring& url, HANDLE file,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes, const DownloadOptions& options, std::string* sha256) {
    // Owned here and declared first, so it is released after every handle.
    const ProgressCallback report = std::move(progress);
    std::uint64_t reported = 0;  // progress never goes backwards
    const std::function<void(std::uint64_t, std::uint64_t)> show = [&](std::uint64_t done,
                                                                       std::uint64_t total) {
        reported = std::max(reported, done);
        if (report)
            report(reported, total);
    };
    if (options.copySize > 0) {
        InflatingSink sink{file, options.copySize, maxBytes, show};
        sink.so.StartOver();
        const bool done = RunFetch(session, url, cancel, options.retry, options.copySize, sink);
        if (done)
            TakeDigest(sink.so, sha256);
        return done;
    }
    FileSink sink{file, maxBytes, options.exactSize, show};
    sink.so.StartOver();
    const std::uint64_t kept = options.retry.retries > 0 ? options.resumeFrom : 0;
    if (kept > 0 && !(kept <= maxBytes && sink.so.HashKept(file, kept)) && !sink.StartOver())
        return false;
    const bool done = RunFetch(session, url, cancel, options.retry, maxBytes, sink);
    if (done)
        TakeDigest(sink.so, sha256);
    return done;
}

RangeFetch HttpFetchRange(const HttpSession& session, const std::wstring& url,
                          const ByteRange& range, std::uint64_t wholeSize, const RangeSink& sink,
                          const CancelPredicate& cancel, Retry retry) {
    if (range.length == 0 || range.first >= wholeSize || range.length > wholeSize - range.first)
        return RangeFetch::Failed;
    RangeFetchSink fetch{range, wholeSize, sink};
    if (!RunFetch(session, url, cancel, retry, wholeSize, fetch))
        return RangeFetch::Failed;
    return fetch.whole ? RangeFetch::DoneWhole : RangeFetch::Done;
}
