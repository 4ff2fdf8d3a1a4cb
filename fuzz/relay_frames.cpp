// The relay's frames (platform/xpc Message codec, with the relay's interfaces from relay/common). The input
// is a received byte stream: read whole, byte by byte and in two pieces at a point the input names, the
// decoder gives the same messages and the same failure. Every message it gives encodes back to the very bytes
// it came from, and is one the relay's interfaces either take or refuse.
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/xpc/Message.h"
#include "relay/common/XPCProtocols.h"

namespace {

struct Outcome {
    std::vector<xpc::Message> messages;
    bool failed = false;
    bool operator==(const Outcome&) const = default;
};

// Feeds the pieces in order; stops at the first malformed frame, as a connection does.
Outcome read(const std::vector<std::pair<const std::uint8_t*, std::size_t>>& pieces) {
    xpc::FrameDecoder decoder;
    Outcome outcome;
    for (auto [data, size] : pieces) {
        const bool malformed = decoder.feed(data, size) == xpc::FrameDecoder::Status::malformed;
        while (auto message = decoder.next())
            outcome.messages.push_back(std::move(*message));
        if (malformed) {
            outcome.failed = true;
            break;
        }
    }
    FUZZ_CHECK(decoder.failed() == outcome.failed, "the decoder tells its failure");
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Outcome whole = read({{data, size}});

    std::vector<std::pair<const std::uint8_t*, std::size_t>> bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes.emplace_back(data + i, 1);
    FUZZ_CHECK(read(bytes) == whole, "byte by byte as whole");
    const std::size_t split = size ? (data[0] * 256u + data[size - 1]) % (size + 1) : 0;
    FUZZ_CHECK(read({{data, split}, {data + split, size - split}}) == whole, "in two pieces as whole");

    // The frames that were read, encoded again, are the input's first bytes.
    std::size_t at = 0;
    for (const auto& message : whole.messages) {
        const auto frame = xpc::encodeFrame(message);
        FUZZ_CHECK(frame.size() <= size - at && std::equal(frame.begin(), frame.end(), data + at),
                   "a message encodes to the bytes it came from");
        at += frame.size();
        for (const auto* interface : {&relay::xpcServiceInterface(), &relay::xpcClientAppInterface(),
                                      &relay::xpcClientTokenInterface()})
            interface->accepts(message);
        for (const auto& argument : message.arguments)
            if (const auto* role = std::get_if<std::int64_t>(&argument))
                FUZZ_CHECK(!relay::roleText(*role).empty(), "every role has a text");
    }
    return 0;
}
