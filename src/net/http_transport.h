// The transport under every HTTP fetch: a WinHTTP session kept for a whole update run (so its
// connections are kept alive between requests), one GET at a time per call, the one resend on a
// kept-alive connection the server had dropped, and the bounds every transfer has: WinHTTP
// time-outs, a floor on speed, and a cancel predicate honoured within a fraction of a second
// whatever the server does. What is done with the bytes is the caller's (http_client).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct UrlParts {
    std::wstring host;
    std::wstring path;
    std::uint16_t port = 0;
    bool secure = false;
};

bool SplitUrl(const std::wstring& url, UrlParts& parts);

// Asked before every chunk and while waiting for the server; true stops the transfer.
using CancelPredicate = std::function<bool()>;

// The floor on speed: fewer than kFloorBytes in any kFloorWindow (the wait for the answer
// included) drops a transfer. A trickle of a few bytes now and then keeps every receive time-out
// from firing; a slow but live line (50 KB/s) moves a megabyte in the same time. Tries of one file
// together keep the same floor over all their time.
constexpr std::chrono::seconds kFloorWindow{20};
constexpr std::uint64_t kFloorBytes = 16u * 1024u;

struct HttpSessionOwner;

// One WinHTTP session, the connections made through it, and the threads that make its blocking
// calls. Copies share it; it is closed when the last copy and the last transfer that uses it are
// gone (a transfer given up by its caller may still be ending on its own thread).
class HttpSession {
  public:
    // A new session; `valid()` is false when the system could not make one.
    static HttpSession Open();
    bool valid() const { return owner_ != nullptr; }
    // For the transport alone.
    const std::shared_ptr<HttpSessionOwner>& owner() const { return owner_; }

  private:
    std::shared_ptr<HttpSessionOwner> owner_;
};

// What the response headers said. Header values are as sent, narrowed to bytes.
struct HttpAnswer {
    DWORD status = 0;
    bool hasLength = false;  // a Content-Length that reads as a length
    std::uint64_t declared = 0;
    std::string contentRange;
    std::string retryAfter;
};

// Once the response headers are in; false ends the transfer.
using AnswerHandler = std::function<bool(const HttpAnswer&)>;
// For every piece of the body, in order; false ends the transfer.
using BodyHandler = std::function<bool(const std::string&)>;

enum class TransferEnd {
    // The body reached the stack's normal end and every piece was taken. The caller compares the
    // length: a close before the declared end looks like a normal end.
    Done,
    Refused,    // a handler said no
    Broken,     // no answer, or the connection failed: dropped, reset, time-out, the speed floor
    Cancelled,  // the cancel predicate said stop
};

// One GET of `url` through `session` with the extra request `headers` (none when empty).
TransferEnd HttpTransfer(const HttpSession& session, const std::wstring& url,
                         const std::wstring& headers, const CancelPredicate& cancel,
                         const AnswerHandler& answered, const BodyHandler& take);
