#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstdlib>
#include <sstream>

#include "cli.h"
#include "ec_private_key.h"
#include "portable/net/ecdsa_signature.h"
#include "portable/net/expires_line.h"
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

std::string Hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
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
// (leading zero bytes, short integers come up within a few hundred signatures).
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

TEST(SignatureFormat, RefusesAnythingButStrictDer) {
    const std::string r =
        "02"
        "20" +
        std::string(64, '1');  // 32-byte INTEGER 0x11...
    const std::string good =
        "30"
        "44" +
        r + r;
    EcdsaP256Signature rs;
    ASSERT_TRUE(DecodeEcdsaDerSignature(Hex(good), rs));
    EXPECT_EQ(rs[0], 0x11);
    EXPECT_EQ(rs[63], 0x11);
    const char* bad[] = {
        "",
        "3045"
        "0221001111111111111111111111111111111111111111111111111111111111111111"
        "0220"
        "1111111111111111111111111111111111111111111111111111111111111111",  // needless zero
        "30440220f111111111111111111111111111111111111111111111111111111111111111"
        "02201111111111111111111111111111111111111111111111111111111111111111",  // negative r
        "3006020100020101",                                                      // r is zero
        "3006020101020101"
        "00",                  // a byte after the sequence
        "308106020101020101",  // long-form length
        "3007020101020101",    // length beyond the data
        "3106020101020101",    // not a SEQUENCE
        "3006030101020101",    // not an INTEGER
        "302502210111111111111111111111111111111111111111111111111111111111111111110200",  // r > 32
                                                                                           // bytes
    };
    for (const char* hex : bad)
        EXPECT_FALSE(DecodeEcdsaDerSignature(Hex(hex), rs)) << hex;
    EXPECT_FALSE(DecodeEcdsaDerSignature(Hex(good) + std::string(1, '\0'), rs));
}

TEST(PublicKeyFormat, TakesTheP256KeyInItsPemFormsOnly) {
    const Keys keys = NewKeys();
    EcdsaP256PublicKey xy;
    ASSERT_TRUE(DecodeP256PublicKeyPem(keys.publicPem, xy));
    std::string crlf;
    for (char c : keys.publicPem)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EcdsaP256PublicKey again;
    ASSERT_TRUE(DecodeP256PublicKeyPem("\n" + crlf + "\n", again));
    EXPECT_EQ(xy, again);

    // A private key, another curve, a compressed point, extra text, broken base64.
    ScratchDir dir;
    ASSERT_EQ(Shell("cd '" + dir.path().string() +
                    "' && openssl ecparam -name secp384r1 -genkey -noout -out p384.pem && "
                    "openssl ec -in p384.pem -pubout -out p384.pub && openssl ec -in p384.pem "
                    "-pubout -conv_form compressed -out c.pub"),
              0);
    // A compressed P-256 point.
    WriteFile(dir / "k.pem", keys.privatePem);
    ASSERT_EQ(Shell("cd '" + dir.path().string() +
                    "' && openssl ec -in k.pem -pubout -conv_form compressed -out k256c.pub"),
              0);
    for (const std::string& wrong :
         {keys.privatePem, ReadFile(dir / "p384.pub"), ReadFile(dir / "k256c.pub"),
          keys.publicPem + "junk\n", "x" + keys.publicPem}) {
        EXPECT_FALSE(DecodeP256PublicKeyPem(wrong, xy)) << wrong;
    }
    std::string flipped = keys.publicPem;
    flipped[flipped.find("=\n") - 1] = '/';  // unused bits before the padding no longer zero
    EXPECT_FALSE(DecodeP256PublicKeyPem(flipped, xy));
}

TEST(ExpiresLine, StrictUtcTimestamps) {
    std::int64_t t = 0;
    ASSERT_TRUE(ParseUtcTimestamp("1970-01-01T00:00:00Z", t));
    EXPECT_EQ(t, 0);
    ASSERT_TRUE(ParseUtcTimestamp("2027-01-31T00:00:00Z", t));
    EXPECT_EQ(t, 1801353600);
    ASSERT_TRUE(ParseUtcTimestamp("2024-02-29T23:59:59Z", t));
    EXPECT_EQ(t, 1709251199);
    for (std::int64_t s = 0; s < 400LL * 366 * 86400; s += 86400 * 7 + 3671)
        ASSERT_TRUE(ParseUtcTimestamp(FormatUtcTimestamp(s), t) && t == s) << s;
    for (const char* bad :
         {"2027-02-29T00:00:00Z", "2027-01-31T24:00:00Z", "2027-01-31T00:60:00Z",
          "2027-01-31T00:00:00z", "2027-01-31 00:00:00Z", "2027-01-31T00:00:00+00:00",
          "2027-1-31T00:00:00Z", "1969-12-31T23:59:59Z", " 2027-01-31T00:00:00Z", "2027-01-31"}) {
        EXPECT_FALSE(ParseUtcTimestamp(bad, t)) << bad;
    }
}

TEST(ExpiresLine, FoundInEitherFileAndFailsClosed) {
    const std::int64_t at = 1801353600;  // 2027-01-31T00:00:00Z
    const std::string line = "EXPIRES\t2027-01-31T00:00:00Z";
    EXPECT_TRUE(IsFreshAt("VERSION\t3\nBASE\tx\n", at));
    EXPECT_TRUE(IsFreshAt("VERSION\t3\r\n" + line + "\r\nBASE\tx\r\n", at - 1));
    EXPECT_FALSE(IsFreshAt("VERSION\t3\n" + line + "\n", at));
    EXPECT_FALSE(IsFreshAt(line, at + 1));
    // Repeated or malformed: never fresh. A file line named EXPIRES is not an EXPIRES line.
    EXPECT_FALSE(IsFreshAt(line + "\n" + line + "\n", 0));
    EXPECT_FALSE(IsFreshAt("EXPIRES\tsoon\n", 0));
    EXPECT_TRUE(IsFreshAt("EXPIRES\t12\t" + std::string(64, 'a') + "\n", at + 1));
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
