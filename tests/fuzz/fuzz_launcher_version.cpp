// The launcher version file as the server sends it: any bytes.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "fuzz_support.h"
#include "portable/selfupdate/launcher_version.h"

namespace {

// strtol, then clamped to 32 bits: what the version number must read as.
std::int32_t ReferenceVersion(const std::string& text) {
    const std::string terminated = text.c_str();
    errno = 0;
    const long long value = std::strtoll(terminated.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body = Bytes(data, size);
    LauncherVersionInfo info;
    info.version = 77;
    info.sha256 = "stale";
    const bool valid = ParseLauncherVersion(body, info);
    Require(valid == (info.version >= 1 && !info.sha256.empty() && !info.url.empty()),
            "valid exactly when version, digest and URL are usable");
    Require(valid || info.version != 77 || info.sha256 != "stale", "fields are reset first");

    Require(ParseVersionNumber(body.substr(0, 64)) == ReferenceVersion(body.substr(0, 64)),
            "version number reads as strtol clamped to 32 bits");

    if (valid && info.sha256.find_first_of("\r\n") == std::string::npos &&
        info.url.find_first_of("\r\n") == std::string::npos) {
        LauncherVersionInfo back;
        Require(ParseLauncherVersion(FormatLauncherVersion(info), back), "written file is valid");
        Require(back.version == info.version && back.sha256 == info.sha256 && back.url == info.url,
                "written file reads back unchanged");
    }
    return 0;
}
