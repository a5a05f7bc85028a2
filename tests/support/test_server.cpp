#include "support/test_server.h"

#include <windows.h>

#include "support/test_files.h"

namespace {

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The server writes {"method": ..., "path": ..., "version": ..., "headers": [[name, value], ...]}
// with keys in that order, so the string literals of a line, in order, are all we need.
std::vector<std::string> JsonStrings(const std::string& line) {
    std::vector<std::string> strings;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] != '"') {
            ++i;
            continue;
        }
        std::string value;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] != '\\' || i + 1 >= line.size()) {
                value.push_back(line[i]);
                continue;
            }
            const char escaped = line[++i];
            switch (escaped) {
                case 'n':
                    value.push_back('\n');
                    break;
                case 't':
                    value.push_back('\t');
                    break;
                case 'r':
                    value.push_back('\r');
                    break;
                case 'b':
                    value.push_back('\b');
                    break;
                case 'f':
                    value.push_back('\f');
                    break;
                case 'u':
                    if (i + 4 < line.size()) {
                        AppendUtf8(value, std::stoul(line.substr(i + 1, 4), nullptr, 16));
                        i += 4;
                    }
                    break;
                default:
                    value.push_back(escaped);
                    break;
            }
        }
        ++i;
        strings.push_back(value);
    }
    return strings;
}

}  // namespace

std::wstring TestServerUrl() {
    return EnvVar(L"TALVORA_TEST_SERVER");
}

std::wstring TestServerRoot() {
    return EnvVar(L"TALVORA_TEST_SERVER_ROOT");
}

bool ServeFile(const std::wstring& relPath, const std::string& bytes) {
    const std::wstring root = TestServerRoot();
    if (root.empty())
        return false;
    std::wstring path = root + L"\\" + relPath;
    for (size_t i = root.size() + 1; i < path.size(); ++i) {
        if (path[i] == L'/')
            path[i] = L'\\';
        if (path[i] == L'\\')
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
    return WriteFileBytes(path, bytes);
}

std::vector<LoggedRequest> LoggedRequests() {
    std::vector<LoggedRequest> requests;
    const std::string log = ReadFileBytes(EnvVar(L"TALVORA_TEST_SERVER_LOG"));
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        const std::vector<std::string> s = JsonStrings(log.substr(start, end - start));
        start = end + 1;
        if (s.size() < 7 || s[0] != "method" || s[2] != "path" || s[6] != "headers")
            continue;
        LoggedRequest request;
        request.method = s[1];
        request.path = s[3];
        for (size_t i = 7; i + 1 < s.size(); i += 2)
            request.headers.emplace_back(s[i], s[i + 1]);
        requests.push_back(request);
    }
    return requests;
}

std::vector<LoggedRequest> LoggedRequestsFor(const std::string& fragment) {
    std::vector<LoggedRequest> matching;
    for (const LoggedRequest& r : LoggedRequests()) {
        if (r.path.find(fragment) != std::string::npos)
            matching.push_back(r);
    }
    return matching;
}
