#pragma once
// One request to the card-reader bridge: one run of the bridge program, started without arguments, that reads
// one frame (4-byte little-endian length + UTF-8 JSON) from its standard input and answers with one frame on
// its standard output. The exchange runs asynchronously on the main thread; the process is terminated on
// every path after its launch and reaped once it has exited.
#include <QCoroTask>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cardbridge/BridgeMessages.h"
#include "cardbridge/VexoConnectError.h"
#include "platform/Json.h"
#include "platform/Scheduler.h"

namespace pindle {

// The file name of the bridge program, installed next to the app's program.
inline constexpr const char* bridgeResourceName = "VexoConnect_2_12";

// Replies above this size are refused: a broken bridge must not make the app allocate gigabytes.
inline constexpr std::uint32_t maxReplyLength = 16u * 1024 * 1024;

// How long a bridge may take to answer when nobody types on the reader: a card list, or a signature whose PIN
// was typed in the app. A reader answers those within a few seconds.
inline constexpr std::chrono::seconds bridgeTimeLimit{20};

class VexoConnectInvoker {
  public:
    // An exchange that waits for the bridge as long as it takes, next to any other exchange.
    VexoConnectInvoker() = default;
    // timeLimit: once started, the bridge must answer within it (timed on the scheduler), else it is
    // terminated and the exchange fails with ProcessError timedOut; none: it may take as long as it needs (a
    // PIN typed on the reader). reader: exchanges for the same reader take turns, process-wide: one starts
    // its bridge only once the bridge of the one before has exited; empty: no turns.
    VexoConnectInvoker(std::optional<platform::Scheduler::Duration> timeLimit,
                       std::shared_ptr<platform::Scheduler> scheduler, std::string reader = {});
    VexoConnectInvoker(const VexoConnectInvoker&) = delete;
    VexoConnectInvoker& operator=(const VexoConnectInvoker&) = delete;

    // Encodes the request, runs the exchange and decodes the reply: first as BaseResponse (the decoder's
    // error is passed on), then the "OK" check in any letter case (else errorResponse), then as Reply (else
    // decodingFailed).
    template <class Reply, class Request>
    QCoro::Task<Reply> invoke(Request request) {
        Json json;
        to_json(json, request);
        auto text = platform::json::dump(json);
        if (!text)
            throw VexoConnectError::encodingFailed();
        std::string replyText = co_await exchange(std::move(*text));
        co_return decodeReply<Reply>(replyText);
    }

    // Runs the bridge once with one JSON text and gives the reply text. Errors: executableNotFound (nothing
    // started), ProcessError (launch or read failure, time limit, cancel), unexpectedEOF (the output ended
    // early, the bridge stopped taking its input, or the announced length exceeds maxReplyLength),
    // invalidReplyEncoding.
    QCoro::Task<std::string> exchange(std::string json);

    // Ends this invoker's exchange, the one under way or any later one: its bridge is terminated (or never
    // started) and the exchange fails with ProcessError cancelled.
    void cancel();

    template <class Reply>
    static Reply decodeReply(const std::string& text) {
        auto json = platform::json::parse(text);
        auto base = platform::json::decode<BaseResponse>(json);
        std::string upper = base.result;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
        if (upper != "OK")
            throw VexoConnectError::errorResponse(base.result, base.resultRaw);
        try {
            return platform::json::decode<Reply>(json);
        } catch (const platform::json::DecodingError& e) {
            throw VexoConnectError::decodingFailed(e.what(), text);
        }
    }

    // Where the bridge program is: the location set here when there is one (tests), else the deployment
    // configuration's "bridgeProgram", else "VexoConnect_2_12" next to the running program. Nothing when that
    // file does not exist.
    static std::optional<std::filesystem::path> executableLocation();
    static void setExecutableLocationOverride(std::optional<std::filesystem::path> location);

    // Bridge processes started and not yet reaped.
    static std::size_t liveProcessCount();

  private:
    class Run;
    std::optional<platform::Scheduler::Duration> timeLimit_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::string reader_;
    std::weak_ptr<Run> run_;
    bool cancelled_ = false;
};

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool isValidUTF8(std::string_view bytes);

}  // namespace pindle
