#pragma once
// Reads one HTTP/1.1 response as its bytes arrive, bounded: a head larger than maximumHeadSize or a body
// larger than the given limit fails instead of growing without end. Interim (1xx) responses are skipped;
// their heads count towards the head's limit, so that a server cannot keep the reader busy with them. Every
// limit is checked on what the bytes say, never on how they were split: the outcome of a response read whole
// and read byte by byte is the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QByteArray>

namespace vastel {

class HTTPResponseParser {
  public:
    enum class State { head, body, complete, failed };

    // Status lines and header fields of the whole response together: interim responses' heads, the final
    // head and the trailers of a chunked body.
    static constexpr std::size_t maximumHeadSize = 64 * 1024;
    // A chunk's size line with its extensions and line end.
    static constexpr std::size_t maximumChunkSizeLine = 4096;

    // A reply to HEAD has no body whatever its header fields say.
    HTTPResponseParser(bool headRequest, std::int64_t maximumBodySize);

    // Takes the next received bytes. Bytes after a complete response leave it complete but make the
    // connection unusable for another request.
    void feed(std::string_view data);
    // The peer closed the connection: completes a body that runs to the close, fails any other unfinished
    // response. `confirmed` tells whether the transport vouches that the close is the peer's own end of the
    // response (TLS closes with its closure alert; a bare TCP close of a TLS connection may be a cut): a body
    // that runs to an unconfirmed close is a truncated response.
    void closed(bool confirmed = true);

    State state() const { return state_; }
    // Why the response failed; `bodyTooLarge` tells the body limit apart from malformed responses.
    const std::string& failure() const { return failure_; }
    bool bodyTooLarge() const { return bodyTooLarge_; }
    // Whether the response ended in a way that leaves the connection usable for the next request.
    bool keepsConnection() const { return keepsConnection_; }
    // Whether any byte of a response arrived.
    bool started() const { return started_; }

    int statusCode() const { return statusCode_; }
    // In the order received, names as sent.
    const std::vector<std::pair<std::string, std::string>>& headerFields() const { return headerFields_; }
    QByteArray takeBody() { return std::exchange(body_, {}); }

  private:
    enum class Framing { none, length, chunked, untilClose };
    enum class ChunkStep { size, data, dataEnd, trailers };

    std::string_view pending() const { return std::string_view(buffer_).substr(consumed_); }
    std::size_t findPending(std::string_view delimiter);
    bool parseHead();
    bool parseStatusLine(std::string_view line);
    bool chooseFraming();
    void readBody();
    bool readChunked();
    bool appendBody(std::string_view data);
    void fail(std::string reason);
    void failBodyTooLarge();
    void complete();

    bool headRequest_;
    std::int64_t maximumBodySize_;
    State state_ = State::head;
    std::string buffer_;  // received bytes, the first `consumed_` of them already read
    std::size_t consumed_ = 0;
    // Pending bytes already searched for the delimiter of the line or head awaited; a found delimiter is
    // consumed at once, so this only ever covers bytes that stay pending.
    std::size_t searched_ = 0;
    std::string failure_;
    bool bodyTooLarge_ = false;
    bool keepsConnection_ = false;
    bool started_ = false;
    bool http10_ = false;

    int statusCode_ = 0;
    std::vector<std::pair<std::string, std::string>> headerFields_;
    QByteArray body_;
    Framing framing_ = Framing::none;
    std::int64_t remaining_ = 0;  // of the body with a length, or of the current chunk
    ChunkStep chunkStep_ = ChunkStep::size;
    std::size_t headBytes_ = 0;  // of heads and trailer lines read so far
};

}  // namespace vastel
