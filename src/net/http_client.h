// Blocking HTTP GET over WinHTTP: one session, connection and request per call, nothing shared.
// Every transfer is bounded: WinHTTP time-outs, a floor on speed (a transfer that moves almost
// nothing for a long stretch is dropped), a size cap, and a cancel predicate that is honoured
// within a fraction of a second whatever the server does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct UrlParts {
    std::wstring host;
    std::wstring path;
    std::uint16_t port = 0;
    bool secure = false;
};

// (bytes done, bytes total); total is 0 when the response named no usable Content-Length.
using ProgressCallback = std::function<void(std::uint64_t, std::uint64_t)>;
// Asked before every chunk and while waiting for the server; true stops the transfer.
using CancelPredicate = std::function<bool()>;

bool SplitUrl(const std::wstring& url, UrlParts& parts);

// A text file of the patch server is a few kilobytes; a body past this is hostile or broken.
constexpr std::uint64_t kMaxTextBytes = 64ull * 1024 * 1024;

// Whole body into memory, for the small text files of the patch server; at most kMaxTextBytes.
bool HttpGetText(const std::wstring& url, std::string& body,
                 const CancelPredicate& cancel = CancelPredicate());

// Streams the body into `path` (created only once the server has answered). A body longer than
// `maxBytes` fails as soon as it passes the cap; a complete file is flushed to the disk before
// it is closed.
bool HttpDownloadFile(const std::wstring& url, const std::wstring& path,
                      const CancelPredicate& cancel, ProgressCallback progress,
                      std::uint64_t maxBytes);
