#include "net/http_client.h"

#include "app/unique_handle.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kUserAgent[] = L"TalvoraPatcher/1.0";
// WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY; older headers do not name it.
constexpr DWORD kAccessTypeAutomaticProxy = 4;
constexpr DWORD kHostBufferChars = 255;
constexpr DWORD kPathBufferChars = 2047;
// Each blocking step of the stack gives up on its own after these.
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;
// The floor on speed: fewer than kFloorBytes in any kFloorWindow (the wait for the answer
// included) drops the transfer. A trickle of a few bytes now and then keeps every receive
// time-out from firing; a slow but live line (50 KB/s) moves a megabyte in the same time.
constexpr auto kFloorWindow = std::chrono::seconds(20);
constexpr std::uint64_t kFloorBytes = 16u * 1024u;
// How often the caller looks at its cancel predicate while the network is quiet.
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// The caller is woken for a batch of this size; smaller amounts it takes at its next look, so a
// fast transfer costs one hand-over per batch rather than one per 8 KiB chunk.
constexpr std::size_t kWakeBytes = 256u * 1024u;
// How far the network thread may read ahead of the caller.
constexpr std::size_t kReadAhead = 1u << 20;

// Declared in opening order, so destruction closes the request first and the session last.
struct OpenRequest {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
};

enum class SendResult { Ok, Failed, Dropped };

// A request that died on a connection the server had already dropped: the stack's own codes, or
// the raw socket codes Wine reports instead (a reset, or an empty answer taken for an invalid
// one). A server that is down, unknown or silent is not retried: that would only double the wait.
bool IsDroppedConnection(DWORD error) {
    return error == ERROR_WINHTTP_CONNECTION_ERROR ||
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == WSAECONNRESET ||
           error == WSAECONNABORTED;
}

// Everything up to the received response headers. Handles opened so far are closed by their
// owners when a step fails.
SendResult TrySendGet(const std::wstring& url, OpenRequest& out, const std::wstring& headers) {
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return SendResult::Failed;
    out.session.reset(::WinHttpOpen(kUserAgent, kAccessTypeAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!out.session ||
        !::WinHttpSetTimeouts(out.session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                              kSendTimeoutMs, kReceiveTimeoutMs)) {
        return SendResult::Failed;
    }
    out.connection.reset(::WinHttpConnect(out.session.get(), parts.host.c_str(), parts.port, 0));
    if (!out.connection)
        return SendResult::Failed;
    out.request.reset(::WinHttpOpenRequest(
        out.connection.get(), L"GET", parts.path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!out.request)
        return SendResult::Failed;
    if (::WinHttpSendRequest(
            out.request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        ::WinHttpReceiveResponse(out.request.get(), nullptr)) {
        return SendResult::Ok;
    }
    return IsDroppedConnection(::GetLastError()) ? SendResult::Dropped : SendResult::Failed;
}

// Wine's WinHTTP keeps idle connections in one pool for the whole process, across sessions, and
// can hand out a socket that the server closed a moment ago; the request then dies before any
// response. Windows pools per session, and each call here has its own, so it never reuses one.
// A single fresh attempt, made before any byte of a body was taken, gives both the same result.
bool SendGet(const std::wstring& url, const std::wstring& headers, OpenRequest& out,
             const CancelPredicate& cancel) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && cancel && cancel())
            return false;
        OpenRequest fresh;
        const SendResult result = TrySendGet(url, fresh, headers);
        if (result == SendResult::Ok) {
            out = std::move(fresh);
            return true;
        }
        if (result == SendResult::Failed)
            return false;
    }
    return false;
}

// Content-Length as text: the numeric query saturates at 2^31-1. True when the header was there;
// `value` is its leading decimal digits (0 without digits, saturated past 64 bits).
bool QueryContentLength(HINTERNET request, std::uint64_t& value) {
    value = 0;
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                               text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) {
        const std::uint64_t digit = static_cast<std::uint64_t>(*p - L'0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return true;
}

DWORD QueryStatusCode(HINTERNET request) {
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &code, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return code;
}

// The Content-Range header as text; empty when there is none or it is too long to be sound.
std::wstring QueryContentRange(HINTERNET request) {
    wchar_t text[96] = {};
    DWORD size = sizeof text - sizeof text[0];
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                               text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return std::wstring();
    }
    return text;
}

// Decimal digits at `p`, advanced past them; false without any or past 64 bits.
bool ReadNumber(const wchar_t*& p, std::uint64_t& value) {
    value = 0;
    const wchar_t* start = p;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        const auto digit = static_cast<std::uint64_t>(*p - L'0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return p != start;
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be '*'), exactly the range asked for.
bool ContentRangeIs(const std::wstring& text, const ByteRange& range, std::uint64_t wholeSize) {
    const wchar_t* p = text.c_str();
    if (std::wcsncmp(p, L"bytes ", 6) != 0)
        return false;
    p += 6;
    std::uint64_t first = 0, last = 0, total = 0;
    if (!ReadNumber(p, first) || *p++ != L'-' || !ReadNumber(p, last) || *p++ != L'/')
        return false;
    if (*p == L'*') {
        ++p;
    } else if (!ReadNumber(p, total) || total != wholeSize) {
        return false;
    }
    return *p == 0 && first == range.first && last == range.first + range.length - 1;
}

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

// What the response headers said, read on the network thread.
struct Answer {
    DWORD status = 0;
    bool hasLength = false;
    std::uint64_t declared = 0;
    std::wstring contentRange;
};

// What the network thread hands to the caller. The caller may leave at any moment (a stop, a
// deadline, a cap, a stalled server); the network thread then ends at its next chance and owns
// nothing but its handles and this record, so nothing it does afterwards reaches a file.
struct Pipe {
    std::mutex lock;
    std::condition_variable changed;
    bool answered = false;  // the set-up has ended, well or not
    bool sent = false;      // the response headers arrived
    Answer answer;
    std::string pending;     // body bytes the caller has not taken yet
    bool ended = false;      // no more body will come
    bool complete = false;   // it ended with the stack's normal end of body
    bool abandoned = false;  // the caller has gone
};

// A synchronous WinHTTP call cannot be interrupted: closing its handle from another thread does
// not wake it under Wine. So the calls run here, on a thread of their own, and the caller only
// waits on the pipe, where it can give up whenever it must.
void NetworkSide(const std::wstring url, const std::wstring headers,
                 const std::shared_ptr<Pipe> pipe) {
    const CancelPredicate gone = [&pipe] {
        const std::lock_guard<std::mutex> hold(pipe->lock);
        return pipe->abandoned;
    };
    OpenRequest open;
    const bool sent = SendGet(url, headers, open, gone);
    Answer answer;
    if (sent) {
        answer.status = QueryStatusCode(open.request.get());
        answer.hasLength = QueryContentLength(open.request.get(), answer.declared);
        answer.contentRange = QueryContentRange(open.request.get());
    }
    {
        const std::lock_guard<std::mutex> hold(pipe->lock);
        pipe->answered = true;
        pipe->sent = sent;
        pipe->answer = std::move(answer);
    }
    pipe->changed.notify_all();
    if (!sent)
        return;

    // After any failed call the request is only closed: touching it again crashes some stacks.
    bool complete = false;
    std::unique_ptr<char[]> chunk;
    DWORD chunkSize = 0;
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(open.request.get(), &available))
            break;
        if (available == 0) {
            complete = true;
            break;
        }
        if (available > chunkSize) {
            chunk.reset(new char[available]());
            chunkSize = available;
        }
        DWORD got = 0;
        if (!::WinHttpReadData(open.request.get(), chunk.get(), available, &got))
            break;
        std::unique_lock<std::mutex> hold(pipe->lock);
        pipe->changed.wait(
            hold, [&pipe] { return pipe->abandoned || pipe->pending.size() < kReadAhead; });
        if (pipe->abandoned)
            return;
        const bool wasShort = pipe->pending.size() < kWakeBytes;
        pipe->pending.append(chunk.get(), got);
        const bool wake = wasShort && pipe->pending.size() >= kWakeBytes;
        hold.unlock();
        if (wake)
            pipe->changed.notify_all();
    }
    {
        const std::lock_guard<std::mutex> hold(pipe->lock);
        pipe->ended = true;
        pipe->complete = complete;
    }
    pipe->changed.notify_all();
}

// Tells the network thread to stop however the caller leaves.
struct LeavePipe {
    std::shared_ptr<Pipe> pipe;
    ~LeavePipe() {
        {
            const std::lock_guard<std::mutex> hold(pipe->lock);
            pipe->abandoned = true;
            pipe->pending.clear();
        }
        pipe->changed.notify_all();
    }
};

// One GET with the extra request `headers` (none when empty): `answered` once the response
// headers are in, `take` for every piece of the body; either returns false to end the transfer.
// True when the body reached the stack's normal end and every piece was taken; the caller compares
// the length, since a close before the declared end looks like a normal end.
template <typename Answered, typename Take>
bool Transfer(const std::wstring& url, const std::wstring& headers, const CancelPredicate& cancel,
              Answered answered, Take take) {
    auto pipe = std::make_shared<Pipe>();
    // std::thread reports a failed creation only by throwing; that is a failed transfer here.
    try {
        std::thread(NetworkSide, url, headers, pipe).detach();
    } catch (...) {
        return false;
    }
    const LeavePipe leave{pipe};

    bool answerSeen = false;
    Clock::time_point windowStart = Clock::now();
    std::uint64_t windowBytes = 0;
    // Swapped with the pipe's buffer each time, so both keep their capacity.
    std::string piece;
    for (;;) {
        piece.clear();
        bool sent = false, ended = false, complete = false, answer = false;
        Answer said;
        {
            std::unique_lock<std::mutex> hold(pipe->lock);
            pipe->changed.wait_for(hold, kPollInterval, [&] {
                return pipe->pending.size() >= kWakeBytes || pipe->ended ||
                       (pipe->answered && !answerSeen);
            });
            piece.swap(pipe->pending);
            answer = pipe->answered && !answerSeen;
            sent = pipe->sent;
            if (answer)
                said = pipe->answer;
            ended = pipe->ended;
            complete = pipe->complete;
        }
        if (!piece.empty())
            pipe->changed.notify_all();  // room to read ahead again
        if (answer) {
            answerSeen = true;
            if (!sent || !answered(said))
                return false;
        }
        if (cancel && cancel())
            return false;
        if (!piece.empty()) {
            const Clock::time_point taking = Clock::now();
            if (!take(piece))
                return false;
            // Time spent with the bytes (a disk that stalls, a hash that lags) is ours, not the
            // line's: the floor judges the network alone.
            windowStart += Clock::now() - taking;
        }
        if (ended)
            return complete;

        windowBytes += piece.size();
        const Clock::time_point now = Clock::now();
        if (now - windowStart >= kFloorWindow) {
            if (windowBytes < kFloorBytes)
                return false;
            windowStart = now;
            windowBytes = 0;
        }
    }
}

}  // namespace

bool SplitUrl(const std::wstring& url, UrlParts& parts) {
    wchar_t host[kHostBufferChars] = {};
    wchar_t path[kPathBufferChars] = {};
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host;
    components.dwHostNameLength = kHostBufferChars;
    components.lpszUrlPath = path;
    components.dwUrlPathLength = kPathBufferChars;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &components))
        return false;
    parts.host.assign(host, components.dwHostNameLength);
    parts.path.assign(path, components.dwUrlPathLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

bool HttpGetText(const std::wstring& url, std::string& body, const CancelPredicate& cancel,
                 std::uint64_t maxBytes) {
    bool hasLength = false;
    std::uint64_t declared = 0;
    const auto answered = [&](const Answer& answer) {
        body.clear();
        hasLength = answer.hasLength;
        declared = answer.declared;
        return !hasLength || declared <= maxBytes;
    };
    const auto take = [&](const std::string& piece) {
        if (piece.size() > maxBytes - body.size())
            return false;
        body.append(piece);
        return true;
    };
    if (!Transfer(url, std::wstring(), cancel, answered, take))
        return false;
    return !hasLength || body.size() >= declared;
}

bool HttpDownloadFile(const std::wstring& url, HANDLE file, const CancelPredicate& cancel,
                      ProgressCallback progress, std::uint64_t maxBytes) {
    // Owned here and declared first, so it is released after every handle.
    const ProgressCallback report = std::move(progress);
    bool hasLength = false;
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    const auto answered = [&](const Answer& answer) {
        // A body announced longer than the cap can never be accepted: nothing of it is written.
        if (answer.hasLength && answer.declared > maxBytes)
            return false;
        hasLength = answer.hasLength;
        total = answer.declared;
        return true;
    };
    // Every piece that is taken is written at once: the bytes received stay in the file.
    const auto take = [&](const std::string& piece) {
        if (piece.size() > maxBytes - done)
            return false;
        if (!WriteAll(file, piece.data(), piece.size()))
            return false;
        done += piece.size();
        if (report)
            report(done, total);
        return true;
    };
    if (!Transfer(url, std::wstring(), cancel, answered, take))
        return false;
    return !hasLength || done >= total;
}

RangeFetch HttpFetchRange(const std::wstring& url, const ByteRange& range, std::uint64_t wholeSize,
                          const RangeSink& sink, const CancelPredicate& cancel) {
    if (range.length == 0 || range.first >= wholeSize || range.length > wholeSize - range.first)
        return RangeFetch::Failed;
    const std::wstring header = L"Range: bytes=" + std::to_wstring(range.first) + L"-" +
                                std::to_wstring(range.first + range.length - 1);
    bool whole = false;
    std::uint64_t expected = 0;
    std::uint64_t got = 0;
    const auto answered = [&](const Answer& answer) {
        whole = answer.status == HTTP_STATUS_OK;
        if (!whole && !(answer.status == HTTP_STATUS_PARTIAL_CONTENT &&
                        ContentRangeIs(answer.contentRange, range, wholeSize))) {
            return false;
        }
        expected = whole ? wholeSize : range.length;
        return !answer.hasLength || answer.declared == expected;
    };
    // Nothing past what was asked for is ever taken.
    const auto take = [&](const std::string& piece) {
        if (piece.size() > expected - got ||
            !sink((whole ? 0 : range.first) + got, piece.data(), piece.size())) {
            return false;
        }
        got += piece.size();
        return true;
    };
    if (!Transfer(url, header, cancel, answered, take) || got != expected)
        return RangeFetch::Failed;
    return whole ? RangeFetch::WholeBody : RangeFetch::Range;
}
