#include "platform/xpc/Message.h"

#include <cstring>
#include <stdexcept>

namespace xpc {

namespace {

bool isValidMethodName(std::string_view name) {
    if (name.empty() || name.size() > maxMethodNameLength)
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

bool isValidUTF8(const std::uint8_t* p, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        std::uint8_t c = p[i];
        std::size_t extra;
        std::uint32_t min;
        std::uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// Writing of a frame into a buffer of its final size.
struct Writer {
    std::uint8_t* p;

    void u8(std::uint8_t v) { *p++ = v; }
    void number(std::uint64_t v, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            *p++ = static_cast<std::uint8_t>(v >> shift);
    }
    void raw(const void* data, std::size_t n) {
        if (n > 0)
            std::memcpy(p, data, n);
        p += n;
    }
};

std::uint32_t getU32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Bounds-checked reading of a frame body.
struct Reader {
    const std::uint8_t* p;
    std::size_t size;
    std::size_t at = 0;

    bool take(std::size_t n, const std::uint8_t*& out) {
        if (size - at < n)
            return false;
        out = p + at;
        at += n;
        return true;
    }
    bool u8(std::uint8_t& v) {
        const std::uint8_t* q;
        if (!take(1, q))
            return false;
        v = q[0];
        return true;
    }
    bool u16(std::size_t& v) {
        const std::uint8_t* q;
        if (!take(2, q))
            return false;
        v = (std::size_t(q[0]) << 8) | q[1];
        return true;
    }
    bool u32(std::size_t& v) {
        const std::uint8_t* q;
        if (!take(4, q))
            return false;
        v = getU32(q);
        return true;
    }
};

}  // namespace

ArgumentType typeOf(const Value& value) {
    switch (value.index()) {
        case 0:
            return ArgumentType::bytes;
        case 1:
            return ArgumentType::string;
        default:
            return ArgumentType::int64;
    }
}

bool Interface::accepts(const Message& message) const {
    auto found = methods_.find(message.name);
    if (found == methods_.end())
        return false;
    const auto& types = found->second;
    if (types.size() != message.arguments.size())
        return false;
    for (std::size_t i = 0; i < types.size(); ++i)
        if (typeOf(message.arguments[i]) != types[i])
            return false;
    return true;
}

namespace {

// The size of the message's frame body; throws when the message cannot be framed.
std::size_t bodySize(const Message& message) {
    if (!isValidMethodName(message.name))
        throw std::length_error("invalid method name");
    if (message.arguments.size() > maxArgumentCount)
        throw std::length_error("too many arguments");
    std::size_t size = 2 + message.name.size() + 2;
    for (const auto& argument : message.arguments) {
        if (size > maxFrameBodySize)
            throw std::length_error("message too large");
        size += 1;
        if (const auto* bytes = std::get_if<platform::Bytes>(&argument)) {
            if (bytes->size() > maxFrameBodySize)
                throw std::length_error("message too large");
            size += 4 + bytes->size();
        } else if (const auto* text = std::get_if<std::string>(&argument)) {
            if (text->size() > maxFrameBodySize)
                throw std::length_error("message too large");
            if (!isValidUTF8(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()))
                throw std::length_error("string is not UTF-8");
            size += 4 + text->size();
        } else {
            size += 8;
        }
    }
    if (size > maxFrameBodySize)
        throw std::length_error("message too large");
    return size;
}

}  // namespace

platform::Bytes encodeFrame(const Message& message) {
    const std::size_t body = bodySize(message);
    // Sized once and written in place: appending to a growing vector makes GCC 12 at -O3 see writes past its
    // end that cannot happen (-Wstringop-overflow), which -Werror turns into a failed release build.
    platform::Bytes out(4 + body);
    Writer writer{out.data()};
    writer.number(body, 4);
    writer.number(message.name.size(), 2);
    writer.raw(message.name.data(), message.name.size());
    writer.number(message.arguments.size(), 2);
    for (const auto& argument : message.arguments) {
        writer.u8(static_cast<std::uint8_t>(typeOf(argument)));
        if (const auto* bytes = std::get_if<platform::Bytes>(&argument)) {
            writer.number(bytes->size(), 4);
            writer.raw(bytes->data(), bytes->size());
        } else if (const auto* text = std::get_if<std::string>(&argument)) {
            writer.number(text->size(), 4);
            writer.raw(text->data(), text->size());
        } else {
            writer.number(static_cast<std::uint64_t>(std::get<std::int64_t>(argument)), 8);
        }
    }
    return out;
}

std::optional<Message> decodeBody(const std::uint8_t* data, std::size_t size) {
    Reader r{data, size};
    Message message;
    std::size_t nameLength;
    const std::uint8_t* name;
    if (!r.u16(nameLength) || !r.take(nameLength, name))
        return std::nullopt;
    message.name.assign(reinterpret_cast<const char*>(name), nameLength);
    if (!isValidMethodName(message.name))
        return std::nullopt;
    std::size_t count;
    if (!r.u16(count) || count > maxArgumentCount)
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t type;
        if (!r.u8(type))
            return std::nullopt;
        if (type == static_cast<std::uint8_t>(ArgumentType::int64)) {
            const std::uint8_t* q;
            if (!r.take(8, q))
                return std::nullopt;
            std::uint64_t v = 0;
            for (int k = 0; k < 8; ++k)
                v = (v << 8) | q[k];
            message.arguments.emplace_back(static_cast<std::int64_t>(v));
            continue;
        }
        if (type != static_cast<std::uint8_t>(ArgumentType::bytes) &&
            type != static_cast<std::uint8_t>(ArgumentType::string))
            return std::nullopt;
        std::size_t length;
        const std::uint8_t* q;
        if (!r.u32(length) || !r.take(length, q))
            return std::nullopt;
        if (type == static_cast<std::uint8_t>(ArgumentType::bytes)) {
            message.arguments.emplace_back(platform::Bytes(q, q + length));
        } else {
            if (!isValidUTF8(q, length))
                return std::nullopt;
            message.arguments.emplace_back(std::string(reinterpret_cast<const char*>(q), length));
        }
    }
    if (r.at != size)
        return std::nullopt;
    return message;
}

FrameDecoder::Status FrameDecoder::feed(const std::uint8_t* data, std::size_t size) {
    if (failed_)
        return Status::malformed;
    buffer_.insert(buffer_.end(), data, data + size);
    while (buffer_.size() - consumed_ >= 4) {
        std::size_t body = getU32(buffer_.data() + consumed_);
        if (body > maxFrameBodySize) {
            failed_ = true;
            return Status::malformed;
        }
        if (buffer_.size() - consumed_ - 4 < body)
            break;
        auto message = decodeBody(buffer_.data() + consumed_ + 4, body);
        if (!message) {
            failed_ = true;
            return Status::malformed;
        }
        ready_.push_back(std::move(*message));
        consumed_ += 4 + body;
    }
    if (consumed_ > 0 && consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    } else if (consumed_ > maxFrameBodySize) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
        consumed_ = 0;
    }
    return Status::ok;
}

std::optional<Message> FrameDecoder::next() {
    if (readyIndex_ >= ready_.size()) {
        ready_.clear();
        readyIndex_ = 0;
        return std::nullopt;
    }
    return std::move(ready_[readyIndex_++]);
}

}  // namespace xpc
