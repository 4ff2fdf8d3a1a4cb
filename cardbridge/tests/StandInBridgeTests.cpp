// The stand-in bridge refuses what a bridge refuses, so that a fault of the client shows in the tests:
// requests are checked before any card or PIN is touched, and a right PIN restores the card's own number of
// tries.

#include "BridgeFixture.h"
#include "cardbridge/BridgeMessages.h"
#include "cardbridge/PindleClient.h"
#include "cardbridge/VexoConnectCard.h"
#include "outside/Common/Common.h"

using namespace cardtest;
using pindle::CardSigningEvent;
using pindle::PindleType;
using pindle::VexoConnectError;
using Kind = CardSigningEvent::Kind;

namespace {

class StandInBridge : public ::testing::Test {
  protected:
    void useCard(Json card) {
        bridge.addReader(reader("standard", std::move(card)));
        bridge.install();
    }

    std::shared_ptr<pindle::VexoConnectCard> makeCard() {
        const auto& certificate = cardCertificate.certificate;
        return std::make_shared<pindle::VexoConnectCard>(
            PindleType::standard, "Ann", "Peeters", "71715100070", *uniqueId(certificate),
            notValidBefore(certificate), notValidAfter(certificate), certificate.data());
    }

    // Signs on a standard reader, handing the PINs over one after the other; the events after each PIN.
    std::vector<CardSigningEvent> sign(const platform::Bytes& digest, const std::vector<std::string>& pins) {
        auto card = makeCard();
        auto stream = card->sign(digest);
        std::vector<CardSigningEvent> events;
        auto event = await(stream.next());
        for (const auto& pin : pins) {
            if (!event || !event->providePinClosure) {
                ADD_FAILURE() << "no PIN asked for";
                break;
            }
            event->providePinClosure(pin);
            event = await(stream.next());
            if (event)
                events.push_back(*event);
        }
        card->cancelOngoingOperation();
        return events;
    }

    // The card's tries left as the bridge keeps them; none before a PIN was checked.
    std::optional<int> triesLeft() const {
        auto entry = bridge.state().value("cards", Json::object()).value("0", Json::object());
        if (!entry.contains("triesLeft"))
            return std::nullopt;
        return entry["triesLeft"].get<int>();
    }

    Bridge bridge;
    testsupport::Issued cardCertificate = makeCardCertificate();
};

}  // namespace

// Each refusal through the transport: "general_error" with the reason in "resultRaw". The signing requests
// carry a wrong PIN, so a check made after the PIN would cost a try.
TEST_F(StandInBridge, RefusesWhatABridgeRefuses) {
    useCard(softCard(cardCertificate));
    Json certs;
    to_json(certs, pindle::UserCertsRequest{});
    pindle::SignRequest signature;
    signature.cert = platform::base64Encoded(cardCertificate.der());
    signature.digest = platform::base64Encoded(sha256Of("the document"));
    signature.pin = "0000";
    Json sign;
    to_json(sign, signature);
    auto with = [](Json request, const std::string& key, const std::string& value) {
        request[key] = value;
        return request;
    };

    struct Row {
        const char* name;
        Json request;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"card list from another origin", with(certs, "origin", "https://example.org"), "origin not allowed"},
        {"signature from another origin", with(sign, "origin", "https://example.org"), "origin not allowed"},
        {"card list for another key usage", with(certs, "keyusage", "NONREPUDIATION"),
         "unsupported keyusage"},
        {"unknown algo", with(sign, "algo", "SHA-257"), "unsupported algo"},
        {"SHA-256 over 20 bytes", with(sign, "digest", platform::base64Encoded(platform::Bytes(20, 1))),
         "digest length does not match algo"},
        {"SHA-384 over 32 bytes", with(sign, "algo", "SHA-384"), "digest length does not match algo"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pindle::VexoConnectInvoker invoker;
        auto reply = await(invoker.exchange(*platform::json::dump(row.request)));
        try {
            pindle::VexoConnectInvoker::decodeReply<pindle::SignReply>(reply);
            ADD_FAILURE() << "accepted: " << reply;
        } catch (const VexoConnectError& e) {
            EXPECT_EQ(e.kind(), VexoConnectError::Case::errorResponse);
            EXPECT_EQ(e.result(), "general_error");
            EXPECT_EQ(e.resultRaw(), row.reason);
        }
    }
    EXPECT_FALSE(triesLeft());
    EXPECT_TRUE(allRunsGone(bridge));
}

// The client's own requests pass; a digest that is not a SHA-256 digest, or an origin the bridge does not
// serve, reaches the user as a failure.
TEST_F(StandInBridge, TheClientsFaultsShowAsFailures) {
    useCard(softCard(cardCertificate));
    auto events = sign(platform::Bytes(20, 1), {"1234"});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::failed);
    EXPECT_EQ(events[0].errorCode, "001");
    EXPECT_EQ(events[0].errorValue, "general_error");
    EXPECT_FALSE(triesLeft());

    bridge.setup()["origins"] = Json::array({"https://example.org"});
    bridge.install();
    auto client = pindle::PindleClientProvider::keychainClient({});
    EXPECT_TRUE(await(client->onlyCurrentCards()).empty());
    events = sign(sha256Of("the document"), {"1234"});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].errorCode, "001");
    EXPECT_EQ(events[0].errorValue, "general_error");
    EXPECT_FALSE(triesLeft());

    bridge.setup()["origins"] = Json::array({"https://example.org", std::string(pindle::bridgeOrigin)});
    bridge.install();
    EXPECT_EQ(await(client->onlyCurrentCards()).size(), 1u);
    events = sign(sha256Of("the document"), {"1234"});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::finished);
    EXPECT_TRUE(allRunsGone(bridge));
}

TEST_F(StandInBridge, ARightPinRestoresTheCardsTries) {
    struct Row {
        const char* name;
        int tries;
        std::optional<int> maxTries;
        std::vector<std::string> pins;
        std::vector<int> attemptsLeft;  // of the wrongPin events
        int after;
    };
    const std::vector<Row> rows = {
        {"five tries", 5, std::nullopt, {"0000", "1111", "1234"}, {3, 3}, 5},
        {"one try left of three", 1, 3, {"1234"}, {}, 3},
        {"two tries left of three", 2, 3, {"0000", "1234"}, {1}, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bridge bridge;
        Json card = softCard(cardCertificate, "1234", row.tries);
        if (row.maxTries)
            card["maxTries"] = *row.maxTries;
        bridge.addReader(reader("standard", card));
        bridge.install();

        auto events = sign(sha256Of("the document"), row.pins);
        ASSERT_EQ(events.size(), row.pins.size());
        std::vector<int> attemptsLeft;
        for (std::size_t i = 0; i + 1 < events.size(); ++i) {
            EXPECT_EQ(events[i].kind, Kind::wrongPin);
            attemptsLeft.push_back(events[i].attemptsLeft);
        }
        EXPECT_EQ(attemptsLeft, row.attemptsLeft);
        EXPECT_EQ(events.back().kind, Kind::finished);
        EXPECT_EQ(bridge.state()["cards"]["0"]["triesLeft"], row.after);
        EXPECT_TRUE(allRunsGone(bridge));
    }
}
