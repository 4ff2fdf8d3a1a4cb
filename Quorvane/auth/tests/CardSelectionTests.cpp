// Card selection: the decision on the cards at hand, the guidance for a wanted card, the re-reading through
// the stand-in bridge in virtual time (a reading every 0.5 s, a slow one), a card handed over once only, and
// the screen driven by the mouse and the keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <fstream>

#include "platform/testing/Await.h"

#include "AuthTestSupport.h"
#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/auth/CardSelectionViewModel.h"
#include "Quorvane/auth/CardView.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "cardbridge/PindleClient.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "outside/Common/Common.h"
#include "platform/Workspace.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"

using namespace std::chrono_literals;
using pindle::Card;
using StateKind = CardSelectionViewState::Kind;
using Cards = std::vector<std::shared_ptr<Card>>;
using testsupport::eventually;

namespace {

// A re-read is pending.
bool monitoring(const CardSelectionViewModel& model) {
    return model.monitoringTimer() && model.monitoringTimer()->isValid();
}

std::shared_ptr<Card> cardWithId(const std::string& id, const std::string& first = "Ann") {
    return std::make_shared<CardMock>(first, "Peeters", "71715100070", id, std::nullopt, std::nullopt,
                                      platform::Bytes{});
}

// The cards handed over, in order, and the done button's requests.
struct HandOvers {
    Cards cards;
    int doneRequests = 0;
    CardSelectionViewModel::CardSelected callback() {
        return [this](std::shared_ptr<Card> card) { cards.push_back(std::move(card)); };
    }
};

class CardSelection : public authtest::CleanState {
  protected:
    CardSelection() {
        DependencyValues::shared().set<PindleClientKey>(
            PindleMock::make(PindleMock::Mode::noCards(), scheduler));
    }
    std::shared_ptr<CardSelectionViewModel> make(std::optional<std::string> wanted, Cards cards) {
        return std::make_shared<CardSelectionViewModel>(std::move(wanted), std::move(cards),
                                                        handOvers.callback(), scheduler,
                                                        [this] { ++handOvers.doneRequests; });
    }
    HandOvers handOvers;
    authtest::SessionStore sessionStore{scheduler};
};

// Without a bridge: every reading finds the three sample cards anew (new objects for the same cards).
class CardSelectionScreen : public CardSelection {
  protected:
    CardSelectionScreen() {
        DependencyValues::shared().set<PindleClientKey>(
            PindleMock::make(PindleMock::Mode::threeCards(), scheduler));
    }
};

TEST_F(CardSelection, TheCardsAtHandAreHandedOverListedOrAskedFor) {
    const auto a = SampleCards::cardA(scheduler->now());
    const auto b = SampleCards::cardB();
    const auto c = SampleCards::cardC(scheduler->now());
    const auto b2 = cardWithId("Claessens", "Second");
    struct Case {
        const char* name;
        std::optional<std::string> wanted;
        Cards cards;
        std::shared_ptr<Card> handedOver;
        CardSelectionViewState state;
        bool monitoring;
    };
    const Case cases[] = {
        {"no card", std::nullopt, {}, nullptr, CardSelectionViewState::noCards(), true},
        {"one card", std::nullopt, {b}, b, CardSelectionViewState::noCards(), false},
        {"three cards",
         std::nullopt,
         {a, b, c},
         nullptr,
         CardSelectionViewState::availableCards({a, b, c}),
         true},
        {"wanted among three", "Claessens", {a, b, c}, b, CardSelectionViewState::noCards(), false},
        {"wanted twice", "Claessens", {a, b2, b}, b2, CardSelectionViewState::noCards(), false},
        {"wanted alone", "Claessens", {b}, b, CardSelectionViewState::noCards(), false},
        {"wanted missing", "Nobody", {a, c}, nullptr, CardSelectionViewState::noCards(), true},
        {"wanted, no card", "Claessens", {}, nullptr, CardSelectionViewState::noCards(), true},
        {"identifier differs in case", "claessens", {b}, nullptr, CardSelectionViewState::noCards(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handOvers.cards.clear();
        auto model = make(c.wanted, c.cards);
        EXPECT_EQ(handOvers.cards, c.handedOver ? Cards{c.handedOver} : Cards{});
        EXPECT_EQ(model->hasHandedOverCard(), c.handedOver != nullptr);
        EXPECT_TRUE(model->viewState() == c.state);
        EXPECT_EQ(model->monitoringTimer() != nullptr, c.monitoring);
        EXPECT_EQ(monitoring(*model), c.monitoring);
    }
}

TEST_F(CardSelection, TheGuidanceNamesTheHolderOfAWantedCardWhoseCertificateIsKnown) {
    const auto certificate =
        testsupport::makeSelfSigned(testsupport::citizenCard("Ann", "Peeters", "71715100070"));
    ASSERT_TRUE(sessionStore.store->registerToken(SigningSessionContext::card("s", cardWithId("KNOWN")),
                                                  certificate.der()));
    struct Case {
        std::optional<std::string> wanted;
        const char* guidance;
    };
    const Case cases[] = {
        {"KNOWN", "Enter the eID card for Ann Peeters"},
        {"UNKNOWN", "Enter your eID card"},
        {std::nullopt, "Enter your eID card"},
    };
    for (const auto& c : cases) {
        auto model = make(c.wanted, {});
        EXPECT_EQ(model->guidanceText(), c.guidance);
    }
}

// ---- Through the stand-in bridge

class CardReading : public CardSelection {
  protected:
    CardReading() {
        DependencyValues::shared().set<PindleClientKey>(
            pindle::PindleClientProvider::keychainClient({}, scheduler));
    }
    ~CardReading() override {
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s);
    }

    // A reader holding a new software card; its card's identifier.
    std::string insertCard(const std::string& surname) {
        auto issued = testsupport::issueCitizenCard("Ann", surname, "71715100070");
        bridge.addReader(simtest::reader("standard", simtest::softCard(issued), "Reader " + surname));
        return *uniqueId(issued.certificate);
    }
    // Lets the re-read timer fire and the reading it starts end (or reach the state wanted).
    template <class Condition>
    bool readUntil(Condition condition) {
        scheduler->advance(CardSelectionViewModel::monitoringInterval);
        return eventually(condition, 20s);
    }
    // A reading's run waits for this file before it answers.
    std::filesystem::path gate = testsupport::makeTempDir("gate") / "answer";
    void holdNextReading() { bridge.script(platform::json::Json::array({{{"waitForFile", gate.string()}}})); }
    void releaseReading() { std::ofstream(gate) << "go"; }

    simtest::SimBridge bridge;
};

TEST_F(CardReading, ReadsEveryHalfSecondUntilOneCardIsThereAndThenStops) {
    auto model = make(std::nullopt, {});
    ASSERT_TRUE(model->monitoringTimer());
    scheduler->advance(400ms);
    EXPECT_EQ(bridge.runs(), 0u) << "not before 0.5 s";
    ASSERT_TRUE(readUntil([&] { return bridge.runs() == 1 && monitoring(*model); }));
    EXPECT_EQ(model->viewState().kind, StateKind::noCards);

    const auto id = insertCard("Peeters");
    bridge.install();
    ASSERT_TRUE(readUntil([&] { return !handOvers.cards.empty(); }));
    EXPECT_EQ(handOvers.cards.front()->uniqueIdentifier(), id);
    EXPECT_FALSE(model->monitoringTimer());
    for (int i = 0; i < 6; ++i)
        scheduler->advance(CardSelectionViewModel::monitoringInterval);
    QApplication::processEvents();
    EXPECT_EQ(bridge.runs(), 1u) << "monitoring ended with the hand-over";
    EXPECT_EQ(handOvers.cards.size(), 1u);
}

TEST_F(CardReading, AWantedCardIsHandedOverOnceWhileItStaysInserted) {
    const auto id = insertCard("Peeters");
    insertCard("Janssens");
    bridge.install();
    // The signing screen's case: the wanted card, nothing read yet.
    auto model = make(id, {});
    ASSERT_TRUE(readUntil([&] { return !handOvers.cards.empty(); }));
    EXPECT_EQ(handOvers.cards.front()->uniqueIdentifier(), id);
    EXPECT_EQ(model->viewState().kind, StateKind::noCards) << "a wanted card is never listed";
    EXPECT_FALSE(monitoring(*model)) << "no reading follows the hand-over";
    for (int i = 0; i < 6; ++i) {
        scheduler->advance(CardSelectionViewModel::monitoringInterval);
        testsupport::runPendingEvents();
    }
    // Handing it over again would start a second card operation with a second PIN sheet.
    EXPECT_EQ(handOvers.cards.size(), 1u);
    EXPECT_EQ(bridge.runs(), 1u);
}

TEST_F(CardReading, AReadingUnderWayWhenTheHolderPicksACardIsIgnored) {
    insertCard("Peeters");  // what the running reading will find: one card, which it would hand over
    holdNextReading();
    bridge.install();
    const auto a = SampleCards::cardA(scheduler->now());
    const auto c = SampleCards::cardC(scheduler->now());
    auto model = make(std::nullopt, {a, c});
    CardSelectionView view(model);
    view.show();
    ASSERT_TRUE(readUntil([&] { return bridge.runs() == 1; }));

    ASSERT_EQ(view.cardViews().size(), 2u);
    QTest::mouseClick(view.cardViews()[1]->selectButton(), Qt::LeftButton);
    EXPECT_EQ(handOvers.cards, Cards{c});
    EXPECT_FALSE(model->monitoringTimer());

    // Its end would hand over the one card it found and schedule the next reading: follow the same reading
    // to its end, which the model sees first.
    auto sameReading = DependencyValues::shared().get<PindleClientKey>()->currentCards();
    releaseReading();
    std::vector<pindle::CardFetchingEvent::Kind> events;
    while (auto event = testsupport::await(sameReading.next()))
        events.push_back(event->kind);
    EXPECT_EQ(events.back(), pindle::CardFetchingEvent::Kind::finished);
    testsupport::runPendingEvents();
    EXPECT_FALSE(monitoring(*model));
    for (int i = 0; i < 4; ++i) {
        scheduler->advance(CardSelectionViewModel::monitoringInterval);
        testsupport::runPendingEvents();
    }
    EXPECT_EQ(handOvers.cards, Cards{c});
    EXPECT_EQ(bridge.runs(), 1u);
    EXPECT_EQ(model->viewState(), CardSelectionViewState::availableCards({a, c}));
}

TEST_F(CardReading, ASlowReadingShowsTheWaitingMessageButKeepsAList) {
    for (bool listed : {false, true}) {
        SCOPED_TRACE(listed ? "cards listed" : "no card");
        holdNextReading();
        bridge.install();
        std::filesystem::remove(gate);
        const Cards initial = listed ? SampleCards::all(scheduler->now()) : Cards{};
        auto model = make(std::nullopt, initial);
        ASSERT_TRUE(readUntil([&] { return bridge.runs() == 1; }));
        scheduler->advance(1900ms);
        testsupport::runPendingEvents();
        EXPECT_EQ(model->viewState().kind, listed ? StateKind::availableCards : StateKind::noCards);
        scheduler->advance(100ms);
        if (listed) {
            testsupport::runPendingEvents();
            EXPECT_EQ(model->viewState(), CardSelectionViewState::availableCards(initial));
        } else {
            EXPECT_TRUE(eventually([&] { return model->viewState().kind == StateKind::longReadOngoing; }));
        }
        releaseReading();
        // The reading found no card: the insert-card panel, and the next reading 0.5 s later.
        ASSERT_TRUE(eventually([&] { return model->viewState().kind == StateKind::noCards; }, 20s));
        ASSERT_TRUE(eventually([&] { return monitoring(*model); }));
        EXPECT_TRUE(handOvers.cards.empty());
        model.reset();
        EXPECT_TRUE(eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 20s));
    }
}

// ---- Screen

TEST_F(CardSelectionScreen, TheScreenListsTheCardsAndHandsOverTheOnePicked) {
    const auto cards = SampleCards::all(scheduler->now());
    auto model = make(std::nullopt, cards);
    CardSelectionView view(model);
    view.resize(800, 550);
    view.show();
    QApplication::setActiveWindow(&view);
    QApplication::processEvents();
    EXPECT_TRUE(view.doneButton()->hasFocus());
    ASSERT_EQ(view.cardViews().size(), 3u);
    QStringList texts;
    for (auto* label : view.cardViews()[1]->findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Jonas Claessens")) << texts.join("|").toStdString();
    EXPECT_TRUE(texts.contains("National number: 84122800153"));

    // A new reading of the same cards keeps the rows (and the focus in them).
    view.cardViews()[2]->selectButton()->setFocus();
    const auto* firstRow = view.cardViews()[0];
    scheduler->advance(CardSelectionViewModel::monitoringInterval);
    ASSERT_TRUE(eventually([&] { return monitoring(*model); }));
    QApplication::processEvents();
    EXPECT_NE(model->viewState().cards[0], cards[0]) << "a new reading";
    ASSERT_EQ(view.cardViews().size(), 3u);
    EXPECT_EQ(view.cardViews()[0], firstRow);
    EXPECT_TRUE(view.cardViews()[2]->selectButton()->hasFocus());

    // The keyboard picks the focused row's card.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_EQ(handOvers.cards.size(), 1u);
    EXPECT_EQ(handOvers.cards[0], model->viewState().cards[2]);
    EXPECT_EQ(handOvers.cards[0]->uniqueIdentifier(), cards[2]->uniqueIdentifier());
    EXPECT_FALSE(model->monitoringTimer());

    // Done asks to close the window, and hands over nothing.
    QTest::mouseClick(view.doneButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(handOvers.doneRequests, 1);
    EXPECT_EQ(handOvers.cards.size(), 1u);
}

TEST_F(CardSelectionScreen, TheInsertCardPanelLinksToCardReaderHelp) {
    auto model = make(std::nullopt, {});
    CardSelectionView view(model);
    view.resize(800, 550);
    view.show();
    QApplication::processEvents();
    ASSERT_TRUE(view.guidanceLabel());
    EXPECT_EQ(view.guidanceLabel()->text(), "Enter your eID card");
    platform::WorkspaceRecorder workspace;
    auto* link = view.helpLink();
    ASSERT_TRUE(link);
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_EQ(workspace.openedURLs(), std::vector<std::string>{CardSelectionView::cardReaderHelpURL});
}

}  // namespace
