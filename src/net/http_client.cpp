#include "net/http_client.h"

#include <utility>

#include "portable/net/http_headers.h"

namespace {

constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusPartialContent = 206;

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

std::wstring Widened(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// Exactly the range asked for, of a file of `wholeSize` bytes when the total is given.
bool IsRangeAskedFor(const std::string& text, const ByteRange& range, std::uint64_t wholeSize) {
    ContentRange got;
    return ParseContentRange(text, got) && (!got.totalKnown || got.total == wholeSize) &&
           got.first == range.first && got.last == range.first + range.length - 1;
}

}  // namespace

bool HttpGetText(const HttpSession& session, const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel, std::uint64_t maxBytes) {
    bool hasLength = false;
    std::uint64_t declared = 0;
    const auto answered = [&](const HttpAnswer& answer) {
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
    if (!HttpTransfer(session, url, std::wstring(), cancel, answered, take))
        return false;
    return !hasLength || body.size() >= declared;
}

bool HttpGetText(const std::wstring& url, std::string& body, const CancelPredicate& cancel,
                 std::uint64_t maxBytes) {
    return HttpGetText(HttpSession::Open(), url, body, cancel, maxBytes);
}

bool HttpDownloadFile(const HttpSession& session, const std::wstring& url, HANDLE file,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes, Sha256* written) {
    // Owned here and declared first, so it is released after every handle.
    const ProgressCallback report = std::move(progress);
    bool hasLength = false;
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    const auto answered = [&](const HttpAnswer& answer) {
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
        // A hash that fails only means the caller reads the file again.
        if (written != nullptr)
            written->Update(piece.data(), piece.size());
        done += piece.size();
        if (report)
            report(done, total);
        return true;
    };
    if (!HttpTransfer(session, url, std::wstring(), cancel, answered, take))
        return false;
    return !hasLength || done >= total;
}

bool HttpDownloadFile(const std::wstring& url, HANDLE file, const CancelPredicate& cancel,
                      ProgressCallback progress, std::uint64_t maxBytes) {
    return HttpDownloadFile(HttpSession::Open(), url, file, cancel, std::move(progress), maxBytes);
}

RangeFetch HttpFetchRange(const HttpSession& session, const std::wstring& url,
                          const ByteRange& range, std::uint64_t wholeSize, const RangeSink& sink,
                          const CancelPredicate& cancel) {
    if (range.length == 0 || range.first >= wholeSize || range.length > wholeSize - range.first)
        return RangeFetch::Failed;
    const std::wstring header = Widened(RangeRequestHeader(range.first, range.length));
    bool whole = false;
    std::uint64_t expected = 0;
    std::uint64_t got = 0;
    const auto answered = [&](const HttpAnswer& answer) {
        whole = answer.status == kStatusOk;
        if (!whole && !(answer.status == kStatusPartialContent &&
                        IsRangeAskedFor(answer.contentRange, range, wholeSize))) {
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
    if (!HttpTransfer(session, url, header, cancel, answered, take) || got != expected)
        return RangeFetch::Failed;
    return whole ? RangeFetch::WholeBody : RangeFetch::Range;
}
