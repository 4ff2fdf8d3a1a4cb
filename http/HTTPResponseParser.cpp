#include "http/HTTPResponseParser.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "http/URLRequest.h"

namespace vastel {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool isToken(std::string_view text) {
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(char(c)) == std::string_view::npos)
            return false;
    }
    return true;
}

// Decimal or hexadecimal digits only (no sign, not even for "-0", no spaces), within the 63-bit range.
bool parseNumber(std::string_view text, int base, std::int64_t& value) {
    std::uint64_t parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        parsed > std::uint64_t(INT64_MAX))
        return false;
    value = std::int64_t(parsed);
    return true;
}

// The length of the line that starts the bytes, its CRLF included, as far as it is known: a line whose end
// has not arrived is at least as long as the bytes so far. Limits compare this, so that they hold the same
// whether the line arrives at once or in pieces.
std::size_t lineLength(std::string_view bytes, std::size_t end) {
    return end == std::string_view::npos ? bytes.size() : end + 2;
}

// The comma-separated elements of a field value, trimmed; empty elements are dropped.
std::vector<std::string_view> elements(std::string_view value) {
    std::vector<std::string_view> result;
    while (!value.empty()) {
        const auto comma = value.find(',');
        const auto element = trimmed(value.substr(0, comma));
        if (!element.empty())
            result.push_back(element);
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return result;
}

}  // namespace

HTTPResponseParser::HTTPResponseParser(bool headRequest, std::int64_t maximumBodySize)
    : headRequest_(headRequest), maximumBodySize_(maximumBodySize) {}

void HTTPResponseParser::feed(std::string_view data) {
    if (data.empty() || state_ == State::failed)
        return;
    started_ = true;
    if (state_ == State::complete) {
        keepsConnection_ = false;
        return;
    }
    buffer_.append(data);
    while (state_ == State::head && parseHead()) {
    }
    if (state_ == State::body)
        readBody();
    // Bytes after the response answer nothing that was asked: the response stands, the connection does not.
    if (state_ == State::complete && !pending().empty())
        keepsConnection_ = false;
    // Consumed bytes go once per feed, not once per step: many small chunks stay linear.
    if (state_ == State::failed)
        buffer_.clear();
    else
        buffer_.erase(0, consumed_);
    consumed_ = 0;
}

void HTTPResponseParser::closed(bool confirmed) {
    keepsConnection_ = false;
    if (state_ == State::body && framing_ == Framing::untilClose && confirmed)
        complete();
    else if (state_ == State::body && framing_ == Framing::untilClose)
        fail("The connection ended without the TLS closure alert: the response may have been cut short");
    else if (state_ == State::head || state_ == State::body)
        fail(started_ ? "The server closed the connection before the response was complete"
                      : "The server closed the connection without a response");
}

// Where `delimiter` starts in the pending bytes; npos while it has not arrived. What an earlier feed searched
// in vain is not searched again, so a head that trickles in byte by byte costs linear time, not quadratic.
std::size_t HTTPResponseParser::findPending(std::string_view delimiter) {
    const std::size_t from = searched_ >= delimiter.size() ? searched_ - (delimiter.size() - 1) : 0;
    const std::size_t at = pending().find(delimiter, from);
    searched_ = at == std::string_view::npos ? pending().size() : 0;
    return at;
}

// One head, when it is all there: false while more bytes are needed or once it failed.
bool HTTPResponseParser::parseHead() {
    const auto end = findPending("\r\n\r\n");
    if (headBytes_ + (end == std::string::npos ? pending().size() : end + 4) > maximumHeadSize) {
        fail("The response's header is larger than the limit of " + std::to_string(maximumHeadSize) +
             " bytes");
        return false;
    }
    if (end == std::string::npos)
        return false;
    const std::string_view head = pending().substr(0, end);
    headerFields_.clear();
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        auto lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = head.size();
        const auto line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
            fail("The response's header holds a stray line break or NUL");
            return false;
        }
        if (first) {
            first = false;
            if (!parseStatusLine(line))
                return false;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
            fail("The response holds a malformed header field");
            return false;
        }
        headerFields_.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
    }
    consumed_ += end + 4;
    headBytes_ += end + 4;
    if (statusCode_ >= 100 && statusCode_ < 200) {
        // 101 would hand the connection to another protocol: nothing this client asked for.
        if (statusCode_ == 101) {
            fail("The server switched protocols");
            return false;
        }
        return true;  // an interim response: the final one follows
    }
    if (!chooseFraming())
        return false;
    state_ = State::body;
    return true;
}

bool HTTPResponseParser::parseStatusLine(std::string_view line) {
    // "HTTP/1.x SSS reason"; the reason may be empty, even without its space.
    if (line.size() < 12 || !line.starts_with("HTTP/1.") || (line[7] != '0' && line[7] != '1') ||
        line[8] != ' ' || (line.size() > 12 && line[12] != ' ')) {
        fail("The server's reply is not an HTTP/1.1 response");
        return false;
    }
    std::int64_t status = 0;
    if (!parseNumber(line.substr(9, 3), 10, status) || status < 100 || status > 599) {
        fail("The response's status code is not valid");
        return false;
    }
    http10_ = line[7] == '0';
    statusCode_ = int(status);
    return true;
}

bool HTTPResponseParser::chooseFraming() {
    bool close = http10_;
    std::optional<std::int64_t> length;
    std::vector<std::string_view> codings;
    for (const auto& [name, value] : headerFields_) {
        if (equalsIgnoringCase(name, "Connection")) {
            for (auto option : elements(value)) {
                if (equalsIgnoringCase(option, "close"))
                    close = true;
                else if (http10_ && equalsIgnoringCase(option, "keep-alive"))
                    close = false;
            }
        } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            for (auto coding : elements(value))
                codings.push_back(coding);
        } else if (equalsIgnoringCase(name, "Content-Length")) {
            // Repeated lengths must agree, in one field ("5, 5") or several.
            for (auto element : elements(value)) {
                std::int64_t parsed = 0;
                if (!parseNumber(element, 10, parsed) || (length && *length != parsed)) {
                    fail("The response's Content-Length is not valid");
                    return false;
                }
                length = parsed;
            }
            if (!length) {
                fail("The response's Content-Length is not valid");
                return false;
            }
        }
    }
    keepsConnection_ = !close;
    if (headRequest_ || statusCode_ == 204 || statusCode_ == 304) {
        framing_ = Framing::none;
        // Some servers send a body with these all the same, possibly later than the head: it would be read as
        // the start of the next reply.
        if (!headRequest_)
            keepsConnection_ = false;
    } else if (!codings.empty()) {
        // A length beside a transfer coding is ignored, and the connection not trusted afterwards.
        if (length)
            keepsConnection_ = false;
        if (equalsIgnoringCase(codings.back(), "chunked")) {
            if (codings.size() > 1) {
                fail("The response's transfer coding is not supported");
                return false;
            }
            framing_ = Framing::chunked;
        } else {
            framing_ = Framing::untilClose;
            keepsConnection_ = false;
        }
    } else if (length) {
        if (*length > maximumBodySize_) {
            failBodyTooLarge();
            return false;
        }
        framing_ = Framing::length;
        remaining_ = *length;
        body_.reserve(qsizetype(*length));
    } else {
        framing_ = Framing::untilClose;
        keepsConnection_ = false;
    }
    return true;
}

void HTTPResponseParser::readBody() {
    switch (framing_) {
        case Framing::none:
            complete();
            return;
        case Framing::length: {
            const auto take = std::min<std::int64_t>(remaining_, std::int64_t(pending().size()));
            if (!appendBody(pending().substr(0, std::size_t(take))))
                return;
            consumed_ += std::size_t(take);
            remaining_ -= take;
            if (remaining_ == 0)
                complete();
            return;
        }
        case Framing::untilClose:
            if (appendBody(pending()))
                consumed_ = buffer_.size();
            return;
        case Framing::chunked:
            while (state_ == State::body && readChunked()) {
            }
            return;
    }
}

// One step of a chunked body: false while more bytes are needed or once it failed.
bool HTTPResponseParser::readChunked() {
    switch (chunkStep_) {
        case ChunkStep::size: {
            const auto end = findPending("\r\n");
            if (lineLength(pending(), end) > maximumChunkSizeLine) {
                fail("The response's chunk size line is longer than the limit of " +
                     std::to_string(maximumChunkSizeLine) + " bytes");
                return false;
            }
            if (end == std::string::npos)
                return false;
            std::string_view line = pending().substr(0, end);
            line = trimmed(line.substr(0, line.find(';')));  // chunk extensions are ignored
            std::int64_t size = 0;
            if (!parseNumber(line, 16, size)) {
                fail("The response's chunk size is not valid");
                return false;
            }
            consumed_ += end + 2;
            if (size > maximumBodySize_ - body_.size()) {
                failBodyTooLarge();
                return false;
            }
            remaining_ = size;
            chunkStep_ = size == 0 ? ChunkStep::trailers : ChunkStep::data;
            return true;
        }
        case ChunkStep::data: {
            const auto take = std::min<std::int64_t>(remaining_, std::int64_t(pending().size()));
            if (take == 0)
                return false;
            if (!appendBody(pending().substr(0, std::size_t(take))))
                return false;
            consumed_ += std::size_t(take);
            remaining_ -= take;
            if (remaining_ == 0)
                chunkStep_ = ChunkStep::dataEnd;
            return true;
        }
        case ChunkStep::dataEnd:
            if (pending().size() < 2)
                return false;
            if (!pending().starts_with("\r\n")) {
                fail("The response's chunk does not end where its size says");
                return false;
            }
            consumed_ += 2;
            chunkStep_ = ChunkStep::size;
            return true;
        case ChunkStep::trailers: {
            // Trailer fields are read past and dropped; an empty line ends the body.
            const auto end = findPending("\r\n");
            if (headBytes_ + lineLength(pending(), end) > maximumHeadSize) {
                fail("The response's header and trailer are larger than the limit of " +
                     std::to_string(maximumHeadSize) + " bytes");
                return false;
            }
            if (end == std::string::npos)
                return false;
            headBytes_ += end + 2;
            consumed_ += end + 2;
            if (end == 0)
                complete();
            return true;
        }
    }
    return false;
}

bool HTTPResponseParser::appendBody(std::string_view data) {
    if (std::int64_t(data.size()) > maximumBodySize_ - body_.size()) {
        failBodyTooLarge();
        return false;
    }
    body_.append(data.data(), qsizetype(data.size()));
    return true;
}

void HTTPResponseParser::fail(std::string reason) {
    state_ = State::failed;
    failure_ = std::move(reason);
    keepsConnection_ = false;
    body_.clear();
}

void HTTPResponseParser::failBodyTooLarge() {
    bodyTooLarge_ = true;
    fail("The reply body is larger than the limit of " + std::to_string(maximumBodySize_) + " bytes");
}

void HTTPResponseParser::complete() {
    state_ = State::complete;
}

}  // namespace vastel
