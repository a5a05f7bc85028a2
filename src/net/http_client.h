// Blocking HTTP GET over WinHTTP: one session, connection and request per call, nothing shared.
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
// Asked before every chunk; true stops the transfer.
using CancelPredicate = std::function<bool()>;

bool SplitUrl(const std::wstring& url, UrlParts& parts);

// Whole body into memory, for the small text files of the patch server.
bool HttpGetText(const std::wstring& url, std::string& body);

// Streams the body into `path` (created only once the server has answered).
bool HttpDownloadFile(const std::wstring& url, const std::wstring& path,
                      const CancelPredicate& cancel, ProgressCallback progress);
