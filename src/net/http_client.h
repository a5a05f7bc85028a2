// Blocking HTTP GETs of the patch server's files, each with a sink of its own: a text into
// memory, a download into an open file, a byte range to a callback. All three go the same way: one
// loop of tries on the transport of http_transport.h, which bounds every transfer, and one decision
// after each try (done, resume, start over, or fail). Each takes the session of its run.
//
// Retries (an operator's option; none by default): a transfer that fails in a way that can pass
// (no answer, a connection dropped or reset, a time-out, the speed floor, a body cut short, or
// the answers 408, 429 and 5xx) is tried again, at most `retries` times in a row without new
// bytes, after a backoff with jitter (about 0.5 s doubling to 8 s, or a Retry-After of at most
// 30 s). Whatever the server does, all tries of one file together receive at most twice its size
// plus a few MiB, and bring new bytes at the speed floor over all their time, waits included.
// Any other answer, a size cap and a cancel end it at once. Without retries the status code of a
// text or a download is never looked at: the caller's checks (the digest) judge the bytes.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "net/http_transport.h"

// (bytes done, bytes total); total is 0 when the response named no usable Content-Length.
using ProgressCallback = std::function<void(std::uint64_t, std::uint64_t)>;

// A text file of the patch server is a few kilobytes; a body past this is hostile or broken.
constexpr std::uint64_t kMaxTextBytes = 64ull * 1024 * 1024;

// What all the tries for one file may spend together: every fetch made for it (its block index, its
// ranges, its whole body, a second start) draws on the same budget.
struct TryBudget {
    std::uint64_t bytesLeft = 0;  // body bytes every try together may still receive
    bool started = false;
    std::chrono::steady_clock::time_point firstTry{};
    std::uint64_t gained = 0;  // bytes that were new when they came, over all tries
};

// Twice the file's size plus a few MiB: one start over from byte 0 fits, a server that starts
// over on every try does not.
TryBudget BudgetFor(std::uint64_t size);

struct Retry {
    int retries = 0;
    TryBudget* budget = nullptr;  // shared by a file's fetches; null: the fetch has its own
};

// Whole body into memory, for the small text files of the patch server; a body (or an announced
// length) past `maxBytes` fails as soon as it is seen.
bool HttpGetText(const HttpSession& session, const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel = CancelPredicate(),
                 std::uint64_t maxBytes = kMaxTextBytes, Retry retry = Retry());

struct DownloadOptions {
    Retry retry;
    // The file is exactly `maxBytes` long (a manifest entry); otherwise that is only its cap.
    bool exactSize = false;
    // The body is the file's compressed copy (a zlib stream) of exactly this many bytes, inflated
    // into the file as it arrives; 0 for the file itself. The file then gets at most `maxBytes`
    // inflated bytes, `sha256` is their digest, and progress counts them. Tries continue the copy
    // within the call; `resumeFrom` does not apply (bytes kept by an earlier run continue from the
    // file itself).
    std::uint64_t copySize = 0;
    // The file already holds this many of the body's first bytes (a staging file kept from an
    // earlier run), and its position is after them. They are kept and continued with a Range
    // request when the server answers with exactly the rest (206 from that byte to the file's
    // end, of the file's size, with no longer body); a 200 is taken whole from the first byte, and
    // any other answer starts the file over at the next try. Only with retries.
    std::uint64_t resumeFrom = 0;
};

// Streams the body into `file` from its current position: an open file the caller created and
// owns (a staging file), so no byte is ever written through a name. A body longer than `maxBytes`
// fails as soon as it passes the cap, and a body announced longer is not taken at all. `sha256`,
// when given, receives the digest of the file's whole content as it was written, or stays empty
// when it could not be taken (the caller then reads the file). Progress never goes backwards.
bool HttpDownloadFile(const HttpSession& session, const std::wstring& url, HANDLE file,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes, const DownloadOptions& options = DownloadOptions(),
                      std::string* sha256 = nullptr);

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;  // at least 1
};

// Receives body bytes with the file offset they belong at; false stops the transfer.
using RangeSink = std::function<bool(std::uint64_t offset, const char* data, std::size_t size)>;

enum class RangeFetch { Done, DoneWhole, Failed };

// Fetches one byte range of `url` with a `Range` request and hands its bytes to `sink` at their
// offsets. Unlike the other fetches this one reads the status code, the only way to tell a range
// from a whole file: 206 with the Content-Range asked for is the range; 200 means the server
// ignores Range and sends the whole file, which is then handed over from offset 0 (exactly
// `wholeSize` bytes) and reported as DoneWhole. Any other answer, a body longer or shorter than
// announced, a failed sink or a cancel gives Failed. The time-outs, the floor on speed and the
// cancel are those of every other transfer; no body past what was asked for is ever taken. With
// retries, a range cut short is asked for again from where it stopped; a whole body cut short is
// not continued.
RangeFetch HttpFetchRange(const HttpSession& session, const std::wstring& url,
                          const ByteRange& range, std::uint64_t wholeSize, const RangeSink& sink,
                          const CancelPredicate& cancel, Retry retry = Retry());
