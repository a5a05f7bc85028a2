// What signed update files carry besides their text: the DER signature, the PEM public key the
// launcher is built with, and the EXPIRES line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "portable/net/ecdsa_signature.h"
#include "portable/net/expires_line.h"
#include "portable/net/pem_block.h"
#include "portable/net/public_key_pem.h"

namespace {

std::string Hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Written by `openssl ec -pubout` for a test key, with and without point compression, and a P-384
// key the same way.
const char kPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEstZ29ZKRQA2qeDTocDRod4KupmU/\n"
    "leJPCRGw1I4csrN2U+mjah82pPbU2PGAU/AUk5wc08N6atToxXXTJ3os3g==\n"
    "-----END PUBLIC KEY-----\n";
const char kPublicKeyXy[] =
    "b2d676f59291400daa7834e87034687782aea6653f95e24f0911b0d48e1cb2b3"
    "7653e9a36a1f36a4f6d4d8f18053f014939c1cd3c37a6ad4e8c575d3277a2cde";
const char kCompressedKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgACstZ29ZKRQA2qeDTocDRod4KupmU/\n"
    "leJPCRGw1I4csrM=\n"
    "-----END PUBLIC KEY-----\n";
const char kP384Key[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAE+yei47247xO+QR1v8Vi2/qzGI1DboV4A\n"
    "Uqx2LLQeF3Vu9RS3565b/Cb6JpJnMZRVyN8GXdukNs/BNLBdMpYMrdSipmp82WiG\n"
    "kxIm1ErDffoN6bSpQ/gGgL044IDo7vkS\n"
    "-----END PUBLIC KEY-----\n";

}  // namespace

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
        "3006020101020100",                                                      // s is zero
        "3006020101020101"
        "00",                  // a byte after the sequence
        "308106020101020101",  // long-form length
        "3007020101020101",    // length beyond the data
        "3106020101020101",    // not a SEQUENCE
        "3006030101020101",    // not an INTEGER
        "3006020101030101",    // s not an INTEGER
        "300702020001020101",  // a zero that keeps no sign
        "302502210111111111111111111111111111111111111111111111111111111111111111110200",  // r > 32
                                                                                           // bytes
    };
    for (const char* hex : bad)
        EXPECT_FALSE(DecodeEcdsaDerSignature(Hex(hex), rs)) << hex;
    // 33 significant bytes beside a good integer, as r and as s.
    const std::string long33 = "022101" + std::string(64, '1');
    EXPECT_FALSE(DecodeEcdsaDerSignature(Hex("3026" + long33 + "020101"), rs));
    EXPECT_FALSE(DecodeEcdsaDerSignature(Hex("3026020101" + long33), rs));
    EXPECT_FALSE(DecodeEcdsaDerSignature(Hex(good) + std::string(1, '\0'), rs));

    // The shortest signature there is, and the longest (both integers 33 bytes with their zero).
    ASSERT_TRUE(DecodeEcdsaDerSignature(Hex("3006020101020101"), rs));
    EXPECT_EQ(rs[31], 1);
    EXPECT_EQ(rs[63], 1);
    EXPECT_EQ(rs[0] | rs[30] | rs[32] | rs[62], 0);
    const std::string top = "022100" + std::string(64, 'f');
    ASSERT_TRUE(DecodeEcdsaDerSignature(Hex("3046" + top + top), rs));
    EcdsaP256Signature ones;
    ones.fill(0xFF);
    EXPECT_EQ(rs, ones);
}

// Whatever r and s are (short, full, top bit set), the writer gives minimal DER that the reader
// takes back unchanged.
TEST(SignatureFormat, WrittenSignaturesAreMinimalAndReadBack) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        EcdsaP256Signature rs;
        for (unsigned char& byte : rs)
            byte = static_cast<unsigned char>(random());
        std::size_t integerSizes = 0;
        for (std::size_t half = 0; half < 64; half += 32) {
            const std::size_t zeros = random() % 3 == 0 ? random() % 32 : 0;  // never both halves 0
            for (std::size_t i = 0; i < zeros; ++i)
                rs[half + i] = 0;
            if (random() % 2 == 0)
                rs[half + zeros] = static_cast<unsigned char>(rs[half + zeros] | 0x80);
            else
                rs[half + zeros] = static_cast<unsigned char>((rs[half + zeros] & 0x7F) | 0x01);
            integerSizes += 2 + (32 - zeros) + (rs[half + zeros] & 0x80 ? 1 : 0);
        }
        const std::string der = EncodeEcdsaDerSignature(rs);
        ASSERT_EQ(der.size(), 2 + integerSizes) << round;
        EcdsaP256Signature back;
        ASSERT_TRUE(DecodeEcdsaDerSignature(der, back)) << round;
        ASSERT_EQ(back, rs) << round;
    }
}

TEST(PublicKeyFormat, TakesTheP256KeyInItsPemFormsOnly) {
    const std::string publicPem = kPublicKey;
    EcdsaP256PublicKey xy;
    ASSERT_TRUE(DecodeP256PublicKeyPem(publicPem, xy));
    EXPECT_EQ(std::string(xy.begin(), xy.end()), Hex(kPublicKeyXy));
    EXPECT_EQ(EncodeP256PublicKeyPem(xy), publicPem);
    std::string crlf;
    for (char c : publicPem)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EcdsaP256PublicKey again;
    ASSERT_TRUE(DecodeP256PublicKeyPem("\n" + crlf + "\n", again));
    EXPECT_EQ(xy, again);

    // A private key, another curve, a compressed point, extra text, broken base64.
    std::string der;
    ASSERT_TRUE(DecodePemBlock(publicPem, "PUBLIC KEY", 1024, der));
    const std::string privateDer = Hex("307702010104200102030405060708090a0b0c0d0e0f10111213141516"
                                       "1718191a1b1c1d1e1f20a00a06082a8648ce3d030107a144034200") +
                                   der.substr(der.size() - 65);
    for (const std::string& wrong :
         {EncodePemBlock("EC PRIVATE KEY", privateDer), EncodePemBlock("PUBLIC KEY", privateDer),
          EncodePemBlock("EC PRIVATE KEY", der), std::string(kP384Key), std::string(kCompressedKey),
          publicPem + "junk\n", "x" + publicPem}) {
        EXPECT_FALSE(DecodeP256PublicKeyPem(wrong, xy)) << wrong;
    }
    // Base64 of 91 bytes ends in one character carrying 2 bits and 4 unused ones: these must be
    // zero ("3g==", not "3h==").
    std::string flipped = publicPem;
    flipped[flipped.find("==\n") - 1] = 'h';
    EXPECT_FALSE(DecodeP256PublicKeyPem(flipped, xy));

    // Any other algorithm, curve, length or point form: each byte before X refused when changed.
    const std::size_t prefix = der.size() - 64;
    ASSERT_EQ(prefix, 27u);
    for (std::size_t i = 0; i < prefix; ++i) {
        std::string changed = der;
        changed[i] = static_cast<char>(changed[i] ^ (i == 26 ? 0x06 : 0x01));
        EXPECT_FALSE(DecodeP256PublicKeyPem(EncodePemBlock("PUBLIC KEY", changed), xy)) << i;
    }
    EXPECT_FALSE(DecodeP256PublicKeyPem(EncodePemBlock("PUBLIC KEY", der + '\0'), xy));
    EXPECT_FALSE(DecodeP256PublicKeyPem(EncodePemBlock("PUBLIC KEY", der.substr(1)), xy));
}

TEST(PemBlock, OneBlockOfCanonicalBase64) {
    const auto block = [](const std::string& body) {
        return "-----BEGIN X-----\n" + body + "\n-----END X-----\n";
    };
    const struct {
        std::string pem;
        const char* der;  // nullptr: refused
    } cases[] = {
        {block("QQ=="), "A"},
        {block("QUI="), "AB"},
        {block("QUJD"), "ABC"},
        {block("QUJD\nQUJD"), "ABCABC"},
        {"\r\n\n" + block("QUJD") + "\r\n\n", "ABC"},
        {"-----BEGIN X-----\r\nQUJD\r\n-----END X-----", "ABC"},
        {block("QR=="), nullptr},  // unused bits set
        {block("QUJ="), nullptr},
        {block("QQ="), nullptr},  // no whole group
        {block("QQ"), nullptr},
        {block("Q==="), nullptr},
        {block(""), nullptr},
        {block("QQ==QUJD"), nullptr},  // padding inside
        {block("QU\tD"), nullptr},
        {block("QU\rJD"), nullptr},  // a CR that ends no line
        {block("QUJD\n QUJD"), nullptr},
        {"x\n" + block("QUJD"), nullptr},
        {block("QUJD") + "x\n", nullptr},
        {block("QUJD") + " \n", nullptr},
        {block("QUJD") + block("QUJD"), nullptr},
        {"-----BEGIN X-----\nQUJD\n", nullptr},
        {"-----BEGIN Y-----\nQUJD\n-----END Y-----\n", nullptr},
        {"-----BEGIN X-----\nQUJD\n-----END Y-----\n", nullptr},
    };
    for (const auto& c : cases) {
        std::string der = "stale";
        const bool taken = DecodePemBlock(c.pem, "X", 1024, der);
        EXPECT_EQ(taken, c.der != nullptr) << c.pem;
        if (taken && c.der != nullptr) {
            EXPECT_EQ(der, c.der) << c.pem;
        }
    }
    // The size bound is inclusive.
    std::string der;
    const std::string pem = block("QUJD");
    EXPECT_TRUE(DecodePemBlock(pem, "X", pem.size(), der));
    EXPECT_FALSE(DecodePemBlock(pem, "X", pem.size() - 1, der));

    // Every length written reads back, in lines of 64 characters.
    std::mt19937 random(11);
    std::string bytes;
    for (int length = 1; length < 200; ++length) {
        bytes.push_back(static_cast<char>(random()));
        const std::string written = EncodePemBlock("X", bytes);
        std::size_t longest = 0;
        for (std::size_t at = 0, end; at < written.size(); at = end + 1) {
            end = written.find('\n', at);
            longest = std::max(longest, end - at);
        }
        EXPECT_EQ(longest,
                  std::max<std::size_t>(17, std::min<std::size_t>(64, (length + 2) / 3 * 4)));
        ASSERT_TRUE(DecodePemBlock(written, "X", 1024, der)) << length;
        EXPECT_EQ(der, bytes) << length;
    }
}

TEST(ExpiresLine, StrictUtcTimestamps) {
    std::int64_t t = 0;
    ASSERT_TRUE(ParseUtcTimestamp("1970-01-01T00:00:00Z", t));
    EXPECT_EQ(t, 0);
    ASSERT_TRUE(ParseUtcTimestamp("2027-01-31T00:00:00Z", t));
    EXPECT_EQ(t, 1801353600);
    ASSERT_TRUE(ParseUtcTimestamp("2024-02-29T23:59:59Z", t));
    EXPECT_EQ(t, 1709251199);
    ASSERT_TRUE(ParseUtcTimestamp("2000-02-29T12:00:00Z", t));
    EXPECT_EQ(t, 951825600);
    ASSERT_TRUE(ParseUtcTimestamp("9999-12-31T23:59:59Z", t));
    EXPECT_EQ(t, 253402300799);
    // Every day of 400 years (a whole leap cycle), each at another time of day.
    for (std::int64_t s = 0; s < 400LL * 366 * 86400; s += 86400 - 37)
        ASSERT_TRUE(ParseUtcTimestamp(FormatUtcTimestamp(s), t) && t == s) << s;
    for (const char* bad :
         {"2027-02-29T00:00:00Z", "2027-01-31T24:00:00Z", "2027-01-31T00:60:00Z",
          "2027-01-31T00:00:60Z", "2027-01-32T00:00:00Z", "2027-04-31T00:00:00Z",
          "2027-13-01T00:00:00Z", "2027-00-10T00:00:00Z", "2027-01-00T00:00:00Z",
          "2100-02-29T00:00:00Z", "2027-01-31T00:00:00z", "2027-01-31 00:00:00Z",
          "2027-01-31T00:00:00+00:00", "2027-1-31T00:00:00Z", "1969-12-31T23:59:59Z",
          " 2027-01-31T00:00:00Z", "2027-01-31", "2027-01-31T00:00:0xZ", "2027/01/31T00:00:00Z"}) {
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
