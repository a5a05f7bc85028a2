#include "net/http_client.h"

#include "app/unique_handle.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kUserAgent[] = L"TalvoraPatcher/1.0";
// WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY; older headers do not name it.
constexpr DWORD kAccessTypeAutomaticProxy = 4;
constexpr DWORD kHostBufferChars = 255;
constexpr DWORD kPathBufferChars = 2047;
// A text file of the patch server is a few kilobytes; a body past this is hostile or broken.
constexpr std::size_t kMaxTextBody = 64u * 1024u * 1024u;
constexpr DWORD kWriteBatch = 1u << 20;

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

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
    if (!out.session)
        return SendResult::Failed;
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
bool SendGet(const std::wstring& url, OpenRequest& out, const CancelPredicate& cancel,
             const std::wstring& headers = std::wstring()) {
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
bool ContentRangeIs(HINTERNET request, const ByteRange& range, std::uint64_t wholeSize) {
    wchar_t text[96] = {};
    DWORD size = sizeof text - sizeof text[0];
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                               text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    const wchar_t* p = text;
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

bool WriteAll(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, nullptr) && written == size;
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

bool HttpGetText(const std::wstring& url, std::string& body) {
    OpenRequest open;
    if (!SendGet(url, open, CancelPredicate()))
        return false;
    body.clear();
    std::uint64_t declared = 0;
    const bool hasLength = QueryContentLength(open.request.get(), declared);

    // After any failed call the request is only closed: touching it again crashes some stacks.
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(open.request.get(), &available))
            return false;
        if (available == 0)
            break;
        if (available > kMaxTextBody - body.size())
            return false;
        std::unique_ptr<char[]> chunk(new char[available]());
        DWORD got = 0;
        if (!::WinHttpReadData(open.request.get(), chunk.get(), available, &got))
            return false;
        body.append(chunk.get(), got);
    }
    // A close before the declared end looks like a normal end of body: count the bytes.
    return !hasLength || body.size() >= declared;
}

bool HttpDownloadFile(const std::wstring& url, const std::wstring& path,
                      const CancelPredicate& cancel, ProgressCallback progress) {
    // Owned here and declared first, so it is released after the file and every handle.
    const ProgressCallback report = std::move(progress);
    OpenRequest open;
    if (!SendGet(url, open, cancel))
        return false;
    std::uint64_t total = 0;
    const bool hasLength = QueryContentLength(open.request.get(), total);

    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;

    // Chunks arrive 8 KiB at a time under Wine, and a WriteFile per chunk costs a fifth of the
    // transfer; they are gathered in one buffer of fixed size instead, so memory stays bounded.
    std::unique_ptr<char[]> batch(new char[kWriteBatch]());
    DWORD used = 0;
    const auto flush = [&] {
        const bool ok = used == 0 || WriteAll(file.get(), batch.get(), used);
        used = 0;
        return ok;
    };

    // Every early end still writes what had arrived: the bytes received stay in the file.
    std::uint64_t done = 0;
    for (;;) {
        if (cancel && cancel()) {
            flush();
            return false;
        }
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(open.request.get(), &available)) {
            flush();
            return false;
        }
        if (available == 0)
            break;
        if (available > kWriteBatch - used && !flush())
            return false;
        std::unique_ptr<char[]> large;
        char* target = batch.get() + used;
        if (available > kWriteBatch) {
            large.reset(new char[available]());
            target = large.get();
        }
        DWORD got = 0;
        if (!::WinHttpReadData(open.request.get(), target, available, &got)) {
            flush();
            return false;
        }
        if (large) {
            if (!WriteAll(file.get(), target, got))
                return false;
        } else {
            used += got;
        }
        done += got;
        if (report)
            report(done, total);
    }
    if (!flush())
        return false;
    return !hasLength || done >= total;
}

RangeFetch HttpFetchRange(const std::wstring& url, const ByteRange& range, std::uint64_t wholeSize,
                          const RangeSink& sink, const CancelPredicate& cancel) {
    if (range.length == 0)
        return RangeFetch::Failed;
    const std::wstring header = L"Range: bytes=" + std::to_wstring(range.first) + L"-" +
                                std::to_wstring(range.first + range.length - 1);
    OpenRequest open;
    if (!SendGet(url, open, cancel, header))
        return RangeFetch::Failed;
    const DWORD status = QueryStatusCode(open.request.get());
    const bool whole = status == HTTP_STATUS_OK;
    if (!whole && !(status == HTTP_STATUS_PARTIAL_CONTENT &&
                    ContentRangeIs(open.request.get(), range, wholeSize))) {
        return RangeFetch::Failed;
    }
    const std::uint64_t offset = whole ? 0 : range.first;
    const std::uint64_t expected = whole ? wholeSize : range.length;
    std::uint64_t declared = 0;
    if (QueryContentLength(open.request.get(), declared) && declared != expected)
        return RangeFetch::Failed;

    std::vector<char> chunk;
    std::uint64_t got = 0;
    for (;;) {
        if (cancel && cancel())
            return RangeFetch::Failed;
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(open.request.get(), &available))
            return RangeFetch::Failed;
        if (available == 0)
            break;
        // Nothing past what was asked for is ever taken.
        if (available > expected - got)
            return RangeFetch::Failed;
        if (chunk.size() < available)
            chunk.resize(available);
        DWORD read = 0;
        if (!::WinHttpReadData(open.request.get(), chunk.data(), available, &read) ||
            !sink(offset + got, chunk.data(), read)) {
            return RangeFetch::Failed;
        }
        got += read;
    }
    if (got != expected)
        return RangeFetch::Failed;
    return whole ? RangeFetch::WholeBody : RangeFetch::Range;
}
