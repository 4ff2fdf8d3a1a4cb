// Card signatures against the stand-in bridge: PIN sequences, pinpad readers, removal, the result codes, and
// one PIN attempt at a time.

#include <regex>

#include "BridgeFixture.h"
#include "cardbridge/VexoConnectCard.h"
#include "outside/Common/Common.h"
#include "platform/VirtualScheduler.h"

using namespace cardtest;
using pindle::CardSigningEvent;
using pindle::PindleType;
using pindle::VexoConnectCard;
using Kind = CardSigningEvent::Kind;
using Stream = platform::AsyncStream<CardSigningEvent>;

namespace {

std::optional<CardSigningEvent> next(Stream& stream) {
    return await(stream.next());
}

// The next event, which must be of the kind.
CardSigningEvent expectNext(Stream& stream, Kind kind) {
    auto event = next(stream);
    if (!event) {
        ADD_FAILURE() << "the stream ended";
        return CardSigningEvent::of(Kind::failed);
    }
    EXPECT_EQ(event->kind, kind) << "error " << event->errorCode << " " << event->errorValue;
    return *event;
}

void expectEnded(Stream& stream) {
    EXPECT_FALSE(next(stream)) << "the stream goes on";
}

class CardSigning : public ::testing::Test {
  protected:
    std::shared_ptr<VexoConnectCard> makeCard(
        PindleType type, std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live()) {
        auto certificate = cardCertificate.certificate;
        return std::make_shared<VexoConnectCard>(
            type, "Ann", "Peeters", "71715100070", *uniqueId(certificate), notValidBefore(certificate),
            notValidAfter(certificate), certificate.data(), std::move(scheduler));
    }
    void useReader(const std::string& type, Json card, Json pinpad = Json()) {
        Json r = reader(type, card);
        if (!pinpad.is_null())
            r["pinpad"] = pinpad;
        bridge.addReader(r);
        bridge.install();
    }

    Bridge bridge;
    testsupport::Issued cardCertificate = makeCardCertificate();
    platform::Bytes digest = sha256Of("the document");
};

}  // namespace

TEST_F(CardSigning, WrongWrongRightOnAStandardReader) {
    useReader("standard", softCard(cardCertificate, "1234", 3));
    auto card = makeCard(PindleType::standard);

    auto stream = card->sign(digest);
    auto event = expectNext(stream, Kind::pinRequested);
    QCoreApplication::processEvents();
    EXPECT_EQ(bridge.runs(), 0u) << "no bridge before the PIN";

    event.providePinClosure("0000");
    event = expectNext(stream, Kind::wrongPin);
    EXPECT_EQ(event.attemptsLeft, 2);
    event.providePinClosure("1111");
    event = expectNext(stream, Kind::wrongPin);
    EXPECT_EQ(event.attemptsLeft, 1);
    event.providePinClosure("1234");
    event = expectNext(stream, Kind::finished);
    expectEnded(stream);
    EXPECT_TRUE(verifiesDigest(cardCertificate.der(), digest, event.signature));

    ASSERT_EQ(bridge.runs(), 3u);
    std::set<std::string> correlationIds;
    const std::regex upperUUID("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    std::vector<std::string> pins;
    for (std::size_t run = 0; run < 3; ++run) {
        auto request = bridge.request(run);
        pins.push_back(request["pin"]);
        correlationIds.insert(request["correlationId"].get<std::string>());
        EXPECT_TRUE(std::regex_match(request["correlationId"].get<std::string>(), upperUUID));
        EXPECT_EQ(request["cert"], platform::base64Encoded(cardCertificate.der()));
        EXPECT_EQ(request["digest"], platform::base64Encoded(digest));
    }
    EXPECT_EQ(pins, (std::vector<std::string>{"0000", "1111", "1234"}));
    EXPECT_EQ(correlationIds.size(), 3u);
    EXPECT_TRUE(allRunsGone(bridge));
}

TEST_F(CardSigning, ABlockedCardKeepsTheOperationOpenUntilCancelled) {
    useReader("standard", softCard(cardCertificate, "1234", 1));
    auto card = makeCard(PindleType::standard);

    auto stream = card->sign(digest);
    expectNext(stream, Kind::pinRequested).providePinClosure("0000");
    auto event = expectNext(stream, Kind::failed);
    EXPECT_EQ(event.errorCode, "003");
    EXPECT_EQ(event.errorValue, "Card PIN is blocked");

    // Still open: a retry asks for the PIN again, and the blocked card stays blocked with the right PIN.
    card->retryOngoingOperation();
    expectNext(stream, Kind::pinRequested).providePinClosure("1234");
    EXPECT_EQ(expectNext(stream, Kind::failed).errorCode, "003");
    card->cancelOngoingOperation();
    expectEnded(stream);
}

TEST_F(CardSigning, PinpadReaderTakesThePinFromTheReader) {
    useReader("pinpad", softCard(cardCertificate, "1234"), Json{{"pin", "1234"}, {"delayMs", 50}});
    auto card = makeCard(PindleType::pinPad);

    auto stream = card->sign(digest);
    expectNext(stream, Kind::waitingForHarwarePinInput);
    auto event = expectNext(stream, Kind::finished);
    expectEnded(stream);
    EXPECT_TRUE(verifiesDigest(cardCertificate.der(), digest, event.signature));
    ASSERT_EQ(bridge.runs(), 1u);
    EXPECT_EQ(bridge.request(0)["pin"], "null");
}

TEST_F(CardSigning, PinpadCancelAndTimeOut) {
    {
        SCOPED_TRACE("cancelled on the reader: open, and a retry tries again");
        useReader("pinpad", softCard(cardCertificate), Json{{"outcome", "cancel"}});
        auto card = makeCard(PindleType::pinPad);
        auto stream = card->sign(digest);
        expectNext(stream, Kind::waitingForHarwarePinInput);
        expectNext(stream, Kind::failedButCouldBeCancelledOrWrongPin);
        card->retryOngoingOperation();
        expectNext(stream, Kind::waitingForHarwarePinInput);
        expectNext(stream, Kind::failedButCouldBeCancelledOrWrongPin);
        card->cancelOngoingOperation();
        expectEnded(stream);
        EXPECT_EQ(bridge.runs(), 2u);
    }
    {
        SCOPED_TRACE("timed out on the reader: a general failure");
        Bridge other;
        other.addReader(reader("pinpad", softCard(cardCertificate)));
        other.setup()["readers"][0]["pinpad"] = Json{{"outcome", "timeout"}};
        other.install();
        auto card = makeCard(PindleType::pinPad);
        auto stream = card->sign(digest);
        expectNext(stream, Kind::waitingForHarwarePinInput);
        auto event = expectNext(stream, Kind::failed);
        EXPECT_EQ(event.errorCode, "001");
        EXPECT_EQ(event.errorValue, "general_error");
        expectEnded(stream);
    }
}

TEST_F(CardSigning, CardRemovedDuringTheSignature) {
    for (auto type : {PindleType::standard, PindleType::pinPad}) {
        SCOPED_TRACE(std::string(pindle::rawValue(type)));
        Bridge bridge;
        Json card = softCard(cardCertificate);
        card["removeDuringAuth"] = true;
        bridge.addReader(reader(std::string(pindle::rawValue(type)), card));
        bridge.setup()["readers"][0]["pinpad"] = Json{{"pin", "1234"}};
        bridge.install();

        auto signer = makeCard(type);
        auto stream = signer->sign(digest);
        if (type == PindleType::standard)
            expectNext(stream, Kind::pinRequested).providePinClosure("1234");
        else
            expectNext(stream, Kind::waitingForHarwarePinInput);
        expectNext(stream, Kind::failedBecauseOfCardRemoval);
        expectEnded(stream);
    }
}

TEST_F(CardSigning, OnePinAttemptAtATime) {
    useReader("standard", softCard(cardCertificate, "1234", 3));
    auto card = makeCard(PindleType::standard);

    auto stream = card->sign(digest);
    auto first = expectNext(stream, Kind::pinRequested);
    // A double submit, and a retry while the attempt is under way, would spend a second try.
    first.providePinClosure("0000");
    first.providePinClosure("0000");
    card->retryOngoingOperation();
    auto wrong = expectNext(stream, Kind::wrongPin);
    EXPECT_EQ(wrong.attemptsLeft, 2);
    // The spent callback stays spent.
    first.providePinClosure("0000");
    QCoreApplication::processEvents();
    EXPECT_EQ(bridge.runs(), 1u);

    wrong.providePinClosure("1234");
    wrong.providePinClosure("1234");
    expectNext(stream, Kind::finished);
    expectEnded(stream);
    EXPECT_EQ(bridge.runs(), 2u);
    EXPECT_EQ(bridge.state()["cards"]["0"]["triesLeft"], 3);
}

TEST_F(CardSigning, ARetryDuringAPinpadAttemptStartsNoSecondAttempt) {
    useReader("pinpad", softCard(cardCertificate), Json{{"pin", "1234"}, {"delayMs", 300}});
    auto card = makeCard(PindleType::pinPad);
    auto stream = card->sign(digest);
    expectNext(stream, Kind::waitingForHarwarePinInput);
    card->retryOngoingOperation();
    expectNext(stream, Kind::finished);
    expectEnded(stream);
    EXPECT_EQ(bridge.runs(), 1u);
}

TEST_F(CardSigning, CancelledAndReplacedAttemptsChangeNothing) {
    // Run 1 would fail late; the cancel ends it instead, and that failure reaches the card while the next
    // operation runs. Run 2 succeeds.
    bridge.script(
        Json::array({Json{{"delayMs", 200},
                          {"reply", {{"result", "other"}, {"correlationId", "C"}, {"operation", "AUTH"}}}},
                     Json{{"delayMs", 600}}}));
    useReader("pinpad", softCard(cardCertificate), Json{{"pin", "1234"}});
    auto card = makeCard(PindleType::pinPad);

    auto cancelled = card->sign(digest);
    expectNext(cancelled, Kind::waitingForHarwarePinInput);
    ASSERT_TRUE(eventually([&] { return bridge.runs() == 1; }, bridgeLimit));
    card->cancelOngoingOperation();
    expectEnded(cancelled);

    // The cancelled attempt's failure arrives while this operation runs and must not end it.
    auto current = card->sign(digest);
    expectNext(current, Kind::waitingForHarwarePinInput);
    expectNext(current, Kind::finished);
    expectEnded(current);
    EXPECT_EQ(bridge.runs(), 2u);
    EXPECT_TRUE(allRunsGone(bridge));
}

// A pinpad exchange holds the reader until the PIN is typed. Ending its operation terminates its bridge, and
// the next exchange for the card, also from another object of the same card (a later reading), starts only
// once that bridge has exited; while an exchange is live, a new one waits for it. The bridges take a moment
// to exit.
TEST_F(CardSigning, OneBridgeAtATimeForACard) {
    bridge.setup()["terminateDelayMs"] = 300;
    bridge.script(Json::array({Json{{"fault", "hang"}}, Json{{"fault", "hang"}}}));
    useReader("pinpad", softCard(cardCertificate), Json{{"pin", "1234"}});
    auto card = makeCard(PindleType::pinPad);
    auto sameCard = makeCard(PindleType::pinPad);

    auto cancelled = card->sign(digest);
    expectNext(cancelled, Kind::waitingForHarwarePinInput);
    ASSERT_TRUE(eventually([&] { return bridge.runs() == 1; }, bridgeLimit));
    card->cancelOngoingOperation();
    expectEnded(cancelled);

    auto replaced = sameCard->sign(digest);
    expectNext(replaced, Kind::waitingForHarwarePinInput);
    ASSERT_TRUE(eventually([&] { return bridge.runs() == 2; }, bridgeLimit));

    auto last = card->sign(digest);
    expectNext(last, Kind::waitingForHarwarePinInput);
    sameCard->cancelOngoingOperation();
    expectEnded(replaced);
    auto event = expectNext(last, Kind::finished);
    expectEnded(last);
    EXPECT_TRUE(verifiesDigest(cardCertificate.der(), digest, event.signature));

    EXPECT_TRUE(allRunsGone(bridge));
    auto records = bridge.records();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records)
        EXPECT_EQ(record["overlapping"], Json::array()) << "run " << record["run"];
    EXPECT_TRUE(records[0].value("terminated", false));
    EXPECT_TRUE(records[1].value("terminated", false));
}

// With the PIN typed in the app the bridge must answer within the time limit, else the attempt fails and the
// bridge is terminated; a PIN typed on a pinpad is waited for as long as it takes. The bridge answers only
// when the test opens its gate, after the (virtual) clock has moved.
TEST_F(CardSigning, TimeLimitOfAnAttempt) {
    using std::chrono::milliseconds;
    struct Row {
        const char* name;
        PindleType type;
        std::chrono::duration<double> elapsed;
        Kind kind;
    };
    const std::vector<Row> rows = {
        {"standard, just under the limit", PindleType::standard, pindle::bridgeTimeLimit - milliseconds(1),
         Kind::finished},
        {"standard, at the limit", PindleType::standard, pindle::bridgeTimeLimit, Kind::failed},
        {"pinpad, an hour", PindleType::pinPad, std::chrono::hours(1), Kind::finished},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto gate = testsupport::makeTempDir("gate") / "open";
        Bridge bridge;
        bridge.addReader(reader(std::string(pindle::rawValue(row.type)), softCard(cardCertificate)));
        bridge.setup()["readers"][0]["pinpad"] = Json{{"pin", "1234"}};
        bridge.script(Json::array({Json{{"waitForFile", gate.string()}}}));
        bridge.install();
        auto scheduler = std::make_shared<platform::VirtualScheduler>();
        auto card = makeCard(row.type, scheduler);

        auto stream = card->sign(digest);
        if (row.type == PindleType::standard)
            expectNext(stream, Kind::pinRequested).providePinClosure("1234");
        else
            expectNext(stream, Kind::waitingForHarwarePinInput);
        ASSERT_TRUE(eventually([&] { return bridge.runs() == 1; }, bridgeLimit));
        scheduler->advance(row.elapsed);
        testsupport::writeFile(gate, "");

        auto event = expectNext(stream, row.kind);
        expectEnded(stream);
        EXPECT_TRUE(allRunsGone(bridge));
        if (row.kind == Kind::failed) {
            EXPECT_EQ(event.errorCode, "002");
            EXPECT_EQ(event.errorValue, "The card reader did not answer in time.");
            EXPECT_TRUE(bridge.records().at(0).value("terminated", false));
        }
        EXPECT_EQ(scheduler->activeTimerCount(), 0u);
    }
}

TEST_F(CardSigning, ASecondSignEndsTheOperationItReplaces) {
    useReader("standard", softCard(cardCertificate));
    auto card = makeCard(PindleType::standard);
    auto first = card->sign(digest);
    auto stale = expectNext(first, Kind::pinRequested);
    auto second = card->sign(digest);
    expectEnded(first);
    auto fresh = expectNext(second, Kind::pinRequested);
    stale.providePinClosure("1234");
    QCoreApplication::processEvents();
    EXPECT_EQ(bridge.runs(), 0u);
    fresh.providePinClosure("1234");
    expectNext(second, Kind::finished);
}

// The reply table: what each answer of the bridge becomes, and whether the operation stays open.
TEST_F(CardSigning, ResultCodes) {
    struct Row {
        const char* name;
        PindleType type;
        Json step;
        Kind kind;
        std::string code = {};
        std::string value = {};
        bool open = false;
        int attempts = 0;
        std::size_t signatureLength = 0;
    };
    auto replyStep = [](const std::string& result, std::optional<std::string> raw = std::nullopt,
                        std::optional<std::string> signature = std::nullopt) {
        Json reply{{"result", result}, {"correlationId", "C"}, {"operation", "AUTH"}};
        if (raw)
            reply["resultRaw"] = *raw;
        if (signature)
            reply["signature"] = *signature;
        return Json{{"reply", reply}};
    };
    const auto standard = PindleType::standard;
    const auto pinPad = PindleType::pinPad;
    std::vector<Row> rows = {
        {"256-byte signature", standard,
         replyStep("OK", std::nullopt, platform::base64Encoded(platform::Bytes(256, 7))), Kind::finished, "",
         "", false, 0, 256},
        {"511-byte signature", standard,
         replyStep("OK", std::nullopt, platform::base64Encoded(platform::Bytes(511, 7))), Kind::finished, "",
         "", false, 0, 511},
        {"empty signature", standard, replyStep("OK", std::nullopt, ""), Kind::finished},
        {"512-byte signature", standard,
         replyStep("OK", std::nullopt, platform::base64Encoded(platform::Bytes(512, 7))), Kind::failed, "000",
         "Can't decode received signature"},
        {"no signature", standard, replyStep("ok"), Kind::failed, "000", "Can't decode received signature"},
        {"signature not Base64", standard, replyStep("OK", std::nullopt, "AAE"), Kind::failed, "000",
         "Can't decode received signature"},
        {"3 attempts left", standard, replyStep("pin_3_attempts_left"), Kind::wrongPin, "", "", true, 3},
        {"upper-case code", standard, replyStep("PIN_1_ATTEMPT_LEFT"), Kind::failed, "001",
         "PIN_1_ATTEMPT_LEFT"},
        {"no card", standard, replyStep("no_card"), Kind::failedBecauseOfCardRemoval},
        {"blocked", pinPad, replyStep("card_blocked"), Kind::failed, "003", "Card PIN is blocked", true},
        {"27010 on a pinpad", pinPad, replyStep("general_error", "27010"),
         Kind::failedButCouldBeCancelledOrWrongPin, "", "", true},
        {"27010 on a standard reader", standard, replyStep("general_error", "27010"), Kind::failed, "001",
         "general_error"},
        {"2148532246 on a pinpad", pinPad, replyStep("general_error", "2148532246"),
         Kind::failedBecauseOfCardRemoval},
        {"general error without detail", pinPad, replyStep("general_error"), Kind::failed, "001",
         "general_error"},
        {"unknown code", standard, replyStep("reader_on_fire"), Kind::failed, "001", "reader_on_fire"},
        {"output ends early", standard, Json{{"fault", "shortPayload"}}, Kind::failed, "002",
         pindle::VexoConnectError::unexpectedEOF().what()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bridge bridge;
        bridge.addReader(reader(std::string(pindle::rawValue(row.type)), softCard(cardCertificate)));
        bridge.setup()["readers"][0]["pinpad"] = Json{{"outcome", "cancel"}};
        bridge.script(Json::array({row.step}));
        bridge.install();
        auto card = makeCard(row.type);
        auto stream = card->sign(digest);
        if (row.type == standard)
            expectNext(stream, Kind::pinRequested).providePinClosure("1234");
        else
            expectNext(stream, Kind::waitingForHarwarePinInput);

        auto event = expectNext(stream, row.kind);
        EXPECT_EQ(event.errorCode, row.code);
        EXPECT_EQ(event.errorValue, row.value);
        EXPECT_EQ(event.attemptsLeft, row.attempts);
        EXPECT_EQ(event.signature.size(), row.signatureLength);
        if (row.kind == Kind::wrongPin) {
            EXPECT_TRUE(event.providePinClosure);
        }
        if (row.open) {
            // An open operation can be retried; an ended one cannot.
            card->retryOngoingOperation();
            expectNext(stream, row.type == standard ? Kind::pinRequested : Kind::waitingForHarwarePinInput);
            card->cancelOngoingOperation();
        } else {
            card->retryOngoingOperation();
        }
        expectEnded(stream);
        EXPECT_TRUE(allRunsGone(bridge));
    }
}

TEST_F(CardSigning, MissingBridgeFailsTheAttempt) {
    pindle::VexoConnectInvoker::setExecutableLocationOverride(testsupport::makeTempDir("none") /
                                                              "VexoConnect_2_12");
    auto card = makeCard(PindleType::pinPad);
    auto stream = card->sign(digest);
    expectNext(stream, Kind::waitingForHarwarePinInput);
    auto event = expectNext(stream, Kind::failed);
    EXPECT_EQ(event.errorCode, "002");
    EXPECT_EQ(event.errorValue, pindle::VexoConnectError::executableNotFound().what());
    expectEnded(stream);
}

TEST_F(CardSigning, AnAttemptCancelledBeforeItBeganRunsNoBridge) {
    useReader("pinpad", softCard(cardCertificate), Json{{"pin", "1234"}});
    auto card = makeCard(PindleType::pinPad);
    auto stream = card->sign(digest);
    card->cancelOngoingOperation();
    expectNext(stream, Kind::waitingForHarwarePinInput);
    expectEnded(stream);
    EXPECT_TRUE(allRunsGone(bridge));
    EXPECT_EQ(bridge.runs(), 0u);
}

TEST_F(CardSigning, RetryOnAnIdleCardDoesNothing) {
    useReader("pinpad", softCard(cardCertificate), Json{{"pin", "1234"}});
    auto card = makeCard(PindleType::pinPad);
    card->retryOngoingOperation();
    card->cancelOngoingOperation();
    QCoreApplication::processEvents();
    EXPECT_EQ(bridge.runs(), 0u);
}
