#include <gtest/gtest.h>

#include "http/MultipartBody.h"

namespace {

using vastel::MultipartBody;

class FixedUUID : public UUIDProviding {
  public:
    std::string newUUIDString() override {
        ++calls;
        return "B0UND";
    }
    int calls = 0;
};

std::string text(const platform::Bytes& bytes) {
    return platform::toString(bytes);
}

TEST(MultipartBody, EmptyBodyIsOnlyTheClosingDelimiter) {
    FixedUUID uuid;
    MultipartBody body(uuid);
    EXPECT_EQ(uuid.calls, 1);
    EXPECT_EQ(body.boundary(), "B0UND");
    EXPECT_EQ(body.contentTypeHeaderValue(), "multipart/form-data; boundary=B0UND");
    EXPECT_EQ(text(body.requestBody()), "--B0UND--");
}

TEST(MultipartBody, PartsAreWrittenByteForByteInOrder) {
    FixedUUID uuid;
    MultipartBody body(uuid);
    body.add(std::string("hello"), "greeting");
    body.add(std::int64_t{1}, "count");
    body.add(platform::Bytes{0x00, 0xFF, '\r', '\n'}, "document", "a.pdf", "application/pdf");

    std::string expected =
        "--B0UND\r\n"
        "Content-Disposition: form-data; name=\"greeting\"\r\n"
        "Content-Type: text/plain; charset=ISO-8859-1\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        "hello\r\n"
        "--B0UND\r\n"
        "Content-Disposition: form-data; name=\"count\"\r\n"
        "\r\n";
    expected += std::string("\x01\0\0\0\0\0\0\0", 8);
    expected +=
        "\r\n"
        "--B0UND\r\n"
        "Content-Disposition: form-data; name=\"document\"; filename=\"a.pdf\"\r\n"
        "Content-Type: application/pdf\r\n"
        "\r\n";
    expected += std::string("\x00\xFF\r\n", 4);
    expected += "\r\n--B0UND--";
    EXPECT_EQ(text(body.requestBody()), expected);
    EXPECT_EQ(uuid.calls, 1);
}

TEST(MultipartBody, IntegerIsEightLittleEndianBytes) {
    struct Case {
        std::int64_t value;
        std::string bytes;
    };
    const Case cases[] = {
        {0, std::string(8, '\0')},
        {0x0102030405060708, "\x08\x07\x06\x05\x04\x03\x02\x01"},
        {-1, std::string(8, '\xFF')},
        {INT64_MIN, std::string(7, '\0') + "\x80"},
    };
    for (const auto& c : cases) {
        FixedUUID uuid;
        MultipartBody body(uuid);
        body.add(c.value, "n");
        EXPECT_EQ(text(body.requestBody()),
                  "--B0UND\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n" + c.bytes + "\r\n--B0UND--")
            << c.value;
    }
}

TEST(MultipartBody, ReadingIsRepeatableAndLaterPartsGoBeforeTheClosingDelimiter) {
    FixedUUID uuid;
    MultipartBody body(uuid);
    body.add(std::string("a"), "x");
    const auto first = body.requestBody();
    EXPECT_EQ(body.requestBody(), first);
    body.add(std::string("b"), "y");
    const auto second = text(body.requestBody());
    const std::string firstText = text(first);
    // The earlier parts are kept as they were, the closing delimiter moved behind the new part.
    ASSERT_EQ(second.substr(0, firstText.size() - 9), firstText.substr(0, firstText.size() - 9));
    EXPECT_EQ(second.substr(firstText.size() - 9),
              "--B0UND\r\nContent-Disposition: form-data; name=\"y\"\r\nContent-Type: text/plain; "
              "charset=ISO-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n\r\nb\r\n--B0UND--");
}

TEST(MultipartBody, QuotesAndLineBreaksCannotEscapeTheHeaderField) {
    FixedUUID uuid;
    MultipartBody body(uuid);
    body.add(platform::Bytes{'x'}, "f\"", "evil\"\r\nContent-Type: text/html\r\n\r\n", "a/b\r\nX: y");
    EXPECT_EQ(text(body.requestBody()),
              "--B0UND\r\nContent-Disposition: form-data; name=\"f%22\"; "
              "filename=\"evil%22%0D%0AContent-Type: text/html%0D%0A%0D%0A\"\r\n"
              "Content-Type: a/b%0D%0AX: y\r\n\r\nx\r\n--B0UND--");
}

TEST(MultipartBody, TextIsWrittenAsUTF8) {
    FixedUUID uuid;
    MultipartBody body(uuid);
    body.add(std::string("d\xC3\xA9j\xC3\xA0"), "w");
    EXPECT_NE(text(body.requestBody()).find("\r\n\r\nd\xC3\xA9j\xC3\xA0\r\n--B0UND--"), std::string::npos);
}

}  // namespace
