// Helpers for the talvora-publish tests: a scratch folder that removes
// itself, small file utilities and the system's sha256sum as a reference.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/pattern_bytes.h"

namespace talvora_test {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

  private:
    std::filesystem::path path_;
};

// Creates parent folders as needed.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);
// Names in a folder, sorted.
std::vector<std::string> ListNames(const std::filesystem::path& dir);

// Digest per path from one run of sha256sum; empty when the tool is missing.
std::map<std::string, std::string> Sha256sum(const std::vector<std::filesystem::path>& paths);

}  // namespace talvora_test
