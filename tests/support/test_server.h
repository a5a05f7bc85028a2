// Access to the local patch server that tests/server/with_server.py starts around a test binary.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct LoggedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order they were sent
};

// http://127.0.0.1:PORT of the server; empty when the binary runs without one.
std::wstring TestServerUrl();
// The served folder (Wine path).
std::wstring TestServerRoot();

// Writes a file into the served folder, creating folders along `relPath` ('/' or '\').
bool ServeFile(const std::wstring& relPath, const std::string& bytes);

// Every request the server has logged so far, oldest first.
std::vector<LoggedRequest> LoggedRequests();

// Requests whose path contains `fragment`.
std::vector<LoggedRequest> LoggedRequestsFor(const std::string& fragment);
