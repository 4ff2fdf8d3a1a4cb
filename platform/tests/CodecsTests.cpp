#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Codecs.h"
#include "platform/SHA256.h"

using platform::Bytes;
using platform::toBytes;

namespace {

struct DecodeCase {
    const char* name;
    std::string text;
    std::optional<std::string> expected;  // nothing: the text must be rejected
};

std::optional<std::string> asText(const std::optional<Bytes>& bytes) {
    if (!bytes)
        return std::nullopt;
    return platform::toString(*bytes);
}

}  // namespace

TEST(Base64Test, DecodesOnlyExactStandardEncodings) {
    const DecodeCase cases[] = {
        {"empty", "", ""},
        {"one byte", "QQ==", "A"},
        {"two bytes", "QUI=", "AB"},
        {"three bytes", "QUJD", "ABC"},
        {"longer", "aGVsbG8gd29ybGQ=", "hello world"},
        {"high bits", "+/8=", "\xfb\xff"},
        {"missing padding", "QQ", std::nullopt},
        {"partial padding", "QQ=", std::nullopt},
        {"too much padding", "QQ===", std::nullopt},
        {"padding only", "====", std::nullopt},
        {"padding in the middle", "QQ==QUJD", std::nullopt},
        {"padding where none is due", "QUJD====", std::nullopt},
        {"single dangling character", "QUJDR", std::nullopt},
        {"dangling character padded", "Q===", std::nullopt},
        {"leading space", " QUJD", std::nullopt},
        {"trailing newline", "QUJD\n", std::nullopt},
        {"inner line break", "QU\nJD", std::nullopt},
        {"url alphabet", "-_8=", std::nullopt},
        {"foreign character", "QU*D", std::nullopt},
        {"non-ASCII", "QU\xc3\xa9", std::nullopt},
        {"embedded NUL", std::string("QU\0D", 4), std::nullopt},
        {"non-zero trailing bits (one byte)", "QR==", std::nullopt},
        {"non-zero trailing bits (two bytes)", "QUJ=", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(asText(platform::base64Decoded(c.text)), c.expected) << c.name;
}

TEST(Base64Test, EncodesWithPaddingAndRoundTripsEveryLength) {
    EXPECT_EQ(platform::base64Encoded(toBytes("")), "");
    EXPECT_EQ(platform::base64Encoded(toBytes("A")), "QQ==");
    EXPECT_EQ(platform::base64Encoded(toBytes("AB")), "QUI=");
    EXPECT_EQ(platform::base64Encoded(toBytes("hello world")), "aGVsbG8gd29ybGQ=");
    EXPECT_EQ(platform::base64Encoded(Bytes{0xfb, 0xff}), "+/8=");
    Bytes bytes;
    for (int length = 0; length < 70; ++length) {
        EXPECT_EQ(platform::base64Decoded(platform::base64Encoded(bytes)), bytes) << length;
        EXPECT_EQ(platform::base64URLDecoded(platform::base64URLEncoded(bytes)), bytes) << length;
        bytes.push_back(static_cast<uint8_t>(length * 37 + 251));
    }
}

TEST(Base64URLTest, DecodesWithOrWithoutPaddingInTheURLAlphabetOnly) {
    const DecodeCase cases[] = {
        {"empty", "", ""},
        {"padded", "QQ==", "A"},
        {"unpadded", "QQ", "A"},
        {"unpadded two bytes", "QUI", "AB"},
        {"no padding needed", "QUJD", "ABC"},
        {"url characters", "-_8", "\xfb\xff"},
        {"url characters padded", "-_8=", "\xfb\xff"},
        {"standard alphabet", "+/8=", std::nullopt},
        {"partial padding", "QQ=", std::nullopt},
        {"too much padding", "QUI==", std::nullopt},
        {"impossible length", "QUJDR", std::nullopt},
        {"whitespace", "QU JD", std::nullopt},
        {"trailing newline", "QUJD\n", std::nullopt},
        {"non-zero trailing bits", "QR", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(asText(platform::base64URLDecoded(c.text)), c.expected) << c.name;
    EXPECT_EQ(platform::base64URLEncoded(Bytes{0xfb, 0xff}), "-_8=");
}

TEST(CrockfordBase32Test, EncodesUpperCaseWithoutPaddingAndRoundTrips) {
    EXPECT_EQ(platform::crockfordBase32Encoded(Bytes{}), "");
    EXPECT_EQ(platform::crockfordBase32Encoded(Bytes{0x00}), "00");
    EXPECT_EQ(platform::crockfordBase32Encoded(Bytes{0xff}), "ZW");
    EXPECT_EQ(platform::crockfordBase32Encoded(toBytes("hello")), "D1JPRV3F");
    Bytes bytes;
    for (int length = 0; length < 40; ++length) {
        auto text = platform::crockfordBase32Encoded(bytes);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEFGHJKMNPQRSTVWXYZ"), std::string::npos) << text;
        EXPECT_EQ(platform::crockfordBase32Decoded(text), bytes) << text;
        bytes.push_back(static_cast<uint8_t>(length * 91 + 7));
    }
}

TEST(CrockfordBase32Test, DecodesLowerCaseAndAliasesAndRejectsTheRest) {
    const DecodeCase cases[] = {
        {"upper case", "D1JPRV3F", "hello"},         {"lower case", "d1jprv3f", "hello"},
        {"I and L read as 1", "DIJPRV3F", "hello"},  {"l read as 1", "DlJPRV3F", "hello"},
        {"O read as 0", "OO", std::string(1, '\0')}, {"U is not a digit", "UU", std::nullopt},
        {"padding", "00======", std::nullopt},       {"hyphen", "D1JP-RV3F", std::nullopt},
        {"whitespace", "D1JP RV3F", std::nullopt},   {"impossible length", "D1J", std::nullopt},
        {"single character", "D", std::nullopt},     {"non-zero trailing bits", "ZZ", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(asText(platform::crockfordBase32Decoded(c.text)), c.expected) << c.name;
}

TEST(SHA256Test, MatchesKnownDigests) {
    EXPECT_EQ(platform::base64Encoded(platform::sha256(toBytes(""))),
              "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
    EXPECT_EQ(platform::base64Encoded(platform::sha256(toBytes("abc"))),
              "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}
