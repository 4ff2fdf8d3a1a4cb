#pragma once
// Messages of the XPC stand-in: a method name and typed arguments, carried one-way in bounded frames.
//
// Frame layout (all integers big-endian):
//   u32 body length (at most maxFrameBodySize)
//   body: u16 name length, name (ASCII letters, digits and ':' only, 1..maxMethodNameLength bytes),
//         u16 argument count (at most maxArgumentCount), then per argument:
//         u8 type (1 = bytes, 2 = string (UTF-8), 3 = int64), then for bytes and strings a u32 length and the
//         data, for int64 the 8 bytes of the value.
// A frame whose body does not follow this layout exactly (trailing bytes included) is malformed; a receiver
// closes the connection on a malformed or oversized frame.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Bytes.h"

namespace xpc {

inline constexpr std::size_t maxFrameBodySize = 256 * 1024;
inline constexpr std::size_t maxMethodNameLength = 256;
inline constexpr std::size_t maxArgumentCount = 16;

enum class ArgumentType : std::uint8_t { bytes = 1, string = 2, int64 = 3 };

using Value = std::variant<platform::Bytes, std::string, std::int64_t>;

ArgumentType typeOf(const Value& value);

struct Message {
    std::string name;
    std::vector<Value> arguments;

    const platform::Bytes& bytesAt(std::size_t index) const {
        return std::get<platform::Bytes>(arguments.at(index));
    }
    const std::string& stringAt(std::size_t index) const {
        return std::get<std::string>(arguments.at(index));
    }
    std::int64_t int64At(std::size_t index) const { return std::get<std::int64_t>(arguments.at(index)); }

    bool operator==(const Message&) const = default;
};

// The methods of one side of a connection with their argument types: an incoming message that is not one of
// them, or whose arguments differ, ends the connection as a malformed frame does.
class Interface {
  public:
    Interface() = default;
    Interface(std::string name, std::map<std::string, std::vector<ArgumentType>> methods)
        : name_(std::move(name)), methods_(std::move(methods)) {}

    const std::string& name() const { return name_; }
    bool accepts(const Message& message) const;

  private:
    std::string name_;
    std::map<std::string, std::vector<ArgumentType>> methods_;
};

// The whole frame (length prefix included). Throws std::length_error when the message does not fit a frame or
// its name is not a valid method name.
platform::Bytes encodeFrame(const Message& message);

// Reassembles frames from a byte stream. Never allocates more than one frame's worth of buffer beyond what
// was fed in; after a malformed frame it stays failed.
class FrameDecoder {
  public:
    enum class Status { ok, malformed };

    // Appends received bytes; complete frames become messages, read with next().
    Status feed(const std::uint8_t* data, std::size_t size);
    std::optional<Message> next();
    bool failed() const { return failed_; }

  private:
    platform::Bytes buffer_;
    std::size_t consumed_ = 0;
    std::vector<Message> ready_;
    std::size_t readyIndex_ = 0;
    bool failed_ = false;
};

// Parses one frame body; nothing when it is malformed.
std::optional<Message> decodeBody(const std::uint8_t* data, std::size_t size);

}  // namespace xpc
