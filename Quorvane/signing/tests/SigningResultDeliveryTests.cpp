// The signing request's answer on its own: what the server's signatures make of it for a bulk request and for
// the token, and how a flow that ends without signatures answers each of them.
#include <gtest/gtest.h>

#include "Quorvane/signing/SigningResultDelivery.h"
#include "Quorvane/testing/RecordingXPCClient.h"
#include "outside/Logger/LoggerClient.h"

namespace {

using platform::Bytes;
using Lines = std::vector<std::string>;

const std::string callback = "https://example.org/cb?page=1";

struct Delivery {
    explicit Delivery(std::optional<std::string> callbackLink)
        : delivery(std::move(callbackLink), xpc, std::make_shared<LoggerClient>("ui"),
                   [this](const std::string& url) { opened.push_back(url); }) {}

    std::shared_ptr<testsupport::RecordingXPCClient> xpc =
        std::make_shared<testsupport::RecordingXPCClient>();
    Lines opened;
    SigningResultDelivery delivery;
};

std::string describe(const std::optional<SigningResultDelivery::Answer>& answer) {
    if (!answer)
        return "none";
    if (const auto* url = std::get_if<std::string>(&*answer))
        return "open " + *url;
    return "signature " + std::to_string(std::get<Bytes>(*answer).size()) + " bytes";
}

TEST(SigningResultDeliveryTest, TheSignaturesAnswerTheCallbackJoinedOrTheTokenWithTheFirstUsableOne) {
    struct Case {
        const char* name;
        std::optional<std::string> callbackLink;
        Lines signatures;
        std::string answer;
    };
    const Case cases[] = {
        {"bulk", callback, {"AQID", "BAUG"}, "open " + callback + "&signatures=AQID,BAUG"},
        {"bulk without signatures", callback, {}, "open " + callback + "&signatures="},
        // Only the separator goes out as it is.
        {"bulk, padded signatures", callback, {"AQ==", "Bw"}, "open " + callback + "&signatures=AQ%3D%3D,Bw"},
        {"bulk, a signature with a comma",
         callback,
         {"A,B", "C"},
         "open " + callback + "&signatures=A%2CB,C"},
        {"token", std::nullopt, {"AQID", "BAUG"}, "signature 3 bytes"},
        {"token, Base64url", std::nullopt, {"-_8"}, "signature 2 bytes"},
        {"token without signatures", std::nullopt, {}, "none"},
        {"token, an empty signature", std::nullopt, {""}, "none"},
        {"token, a signature that does not decode", std::nullopt, {"AQ!D"}, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Delivery rig(c.callbackLink);
        const auto answer = rig.delivery.answer(c.signatures);
        EXPECT_EQ(describe(answer), c.answer);
        EXPECT_TRUE(rig.xpc->calls.empty()) << "nothing goes out before the answer is given";
        EXPECT_TRUE(rig.opened.empty());
    }
}

TEST(SigningResultDeliveryTest, EachRequesterHearsOnceHowTheFlowEnded) {
    struct Case {
        const char* name;
        std::optional<std::string> callbackLink;
        std::function<void(SigningResultDelivery&)> act;
        Lines opened;
        Lines xpcCalls;
        Lines errors;
    };
    const AppError error(ErrorCodeCategory::app, std::nullopt, "305", "Expired & gone", std::nullopt);
    const Case cases[] = {
        {"bulk: signatures, then a later ending",
         callback,
         [&](SigningResultDelivery& d) {
             d.deliver(*d.answer({"AQID"}));
             d.deliverFailure(error, false);
         },
         {callback + "&signatures=AQID"},
         {},
         {}},
        {"bulk: an error, once",
         callback,
         [&](SigningResultDelivery& d) {
             d.deliverFailure(error, true);
             d.deliverFailure(std::nullopt, false);
         },
         {callback + "&error=Expired%20%26%20gone"},
         {},
         {}},
        {"bulk: cancelled",
         callback,
         [](SigningResultDelivery& d) { d.deliverFailure(std::nullopt, true); },
         {callback + "&error=Cancelled"},
         {},
         {}},
        {"bulk: a callback that is no web address",
         "file:///tmp/cb",
         [](SigningResultDelivery& d) { d.deliverFailure(std::nullopt, true); },
         {},
         {},
         {"Bulk signing callback not opened: not an http or https URL"}},
        {"token: its signature",
         std::nullopt,
         [](SigningResultDelivery& d) { d.deliver(*d.answer({"AQID"})); },
         {},
         {"signature AQID"},
         {}},
        {"token: the first ending only",
         std::nullopt,
         [&](SigningResultDelivery& d) {
             d.deliverFailure(error, true);
             d.deliverFailure(error, false);
         },
         {},
         {"cancel"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Delivery rig(c.callbackLink);
        c.act(rig.delivery);
        EXPECT_EQ(rig.opened, c.opened);
        EXPECT_EQ(rig.xpc->calls, c.xpcCalls);
        Lines errors;
        for (const auto& line : log.lines())
            if (line.level == LogLevel::error)
                errors.push_back(line.message);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(rig.delivery.hasAlreadyOpenedCallback(), c.callbackLink.has_value());
    }
}

}  // namespace
