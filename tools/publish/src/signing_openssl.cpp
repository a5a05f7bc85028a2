#include "signing.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include "portable/net/ecdsa_signature.h"
#include "portable/net/public_key_pem.h"
#include "portable/unique_handle.h"

namespace talvora {

namespace {

using Bio = UniqueHandle<ReleasedBy<BIO*, BIO_free>>;
using Pkey = UniqueHandle<ReleasedBy<EVP_PKEY*, EVP_PKEY_free>>;
using MdCtx = UniqueHandle<ReleasedBy<EVP_MD_CTX*, EVP_MD_CTX_free>>;

std::string OpenSslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return what;
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return what + " (" + text + ")";
}

Bio ReadBio(const std::string& text) {
    return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    std::size_t length = 0;
    return EVP_PKEY_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
           std::string(group, length) == SN_X9_62_prime256v1;
}

bool LoadPrivateKey(const std::string& pem, Pkey& key, std::string& error) {
    Bio bio = ReadBio(pem);
    // No passphrase callback: an encrypted key is refused rather than prompted for.
    key.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>(""))
                  : nullptr);
    if (!key) {
        error = OpenSslError("not an unencrypted PEM private key");
        return false;
    }
    if (!IsP256(key.get())) {
        error = "the key is not an ECDSA P-256 (prime256v1) key";
        return false;
    }
    return true;
}

bool WritePublicPem(EVP_PKEY* key, std::string& publicPem, std::string& error) {
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PUBKEY(out.get(), key) != 1) {
        error = OpenSslError("cannot write the public key");
        return false;
    }
    publicPem = BioText(out.get());
    return true;
}

}  // namespace

bool GenerateSigningKey(std::string& privatePem, std::string& publicPem, std::string& error) {
    Pkey key(EVP_EC_gen(SN_X9_62_prime256v1));
    if (!key) {
        error = OpenSslError("cannot generate a P-256 key");
        return false;
    }
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PrivateKey_traditional(out.get(), key.get(), nullptr, nullptr, 0,
                                                     nullptr, nullptr) != 1) {
        error = OpenSslError("cannot write the private key");
        return false;
    }
    privatePem = BioText(out.get());
    return WritePublicPem(key.get(), publicPem, error);
}

bool PublicKeyOf(const std::string& privatePem, std::string& publicPem, std::string& error) {
    Pkey key;
    return LoadPrivateKey(privatePem, key, error) && WritePublicPem(key.get(), publicPem, error);
}

bool SignData(const std::string& data, const std::string& privatePem, std::string& signature,
              std::string& error) {
    Pkey key;
    if (!LoadPrivateKey(privatePem, key, error))
        return false;
    MdCtx ctx(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        error = OpenSslError("cannot sign");
        return false;
    }
    std::string der(size, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(&der[0]), &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        error = OpenSslError("cannot sign");
        return false;
    }
    der.resize(size);
    signature = der;
    return true;
}

bool VerifyData(const std::string& data, const std::string& signature, const std::string& publicPem,
                std::string& error) {
    EcdsaP256PublicKey xy;
    EcdsaP256Signature rs;
    if (!ReadVerifyInputs(publicPem, signature, xy, rs, error))
        return false;
    Bio bio = ReadBio(publicPem);
    Pkey key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    MdCtx ctx(EVP_MD_CTX_new());
    if (!key || !ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        error = OpenSslError("cannot read the public key");
        return false;
    }
    const int result = EVP_DigestVerify(
        ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
        reinterpret_cast<const unsigned char*>(data.data()), data.size());
    ERR_clear_error();
    if (result != 1) {
        error = "the signature does not match this file and key";
        return false;
    }
    return true;
}

}  // namespace talvora
