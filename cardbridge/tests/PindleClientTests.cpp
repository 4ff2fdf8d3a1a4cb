// Card readings against the stand-in bridge: cards built from certificates, the events of a reading (the 2 s
// event in virtual time), shared readings and lookups by identifier.
#include <regex>

#include "BridgeFixture.h"
#include "cardbridge/PindleClient.h"
#include "cardbridge/VexoConnectCard.h"
#include "outside/Common/Common.h"
#include "platform/VirtualScheduler.h"

using namespace cardtest;
using pindle::CardFetchingEvent;
using pindle::PindleType;
using Kind = CardFetchingEvent::Kind;
using Stream = platform::AsyncStream<CardFetchingEvent>;

namespace {

const std::set<std::string> policyOIDs = {"2.16.56.12.1.1.2.2", "2.16.56.13.6.1.1.1000"};

std::vector<Kind> kinds(Stream stream, std::vector<CardFetchingEvent>* events = nullptr) {
    std::vector<Kind> out;
    while (auto event = await(stream.next())) {
        out.push_back(event->kind);
        if (events)
            events->push_back(*event);
    }
    return out;
}

PindleType typeOf(const std::shared_ptr<pindle::Card>& card) {
    return std::dynamic_pointer_cast<pindle::VexoConnectCard>(card)->pindleType();
}

Json userCertsReply(const Json& readers) {
    return Json{
        {"reply",
         {{"Readers", readers}, {"result", "OK"}, {"correlationId", "C"}, {"operation", "USERCERTS"}}}};
}

Json replyReader(const std::string& type, std::vector<std::string> certificates) {
    return Json{
        {"ReaderName", "R"}, {"ReaderType", type}, {"cardType", "eid"}, {"certificates", certificates}};
}

class CardReading : public ::testing::Test {
  protected:
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<pindle::PindleClient> client =
        pindle::PindleClientProvider::keychainClient(policyOIDs, scheduler);
    Bridge bridge;
};

}  // namespace

TEST_F(CardReading, BuildsCardsFromTheCertificatesOfTheReaders) {
    auto full = makeCardCertificate("Ann", "Peeters", "71715100070", {"2.16.56.12.1.1.2.2"});
    auto bare = makeCardCertificate(std::nullopt, "Janssens", std::nullopt, {});
    auto other = makeCardCertificate("Piet", "Claes", "1", {});
    bridge.addReader(reader("standard", softCard(full)));
    bridge.addReader(reader("PinPad", softCard(other)));  // not a reader kind: skipped
    bridge.addReader(reader("standard"));                 // no card
    bridge.addReader(reader("pinpad", softCard(bare)));
    bridge.install();

    auto cards = await(client->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 2u);

    EXPECT_EQ(cards[0]->firstName(), "Ann");
    EXPECT_EQ(cards[0]->lastName(), "Peeters");
    EXPECT_EQ(cards[0]->nationalRegisterNumber(), "71715100070");
    EXPECT_EQ(cards[0]->uniqueIdentifier(), uniqueId(full.certificate));
    EXPECT_EQ(cards[0]->certificateData(), full.der());
    EXPECT_EQ(cards[0]->notValidBefore(), notValidBefore(full.certificate));
    EXPECT_EQ(cards[0]->notValidAfter(), notValidAfter(full.certificate));
    EXPECT_TRUE(cards[0]->notValidAfter());
    EXPECT_EQ(typeOf(cards[0]), PindleType::standard);

    // Without the policy OIDs, given name and serial number: still a card, with empty texts.
    EXPECT_EQ(cards[1]->firstName(), "");
    EXPECT_EQ(cards[1]->lastName(), "Janssens");
    EXPECT_EQ(cards[1]->nationalRegisterNumber(), "");
    EXPECT_EQ(cards[1]->uniqueIdentifier(), uniqueId(bare.certificate));
    EXPECT_EQ(typeOf(cards[1]), PindleType::pinPad);

    auto request = bridge.request(0);
    EXPECT_EQ(request["operation"], "USERCERTS");
    EXPECT_EQ(request["keyusage"], "DIGITALSIGNATURE");
    EXPECT_EQ(request["mac"], "5E0A97C3B14D682F0E9B37A1C4D5862F");
    EXPECT_EQ(request["origin"].get<std::string>().size(), 28u);
    EXPECT_TRUE(std::regex_match(request["correlationId"].get<std::string>(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    EXPECT_TRUE(allRunsGone(bridge));
}

TEST_F(CardReading, SkipsWhatIsNoUsableCertificate) {
    auto a = makeCardCertificate("A", "A", "1", {});
    auto b = makeCardCertificate("B", "B", "2", {});
    const auto a64 = platform::base64Encoded(a.der());
    const auto b64 = platform::base64Encoded(b.der());
    auto trailing = a.der();
    trailing.push_back(0);
    bridge.script(Json::array({userCertsReply(Json::array({
        replyReader("standard",
                    {a64, "not Base64!", platform::base64Encoded(platform::toBytes("no certificate")),
                     platform::base64Encoded(trailing), b64}),
        replyReader("", {a64}),
        replyReader("STANDARD", {a64}),
        replyReader("pinpad", {}),
        replyReader("pinpad", {b64}),
    }))}));
    bridge.install();

    auto cards = await(client->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(cards[0]->firstName(), "A");
    EXPECT_EQ(cards[1]->firstName(), "B");
    EXPECT_EQ(cards[2]->firstName(), "B");
    EXPECT_EQ(typeOf(cards[2]), PindleType::pinPad);
    EXPECT_NE(cards[1], cards[2]);
}

TEST_F(CardReading, AQuickReadingIsStartedThenFinished) {
    bridge.addReader(reader("standard", softCard(makeCardCertificate())));
    bridge.install();
    std::vector<CardFetchingEvent> events;
    EXPECT_EQ(kinds(client->currentCards(), &events), (std::vector<Kind>{Kind::started, Kind::finished}));
    EXPECT_EQ(events.back().cards.size(), 1u);
    // The 2 s timer went with the reading.
    EXPECT_EQ(scheduler->activeTimerCount(), 0u);
    scheduler->advance(std::chrono::seconds(3));
}

// What a reading says when the bridge answers at a given (virtual) time after it began: "longer than
// expected" from 2 s on, and no cards once the time limit has passed, the bridge being terminated. The bridge
// answers only when the test opens its gate, after the clock has moved.
TEST_F(CardReading, EventsAtEachPointInTime) {
    using std::chrono::milliseconds;
    struct Row {
        const char* name;
        milliseconds elapsed;
        std::vector<Kind> kinds;
        std::size_t cards;
    };
    const std::vector<Row> rows = {
        {"just under 2 s", milliseconds(1999), {Kind::started, Kind::finished}, 1},
        {"at 2 s", milliseconds(2000), {Kind::started, Kind::goingLongerThanExpected, Kind::finished}, 1},
        {"just under the limit",
         pindle::bridgeTimeLimit - milliseconds(1),
         {Kind::started, Kind::goingLongerThanExpected, Kind::finished},
         1},
        {"at the limit",
         pindle::bridgeTimeLimit,
         {Kind::started, Kind::goingLongerThanExpected, Kind::finished},
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto gate = testsupport::makeTempDir("gate") / "open";
        Bridge bridge;
        bridge.addReader(reader("standard", softCard(makeCardCertificate())));
        bridge.script(Json::array({Json{{"waitForFile", gate.string()}}}));
        bridge.install();

        std::vector<CardFetchingEvent> events;
        auto stream = client->currentCards();
        auto first = await(stream.next());
        events.push_back(*first);
        ASSERT_TRUE(eventually([&] { return bridge.runs() == 1; }, bridgeLimit));
        scheduler->advance(row.elapsed);
        testsupport::writeFile(gate, "");
        std::vector<Kind> seen{first->kind};
        for (auto kind : kinds(stream, &events))
            seen.push_back(kind);
        EXPECT_EQ(seen, row.kinds);
        EXPECT_EQ(events.back().cards.size(), row.cards);
        EXPECT_EQ(scheduler->activeTimerCount(), 0u);
        EXPECT_TRUE(allRunsGone(bridge));
        EXPECT_EQ(bridge.records().at(0).value("terminated", false), row.cards == 0);
    }
}

// Past the time limit every caller waiting on the reading has its end, and the next reading starts afresh.
TEST_F(CardReading, ABridgeThatNeverAnswersEndsTheReadingForEveryCaller) {
    auto certificate = makeCardCertificate();
    bridge.addReader(reader("standard", softCard(certificate)));
    bridge.script(Json::array({Json{{"fault", "hang"}}}));
    bridge.install();

    auto first = client->currentCards();
    EXPECT_EQ(await(first.next())->kind, Kind::started);
    auto second = client->currentCards();
    auto cards = client->onlyCurrentCards();
    auto card = client->getCard(*uniqueId(certificate.certificate));
    ASSERT_TRUE(eventually([&] { return bridge.runs() == 1; }, bridgeLimit));
    scheduler->advance(pindle::bridgeTimeLimit);

    std::vector<CardFetchingEvent> events;
    EXPECT_EQ(kinds(first, &events), (std::vector<Kind>{Kind::goingLongerThanExpected, Kind::finished}));
    EXPECT_TRUE(events.back().cards.empty());
    EXPECT_EQ(kinds(second),
              (std::vector<Kind>{Kind::started, Kind::goingLongerThanExpected, Kind::finished}));
    EXPECT_TRUE(await(std::move(cards)).empty());
    EXPECT_FALSE(await(std::move(card)));
    EXPECT_TRUE(allRunsGone(bridge));
    EXPECT_TRUE(bridge.records().at(0).value("terminated", false));

    EXPECT_EQ(await(client->onlyCurrentCards()).size(), 1u);
    ASSERT_EQ(bridge.runs(), 2u);
    EXPECT_NE(bridge.request(0)["correlationId"], bridge.request(1)["correlationId"]);
}

TEST_F(CardReading, AFailedExchangeIsAnEmptyReading) {
    struct Row {
        const char* name;
        Json step;
    };
    std::vector<Row> rows = {
        {"error result",
         Json{{"reply", {{"result", "general_error"}, {"correlationId", "C"}, {"operation", "USERCERTS"}}}}},
        {"output ends early", Json{{"fault", "threeByteLength"}}},
        {"no Readers",
         Json{{"reply", {{"result", "OK"}, {"correlationId", "C"}, {"operation", "USERCERTS"}}}}},
        {"empty reader list", userCertsReply(Json::array())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bridge.script(Json::array({row.step}));
        bridge.install();
        std::vector<CardFetchingEvent> events;
        EXPECT_EQ(kinds(client->currentCards(), &events), (std::vector<Kind>{Kind::started, Kind::finished}));
        EXPECT_TRUE(events.back().cards.empty());
        EXPECT_TRUE(allRunsGone(bridge));
    }

    pindle::VexoConnectInvoker::setExecutableLocationOverride(testsupport::makeTempDir("none") /
                                                              "VexoConnect_2_12");
    EXPECT_EQ(kinds(client->currentCards()), (std::vector<Kind>{Kind::started, Kind::finished}));
    EXPECT_TRUE(await(client->onlyCurrentCards()).empty());
    EXPECT_FALSE(await(client->getCard("anything")));
}

TEST_F(CardReading, CallersDuringAReadingShareIt) {
    bridge.addReader(reader("standard", softCard(makeCardCertificate())));
    bridge.script(Json::array({Json{{"delayMs", 200}}}));
    bridge.install();

    auto first = client->currentCards();
    EXPECT_EQ(await(first.next())->kind, Kind::started);
    auto second = client->currentCards();
    auto cards = client->onlyCurrentCards();
    std::vector<CardFetchingEvent> secondEvents;
    EXPECT_EQ(kinds(second, &secondEvents), (std::vector<Kind>{Kind::started, Kind::finished}));
    EXPECT_EQ(kinds(first), (std::vector<Kind>{Kind::finished}));
    EXPECT_EQ(await(std::move(cards)).size(), 1u);
    EXPECT_EQ(secondEvents.back().cards.size(), 1u);
    EXPECT_EQ(bridge.runs(), 1u);

    // After the end, a new reading with a new correlation id.
    EXPECT_EQ(await(client->onlyCurrentCards()).size(), 1u);
    ASSERT_EQ(bridge.runs(), 2u);
    EXPECT_NE(bridge.request(0)["correlationId"], bridge.request(1)["correlationId"]);
}

TEST_F(CardReading, FindsACardByItsIdentifier) {
    auto a = makeCardCertificate("A", "A", "1", {});
    auto b = makeCardCertificate("B", "B", "2", {});
    const auto a64 = platform::base64Encoded(a.der());
    const auto b64 = platform::base64Encoded(b.der());
    bridge.script(Json::array({
        userCertsReply(Json::array({replyReader("standard", {a64}), replyReader("pinpad", {b64, a64})})),
        userCertsReply(Json::array({replyReader("standard", {a64})})),
    }));
    bridge.install();

    auto found = await(client->getCard(*uniqueId(b.certificate)));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->firstName(), "B");
    // Two cards share the identifier: the first in reading order.
    found = await(client->getCard(*uniqueId(a.certificate)));
    ASSERT_TRUE(found);
    EXPECT_EQ(typeOf(found), PindleType::standard);
    // Identifiers are compared exactly; nothing is cached between readings.
    std::string lower = *uniqueId(a.certificate);
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(await(client->getCard(lower)));
    EXPECT_EQ(bridge.runs(), 3u);
}
