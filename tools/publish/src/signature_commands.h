// Signed update files: `keygen`, `verify`, and the signing step of `manifest` and `launcher`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace talvora {

struct SigningOptions {
    std::filesystem::path signKey;  // empty: the file is not signed
    std::string expires;            // empty, "30d" or a date/time in UTC
};

struct KeygenOptions {
    std::filesystem::path out;
};

struct VerifyOptions {
    std::filesystem::path file;
    std::filesystem::path signature;  // empty: FILE + ".sig"
    std::vector<std::filesystem::path> keys;
};

// What the signing step needs, checked before anything is written.
struct PreparedSigning {
    bool sign = false;
    std::string privatePem;
    std::string expiresLine;  // "EXPIRES\t...\n" or empty
};

// "30d" (1 to 3650 days from `now`), "YYYY-MM-DD" (midnight UTC) or "YYYY-MM-DDTHH:MM:SSZ";
// it must lie in the future.
bool ParseExpiresOption(const std::string& text, std::int64_t now, std::int64_t& expires,
                        std::string& error);

// Reads the key and the expiry; false, with the message written to `err`, when they would not do.
bool PrepareSigning(const SigningOptions& options, PreparedSigning& prepared, std::ostream& err);

// The EXPIRES line goes after the first line (VERSION), where both files' readers skip it.
std::string WithExpiresLine(const std::string& text, const std::string& expiresLine);

// After `out` has been written with `text`: writes `out`.sig atomically and verifies the pair as
// it lies on disk. False, with the message written and no .sig left, when anything fails.
bool WriteSignatureBeside(const std::filesystem::path& out, const std::string& text,
                          const PreparedSigning& prepared, std::ostream& err);

int RunKeygen(const KeygenOptions& options, std::ostream& out, std::ostream& err);
int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err);

}  // namespace talvora
