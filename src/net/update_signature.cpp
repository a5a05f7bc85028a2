#include "net/update_signature.h"

#include "portable/net/ecdsa_signature.h"
#include "portable/net/expires_line.h"
#include "portable/net/public_key_pem.h"
#include "net/ecdsa_verify.h"
#include "net/http_client.h"

#include <windows.h>

#include <cstdint>

namespace {

// A DER ECDSA P-256 signature is at most 72 bytes; nothing longer is read.
constexpr std::uint64_t kMaxSignatureBytes = 4096;

std::int64_t UtcNow() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // 100 ns ticks since 1601 to seconds since 1970.
    return static_cast<std::int64_t>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

// A key that does not read as one never verifies anything, so a build whose only key is
// broken refuses every file rather than taking unsigned ones.
bool IsAuthenticAt(const std::string& body, const std::string& signatureDer, const UpdateKeys& keys,
                   std::int64_t now) {
    EcdsaP256Signature rs;
    if (!DecodeEcdsaDerSignature(signatureDer, rs))
        return false;
    bool verified = false;
    for (const std::string& pem : keys) {
        EcdsaP256PublicKey key;
        if (DecodeP256PublicKeyPem(pem, key) && VerifyEcdsaP256Sha256(body, rs, key)) {
            verified = true;
            break;
        }
    }
    return verified && IsFreshAt(body, now);
}

}  // namespace

bool IsAuthenticUpdateFile(const HttpSession& session, const std::wstring& url,
                           const std::string& body, const UpdateKeys& keys,
                           const CancelPredicate& cancel, int retries) {
    if (keys.empty())
        return true;
    std::string signature;
    return HttpGetText(session, url + L".sig", signature, cancel, kMaxSignatureBytes, Retry{retries}) &&
           IsAuthenticAt(body, signature, keys, UtcNow());
}
