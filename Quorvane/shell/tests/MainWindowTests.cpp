#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include "ShellTestSupport.h"

namespace {

using namespace shelltest;
using ::testing::ElementsAre;

const std::string retrievedLog = "UI closing, sending certificate retrieval completion signal just in case";
const std::string skippedLog =
    "UI closing, but flag to ignore will close notification for certificate retrieval completion signal was "
    "set, so skipping";

TEST(MainWindowTest, FirstShowMakesTheWindowOnceAndLaterShowsKeepItsPlace) {
    ShellRig rig;
    rig.controller.show(AppOpenMode::menu());
    MainWindow* window = rig.mainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), "Quorvane App");
    EXPECT_EQ(window->size(), QSize(800, 550));
    EXPECT_EQ(window->minimumSize(), QSize(800, 550));
    const auto flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    // Centred, give or take the frame the platform adds once the window is shown.
    const QPoint offCentre =
        window->geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 8);
    EXPECT_TRUE(window->isVisible());

    window->move(10, 20);
    window->resize(900, 600);
    rig.controller.close(false);
    rig.controller.show(AppOpenMode::settings());
    EXPECT_EQ(rig.mainWindow(), window);
    EXPECT_EQ(window->pos(), QPoint(10, 20));
    EXPECT_EQ(window->size(), QSize(900, 600));
}

TEST(MainWindowTest, EveryShowGivesNewContentAndAnnouncesItBeforeActivating) {
    ShellRig rig;
    rig.controller.show(AppOpenMode::menu());
    QWidget* first = rig.mainWindow()->centralWidget();
    rig.controller.show(AppOpenMode::menu());  // the same mode again still gets a new screen
    QWidget* second = rig.mainWindow()->centralWidget();
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->isVisible());
    // The old screen is closed before the new one is made, so that its model is gone before anything it
    // queued can act on the new screen.
    EXPECT_THAT(rig.events->list, ElementsAre("content menu", "DidOpen", "policy regular",
                                              "activate ignoring others", "closed menu", "content menu",
                                              "DidOpen", "policy regular", "activate ignoring others"));
    EXPECT_THAT(rig.logs.messages(),
                ElementsAre("UI requested with mode: menu", "UI requested with mode: menu"));
}

TEST(MainWindowTest, AScreenMayAskForTheNextOneFromItsOwnButton) {
    // As the main menu's buttons do: the screen whose button was pressed is replaced while the press is
    // handled, and deleted only once the press has returned.
    ShellRig rig;
    rig.controller.show(AppOpenMode::menu());
    QPointer<QWidget> menu = rig.mainWindow()->centralWidget();
    auto* button = new QPushButton("Settings", menu);
    QObject::connect(button, &QPushButton::clicked, [&rig] { rig.controller.show(AppOpenMode::settings()); });
    button->click();
    EXPECT_TRUE(menu);
    EXPECT_EQ(rig.events->starting("content ").back(), "content settings");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(menu);
}

// How each way of closing ends: what the app hears, and whether the plug-in hears that retrieval is over.
enum class Before { shown, closed, hiddenWithoutClose };

struct CloseCase {
    std::string name;
    Before before;
    bool byUser;            // the title bar's button, else close()
    bool ignoringSignal;    // close(ignoringWillCloseSignal:)
    Lines expectedEvents;   // from the close on
    Lines expectedSignals;  // as an observer process sees them
};

class MainWindowCloseTest : public ::testing::TestWithParam<CloseCase> {};

TEST_P(MainWindowCloseTest, ClosingAnnouncesAndSignalsAsTheCaseRequires) {
    const auto& c = GetParam();
    NotificationWatch watch;
    ShellRig rig;
    rig.controller.show(AppOpenMode::getCertificate(false));
    if (c.before == Before::closed)
        rig.controller.close(true);
    else if (c.before == Before::hiddenWithoutClose)
        rig.mainWindow()->hide();  // Qt still delivers a close event to a window hidden this way
    rig.events->list.clear();
    rig.logs.clear();

    if (c.byUser)
        rig.closeByUser();
    else
        rig.controller.close(c.ignoringSignal);

    EXPECT_EQ(rig.events->list, c.expectedEvents);
    EXPECT_FALSE(rig.mainWindow()->isVisible());
    EXPECT_FALSE(rig.controller.isBusy());
    EXPECT_EQ(rig.controller.lastShownMode(), AppOpenMode::getCertificate(false));  // kept after a close
    EXPECT_EQ(watch.seen(), c.expectedSignals);
}

INSTANTIATE_TEST_SUITE_P(
    Closes, MainWindowCloseTest,
    ::testing::Values(
        CloseCase{"ByTheUser",
                  Before::shown,
                  true,
                  false,
                  {"WillClose", "policy accessory", "retrieved"},
                  {retrieved}},
        CloseCase{"ByCode",
                  Before::shown,
                  false,
                  false,
                  {"WillClose", "policy accessory", "retrieved"},
                  {retrieved}},
        CloseCase{
            "ByCodeIgnoringTheSignal", Before::shown, false, true, {"WillClose", "policy accessory"}, {}},
        // A window that is not on screen has nothing to close: no announcement, and above all no "retrieved"
        // right after a certificate request's "requested".
        CloseCase{"ClosedByCode", Before::closed, false, false, {}, {}},
        CloseCase{"ClosedByTheUser", Before::closed, true, false, {}, {}},
        CloseCase{"HiddenByCode", Before::hiddenWithoutClose, false, false, {}, {}},
        CloseCase{"HiddenByAQtCloseEvent", Before::hiddenWithoutClose, true, false, {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(MainWindowTest, IgnoringTheSignalSkipsExactlyTheNextClose) {
    NotificationWatch watch;
    ShellRig rig;
    rig.controller.show(AppOpenMode::getCertificate(false));
    rig.controller.close(true);
    rig.controller.show(AppOpenMode::getCertificate(false));
    rig.closeByUser();
    // On a hidden window the flag is not even stored: the next close still signals.
    rig.controller.close(true);
    rig.controller.show(AppOpenMode::menu());
    rig.closeByUser();
    EXPECT_EQ(rig.events->starting("retrieved").size(), 2u);
    EXPECT_THAT(rig.logs.messages(), ::testing::Contains(skippedLog).Times(1));
    EXPECT_THAT(rig.logs.messages(), ::testing::Contains(retrievedLog).Times(2));
    EXPECT_EQ(watch.seen(), (Lines{retrieved, retrieved}));
}

TEST(MainWindowTest, BusyOnlyWhileOnScreenWithAFlow) {
    struct Case {
        AppOpenMode mode;
        bool busy;
    };
    const std::vector<Case> cases{{AppOpenMode::getCertificate(true), true},
                                  {AppOpenMode::getCertificate(false), true},
                                  {AppOpenMode::sign(SigningRequestType::overXPC()), true},
                                  {AppOpenMode::accountInfo(), true},
                                  {AppOpenMode::menu(), false},
                                  {AppOpenMode::settings(), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode.description());
        ShellRig rig;
        EXPECT_FALSE(rig.controller.isBusy());  // no window yet
        rig.controller.show(c.mode);
        EXPECT_EQ(rig.controller.isBusy(), c.busy);
        rig.controller.close(true);
        EXPECT_FALSE(rig.controller.isBusy());  // a hidden window never is
        rig.mainWindow()->QWidget::show();      // shown by other means than show(mode)
        EXPECT_EQ(rig.controller.isBusy(), c.busy);
    }
}

// A screen with a flow, as the navigation makes them: when the window closes, the flow answers its requester
// and reports its end in a task of its own, upon which its navigation closes the window, unless the screen
// has been replaced by then (its model went with it).
class FlowScreen : public QLabel {
  public:
    FlowScreen(const AppOpenMode& mode, ShellRig& rig) : QLabel(QString::fromStdString(mode.description())) {
        std::weak_ptr<int> alive = model_;
        observation_ = platform::NotificationCenter::defaultCenter().addObserver(
            MainWindowController::mainWindowWillCloseNotification, [&rig, alive, mode] {
                rig.events->add("answered " + mode.description());
                rig.scheduler->post([&rig, alive] {
                    if (alive.lock())
                        rig.controller.close(false);
                });
            });
    }

  protected:
    void closeEvent(QCloseEvent* event) override {
        model_.reset();
        observation_.cancel();
        QLabel::closeEvent(event);
    }

  private:
    std::shared_ptr<int> model_ = std::make_shared<int>(0);
    platform::NotificationCenter::Observation observation_;
};

TEST(MainWindowTest, ShowingOverABusyWindowEndsTheRunningFlowLikeAClose) {
    // A second sign link while a signing flow runs: the running flow hears the close and answers its
    // requester before the new one starts, and its end leaves the new one alone.
    NotificationWatch watch;
    ShellRig rig;
    rig.controller.makeWindow = [&rig] {
        return std::make_shared<MainWindow>([&rig](const AppOpenMode& mode) {
            rig.events->add("content " + mode.description());
            return new FlowScreen(mode, rig);
        });
    };
    rig.controller.show(AppOpenMode::sign(SigningRequestType::overXPC()));
    rig.events->list.clear();

    rig.controller.show(AppOpenMode::sign(SigningRequestType::overXPC()));
    rig.scheduler->runPending();
    EXPECT_THAT(rig.events->list,
                ElementsAre("WillClose", "answered sign(overXPC(hash: none))", "policy accessory",
                            "retrieved", "content sign(overXPC(hash: none))", "DidOpen", "policy regular",
                            "activate ignoring others"));
    EXPECT_TRUE(rig.mainWindow()->isVisible());
    EXPECT_EQ(watch.seen(), Lines{retrieved});

    // Over the menu or the settings nothing runs that would need ending.
    rig.controller.show(AppOpenMode::menu());
    rig.scheduler->runPending();
    rig.events->list.clear();
    rig.controller.show(AppOpenMode::settings());
    EXPECT_THAT(rig.events->starting("WillClose"), ElementsAre());
}

}  // namespace
