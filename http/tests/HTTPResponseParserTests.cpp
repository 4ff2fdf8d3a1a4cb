// The response reader on its own: framing by length, by chunks and by the close, bodiless replies, interim
// replies, the limits on head and body, and what leaves the connection usable. Every case is read whole and
// byte by byte, which must come to the same outcome.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/HTTPResponseParser.h"

namespace {

using vastel::HTTPResponseParser;
using State = HTTPResponseParser::State;

struct Outcome {
    State state;
    int status = 0;
    std::string body;
    bool keepsConnection = false;
    bool bodyTooLarge = false;
};

// How the connection ends after the bytes: not at all, by the peer's confirmed end (a plain TCP close, TLS's
// closure alert), or by a close that may be a cut (TLS without its closure alert).
enum class Close { none, confirmed, unconfirmed };

Outcome read(const std::string& bytes, bool byteByByte, Close close, bool head, std::int64_t limit) {
    HTTPResponseParser parser(head, limit);
    if (byteByByte) {
        for (char c : bytes)
            parser.feed(std::string_view(&c, 1));
    } else {
        parser.feed(bytes);
    }
    if (close != Close::none)
        parser.closed(close == Close::confirmed);
    const QByteArray body = parser.takeBody();
    return {parser.state(), parser.statusCode(), body.toStdString(), parser.keepsConnection(),
            parser.bodyTooLarge()};
}

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

TEST(HTTPResponseParser, ReadsEachFramingAndRefusesMalformedReplies) {
    struct Case {
        const char* name;
        std::string bytes;
        State state;
        int status = 0;
        std::string body = {};
        bool keepsConnection = false;
        Close close = Close::none;
        bool head = false;
        std::int64_t limit = 1 << 20;
        bool bodyTooLarge = false;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const Case cases[] = {
        {"length", ok + "Content-Length: 5\r\n\r\nhello", State::complete, 200, "hello", true},
        {"length repeated alike", ok + "Content-Length: 5\r\ncontent-length: 5\r\n\r\nhello", State::complete,
         200, "hello", true},
        {"length, not all there", ok + "Content-Length: 5\r\n\r\nhel", State::body, 200},
        {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n1\r\n!\r\n0\r\nT: 1\r\n\r\n",
         State::complete, 200, "hello!", true},
        {"no length: to the close", ok + "\r\nuntil close", State::complete, 200, "until close", false,
         Close::confirmed},
        {"no length: to a close that may be a cut", ok + "\r\n{\"signatures\":[", State::failed, 200, "",
         false, Close::unconfirmed},
        {"length: an unconfirmed close changes nothing", ok + "Content-Length: 2\r\n\r\nok", State::complete,
         200, "ok", false, Close::unconfirmed},
        {"HTTP/1.0 keeps nothing", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", State::complete, 200,
         "ok", false},
        {"Connection: close", ok + "Connection: close\r\nContent-Length: 2\r\n\r\nok", State::complete, 200,
         "ok", false},
        {"reply to HEAD", ok + "Content-Length: 5\r\n\r\n", State::complete, 200, "", true, Close::none,
         true},
        // A server may still send a body after these; the connection is not trusted with another request.
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n", State::complete, 204, "",
         false},
        {"304 followed by stray bytes", "HTTP/1.1 304 Not Modified\r\n\r\nstray", State::complete, 304, "",
         false},
        {"bytes after the body", ok + "Content-Length: 2\r\n\r\nokHTTP/1.1", State::complete, 200, "ok",
         false},
        {"interim replies skipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\n" + ok +
             "Content-Length: 2\r\n\r\nok",
         State::complete, 200, "ok", true},
        {"protocol switch", "HTTP/1.1 101 Switching Protocols\r\n\r\n", State::failed},
        {"not HTTP", "garbage\r\n\r\n", State::failed},
        {"status out of range", "HTTP/1.1 99 Low\r\n\r\n", State::failed},
        {"status not a number", "HTTP/1.1 2x0 OK\r\n\r\n", State::failed},
        {"field without colon", ok + "Broken\r\n\r\n", State::failed},
        {"lengths that disagree", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", State::failed},
        {"negative length", ok + "Content-Length: -1\r\n\r\n", State::failed},
        {"length minus zero", ok + "Content-Length: -0\r\n\r\n", State::failed},
        {"length with a plus", ok + "Content-Length: +2\r\n\r\nok", State::failed},
        {"chunk size minus zero", ok + "Transfer-Encoding: chunked\r\n\r\n-0\r\n\r\n", State::failed},
        {"length beyond any integer", ok + "Content-Length: 99999999999999999999999\r\n\r\n", State::failed},
        {"bad chunk size", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", State::failed},
        {"chunk without its line end", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nokX\r\n", State::failed},
        {"closed inside a length", ok + "Content-Length: 5\r\n\r\nhel", State::failed, 200, "", false,
         Close::confirmed},
        {"closed inside the head", "HTTP/1.1 200 OK\r\nContent-", State::failed, 0, "", false,
         Close::confirmed},
        {"body over the limit", ok + "Content-Length: 11\r\n\r\nhello world", State::failed, 200, "", false,
         Close::none, false, 10, true},
        {"chunks over the limit",
         ok + "Transfer-Encoding: chunked\r\n\r\n6\r\nhello \r\n5\r\nworld\r\n0\r\n\r\n", State::failed, 200,
         "", false, Close::none, false, 10, true},
        {"head over the limit",
         ok + "X: " + std::string(HTTPResponseParser::maximumHeadSize, 'a') + "\r\n\r\n", State::failed},
        {"endless chunk size line", ok + "Transfer-Encoding: chunked\r\n\r\n" + std::string(8192, '0'),
         State::failed},
        // The size line's limit counts its line end: the longest line passes, one byte more fails, however
        // the bytes arrive.
        {"chunk size line at the limit",
         ok + "Transfer-Encoding: chunked\r\n\r\n" +
             std::string(HTTPResponseParser::maximumChunkSizeLine - 3, '0') + "2\r\nok\r\n0\r\n\r\n",
         State::complete, 200, "ok", true},
        {"chunk size line over the limit, whole",
         ok + "Transfer-Encoding: chunked\r\n\r\n" +
             std::string(HTTPResponseParser::maximumChunkSizeLine - 2, '0') + "2\r\nok\r\n0\r\n\r\n",
         State::failed},
        {"chunk size line of 5001 bytes",
         ok + "Transfer-Encoding: chunked\r\n\r\n" + std::string(4999, '0') + "\r\n\r\n", State::failed},
        // Interim heads count towards the head's limit: endless ones fail instead of being read for ever.
        {"interim replies without end",
         repeated("HTTP/1.1 100 Continue\r\n\r\n", 3000) + ok + "Content-Length: 0\r\n\r\n", State::failed},
        {"interim replies within the limit",
         repeated("HTTP/1.1 102 Processing\r\n\r\n", 100) + ok + "Content-Length: 2\r\n\r\nok",
         State::complete, 200, "ok", true},
        {"head and trailers over the limit together",
         ok + "X: " + std::string(HTTPResponseParser::maximumHeadSize / 2, 'a') +
             "\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nT: " +
             std::string(HTTPResponseParser::maximumHeadSize / 2, 'b') + "\r\n\r\n",
         State::failed},
    };
    for (const auto& c : cases) {
        for (bool byteByByte : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (byteByByte ? ", byte by byte" : ", whole"));
            const Outcome outcome = read(c.bytes, byteByByte, c.close, c.head, c.limit);
            EXPECT_EQ(outcome.state, c.state);
            EXPECT_EQ(outcome.bodyTooLarge, c.bodyTooLarge);
            if (c.state == State::complete) {
                EXPECT_EQ(outcome.status, c.status);
                EXPECT_EQ(outcome.body, c.body);
                EXPECT_EQ(outcome.keepsConnection, c.keepsConnection);
            }
            if (c.state == State::failed) {
                EXPECT_FALSE(outcome.keepsConnection);
            }
        }
    }
}

TEST(HTTPResponseParser, KeepsHeaderFieldsInOrderAsSent) {
    HTTPResponseParser parser(false, 100);
    parser.feed(
        "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX-Folded:  value \r\nset-cookie: b=2\r\n"
        "Content-Length: 0\r\n\r\n");
    ASSERT_EQ(parser.state(), State::complete);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Set-Cookie", "a=1"}, {"X-Folded", "value"}, {"set-cookie", "b=2"}, {"Content-Length", "0"}};
    EXPECT_EQ(parser.headerFields(), expected);
    EXPECT_TRUE(parser.started());
    EXPECT_FALSE(HTTPResponseParser(false, 100).started());
}

}  // namespace
