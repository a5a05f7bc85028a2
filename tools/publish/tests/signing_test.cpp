#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstdlib>
#include <sstream>

#include "cli.h"
#include "ec_private_key.h"
#include "portable/net/ecdsa_signature.h"
#include "portable/net/public_key_pem.h"
#include "signing.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace talvora_test;

namespace {

struct Keys {
    std::string privatePem, publicPem;
};

Keys NewKeys() {
    Keys keys;
    std::string error;
    EXPECT_TRUE(talvora::GenerateSigningKey(keys.privatePem, keys.publicPem, error)) << error;
    return keys;
}

int Cli(const std::vector<std::string>& args, std::string* outText = nullptr) {
    std::ostringstream out, err;
    const int code = talvora::RunCommandLine(args, out, err);
    if (outText)
        *outText = out.str() + err.str();
    return code;
}

int Shell(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

}  // namespace

// OpenSSL's own reading of each signature gives the same r and s, whatever their lengths
// (leading zero bytes, short integers come up within a few hundred signatures). The formats on
// their own are tested with the shared formats (tests/net/signature_formats_test.cpp).
TEST(SignatureFormat, DecodesWhatOpenSslSignsAsOpenSslReadsIt) {
    const Keys keys = NewKeys();
    for (int i = 0; i < 300; ++i) {
        std::string der, error;
        ASSERT_TRUE(talvora::SignData(std::to_string(i), keys.privatePem, der, error)) << error;
        EcdsaP256Signature rs;
        ASSERT_TRUE(DecodeEcdsaDerSignature(der, rs)) << i;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(sig, nullptr);
        unsigned char expected[64];
        BN_bn2binpad(ECDSA_SIG_get0_r(sig), expected, 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig), expected + 32, 32);
        ECDSA_SIG_free(sig);
        ASSERT_EQ(0, memcmp(expected, rs.data(), 64)) << i;
        ASSERT_EQ(EncodeEcdsaDerSignature(rs), der) << i;  // what the CNG signer writes
    }
}

// The publisher's files as operators use them, checked by stock openssl and by `verify`.
TEST(SigningCommands, KeygenSignVerifyAndInterop) {
    ScratchDir dir;
    const std::string d = dir.path().string();
    ASSERT_EQ(Cli({"keygen", "--out", d + "/key.pem"}), 0);
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat((d + "/key.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    const std::string privateBefore = ReadFile(dir / "key.pem");
    EXPECT_EQ(Cli({"keygen", "--out", d + "/key.pem"}), 1);
    EXPECT_EQ(ReadFile(dir / "key.pem"), privateBefore);

    WriteFile(dir / "client/a.txt", "alpha\n");
    std::string output;
    ASSERT_EQ(Cli({"manifest", d + "/client", "--base", "http://h/p/", "--out", d + "/m.txt",
                   "--sign-key", d + "/key.pem", "--expires", "30d"},
                  &output),
              0)
        << output;
    EXPECT_NE(ReadFile(dir / "m.txt").find("\nEXPIRES\t"), std::string::npos);
    EXPECT_EQ(Shell("openssl dgst -sha256 -verify '" + d + "/key.pub.pem' -signature '" + d +
                    "/m.txt.sig' '" + d + "/m.txt'"),
              0);
    EXPECT_EQ(Cli({"verify", d + "/m.txt", "--key", d + "/key.pub.pem"}, &output), 0) << output;
    EXPECT_NE(output.find("(in 30 days)"), std::string::npos) << output;

    // Stock openssl's signature of another key: refused by that key alone, taken with both.
    ASSERT_EQ(
        Shell("cd '" + d +
              "' && openssl ecparam -name prime256v1 -genkey -noout -out other.pem && openssl "
              "ec -in other.pem -pubout -out other.pub && openssl dgst -sha256 -sign "
              "other.pem -out m.txt.sig m.txt"),
        0);
    EXPECT_EQ(Cli({"verify", d + "/m.txt", "--key", d + "/key.pub.pem"}), 1);
    EXPECT_EQ(Cli({"verify", d + "/m.txt", "--key", d + "/key.pub.pem", "--key", d + "/other.pub"}),
              0);

    // One changed byte, then a signed file whose EXPIRES has passed.
    std::string body = ReadFile(dir / "m.txt");
    body[body.size() - 2] ^= 1;
    WriteFile(dir / "m.txt", body);
    EXPECT_EQ(Cli({"verify", d + "/m.txt", "--key", d + "/other.pub"}), 1);
    WriteFile(dir / "old.txt", "VERSION\t1\nEXPIRES\t2020-01-01T00:00:00Z\n");
    std::string signature, error;
    ASSERT_TRUE(talvora::SignData(ReadFile(dir / "old.txt"), privateBefore, signature, error));
    WriteFile(dir / "old.txt.sig", signature);
    EXPECT_EQ(Cli({"verify", d + "/old.txt", "--key", d + "/key.pub.pem"}, &output), 1);
    EXPECT_NE(output.find("EXPIRED at 2020-01-01T00:00:00Z"), std::string::npos) << output;
}

// The key files of the CNG build, read and written without OpenSSL, byte for byte as OpenSSL
// writes them; PKCS#8 gives the same key.
TEST(PrivateKeyFormat, ReadsAndWritesWhatOpenSslDoes) {
    ScratchDir dir;
    const std::string d = dir.path().string();
    ASSERT_EQ(Shell("cd '" + d +
                    "' && openssl ecparam -name prime256v1 -genkey -noout -out k.pem && openssl ec "
                    "-in k.pem -pubout -out k.pub && openssl pkcs8 -topk8 -nocrypt -in k.pem -out "
                    "k8.pem && openssl ecparam -name secp384r1 -genkey -noout -out p384.pem"),
              0);
    talvora::P256PrivateKey key, key8;
    std::string error;
    ASSERT_TRUE(talvora::DecodeP256PrivateKeyPem(ReadFile(dir / "k.pem"), key, error)) << error;
    EXPECT_EQ(talvora::EncodeP256PrivateKeyPem(key), ReadFile(dir / "k.pem"));
    EXPECT_EQ(EncodeP256PublicKeyPem(key.xy), ReadFile(dir / "k.pub"));
    ASSERT_TRUE(talvora::DecodeP256PrivateKeyPem(ReadFile(dir / "k8.pem"), key8, error)) << error;
    EXPECT_EQ(key8.d, key.d);
    EXPECT_EQ(key8.xy, key.xy);
    EXPECT_FALSE(talvora::DecodeP256PrivateKeyPem(ReadFile(dir / "p384.pem"), key, error));
    EXPECT_FALSE(talvora::DecodeP256PrivateKeyPem(ReadFile(dir / "k.pub"), key, error));
}
