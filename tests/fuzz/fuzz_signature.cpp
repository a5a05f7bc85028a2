// A signature file as the server sends it, and the EXPIRES line of a signed file: any bytes.
#include "fuzz_support.h"
#include "portable/net/ecdsa_signature.h"
#include "portable/net/expires_line.h"
#include "portable/net/public_key_pem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = Bytes(data, size);

    // Strict DER has one encoding per value: whatever is accepted is exactly that encoding.
    EcdsaP256Signature rs;
    if (DecodeEcdsaDerSignature(bytes, rs)) {
        Require(bytes.size() <= 72, "an accepted signature is at most 72 bytes");
        Require(EncodeEcdsaDerSignature(rs) == bytes, "an accepted signature is canonical DER");
    }

    EcdsaP256PublicKey xy, again;
    if (DecodeP256PublicKeyPem(bytes, xy)) {
        Require(DecodeP256PublicKeyPem(EncodeP256PublicKeyPem(xy), again) && again == xy,
                "an accepted key reads back from its own PEM");
    }

    std::int64_t seconds = 0;
    if (ParseUtcTimestamp(bytes.substr(0, 20), seconds))
        Require(FormatUtcTimestamp(seconds) == bytes.substr(0, 20), "one text per moment");

    std::int64_t expires = 0;
    const ExpiresLine line = FindExpiresLine(bytes, expires);
    if (line == ExpiresLine::Valid) {
        Require(IsFreshAt(bytes, expires - 1) && !IsFreshAt(bytes, expires),
                "fresh exactly before the moment");
    } else {
        Require(IsFreshAt(bytes, 0) == (line == ExpiresLine::None),
                "no line never expires, a bad one never passes");
    }
    return 0;
}
