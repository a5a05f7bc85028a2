#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace talvora_test {

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("talvora-publish-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> Sha256sum(const std::vector<fs::path>& paths) {
    std::map<std::string, std::string> digests;
#ifndef _WIN32
    // Paths come from the tests themselves: plain names, quoted for the shell.
    std::string command = "sha256sum";
    for (const fs::path& path : paths)
        command += " '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return digests;
    std::string output;
    char buf[4096];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, got);
    if (pclose(pipe) != 0)
        return {};
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 66)
            digests[line.substr(66)] = line.substr(0, 64);
    }
#else
    (void)paths;
#endif
    return digests;
}

}  // namespace talvora_test
