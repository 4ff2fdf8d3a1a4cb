// The HTTP response reader (http/HTTPResponseParser). The first byte chooses a reply to HEAD and the body
// limit; the second and third name a split point; the rest is what the server sent. Read whole, byte by byte
// and in two pieces at the split point, then closed, the reader comes to the same outcome: state, status,
// header fields, body, failure and what becomes of the connection.
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "http/HTTPResponseParser.h"

using vastel::HTTPResponseParser;

namespace {

struct Outcome {
    HTTPResponseParser::State state;
    int statusCode;
    std::vector<std::pair<std::string, std::string>> headerFields;
    std::string body;
    std::string failure;
    bool bodyTooLarge;
    bool keepsConnection;
    bool started;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome(HTTPResponseParser& parser) {
    const QByteArray body = parser.takeBody();
    return {parser.state(),   parser.statusCode(),   parser.headerFields(),    body.toStdString(),
            parser.failure(), parser.bodyTooLarge(), parser.keepsConnection(), parser.started()};
}

// The outcome before and after the close.
std::pair<Outcome, Outcome> read(bool head, std::int64_t limit, const std::vector<std::string_view>& pieces) {
    HTTPResponseParser parser(head, limit);
    for (auto piece : pieces)
        parser.feed(piece);
    HTTPResponseParser closed = parser;
    auto open = outcome(parser);
    closed.closed();
    return {std::move(open), outcome(closed)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const bool head = data[0] & 1;
    constexpr std::int64_t limits[] = {0, 1, 16, 1 << 20};
    const std::int64_t limit = limits[(data[0] >> 1) & 3];
    const auto bytes = fuzz::text(data + 3, size - 3);
    const std::size_t split = (data[1] * 256u + data[2]) % (bytes.size() + 1);

    const auto whole = read(head, limit, {bytes});
    std::vector<std::string_view> single;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        single.push_back(bytes.substr(i, 1));
    FUZZ_CHECK(read(head, limit, single) == whole, "byte by byte as whole");
    FUZZ_CHECK(read(head, limit, {bytes.substr(0, split), bytes.substr(split)}) == whole,
               "in two pieces as whole");

    const auto& [open, closed] = whole;
    FUZZ_CHECK(std::int64_t(open.body.size()) <= limit, "a body within its limit");
    FUZZ_CHECK(!open.bodyTooLarge || open.state == HTTPResponseParser::State::failed, "too large fails");
    FUZZ_CHECK(
        closed.state != HTTPResponseParser::State::head && closed.state != HTTPResponseParser::State::body,
        "a closed connection ends the response");
    FUZZ_CHECK(!closed.keepsConnection, "a closed connection is not kept");
    return 0;
}
