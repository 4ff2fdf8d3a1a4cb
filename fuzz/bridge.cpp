// The card-reader bridge's messages (cardbridge/). The input is the payload of a reply frame: the invoker's
// UTF-8 check must agree with nlohmann's own reading of UTF-8, and a valid text is decoded as each reply the
// app reads, failing only with the bridge's errors; a decoded sign reply encodes and decodes back alike.
// Requests carry outside text too (the card's certificate, the PIN): made from the input's lines, they are
// written exactly when their texts are UTF-8 and read back with the same texts.
#include <algorithm>
#include <string>
#include <vector>

#include "cardbridge/BridgeMessages.h"
#include "cardbridge/VexoConnectError.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "fuzz/FuzzCheck.h"

namespace json = platform::json;
using pindle::VexoConnectInvoker;

namespace {

bool nlohmannTakesUTF8(const std::string& text) {
    return json::dump(json::Json(text)).has_value();
}

template <class Reply>
std::optional<Reply> decoded(const std::string& text) {
    try {
        return VexoConnectInvoker::decodeReply<Reply>(text);
    } catch (const json::DecodingError&) {
    } catch (const pindle::VexoConnectError&) {
    }
    return std::nullopt;
}

bool isOK(std::string result) {
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return result == "OK";
}

void checkReply(const std::string& text) {
    FUZZ_CHECK(pindle::isValidUTF8(text) == nlohmannTakesUTF8(text), "one reading of UTF-8");
    if (!pindle::isValidUTF8(text))
        return;
    if (auto certs = decoded<pindle::UserCertsReply>(text))
        FUZZ_CHECK(isOK(certs->result), "only a reply that says OK is taken");
    if (auto sign = decoded<pindle::SignReply>(text)) {
        FUZZ_CHECK(isOK(sign->result), "only a reply that says OK is taken");
        json::Json written;
        to_json(written, *sign);
        auto again = decoded<pindle::SignReply>(json::dump(written).value());
        FUZZ_CHECK(again && again->result == sign->result && again->correlationId == sign->correlationId &&
                       again->operation == sign->operation && again->signature == sign->signature &&
                       again->message == sign->message,
                   "a sign reply reads back as written");
    }
}

void checkRequest(std::string_view input) {
    std::vector<std::string> lines;
    while (lines.size() < 4) {
        const auto end = input.find('\n');
        lines.emplace_back(input.substr(0, end));
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    lines.resize(4);
    pindle::SignRequest request;
    request.cert = lines[0];
    request.digest = lines[1];
    request.pin = lines[2];
    request.correlationId = lines[3];
    json::Json written;
    to_json(written, request);
    const auto text = json::dump(written);
    const bool allUTF8 =
        std::all_of(lines.begin(), lines.end(), [](const auto& l) { return pindle::isValidUTF8(l); });
    FUZZ_CHECK(text.has_value() == allUTF8, "a request is written exactly when its texts are UTF-8");
    if (!text)
        return;
    const auto read = json::parse(*text);
    FUZZ_CHECK(json::required<std::string>(read, "cert") == request.cert &&
                   json::required<std::string>(read, "digest") == request.digest &&
                   json::required<std::string>(read, "pin") == request.pin &&
                   json::required<std::string>(read, "correlationId") == request.correlationId,
               "a request reads back with its texts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    checkReply(std::string(input));
    checkRequest(input);
    return 0;
}
