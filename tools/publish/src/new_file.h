// Creating a file that must not exist yet (a new key), readable only by its owner when it holds
// a secret.
#pragma once

#include <filesystem>
#include <string>

namespace talvora {

// Fails, touching nothing, when `path` exists; on a write error the half-written file is
// removed. `ownerOnly` gives mode 0600 on POSIX systems (on Windows the folder's access rules
// apply).
bool WriteNewFile(const std::filesystem::path& path, const std::string& content, bool ownerOnly,
                  std::string& error);

}  // namespace talvora
