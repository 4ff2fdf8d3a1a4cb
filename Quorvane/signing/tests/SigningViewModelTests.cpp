// The signing model on its doubles and a virtual clock: the intake of both kinds of request, the 30 s wait
// for the token and every way it ends, the answer to the requester (the callback's composition, the token's
// signature or failure), the card and wallet paths with their errors, and the bulk digest.
#include <gtest/gtest.h>

#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "SigningTestDoubles.h"
#include "platform/SHA256.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestPKI.h"

namespace {

using namespace signingtest;
using namespace std::chrono_literals;
using Kind = CardSigningEvent::Kind;

const std::string wallet = SigningSessionContext::walletTokenIdentifier;
const std::string keychainMessage = "Could not communicate with the keychain, operation cancelled.";
const std::string timeoutLine =
    "Timed out waiting for XPC message from persistent token, attempting to reboot XPC service.";

std::vector<std::string> errorLines(const LogCapture& log) {
    std::vector<std::string> lines;
    for (const auto& line : log.lines())
        if (line.level == LogLevel::error)
            lines.push_back(line.message);
    return lines;
}

long count(const std::vector<std::string>& calls, const std::string& call) {
    return std::count(calls.begin(), calls.end(), call);
}

std::string describe(const std::optional<AppError>& error) {
    return error ? std::to_string(rawValue(error->category)) + " " + error->code + " " + error->message
                 : "none";
}

void closeMainWindow() {
    platform::NotificationCenter::defaultCenter().post(MainWindowController::mainWindowWillCloseNotification);
}

// The PIN sheet's event, if the sheet is up.
std::optional<CardSigningEvent> pinEvent(const SigningViewModel& model) {
    const auto state = model.currentModalState();
    if (!state || !state->pinInputEvent())
        return std::nullopt;
    return *state->pinInputEvent();
}

TEST(SigningIntake, TheTokenIsTheLastNonEmptyPieceOfTokenId) {
    const std::pair<std::string, std::string> cases[] = {
        {"card-1", "card-1"},
        {"slot:card-1", "card-1"},
        {"a:b:card-1", "card-1"},
        {":card-1", "card-1"},
        {"card-1:", "card-1"},
        {"a::card-1::", "card-1"},
        {wallet, wallet},
        {"x:" + wallet, wallet},
        {"", ""},
        {":", ":"},
        {":::", ":::"},
    };
    for (const auto& [tokenId, expected] : cases)
        EXPECT_EQ(SigningRequestIntake::tokenIdentifier(tokenId), expected) << '"' << tokenId << '"';

    // Through the intake: a card that is not inserted is asked for by the card selection.
    Rig rig;
    auto model = rig.make(bulk("reader:card-9:", {"AQID"}));
    model->start();
    model->start();
    rig.settle();
    EXPECT_EQ(model->viewTarget(), SigningViewTarget::cardSelection("card-9"));
    EXPECT_TRUE(rig.xpc->calls.empty()) << "a bulk request does not use the relay";
    EXPECT_FALSE(model->timeoutTimer());
    EXPECT_TRUE(rig.completions->empty());
}

TEST(SigningIntake, TheTokenHas30sToSendItsHashThenTheRelayIsRestartedOnceAndTheFlowFailsWith001) {
    Rig rig;
    LogCapture log;
    auto model = rig.make(SigningRequestType::overXPC());
    model->start();
    EXPECT_EQ(rig.xpc->calls, (std::vector<std::string>{"disconnect", "connect", "register", "ready"}));
    ASSERT_TRUE(model->timeoutTimer());
    EXPECT_TRUE(rig.xpc->hasSignatureRequestHandler());
    // Shown again (restored from minimised): nothing starts over.
    model->start();
    rig.scheduler->advance(29.9s);
    EXPECT_TRUE(rig.completions->empty());

    rig.scheduler->advance(0.2s);
    rig.settle();
    EXPECT_EQ(errorLines(log), std::vector<std::string>{timeoutLine});
    EXPECT_EQ(rig.launchAgent->log->list, std::vector<std::string>{"reregisterService"});
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_EQ(describe(rig.completions->front()), "7 001 " + keychainMessage);
    EXPECT_EQ(rig.xpc->calls.back(), "cancel");
    EXPECT_FALSE(model->timeoutTimer());

    rig.scheduler->advance(120s);
    rig.settle();
    EXPECT_EQ(rig.launchAgent->log->list.size(), 1u);
    EXPECT_EQ(rig.completions->size(), 1u);
    EXPECT_EQ(count(rig.xpc->calls, "cancel"), 1);
}

TEST(SigningIntake, AHashAt29sStopsTheWaitAndTheFlowGoesOnWithTheTokensCard) {
    Rig rig;
    auto model = rig.make(SigningRequestType::overXPC());
    model->start();
    rig.scheduler->advance(29s);
    const Bytes hash(32, 0x11);
    rig.xpc->deliverHash(hash, "card-1");
    rig.settle();
    EXPECT_FALSE(model->timeoutTimer());
    EXPECT_EQ(model->requestType(), SigningRequestType::overXPC(hash));
    rig.scheduler->advance(60s);
    rig.settle();
    EXPECT_TRUE(rig.launchAgent->log->list.empty());
    EXPECT_TRUE(rig.completions->empty());
    // The card has no session: the user logs in with it.
    EXPECT_EQ(rig.facade->log->list, std::vector<std::string>{"runAuthentication card-1 auth-1 retrieving"});
    ASSERT_TRUE(pinEvent(*model));
}

TEST(SigningIntake, EachEndingOfTheWaitStopsTheTimerAndAnswersTheTokenOnce) {
    struct Case {
        const char* name;
        std::function<void(Rig&, std::shared_ptr<SigningViewModel>&)> end;
        std::string completion;
    };
    const AppError relayTimeout(ErrorCodeCategory::xpc, std::nullopt, "002",
                                "Signature creation has timed out.", std::nullopt);
    const Case cases[] = {
        {"the window closes", [](Rig&, auto&) { closeMainWindow(); }, "none"},
        {"the relay's time-out", [&](Rig& rig, auto&) { rig.xpc->deliverTimeout(relayTimeout); },
         "7 002 Signature creation has timed out."},
        {"an error report without an error",
         [](Rig&, auto& model) { model->handleCommunicationError(std::nullopt); },
         "7 000 " + keychainMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        auto model = rig.make(SigningRequestType::overXPC());
        model->start();
        rig.scheduler->advance(10s);
        c.end(rig, model);
        rig.settle();
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), c.completion);
        EXPECT_FALSE(model->timeoutTimer());
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);

        // Later endings still report, but leave the shared client (maybe carrying a newer request) alone, and
        // a hash that comes late does nothing.
        const auto callsAtEnd = rig.xpc->calls;
        rig.scheduler->advance(60s);
        closeMainWindow();
        model->handleTokenSignRequest(Bytes(32, 1), "card-1");
        rig.settle();
        EXPECT_TRUE(rig.launchAgent->log->list.empty());
        EXPECT_EQ(rig.completions->size(), 2u);
        EXPECT_FALSE(rig.completions->back());
        EXPECT_EQ(rig.xpc->calls, callsAtEnd);
        EXPECT_EQ(count(rig.xpc->calls, "cancel"), 1);
        EXPECT_EQ(rig.facade->log->list.size(), 0u);
    }
}

TEST(SigningIntake, AModelThatGoesAwayWhileWaitingStopsItsTimer) {
    Rig rig;
    auto model = rig.make(SigningRequestType::overXPC());
    model->start();
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 1u);
    model.reset();
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    rig.xpc->deliverHash(Bytes(32, 1), "card-1");
    rig.scheduler->advance(31s);
    rig.settle();
    EXPECT_TRUE(rig.launchAgent->log->list.empty());
    EXPECT_TRUE(rig.completions->empty());
}

TEST(SigningResult, TheBulkCallbackGetsItsAnswerAsAQueryItemOfItsOwn) {
    struct Case {
        const char* name;
        std::string callback;
        std::function<void(SigningViewModel&)> end;
        std::vector<std::string> opened;
    };
    const auto cancelled = [](SigningViewModel& model) { model.finishWithFailure(std::nullopt); };
    const auto signedTwice = [](SigningViewModel& model) { model.finishWithSignatures({"AQID", "BAUG"}); };
    const auto failed = [](std::string message) {
        return [message](SigningViewModel& model) {
            model.finishWithFailure(
                AppError(ErrorCodeCategory::app, std::nullopt, "305", message, std::nullopt));
        };
    };
    const Case cases[] = {
        {"signatures",
         "https://example.org/cb",
         signedTwice,
         {"https://example.org/cb?signatures=AQID,BAUG"}},
        {"no signatures",
         "https://example.org/cb",
         [](SigningViewModel& model) { model.finishWithSignatures({}); },
         {"https://example.org/cb?signatures="}},
        {"the error's message, not its code",
         "http://127.0.0.1:8080/cb",
         failed("Signature creation has timed out."),
         {"http://127.0.0.1:8080/cb?error=Signature%20creation%20has%20timed%20out."}},
        {"cancelled", "https://example.org/cb", cancelled, {"https://example.org/cb?error=Cancelled"}},
        {"a callback with a query",
         "https://example.org/cb?id=7&lang=en",
         cancelled,
         {"https://example.org/cb?id=7&lang=en&error=Cancelled"}},
        {"a callback with a fragment",
         "https://example.org/cb?id=7#result",
         cancelled,
         {"https://example.org/cb?id=7&error=Cancelled#result"}},
        {"characters that would cut or split the value",
         "https://example.org/cb",
         failed("a&b=c #d?e+f/é"),
         {"https://example.org/cb?error=a%26b%3Dc%20%23d%3Fe%2Bf%2F%C3%A9"}},
        {"not a web address", "file:///home/user/.bashrc", cancelled, {}},
        {"another program's scheme", "quorvane://bulk", signedTwice, {}},
        {"two failures open the callback once",
         "https://example.org/cb",
         [&](SigningViewModel& model) {
             failed("first")(model);
             cancelled(model);
         },
         {"https://example.org/cb?error=first"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        LogCapture log;
        auto model = rig.make(bulk(wallet, {"AQID"}, c.callback));
        c.end(*model);
        rig.settle();
        EXPECT_EQ(*rig.opened, c.opened);
        EXPECT_TRUE(model->hasAlreadyOpenedCallback());
        EXPECT_FALSE(rig.completions->empty()) << "the navigation hears of the end either way";
        if (c.opened.empty()) {
            EXPECT_EQ(errorLines(log),
                      std::vector<std::string>{"Bulk signing callback not opened: not an http or https URL"});
        }
        EXPECT_TRUE(rig.xpc->calls.empty());
    }
}

TEST(SigningResult, TheTokenGetsTheFirstSignatureOnlyWhenItDecodesToSomething) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"AQID", "BAUG"}, "signature AQID"},
        {{"-_8"}, "signature +/8="},
        {{}, "cancel"},
        {{""}, "cancel"},
        {{"AQ+D"}, "cancel"},
        {{"not base64url!"}, "cancel"},
    };
    for (const auto& [signatures, call] : cases) {
        SCOPED_TRACE(call + " for " + std::to_string(signatures.size()) + " signatures");
        Rig rig;
        LogCapture log;
        auto model = rig.make(SigningRequestType::overXPC(Bytes(32, 7)));
        model->finishWithSignatures(signatures);
        rig.settle();
        EXPECT_EQ(rig.xpc->calls, std::vector<std::string>{call});
        ASSERT_EQ(rig.completions->size(), 1u);
        if (call == "cancel") {
            EXPECT_EQ(describe(rig.completions->front()), "1 000 The server returned no usable signature");
            EXPECT_EQ(rig.completions->front()->sourceFlow, ErrorCodeSourceFlow::signing);
            EXPECT_EQ(errorLines(log),
                      std::vector<std::string>{"Could not handle signature request: Unexpected "
                                               "error: The server returned no usable signature."});
        } else {
            EXPECT_FALSE(rig.completions->front());
        }
        // Ending again (the window closes) answers nothing more.
        closeMainWindow();
        rig.settle();
        EXPECT_EQ(rig.xpc->calls.size(), 1u);
        EXPECT_EQ(rig.completions->size(), 2u);
    }
}

// --- The card path

// A bulk request for card-1 whose card holder has a session valid for signing.
struct CardSigning {
    explicit CardSigning(std::vector<std::string> hashes = {"AQID"}) {
        rig.addSession(SigningSessionContext::card("server-1", rig.card), 3600s);
        model = rig.make(bulk("card-1", std::move(hashes)));
        model->start();
        rig.settle();
    }
    Rig rig;
    std::shared_ptr<SigningViewModel> model;
};

TEST(SigningCard, AWrongPinThenTheRightOneSendsOneConsentAndSignWithTheCardsSignature) {
    CardSigning s;
    auto& rig = s.rig;
    auto& model = *s.model;
    EXPECT_EQ(model.viewTarget(), SigningViewTarget::info("Creating signature...", true));
    ASSERT_EQ(rig.card->signedData, std::vector<Bytes>{testsupport::FakeRemoteSigningClient::serverHash});
    EXPECT_EQ(
        model.currentSigningReason(),
        SigningReason::actualSigning(
            testsupport::FakeRemoteSigningClient::serverHash,
            std::vector<BulkSigningRequest::Document>{
                {platform::base64Encoded(testsupport::FakeRemoteSigningClient::serverHash), std::nullopt}}));
    EXPECT_EQ(model.currentCard(), rig.card);

    auto event = pinEvent(model);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, Kind::pinRequested);
    event->providePinClosure("0000");
    rig.settle();
    event = pinEvent(model);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, Kind::wrongPin);
    EXPECT_EQ(event->attemptsLeft, 2);
    EXPECT_TRUE(rig.remote->signCalls.requests.empty());

    event->providePinClosure("1234");
    rig.settle();
    EXPECT_FALSE(model.currentModalState());
    ASSERT_EQ(rig.remote->signCalls.requests.size(), 1u);
    const auto& request = rig.remote->signCalls.requests.front();
    EXPECT_EQ(request.consentSessionId(), "consent-1");
    ASSERT_TRUE(request.eid());
    EXPECT_FALSE(request.wallet());
    // Standard Base64 with padding, never Base64url.
    EXPECT_EQ(request.eid()->authenticationCertificate, "MIL7/z4=");
    EXPECT_EQ(request.eid()->signature, platform::base64Encoded(testsupport::FakeCard::signatureOf(
                                            testsupport::FakeRemoteSigningClient::serverHash)));
    EXPECT_EQ(*rig.opened, std::vector<std::string>{"https://example.org/cb?signatures=AQID,BAUG"});
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_FALSE(rig.completions->front());
    EXPECT_EQ(rig.card->pins, (std::vector<std::string>{"0000", "1234"}));
    EXPECT_TRUE(rig.facade->log->list.empty()) << "the stored session was used";
}

TEST(SigningCard, TheCardsFailuresEndTheFlowWithTheirCodeAndOneLogLine) {
    struct Case {
        CardSigningEvent event;
        std::string completion;
        std::string line;
        std::string opened;
    };
    const Case cases[] = {
        {CardSigningEvent::of(Kind::failedBecauseOfCardRemoval), "5 004 eID card removed",
         "Could not sign hash with card:\u00A0card removed",
         "https://example.org/cb?error=eID%20card%20removed"},
        {CardSigningEvent::failed("ERR_BLOCKED", "The card is blocked"), "5 ERR_BLOCKED The card is blocked",
         "Could not sign hash with card:\u00A0The card is blocked",
         "https://example.org/cb?error=The%20card%20is%20blocked"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Rig rig;
        LogCapture log;
        rig.card->script = std::vector{CardSigningEvent::pinRequested([](const std::string&) {}), c.event,
                                       CardSigningEvent::finished({1, 2, 3})};
        rig.addSession(SigningSessionContext::card("", rig.card), 3600s);
        auto model = rig.make(bulk("card-1", {"AQID"}));
        model->start();
        rig.settle();
        EXPECT_FALSE(model->currentModalState()) << "the PIN sheet closes";
        EXPECT_EQ(errorLines(log), std::vector<std::string>{c.line});
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), c.completion);
        EXPECT_EQ(*rig.opened, std::vector<std::string>{c.opened});
        EXPECT_TRUE(rig.remote->signCalls.requests.empty()) << "events after the end are not handled";
        EXPECT_EQ(rig.card->cancels, 1) << "the card's operation is ended";
    }
}

TEST(SigningCard, APinSheetCancelledOrTimedOutEndsTheFlow) {
    for (bool timedOut : {false, true}) {
        SCOPED_TRACE(timedOut ? "timed out" : "cancelled");
        CardSigning s;
        ASSERT_TRUE(pinEvent(*s.model));
        s.model->handlePinInputEnded(timedOut);
        s.rig.settle();
        ASSERT_EQ(s.rig.completions->size(), 1u);
        EXPECT_EQ(describe(s.rig.completions->front()), timedOut ? "2 000 PIN input has timed out." : "none");
        EXPECT_EQ(s.rig.opened->front(), timedOut
                                             ? "https://example.org/cb?error=PIN%20input%20has%20timed%20out."
                                             : "https://example.org/cb?error=Cancelled");
    }
}

TEST(SigningCard, AServerReplyAfterTheUserCancelledChangesNothing) {
    CardSigning s;
    auto& rig = s.rig;
    rig.remote->signCalls.gate.closed = true;
    pinEvent(*s.model)->providePinClosure("1234");
    rig.settle();
    ASSERT_TRUE(rig.remote->signCalls.gate.isWaiting());

    closeMainWindow();
    rig.settle();
    rig.remote->signCalls.gate.open();
    rig.settle();
    EXPECT_EQ(*rig.opened, std::vector<std::string>{"https://example.org/cb?error=Cancelled"});
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_FALSE(rig.completions->front());
}

TEST(SigningCard, ARelayTimeOutWhileTheServerSignsLeavesTheLateSignatureUnsent) {
    Rig rig;
    rig.addSession(SigningSessionContext::card("", rig.card), 3600s);
    rig.remote->signCalls.gate.closed = true;
    auto model = rig.make(SigningRequestType::overXPC());
    model->start();
    rig.xpc->deliverHash(Bytes(20, 0x22), "card-1");
    rig.settle();
    // A 20-byte hash is sent whole, and the OID follows its length.
    ASSERT_EQ(rig.remote->consentCalls.requests.size(), 1u);
    const auto& consent = rig.remote->consentCalls.requests.front();
    EXPECT_EQ(consent.hashAlgorithmOID, "2.16.840.1.101.3.4.2.3");
    ASSERT_EQ(consent.hashesToSign.size(), 1u);
    EXPECT_EQ(consent.hashesToSign.front().label, "dummy.pdf");
    EXPECT_EQ(consent.hashesToSign.front().hash, platform::base64Encoded(Bytes(20, 0x22)));

    pinEvent(*model)->providePinClosure("1234");
    rig.settle();
    rig.xpc->deliverTimeout(AppError(ErrorCodeCategory::xpc, std::nullopt, "002",
                                     "Signature creation has timed out.", std::nullopt));
    rig.settle();
    rig.remote->signCalls.gate.open();
    rig.settle();
    EXPECT_EQ(count(rig.xpc->calls, "cancel"), 1);
    EXPECT_EQ(std::count_if(rig.xpc->calls.begin(), rig.xpc->calls.end(),
                            [](const std::string& call) { return call.starts_with("signature"); }),
              0);
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_EQ(rig.completions->front()->code, "002");
}

// --- Certificate check and authentication

TEST(SigningAuthentication, TheCertificateAndSessionDecideWhetherTheUserLogsInAgain) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        std::vector<std::string> logins;
        std::string completion;  // "" while the flow goes on
    };
    const auto expired = [](Rig& rig) {
        testsupport::CertificateRequest request;
        request.notBeforeOffset = -std::chrono::hours(24 * 800);
        request.notAfterOffset = -std::chrono::hours(24 * 400);
        std::filesystem::create_directories(rig.sessions.tokens->store().driverFolder());
        ASSERT_TRUE(rig.sessions.tokens->registerToken("card-1", testsupport::makeSelfSigned(request).der()));
        rig.addSession(SigningSessionContext::card("", rig.card), 3600s);
    };
    const Case cases[] = {
        {"a session ending in 10 minutes is used",
         [](Rig& rig) { rig.addSession(SigningSessionContext::card("", rig.card), 600s); },
         {},
         ""},
        {"one ending in 4 minutes is not",
         [](Rig& rig) { rig.addSession(SigningSessionContext::card("", rig.card), 240s); },
         {"runAuthentication card-1 auth-1 retrieving"},
         ""},
        {"an expired certificate",
         expired,
         {},
         "2 305 The selected certificate has expired, please retry after selecting or fetching another one."},
        {"a disabled eID means, even with an enabled one after it",
         [](Rig& rig) {
             rig.authenticate->methods = {{halcyra::AuthenticationMethod::eid, true},
                                          {halcyra::AuthenticationMethod::eid, false}};
         },
         {},
         "2 304 Authentication for this signing certificate is currently disabled."},
        {"a new certificate downloaded while logging in",
         [](Rig& rig) { rig.facade->newCertificateRetrieved = true; },
         {"runAuthentication card-1 auth-1 retrieving"},
         "2 301 Your previous certificate could not be used by online services. A new one has been "
         "downloaded, "
         "please retry signing."},
        {"the server refuses the login",
         [](Rig& rig) {
             rig.authenticate->meansCalls.error =
                 HalcyraError::backendError(503, {"S-1"}, "Unavailable", std::nullopt);
         },
         {},
         "1 000 Unavailable - S-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.arrange(rig);
        auto model = rig.make(bulk("card-1", {"AQID"}));
        model->start();
        rig.settle();
        // The login's PIN, not the signature's.
        if (auto event = pinEvent(*model); event && rig.card->signedData.empty())
            event->providePinClosure("1234");
        rig.settle();
        EXPECT_EQ(rig.facade->log->list, c.logins);
        if (c.completion.empty()) {
            EXPECT_TRUE(rig.completions->empty()) << describe(rig.completions->front());
            EXPECT_EQ(rig.card->signedData.size(), 1u) << "the card signs the consent";
            continue;
        }
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), c.completion);
        EXPECT_TRUE(rig.remote->consentCalls.requests.empty());
    }
}

TEST(SigningAuthentication, AFailureReportedByTheLoginEndsTheFlowWithItsCodeAndLogLines) {
    struct Case {
        AuthenticateFlowEvent event;
        std::string completion;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {AuthenticateFlowEvent::signingEvent(CardSigningEvent::failed("ERR_7", "PIN blocked")),
         "5 ERR_7 PIN blocked",
         {"Signing with card failed, message: PIN blocked"}},
        {AuthenticateFlowEvent::error(HalcyraError::backendError(401, {}, "Session expired", std::nullopt)),
         "1 000 Session expired",
         {"Could not authenticate: Session expired", "Could not handle signature request: Session expired"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.completion);
        Rig rig;
        LogCapture log;
        rig.facade->script = std::vector{c.event};
        auto model = rig.make(bulk("card-1", {"AQID"}));
        model->start();
        rig.settle();
        EXPECT_EQ(model->currentSigningReason(),
                  SigningReason::of(SigningReason::Kind::signingAuthentication));
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), c.completion);
        EXPECT_EQ(errorLines(log), c.lines);
        EXPECT_TRUE(rig.remote->consentCalls.requests.empty());
    }
}

// A card taken out while the user logs in with it: no sheet waits for a card that has gone, and either
// requester hears of the removal as during the signature.
TEST(SigningAuthentication, ACardRemovedDuringTheLoginEndsTheFlowAndAnswersTheRequester) {
    for (bool overXPC : {false, true}) {
        SCOPED_TRACE(overXPC ? "token" : "bulk");
        Rig rig;
        LogCapture log;
        // The login's stream stays open after the removal, as the facade's does while the card is read.
        rig.facade->keepOpen = true;
        rig.facade->script = std::vector{
            AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested([](const std::string&) {})),
            AuthenticateFlowEvent::signingEvent(CardSigningEvent::of(Kind::failedBecauseOfCardRemoval))};
        auto model = rig.make(overXPC ? SigningRequestType::overXPC() : bulk("card-1", {"AQID"}));
        model->start();
        if (overXPC)
            rig.xpc->deliverHash(Bytes(32, 1), "card-1");
        rig.settle();
        EXPECT_FALSE(model->currentModalState()) << "the PIN sheet closes";
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), "5 004 eID card removed");
        EXPECT_EQ(errorLines(log),
                  std::vector<std::string>{"Could not sign hash with card:\u00A0card removed"});
        if (overXPC) {
            EXPECT_EQ(count(rig.xpc->calls, "cancel"), 1);
            EXPECT_TRUE(rig.opened->empty());
        } else {
            EXPECT_EQ(*rig.opened,
                      std::vector<std::string>{"https://example.org/cb?error=eID%20card%20removed"});
        }
        EXPECT_TRUE(rig.remote->consentCalls.requests.empty());
    }
}

// --- The wallet path

TEST(SigningWallet, TheWalletLogsInThenConfirmsTheConsentWithThePollingSessionOfItsResult) {
    Rig rig;
    auto model = rig.make(bulk(wallet, {"AQID", "AQ=="}));
    model->start();
    rig.settle();
    EXPECT_EQ(model->viewTarget(), SigningViewTarget::info("Authenticating...", true));
    EXPECT_EQ(model->currentSigningReason(), SigningReason::of(SigningReason::Kind::signingAuthentication));
    ASSERT_TRUE(model->currentModalState());
    EXPECT_EQ(model->currentModalState()->walletTrackingSessionId(), "auth-1");
    EXPECT_EQ(model->currentModalState()->walletTrackingPollingSessionId(), std::nullopt);

    // A new QR code during the login is a new login session.
    auto login = testsupport::await(model->refreshWalletSession("auth-1"));
    EXPECT_EQ(login, (WalletTrackingIdentifiers{"auth-2", std::nullopt}));

    model->walletTrackingCompleted(WalletTrackingResult::success("auth-2", "poll-login"));
    rig.settle();
    EXPECT_EQ(rig.facade->log->list,
              std::vector<std::string>{"runAuthentication WALLET_TOKEN_IDENTIFIER auth-2 retrieving"});
    ASSERT_EQ(rig.remote->consentCalls.requests.size(), 1u);
    ASSERT_TRUE(model->currentModalState());
    EXPECT_EQ(model->currentModalState()->walletTrackingPollingSessionId(), "poll-consent-1");
    EXPECT_EQ(model->currentSigningReason().kind, SigningReason::Kind::actualSigning);

    // A new QR code during the consent: the same session, new consent data.
    auto consent = testsupport::await(model->refreshWalletSession("server-session"));
    EXPECT_EQ(consent.pollingSessionId, "poll-consent-1");
    EXPECT_EQ(model->consentSessionId(), "consent-2");

    model->walletTrackingCompleted(WalletTrackingResult::success("server-session", "poll-confirmed"));
    rig.settle();
    ASSERT_EQ(rig.remote->signCalls.requests.size(), 1u);
    const auto& request = rig.remote->signCalls.requests.front();
    EXPECT_EQ(request.consentSessionId(), "consent-2");
    ASSERT_TRUE(request.wallet());
    EXPECT_FALSE(request.eid());
    EXPECT_EQ(request.wallet()->pollSessionId, "poll-confirmed");
    EXPECT_EQ(*rig.opened, std::vector<std::string>{"https://example.org/cb?signatures=AQID,BAUG"});
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_FALSE(rig.completions->front());
}

TEST(SigningWallet, TheSheetsFailureOrCancelAndAServerRefusalEndTheFlow) {
    struct Case {
        const char* name;
        std::function<void(Rig&, SigningViewModel&)> act;
        std::string completion;
    };
    const Case cases[] = {
        {"cancelled", [](Rig&, SigningViewModel& model) { model.walletTrackingCancelled(); }, "none"},
        {"failed",
         [](Rig&, SigningViewModel& model) {
             model.walletTrackingCompleted(WalletTrackingResult::failure(
                 AppError(ErrorCodeCategory::app, std::nullopt, "303", "The code expired.", std::nullopt)));
         },
         "2 303 The code expired."},
        {"the server refuses the signature",
         [](Rig& rig, SigningViewModel& model) {
             rig.remote->signCalls.error = HalcyraError::otherError("refused");
             model.walletTrackingCompleted(WalletTrackingResult::success("server", "poll"));
         },
         "1 000 refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.addSession(SigningSessionContext::wallet("", ""), 3600s);
        auto model = rig.make(bulk(wallet, {"AQID"}));
        model->start();
        rig.settle();
        ASSERT_TRUE(model->currentModalState());
        c.act(rig, *model);
        rig.settle();
        EXPECT_FALSE(model->currentModalState());
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), c.completion);
        EXPECT_EQ(rig.opened->size(), 1u);
    }
}

// --- The consent data

TEST(SigningConsent, TheBulkDigestHashesTheDecodedHashesInUnsignedOrder) {
    const auto digest = [](std::vector<std::string> hashes) {
        std::vector<BulkSigningRequest::Document> documents;
        for (auto& hash : hashes)
            documents.push_back({std::move(hash), std::nullopt});
        return SigningRequestIntake::bulkHashToSign(documents);
    };
    // 02 01, 01, 01 00, ff: a prefix first, and 0xff after 0x02 (unsigned).
    const Bytes sorted{0x01, 0x01, 0x00, 0x02, 0x01, 0xFF};
    EXPECT_EQ(digest({"AgE=", "AQ==", "AQA=", "/w=="}), platform::sha256(sorted));
    EXPECT_EQ(digest({"/w==", "AQA=", "AQ==", "AgE="}), platform::sha256(sorted));
    EXPECT_EQ(digest({}), platform::sha256({}));
    for (const std::string bad : {"AQ", "AQ==\n", " AQ==", "AQ-_", "AQ=A", "AQ==="})
        EXPECT_EQ(digest({"AQ==", bad}), std::nullopt) << '"' << bad << '"';
}

TEST(SigningConsent, TheConsentRequestListsEachDocumentInRequestOrderCutTo32Bytes) {
    const Bytes long48(48, 0x30);
    const Bytes short20(20, 0x20);
    CardSigning s({platform::base64Encoded(long48), platform::base64Encoded(short20)});
    ASSERT_EQ(s.rig.remote->consentCalls.requests.size(), 1u);
    const auto& request = s.rig.remote->consentCalls.requests.front();
    EXPECT_EQ(request.clientData, s.rig.sessions.store->clientData());
    EXPECT_EQ(request.authSessionId, "server-1");
    EXPECT_EQ(request.hashAlgorithmOID, "2.16.840.1.101.3.4.2.1") << "from the first document";
    ASSERT_EQ(request.hashesToSign.size(), 2u);
    EXPECT_EQ(request.hashesToSign[0].label, "document-1.pdf");
    EXPECT_EQ(request.hashesToSign[0].hash, platform::base64Encoded(Bytes(32, 0x30)));
    EXPECT_EQ(request.hashesToSign[1].hash, platform::base64Encoded(short20));
}

TEST(SigningConsent, ARequestWithNothingToSignOrAHashThatIsNotBase64FailsBeforeAnyLogin) {
    struct Case {
        std::vector<std::string> hashes;
        std::string message;
        std::string line;
    };
    const Case cases[] = {
        {{"AQID", "AQ-_"},
         "The signing request holds a document hash that is not valid Base64.",
         "Bulk signing request holds a hash that is not valid Base64"},
        {{}, "The signing request holds no document to sign.", "Bulk signing request holds no document"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Rig rig;
        LogCapture log;
        auto model = rig.make(bulk("card-1", c.hashes));
        model->start();
        rig.settle();
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), "2 000 " + c.message);
        EXPECT_EQ(errorLines(log), std::vector<std::string>{c.line});
        EXPECT_TRUE(rig.authenticate->meansCalls.requests.empty());
        EXPECT_TRUE(rig.card->signedData.empty());
        EXPECT_EQ(*rig.opened, std::vector<std::string>{
                                   "https://example.org/cb?error=" +
                                   QUrl::toPercentEncoding(QString::fromStdString(c.message)).toStdString()});
    }
}

// The card would be asked for its PIN to sign nothing: the flow fails with the server's data before any
// sheet.
TEST(SigningConsent, AConsentWithoutAUsableCardHashFailsBeforeThePin) {
    using EID = halcyra::GetDataToConsentResponse::EID;
    struct Case {
        std::optional<EID> eid;
        std::string message;
    };
    const Case cases[] = {
        {std::nullopt, "The server sent no data to sign"},
        {EID{"not base64url!", "SHA256"}, "The data to sign could not be decoded"},
        {EID{"", "SHA256"}, "The data to sign could not be decoded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Rig rig;
        LogCapture log;
        rig.addSession(SigningSessionContext::card("server-1", rig.card), 3600s);
        rig.remote->consent.eid = c.eid;
        auto model = rig.make(bulk("card-1", {"AQID"}));
        std::vector<SigningViewModalState> sheets;
        auto subscription = model->subscribe([&] {
            if (auto state = model->currentModalState())
                sheets.push_back(*state);
        });
        model->start();
        rig.settle();
        EXPECT_TRUE(sheets.empty()) << "no PIN sheet";
        EXPECT_TRUE(rig.card->signedData.empty());
        ASSERT_EQ(rig.completions->size(), 1u);
        EXPECT_EQ(describe(rig.completions->front()), "1 000 " + c.message);
        EXPECT_EQ(errorLines(log),
                  std::vector<std::string>{
                      "Could not handle signature request: Unexpected error: " + c.message + "."});
        EXPECT_EQ(rig.opened->size(), 1u);
        EXPECT_TRUE(rig.remote->signCalls.requests.empty());
    }
}

}  // namespace
