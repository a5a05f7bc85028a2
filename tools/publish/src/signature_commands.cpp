#include "signature_commands.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

#include "atomic_file.h"
#include "commands.h"
#include "portable/net/expires_line.h"
#include "new_file.h"
#include "signing.h"
#include "text.h"

namespace fs = std::filesystem;

namespace talvora {

namespace {

constexpr std::uint64_t kMaxKeyFileSize = 64 * 1024;
constexpr std::int64_t kDay = 86400;

std::ostream& Error(std::ostream& err) {
    return err << "talvora-publish: error: ";
}

std::string Quoted(const fs::path& path) {
    return "'" + Printable(PathToUtf8(path)) + "'";
}

std::int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whole small file; false with `error` when it cannot be read or is larger than `limit`.
bool ReadWholeFile(const fs::path& path, std::uint64_t limit, std::string& content,
                   std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = Quoted(path) + ": " + ec.message();
        return false;
    }
    if (size > limit) {
        error = Quoted(path) + ": too large (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = Quoted(path) + ": cannot read";
        return false;
    }
    content = buffer.str();
    return true;
}

fs::path SignaturePath(const fs::path& file) {
    fs::path sig = file;
    sig += ".sig";
    return sig;
}

// key.pem -> key.pub.pem; any other name gets ".pub.pem" appended.
fs::path PublicKeyPath(const fs::path& privatePath) {
    fs::path pub = privatePath;
    if (pub.extension() == ".pem")
        pub.replace_extension();
    pub += ".pub.pem";
    return pub;
}

std::string DescribeExpiry(const std::string& body, std::int64_t now, bool& usable) {
    std::int64_t expires = 0;
    switch (FindExpiresLine(body, expires)) {
        case ExpiresLine::None:
            usable = true;
            return "no EXPIRES line: it never expires";
        case ExpiresLine::Invalid:
            usable = false;
            return "its EXPIRES line is malformed or repeated: the launcher refuses it";
        case ExpiresLine::Valid:
            break;
    }
    usable = now < expires;
    const std::string when = FormatUtcTimestamp(expires);
    if (!usable)
        return "EXPIRED at " + when + ": the launcher refuses it";
    return "EXPIRES " + when + " (in " + std::to_string((expires - now + kDay / 2) / kDay) +
           " days)";
}

}  // namespace

bool ParseExpiresOption(const std::string& text, std::int64_t now, std::int64_t& expires,
                        std::string& error) {
    if (text.size() >= 2 && text.size() <= 5 && text.back() == 'd' &&
        text.find_first_not_of("0123456789") == text.size() - 1) {
        const long days = std::stol(text.substr(0, text.size() - 1));
        if (days < 1 || days > 3650) {
            error = "--expires: from 1d to 3650d";
            return false;
        }
        expires = now + days * kDay;
        return true;
    }
    const std::string stamp = text.size() == 10 ? text + "T00:00:00Z" : text;
    if (!ParseUtcTimestamp(stamp, expires)) {
        error =
            "--expires needs Nd (days from now), YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ (UTC), not '" +
            Printable(text) + "'";
        return false;
    }
    if (expires <= now) {
        error = "--expires " + stamp + " lies in the past";
        return false;
    }
    return true;
}

bool PrepareSigning(const SigningOptions& options, PreparedSigning& prepared, std::ostream& err) {
    prepared = PreparedSigning();
    if (options.signKey.empty()) {
        if (!options.expires.empty()) {
            // An unsigned EXPIRES line protects nothing: anyone could rewrite it.
            Error(err) << "--expires needs --sign-key\n";
            return false;
        }
        return true;
    }
    std::string error, publicPem;
    if (!ReadWholeFile(options.signKey, kMaxKeyFileSize, prepared.privatePem, error) ||
        !PublicKeyOf(prepared.privatePem, publicPem, error)) {
        Error(err) << "--sign-key " << Quoted(options.signKey) << ": " << error << "\n";
        return false;
    }
    if (!options.expires.empty()) {
        std::int64_t expires = 0;
        if (!ParseExpiresOption(options.expires, UnixNow(), expires, error)) {
            Error(err) << error << "\n";
            return false;
        }
        prepared.expiresLine = "EXPIRES\t" + FormatUtcTimestamp(expires) + "\n";
    }
    prepared.sign = true;
    return true;
}

std::string WithExpiresLine(const std::string& text, const std::string& expiresLine) {
    if (expiresLine.empty())
        return text;
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos)
        return text + "\n" + expiresLine;
    std::string result = text;
    result.insert(firstEnd + 1, expiresLine);
    return result;
}

bool WriteSignatureBeside(const fs::path& out, const std::string& text,
                          const PreparedSigning& prepared, std::ostream& err) {
    const fs::path sigPath = SignaturePath(out);
    std::string error, signature, publicPem, onDisk, sigOnDisk;
    bool ok = SignData(text, prepared.privatePem, signature, error) &&
              WriteFileAtomically(sigPath, signature, error);
    // Read back what a server would serve, and check it as the launcher will.
    ok = ok && PublicKeyOf(prepared.privatePem, publicPem, error) &&
         ReadWholeFile(out, UINT64_MAX, onDisk, error) &&
         ReadWholeFile(sigPath, kMaxKeyFileSize, sigOnDisk, error) &&
         VerifyData(onDisk, sigOnDisk, publicPem, error);
    if (!ok) {
        std::error_code ec;
        fs::remove(sigPath, ec);
        Error(err) << "signing " << Quoted(out) << ": " << error << "; no signature written\n";
    }
    return ok;
}

int RunKeygen(const KeygenOptions& options, std::ostream& out, std::ostream& err) {
    const fs::path pub = PublicKeyPath(options.out);
    std::error_code ec;
    for (const fs::path& path : {options.out, pub}) {
        if (fs::exists(fs::symlink_status(path, ec))) {
            Error(err) << Quoted(path) << " exists; a key is never overwritten\n";
            return kExitRefused;
        }
    }
    std::string privatePem, publicPem, error;
    if (!GenerateSigningKey(privatePem, publicPem, error)) {
        Error(err) << error << "\n";
        return kExitRefused;
    }
    if (!WriteNewFile(options.out, privatePem, true, error)) {
        Error(err) << Quoted(options.out) << ": " << error << "\n";
        return kExitRefused;
    }
    if (!WriteNewFile(pub, publicPem, false, error)) {
        fs::remove(options.out, ec);
        Error(err) << Quoted(pub) << ": " << error << "; no key written\n";
        return kExitRefused;
    }
    out << "wrote private key " << Quoted(options.out)
        << " (keep it off the patch server) and public key " << Quoted(pub)
        << " (for TALVORA_UPDATE_PUBLIC_KEYS)\n";
    return kExitOk;
}

int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err) {
    const fs::path sigPath =
        options.signature.empty() ? SignaturePath(options.file) : options.signature;
    std::string body, signature, error;
    if (!ReadWholeFile(options.file, UINT64_MAX, body, error) ||
        !ReadWholeFile(sigPath, kMaxKeyFileSize, signature, error)) {
        Error(err) << error << "\n";
        return kExitRefused;
    }
    for (const fs::path& keyPath : options.keys) {
        std::string publicPem;
        if (!ReadWholeFile(keyPath, kMaxKeyFileSize, publicPem, error)) {
            Error(err) << error << "\n";
            return kExitRefused;
        }
        if (!VerifyData(body, signature, publicPem, error)) {
            Error(err) << Quoted(keyPath) << ": " << error << "\n";
            continue;
        }
        bool usable = false;
        const std::string expiry = DescribeExpiry(body, UnixNow(), usable);
        (usable ? out : err) << Quoted(options.file) << ": good signature by " << Quoted(keyPath)
                             << "; " << expiry << "\n";
        return usable ? kExitOk : kExitRefused;
    }
    Error(err) << Quoted(options.file) << ": no given key verifies " << Quoted(sigPath)
               << "; the launcher refuses it\n";
    return kExitRefused;
}

}  // namespace talvora
