#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/AuthenticateAPIClientMock.h"
#include "Quorvane/core/CardMock.h"
#include "Quorvane/core/OnboardingAPIClientMock.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/RemoteSigningAPIClientMock.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/core/SigningSessionDatabaseMock.h"
#include "Quorvane/core/WalletAPIClientMock.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Await.h"

using namespace std::chrono_literals;
using halcyra::HalcyraError;
using pindle::Card;
using pindle::CardFetchingEvent;
using pindle::CardSigningEvent;
using platform::Bytes;
using platform::Date;

namespace {

using Cards = std::vector<std::shared_ptr<Card>>;

std::vector<std::string> identifiers(const Cards& cards) {
    std::vector<std::string> ids;
    for (const auto& card : cards)
        ids.push_back(card->uniqueIdentifier());
    return ids;
}

// Lets queued work (stream wake-ups, coroutine resumptions) run.
void processEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// --- The four API client doubles

struct Outcome {
    bool readyAtOnce = false;
    std::optional<HalcyraError::Kind> errorKind;
    std::string errorMessage;
    std::optional<Bytes> bytes;  // set for a successful operation that gives bytes
};

template <class T>
Outcome outcomeOf(QCoro::Task<T> task) {
    Outcome outcome;
    outcome.readyAtOnce = task.isReady();
    auto result = testsupport::run(std::move(task));
    if (result.error) {
        if (auto error = result.template errorAs<HalcyraError>()) {
            outcome.errorKind = error->kind();
            outcome.errorMessage = error->message();
        }
    } else if constexpr (std::is_same_v<T, Bytes>) {
        outcome.bytes = std::move(*result.value);
    }
    return outcome;
}

TEST(APIClientMocks, FailWithEmptyOtherErrorExceptTheOnboardingFiles) {
    AuthenticateAPIClientMock authenticate;
    OnboardingAPIClientMock onboarding;
    RemoteSigningAPIClientMock remoteSigning;
    WalletAPIClientMock wallet;
    const halcyra::AuthenticateRequest walletProof("session", halcyra::AuthenticateRequest::Wallet{"poll"});

    enum class Expect { fails, emptyBytes };
    struct Case {
        const char* operation;
        std::function<Outcome()> run;
        Expect expect;
    };
    const Case cases[] = {
        {"getAuthenticationMethods",
         [&] {
             return outcomeOf(authenticate.getAuthenticationMethods("log", halcyra::LevelOfAssurance::high));
         },
         Expect::fails},
        {"getAuthenticationMethodData",
         [&] {
             return outcomeOf(
                 authenticate.getAuthenticationMethodData(halcyra::AuthenticationMethod::eid, "s"));
         },
         Expect::fails},
        {"authenticate", [&] { return outcomeOf(authenticate.authenticate(walletProof)); }, Expect::fails},
        {"getAgreementFile", [&] { return outcomeOf(onboarding.getAgreementFile({})); }, Expect::emptyBytes},
        {"confirmUserData", [&] { return outcomeOf(onboarding.confirmUserData({})); }, Expect::fails},
        {"signAgreement",
         [&] {
             return outcomeOf(onboarding.signAgreement(
                 halcyra::SignAgreementRequest("onboarding", halcyra::SignAgreementRequest::Wallet{"poll"})));
         },
         Expect::emptyBytes},
        {"getSignedAgreementFile", [&] { return outcomeOf(onboarding.getSignedAgreementFile("auth")); },
         Expect::emptyBytes},
        {"getAccountStatus", [&] { return outcomeOf(remoteSigning.getAccountStatus("auth")); },
         Expect::fails},
        {"getSignatureInfo", [&] { return outcomeOf(remoteSigning.getSignatureInfo("auth")); },
         Expect::fails},
        {"deleteAccount", [&] { return outcomeOf(remoteSigning.deleteAccount("auth", "reason")); },
         Expect::fails},
        {"getDataToConsent", [&] { return outcomeOf(remoteSigning.getDataToConsent({})); }, Expect::fails},
        {"consentAndSignHashes",
         [&] {
             return outcomeOf(remoteSigning.consentAndSignHashes(halcyra::ConsentAndSignHashesRequest(
                 "consent", halcyra::ConsentAndSignHashesRequest::EID{"cert", "sig"})));
         },
         Expect::fails},
        {"pollWallet", [&] { return outcomeOf(wallet.pollWallet("poll")); }, Expect::fails},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        const Outcome outcome = c.run();
        // Answered at once: nothing waits for a server.
        EXPECT_TRUE(outcome.readyAtOnce);
        if (c.expect == Expect::fails) {
            ASSERT_EQ(outcome.errorKind, HalcyraError::Kind::otherError);
            EXPECT_EQ(outcome.errorMessage, "");
        } else {
            EXPECT_FALSE(outcome.errorKind.has_value());
            ASSERT_TRUE(outcome.bytes.has_value());
            EXPECT_TRUE(outcome.bytes->empty());
        }
    }
}

// --- CardMock and the sample cards

TEST(CardMock, SigningFailsAtOnceWithMockErrorAndTheStreamStaysOpen) {
    {
        CardMock card("First", "Last", "123", "id", std::nullopt, std::nullopt, platform::toBytes("DER"));
        for (const Bytes& data : {Bytes{}, platform::toBytes("digest"), Bytes(32, 0xAB)}) {
            auto stream = card.sign(data);
            auto first = QCoro::waitFor(stream.next());
            ASSERT_TRUE(first.has_value());
            EXPECT_EQ(first->kind, CardSigningEvent::Kind::failed);
            EXPECT_EQ(first->errorCode, "000");
            EXPECT_EQ(first->errorValue, "Mock error");

            // Nothing follows, not even the end of the stream, whatever the caller does to the card.
            card.cancelOngoingOperation();
            card.retryOngoingOperation();
            auto second = stream.next();
            processEvents();
            EXPECT_FALSE(second.isReady());
        }
        EXPECT_EQ(card.firstName(), "First");
        EXPECT_EQ(card.lastName(), "Last");
        EXPECT_EQ(card.nationalRegisterNumber(), "123");
        EXPECT_EQ(card.uniqueIdentifier(), "id");
        EXPECT_FALSE(card.notValidBefore().has_value());
        EXPECT_FALSE(card.notValidAfter().has_value());
        EXPECT_EQ(card.certificateData(), platform::toBytes("DER"));
    }
    // The card's end finishes the streams it kept open: their waiting consumers end on the next turn.
    processEvents();
}

TEST(SampleCards, HolderDataAndValidityCountFromTheMomentTheyAreMade) {
    const Date now = Date(1'800'000'000s);
    const Cards cards = SampleCards::all(now);
    ASSERT_EQ(cards.size(), 3u);

    struct Expected {
        const char* nationalRegisterNumber;
        std::string uniqueIdentifier;  // the given name for A and C, the surname for B
        Date notValidBefore;
        Date notValidAfter;
    };
    const Expected expected[] = {
        {"12345678910", cards[0]->firstName(), SampleCards::distantPast(), now + 315'360'000s},
        {"84122800153", cards[1]->lastName(), Date(473'040'000s), SampleCards::distantFuture()},
        {"99999999910", cards[2]->firstName(), Date(946'080'000s), now + 1'261'440'000s},
    };
    for (std::size_t i = 0; i < cards.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cards[i]->nationalRegisterNumber(), expected[i].nationalRegisterNumber);
        EXPECT_EQ(cards[i]->uniqueIdentifier(), expected[i].uniqueIdentifier);
        EXPECT_EQ(cards[i]->notValidBefore(), expected[i].notValidBefore);
        EXPECT_EQ(cards[i]->notValidAfter(), expected[i].notValidAfter);
        EXPECT_TRUE(cards[i]->certificateData().empty());
        EXPECT_FALSE(cards[i]->firstName().empty());
        EXPECT_FALSE(cards[i]->lastName().empty());
    }
    // Every holder, identifier and national number differs from card to card.
    for (std::size_t i = 0; i < cards.size(); ++i) {
        for (std::size_t j = i + 1; j < cards.size(); ++j) {
            EXPECT_NE(cards[i]->firstName(), cards[j]->firstName());
            EXPECT_NE(cards[i]->lastName(), cards[j]->lastName());
            EXPECT_NE(cards[i]->uniqueIdentifier(), cards[j]->uniqueIdentifier());
            EXPECT_NE(cards[i]->nationalRegisterNumber(), cards[j]->nationalRegisterNumber());
        }
    }
    // The distant dates lie in the years the sample data means and leave room for the session margins.
    EXPECT_LT(SampleCards::distantPast() - 900s, Date(473'040'000s));
    EXPECT_GT(SampleCards::distantFuture() + 900s, now + 1'261'440'000s);
}

// --- PindleMock

class PindleMockTest : public ::testing::Test {
  protected:
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();

    std::shared_ptr<PindleMock> mock(PindleMock::Mode mode) {
        return PindleMock::make(std::move(mode), scheduler);
    }

    Cards onlyCurrentCards(PindleMock& pindle) { return QCoro::waitFor(pindle.onlyCurrentCards()); }

    // getCard waits for the event task, which runs on the scheduler.
    std::shared_ptr<Card> getCard(PindleMock& pindle, std::string id) {
        auto task = pindle.getCard(std::move(id));
        scheduler->runPending();
        return QCoro::waitFor(task);
    }
};

TEST_F(PindleMockTest, FixedModesReportTheirCards) {
    const auto custom =
        Cards{std::make_shared<CardMock>("X", "Y", "1", "custom-1", std::nullopt, std::nullopt, Bytes{}),
              SampleCards::cardB()};
    struct Case {
        const char* name;
        PindleMock::Mode mode;
        std::vector<std::string> identifiers;
    };
    const Case cases[] = {
        {"noCards", PindleMock::Mode::noCards(), {}},
        {"oneCard", PindleMock::Mode::oneCard(), {"Claessens"}},
        {"threeCards", PindleMock::Mode::threeCards(), {"Lotte", "Claessens", "Marie"}},
        {"custom", PindleMock::Mode::custom(custom), {"custom-1", "Claessens"}},
        {"custom, empty", PindleMock::Mode::custom({}), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pindle = mock(c.mode);
        // Every way of asking gives the same cards, request after request.
        EXPECT_EQ(identifiers(onlyCurrentCards(*pindle)), c.identifiers);
        EXPECT_EQ(identifiers(onlyCurrentCards(*pindle)), c.identifiers);
        auto stream = pindle->currentCards();
        scheduler->runPending();
        auto event = QCoro::waitFor(stream.next());
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->kind, CardFetchingEvent::Kind::finished);
        EXPECT_EQ(identifiers(event->cards), c.identifiers);
    }
    // Custom cards are the very objects given, not copies.
    auto pindle = mock(PindleMock::Mode::custom(custom));
    EXPECT_EQ(onlyCurrentCards(*pindle), custom);
}

TEST_F(PindleMockTest, CurrentCardsEmitsOneFinishedEventAfterTheCallerHasTheStream) {
    auto pindle = mock(PindleMock::Mode::noCards());
    auto stream = pindle->currentCards();
    auto first = stream.next();
    processEvents();
    EXPECT_FALSE(first.isReady()) << "nothing is emitted before the posted task runs";

    scheduler->runPending();
    auto event = QCoro::waitFor(first);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, CardFetchingEvent::Kind::finished);
    EXPECT_TRUE(event->cards.empty());

    // No started, no goingLongerThanExpected, no end of the stream: nothing else, even much later.
    auto second = stream.next();
    scheduler->advance(10s);
    processEvents();
    EXPECT_FALSE(second.isReady());
}

TEST_F(PindleMockTest, GetCardFindsByUniqueIdentifier) {
    auto pindle = mock(PindleMock::Mode::threeCards());
    struct Case {
        const char* id;
        const char* expectedLastName;  // nullptr: no card
    };
    const Case cases[] = {
        {"Claessens", "Claessens"},  // card B, found by its surname
        {"Lotte", "Vermeulen"},
        {"Marie", "Dubois"},
        {"claessens", nullptr},  // case-sensitive
        {"", nullptr},
        {"nobody", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        auto card = getCard(*pindle, c.id);
        if (c.expectedLastName == nullptr) {
            EXPECT_EQ(card, nullptr);
        } else {
            ASSERT_NE(card, nullptr);
            EXPECT_EQ(card->lastName(), c.expectedLastName);
        }
    }
    // The first of two cards with one identifier.
    auto first = std::make_shared<CardMock>("A", "1", "1", "same", std::nullopt, std::nullopt, Bytes{});
    auto second = std::make_shared<CardMock>("B", "2", "2", "same", std::nullopt, std::nullopt, Bytes{});
    auto twins = mock(PindleMock::Mode::custom({first, second}));
    EXPECT_EQ(getCard(*twins, "same"), first);
}

TEST_F(PindleMockTest, SampleCardsAreMadeAtEachRequestWithTheSchedulersNow) {
    auto pindle = mock(PindleMock::Mode::threeCards());
    const Date start = scheduler->now();
    const Cards before = onlyCurrentCards(*pindle);
    scheduler->advance(std::chrono::hours(24));
    const Cards after = onlyCurrentCards(*pindle);
    EXPECT_EQ(before[0]->notValidAfter(), start + 315'360'000s);
    EXPECT_EQ(after[0]->notValidAfter(), start + 24h + 315'360'000s);
    EXPECT_EQ(after[2]->notValidAfter(), start + 24h + 1'261'440'000s);
    EXPECT_NE(before[1], after[1]) << "new card objects for each request";
}

TEST_F(PindleMockTest, UpdatingStepsThroughTheCycleOncePerRequest) {
    auto pindle =
        mock(PindleMock::Mode::updating({PindleMock::Mode::oneCard(), PindleMock::Mode::threeCards()}));
    std::vector<std::size_t> counts;
    for (int i = 0; i < 4; ++i)
        counts.push_back(onlyCurrentCards(*pindle).size());
    EXPECT_EQ(counts, (std::vector<std::size_t>{1, 3, 1, 3}));
    EXPECT_EQ(pindle->currentCycledModeIndex, 0);

    // Streams take their step when their event task runs, after the caller's own synchronous requests: here
    // the read takes oneCard, then the two streams threeCards and oneCard.
    auto firstStream = pindle->currentCards();
    auto secondStream = pindle->currentCards();
    EXPECT_EQ(onlyCurrentCards(*pindle).size(), 1u);
    scheduler->runPending();
    EXPECT_EQ(QCoro::waitFor(firstStream.next())->cards.size(), 3u);
    EXPECT_EQ(QCoro::waitFor(secondStream.next())->cards.size(), 1u);

    // getCard takes a step too: the cycle is at threeCards, so card A is there; then at oneCard, so it is
    // not.
    EXPECT_NE(getCard(*pindle, "Lotte"), nullptr);
    EXPECT_EQ(getCard(*pindle, "Lotte"), nullptr);
    EXPECT_EQ(onlyCurrentCards(*pindle).size(), 3u);
}

TEST_F(PindleMockTest, UpdatingWithAnUnusableCycleReportsNoCardInsteadOfFailing) {
    using Mode = PindleMock::Mode;
    struct Case {
        const char* name;
        std::vector<Mode> cycle;
        std::int64_t startIndex;
        std::vector<std::size_t> counts;  // of four successive reads
    };
    const Case cases[] = {
        {"empty cycle", {}, 0, {0, 0, 0, 0}},
        {"only updating entries", {Mode::updating({Mode::oneCard()}), Mode::updating({})}, 0, {0, 0, 0, 0}},
        // An updating entry gives way to the entry after it.
        {"updating entry skipped",
         {Mode::oneCard(), Mode::updating({}), Mode::threeCards()},
         0,
         {1, 3, 1, 3}},
        {"index past the end", {Mode::oneCard(), Mode::threeCards()}, 5, {3, 1, 3, 1}},
        {"negative index", {Mode::oneCard(), Mode::threeCards(), Mode::noCards()}, -1, {0, 1, 3, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pindle = mock(Mode::updating({}));
        pindle->cycledModes = c.cycle;
        pindle->currentCycledModeIndex = c.startIndex;
        std::vector<std::size_t> counts;
        for (int i = 0; i < 4; ++i)
            counts.push_back(onlyCurrentCards(*pindle).size());
        EXPECT_EQ(counts, c.counts);
    }
}

// --- SigningSessionDatabaseMock

TEST(SigningSessionDatabaseMock, AnswersFromWhatItWasMadeWithAndNeverChanges) {
    SigningCertificateInfo certificate;
    certificate.methodCreatedWith = halcyra::AuthenticationMethod::wallet;
    certificate.certificateData = platform::toBytes("DER");
    certificate.fullName = "Lotte Vermeulen";
    certificate.nationalNumber = "12345678910";
    certificate.notValidBefore = Date(1'700'000'000s);
    certificate.notValidAfter = Date(1'900'000'000s);
    const SigningSession stored{"Claessens", "server-session", 820'000'000,
                                "Jonas",     "Claessens",      "84122800153"};
    SigningSessionDatabaseMock database(certificate, "0123456789ABCDEF", {stored});

    const SigningSession registered{"test", "test", 0, std::nullopt, std::nullopt, std::nullopt};
    halcyra::AccountStatusDetails status{};
    status.firstName = "New";
    status.lastName = "Holder";
    status.rrnr = "1";
    const SigningSessionContext contexts[] = {
        SigningSessionContext::wallet("wallet-session", "poll"),
        SigningSessionContext::card("card-session", SampleCards::cardB()),
    };
    for (const auto& context : contexts) {
        SCOPED_TRACE(context.tokenIdentifier());
        database.cleanUpSessions();
        database.removeAllTokens();
        database.purgeSession(context);
        database.purgeSessionAndToken(context.tokenIdentifier());
        database.purgeExpiredSessionsAndTokens();
        database.startPrivacyPurgeIfEnabled();
        database.startImmediatePrivacyPurge();
        database.flushImmediatePrivacyPurge();
        database.removeToken(context);
        EXPECT_FALSE(database.removeTokenIfCertificateInvalid(context));
        EXPECT_EQ(database.activeSession(context, true), std::nullopt);
        EXPECT_EQ(database.activeSession(context, false), std::nullopt);
        EXPECT_EQ(database.signingCertificateInfo(context), certificate);
        EXPECT_EQ(database.signingCertificateInfo(context.tokenIdentifier()), certificate);
        EXPECT_EQ(database.registerSession(context, Date(1'800'000'000s)), registered);
        EXPECT_EQ(database.registerSession(context, Date(1'800'000'000s)).expirationDate(),
                  Date(platform::referenceDateUnixOffset));
        EXPECT_EQ(database.updateSessionHolder(context, status), std::nullopt);
        EXPECT_TRUE(database.registerToken(context, platform::toBytes("other")));
        EXPECT_FALSE(QCoro::waitFor(database.hasUsableCardSessions()));
    }
    // Registering, purging and holder updates stored nothing.
    EXPECT_EQ(database.authenticatedSessions(), std::vector<SigningSession>{stored});
    EXPECT_EQ(database.clientData(), "0123456789ABCDEF");

    SigningSessionDatabaseMock empty;
    EXPECT_EQ(empty.signingCertificateInfo(contexts[0]), std::nullopt);
    EXPECT_TRUE(empty.authenticatedSessions().empty());
    EXPECT_EQ(empty.clientData(), "");
}

}  // namespace
