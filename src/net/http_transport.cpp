#include "net/http_transport.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>

#include "net/winhttp_handles.h"
#include "portable/net/http_headers.h"

struct HttpSessionCore;
// A job for a network thread: one GET through the session, whose bytes go to its caller.
using NetworkJob = std::function<void(HttpSessionCore&)>;

// A session and the connections made through it: a connection handle is only a name for a
// server; WinHTTP keeps the sockets under the session and reuses them while they are alive. The
// threads that make the blocking calls live as long as the session: starting a thread per request
// costs milliseconds under Wine, more than a small file's whole transfer.
struct HttpSessionCore {
    UniqueInternet session;
    std::mutex lock;
    std::map<std::pair<std::wstring, INTERNET_PORT>, UniqueInternet> connections;

    std::mutex jobsLock;
    std::condition_variable jobsChanged;
    std::deque<NetworkJob> jobs;
    std::size_t idleThreads = 0;
    bool closing = false;  // no HttpSession refers to it any more
};

// What HttpSession copies share: when the last goes, the idle threads end.
struct HttpSessionOwner {
    std::shared_ptr<HttpSessionCore> core;
    ~HttpSessionOwner() {
        {
            const std::lock_guard<std::mutex> hold(core->jobsLock);
            core->closing = true;
        }
        core->jobsChanged.notify_all();
    }
};

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
// How often the caller looks at its cancel predicate while the network is quiet.
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// The caller is woken for a batch of this size; smaller amounts it takes at its next look, so a
// fast transfer costs one hand-over per batch rather than one per 8 KiB chunk.
constexpr std::size_t kWakeBytes = 256u * 1024u;
// How far the network thread may read ahead of the caller.
constexpr std::size_t kReadAhead = 1u << 20;

enum class SendResult { Done, Failed, Dropped };

// A request that died on a connection the server had already dropped: the stack's own codes, or
// the raw socket codes Wine reports instead (a reset, or an empty answer taken for an invalid
// one). A server that is down, unknown or silent is not retried: that would only double the wait.
bool IsDroppedConnection(DWORD error) {
    return error == ERROR_WINHTTP_CONNECTION_ERROR ||
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == WSAECONNRESET ||
           error == WSAECONNABORTED;
}

HINTERNET ConnectionFor(HttpSessionCore& core, const UrlParts& parts) {
    const std::lock_guard<std::mutex> hold(core.lock);
    UniqueInternet& connection = core.connections[{parts.host, parts.port}];
    if (!connection)
        connection.reset(::WinHttpConnect(core.session.get(), parts.host.c_str(), parts.port, 0));
    return connection.get();
}

// Everything up to the received response headers. A request opened so far is closed by its owner
// when a step fails.
SendResult TrySendGet(HttpSessionCore& core, const UrlParts& parts, const std::wstring& headers,
                      UniqueInternet& request) {
    const HINTERNET connection = ConnectionFor(core, parts);
    if (connection == nullptr)
        return SendResult::Failed;
    request.reset(::WinHttpOpenRequest(connection, L"GET", parts.path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
        return SendResult::Failed;
    if (::WinHttpSendRequest(
            request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        ::WinHttpReceiveResponse(request.get(), nullptr)) {
        return SendResult::Done;
    }
    return IsDroppedConnection(::GetLastError()) ? SendResult::Dropped : SendResult::Failed;
}

// A session keeps its connections alive between requests (Windows pools them per session, Wine
// per process), and a socket the server closed a moment ago makes a request die before any
// response. A single fresh attempt, made before any byte of a body was taken, covers it.
bool SendGet(HttpSessionCore& core, const std::wstring& url, const std::wstring& headers,
             UniqueInternet& request, const CancelPredicate& cancel) {
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && cancel && cancel())
            return false;
        UniqueInternet fresh;
        const SendResult result = TrySendGet(core, parts, headers, fresh);
        if (result == SendResult::Done) {
            request = std::move(fresh);
            return true;
        }
        if (result == SendResult::Failed)
            return false;
    }
    return false;
}

// A header's value as bytes (a header is ASCII); false when there is none or it is too long to be
// sound.
bool QueryHeaderText(HINTERNET request, DWORD query, std::string& value) {
    wchar_t text[128] = {};
    DWORD size = sizeof text - sizeof text[0];
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    value.clear();
    for (const wchar_t* p = text; *p != 0; ++p)
        value.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
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

// Content-Length is read as text: the numeric query saturates at 2^31-1.
HttpAnswer ReadAnswer(HINTERNET request) {
    HttpAnswer answer;
    answer.status = QueryStatusCode(request);
    std::string length;
    answer.hasLength = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, length) &&
                       ParseContentLength(length, answer.declared);
    QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE, answer.contentRange);
    QueryHeaderText(request, WINHTTP_QUERY_RETRY_AFTER, answer.retryAfter);
    return answer;
}

// What the network thread hands to the caller. The caller may leave at any moment (a stop, a
// deadline, a cap, a stalled server); the network thread then ends at its next chance and owns
// nothing but its handles and this record, so nothing it does afterwards reaches a file.
struct Pipe {
    std::mutex lock;
    std::condition_variable changed;
    bool answered = false;  // the set-up has ended, well or not
    bool sent = false;      // the response headers arrived
    HttpAnswer answer;
    std::string pending;     // body bytes the caller has not taken yet
    bool ended = false;      // no more body will come
    bool complete = false;   // it ended with the stack's normal end of body
    bool abandoned = false;  // the caller has gone
};

// A synchronous WinHTTP call cannot be interrupted: closing its handle from another thread does
// not wake it under Wine. So the calls run here, on a thread of their own, and the caller only
// waits on the pipe, where it can give up whenever it must.
void NetworkSide(HttpSessionCore& core, const std::wstring& url, const std::wstring& headers,
                 const std::shared_ptr<Pipe>& pipe) {
    const CancelPredicate gone = [&pipe] {
        const std::lock_guard<std::mutex> hold(pipe->lock);
        return pipe->abandoned;
    };
    UniqueInternet request;
    const bool sent = SendGet(core, url, headers, request, gone);
    HttpAnswer answer;
    if (sent)
        answer = ReadAnswer(request.get());
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
        if (!::WinHttpQueryDataAvailable(request.get(), &available))
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
        if (!::WinHttpReadData(request.get(), chunk.get(), available, &got))
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

// A network thread: takes jobs until the session is closed and nothing is left to do. It keeps
// the session alive while it runs.
void NetworkThread(const std::shared_ptr<HttpSessionCore> core) {
    std::unique_lock<std::mutex> hold(core->jobsLock);
    for (;;) {
        core->jobsChanged.wait(hold, [&core] { return core->closing || !core->jobs.empty(); });
        if (core->jobs.empty())
            return;
        NetworkJob job = std::move(core->jobs.front());
        core->jobs.pop_front();
        --core->idleThreads;
        hold.unlock();
        job(*core);
        job = NetworkJob();
        hold.lock();
        ++core->idleThreads;
    }
}

// Hands a job to an idle network thread, or to a new one when none is free. False when no thread
// could be started for it.
bool Dispatch(const std::shared_ptr<HttpSessionCore>& core, NetworkJob job) {
    std::unique_lock<std::mutex> hold(core->jobsLock);
    core->jobs.push_back(std::move(job));
    if (core->jobs.size() > core->idleThreads) {
        // std::thread reports a failed creation only by throwing; that is a failed transfer here.
        try {
            std::thread(NetworkThread, core).detach();
            ++core->idleThreads;
        } catch (...) {
            core->jobs.pop_back();
            return false;
        }
    }
    hold.unlock();
    core->jobsChanged.notify_one();
    return true;
}

// What the caller found in the pipe at one look.
struct PipeLook {
    bool answer = false;  // the set-up has ended since the last look
    bool sent = false;    // and the response headers arrived
    HttpAnswer said;
    bool ended = false;
    bool complete = false;
};

// Waits a little for news from the network thread and takes the body bytes it has gathered.
PipeLook LookAtPipe(Pipe& pipe, bool answerSeen, std::string& piece) {
    piece.clear();
    PipeLook look;
    {
        std::unique_lock<std::mutex> hold(pipe.lock);
        pipe.changed.wait_for(hold, kPollInterval, [&] {
            return pipe.pending.size() >= kWakeBytes || pipe.ended ||
                   (pipe.answered && !answerSeen);
        });
        piece.swap(pipe.pending);
        look.answer = pipe.answered && !answerSeen;
        look.sent = pipe.sent;
        if (look.answer)
            look.said = pipe.answer;
        look.ended = pipe.ended;
        look.complete = pipe.complete;
    }
    if (!piece.empty())
        pipe.changed.notify_all();  // room to read ahead again
    return look;
}

// The floor on speed of one transfer, judged window by window.
struct SpeedFloor {
    Clock::time_point windowStart = Clock::now();
    std::uint64_t windowBytes = 0;

    // False once a whole window went by with fewer bytes than the floor.
    bool Kept(std::uint64_t bytes) {
        windowBytes += bytes;
        const Clock::time_point now = Clock::now();
        if (now - windowStart < kFloorWindow)
            return true;
        if (windowBytes < kFloorBytes)
            return false;
        windowStart = now;
        windowBytes = 0;
        return true;
    }
};

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

HttpSession HttpSession::Open() {
    HttpSession opened;
    auto core = std::make_shared<HttpSessionCore>();
    core->session.reset(::WinHttpOpen(kUserAgent, kAccessTypeAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (core->session &&
        ::WinHttpSetTimeouts(core->session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                             kSendTimeoutMs, kReceiveTimeoutMs)) {
        opened.owner_ = std::make_shared<HttpSessionOwner>();
        opened.owner_->core = std::move(core);
    }
    return opened;
}

TransferEnd HttpTransfer(const HttpSession& session, const std::wstring& url,
                         const std::wstring& headers, const CancelPredicate& cancel,
                         const AnswerHandler& answered, const BodyHandler& take) {
    if (!session.valid())
        return TransferEnd::Broken;
    auto pipe = std::make_shared<Pipe>();
    const NetworkJob job = [url, headers, pipe](HttpSessionCore& core) {
        NetworkSide(core, url, headers, pipe);
    };
    if (!Dispatch(session.owner()->core, job))
        return TransferEnd::Broken;
    const LeavePipe leave{pipe};

    bool answerSeen = false;
    SpeedFloor floor;
    // Swapped with the pipe's buffer each time, so both keep their capacity.
    std::string piece;
    for (;;) {
        const PipeLook look = LookAtPipe(*pipe, answerSeen, piece);
        if (look.answer) {
            answerSeen = true;
            if (!look.sent)
                return TransferEnd::Broken;
            if (!answered(look.said))
                return TransferEnd::Refused;
        }
        if (cancel && cancel())
            return TransferEnd::Cancelled;
        if (!piece.empty()) {
            const Clock::time_point taking = Clock::now();
            if (!take(piece))
                return TransferEnd::Refused;
            // Time spent with the bytes (a disk that stalls, a hash that lags) is ours, not the
            // line's: the floor judges the network alone.
            floor.windowStart += Clock::now() - taking;
        }
        if (look.ended)
            return look.complete ? TransferEnd::Done : TransferEnd::Broken;
        if (!floor.Kept(piece.size()))
            return TransferEnd::Broken;
    }
}
