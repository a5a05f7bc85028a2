// Blocking HTTP GETs of the patch server's files, each with a sink of its own: a text into
// memory, a download into an open file, a byte range to a callback. They run on the transport of
// http_transport.h, which bounds every transfer; each takes the session of its run (the overloads
// without one open a session for that call alone).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/http_transport.h"
#include "portable/net/sha256.h"

// (bytes done, bytes total); total is 0 when the response named no usable Content-Length.
using ProgressCallback = std::function<void(std::uint64_t, std::uint64_t)>;

// A text file of the patch server is a few kilobytes; a body past this is hostile or broken.
constexpr std::uint64_t kMaxTextBytes = 64ull * 1024 * 1024;

// Whole body into memory, for the small text files of the patch server; a body (or an announced
// length) past `maxBytes` fails as soon as it is seen.
bool HttpGetText(const HttpSession& session, const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel = CancelPredicate(),
                 std::uint64_t maxBytes = kMaxTextBytes);
bool HttpGetText(const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel = CancelPredicate(),
                 std::uint64_t maxBytes = kMaxTextBytes);

// Streams the body into `file` from its current position: an open file the caller created and
// owns (a staging file), so no byte is ever written through a name. A body longer than `maxBytes`
// fails as soon as it passes the cap, and a body announced longer is not taken at all. Every byte
// written also goes to `written` when given, so the file need not be read again to be verified.
bool HttpDownloadFile(const HttpSession& session, const std::wstring& url, HANDLE file,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes, Sha256* written = nullptr);
bool HttpDownloadFile(const std::wstring& url, HANDLE file, const CancelPredicate& cancel,
                      ProgressCallback progress, std::uint64_t maxBytes);

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;  // at least 1
};

// Receives body bytes with the file offset they belong at; false stops the transfer.
using RangeSink = std::function<bool(std::uint64_t offset, const char* data, std::size_t size)>;

enum class RangeFetch { Range, WholeBody, Failed };

// Fetches one byte range of `url` with a `Range` request and hands its bytes to `sink` at their
// offsets. Unlike the other fetches this one reads the status code, the only way to tell a range
// from a whole file: 206 with the Content-Range asked for is the range; 200 means the server
// ignores Range and sends the whole file, which is then handed over from offset 0 (exactly
// `wholeSize` bytes) and reported as WholeBody. Any other answer, a body longer or shorter than
// announced, a failed sink or a cancel gives Failed. The time-outs, the floor on speed and the
// cancel are those of every other transfer; no body past what was asked for is ever taken.
RangeFetch HttpFetchRange(const HttpSession& session, const std::wstring& url,
                          const ByteRange& range, std::uint64_t wholeSize, const RangeSink& sink,
                          const CancelPredicate& cancel);
