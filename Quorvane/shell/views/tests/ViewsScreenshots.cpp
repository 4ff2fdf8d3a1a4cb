// Renders of the shared screens and views, each state that looks different, in the light palette, and the
// ones where colour or text size matters most also in a dark palette and at twice the font size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfView>
#include <QPdfWriter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/core/SigningSessionDatabaseMock.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/AppVersionsView.h"
#include "Quorvane/shell/views/BaseCardInformationView.h"
#include "Quorvane/shell/views/BulletView.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoView.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/shell/views/PDFKitView.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Eventually.h"

using testsupport::saveScreenshot;
using namespace std::chrono_literals;

namespace {

// A sheet as wide as given and as high as its content needs at that width.
QSize sheetSize(const QWidget& sheet, int width) {
    return QSize(width, sheet.hasHeightForWidth() ? sheet.heightForWidth(width) : sheet.sizeHint().height());
}

class Screens : public ::testing::Test {
  protected:
    void SetUp() override {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }
    void TearDown() override {
        // Let the timers run out: a pending toast hides with its model held, which would otherwise outlive
        // the test together with the scheduler it holds.
        scheduler_->advance(std::chrono::hours(1));
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }
    std::shared_ptr<platform::VirtualScheduler> scheduler_ = std::make_shared<platform::VirtualScheduler>();
};

TEST_F(Screens, Menu) {
    auto model = std::make_shared<MenuViewModel>([](AppOpenMode) {});
    {
        MenuView view(model);
        EXPECT_TRUE(saveScreenshot(view, "menu-light"));
    }
    {
        MenuView view(model);
        view.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(view, "menu-dark"));
    }
    {
        testsupport::ScopedFontScale large(2.0);
        MenuView view(model);
        EXPECT_TRUE(saveScreenshot(view, "menu-large-font"));
    }
}

TEST_F(Screens, Info) {
    struct Case {
        const char* name;
        const char* message;
        bool isWaiting;
        bool withToast;
        bool dark;
    };
    const Case cases[] = {
        {"info-waiting", "Validating account status...", true, false, false},
        {"info-message", "Your signing certificate is ready.", false, false, false},
        {"info-error", "1201-500: The server could not handle the request. Please try again later.", false,
         false, false},
        {"info-error-toast", "1201-500: The server could not handle the request. Please try again later.",
         false, true, false},
        {"info-error-toast-dark",
         "1201-500: The server could not handle the request. Please try again later.", false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = std::make_shared<InfoViewModel>(c.message, c.isWaiting, nullptr, true, scheduler_);
        InfoView view(model);
        if (c.dark)
            view.setPalette(testsupport::darkPalette());
        if (c.withToast) {
            view.resize(testsupport::mainWindowSize);
            view.show();
            model->copyMessageToPasteboard();
            QTest::qWait(InfoView::toastAnimationMilliseconds + 100);
        }
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
    testsupport::ScopedFontScale large(2.0);
    InfoView view(std::make_shared<InfoViewModel>(
        "1201-500: The server could not handle the request. Please try again later.", false, nullptr, true,
        scheduler_));
    EXPECT_TRUE(saveScreenshot(view, "info-error-large-font"));
}

TEST_F(Screens, CardInformation) {
    const auto card = SampleCards::cardB();
    const auto cardContext = SigningSessionContext::card("s", card);
    const auto walletContext = SigningSessionContext::wallet("s", "p");
    struct Case {
        const char* name;
        SigningSessionContext context;
        bool withSession;
        bool withContent;
        bool dark;
    };
    const Case cases[] = {
        {"card-information-session", cardContext, true, false, false},
        {"card-information-card", cardContext, false, false, false},
        {"card-information-wallet-session", walletContext, true, false, false},
        {"card-information-wallet-unknown", walletContext, false, false, false},
        {"card-information-with-content", cardContext, false, true, false},
        {"card-information-dark", cardContext, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::SessionStoreRig sessions;
        if (c.withSession)
            sessions.addSession(
                c.context, std::chrono::hours(1),
                std::vector<std::string>{"Amélie", "Van den Broeck-Lefèvre", "90.02.01-997.04"});
        QWidget screen;
        auto* layout = new QVBoxLayout(&screen);
        layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
        QLabel* content = c.withContent ? new QLabel("Your account is active.") : nullptr;
        layout->addWidget(new BaseCardInformationView(c.context, content, sessions.store));
        layout->addStretch(1);
        if (c.dark)
            screen.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(screen, c.name, QSize(600, 260)));
    }
}

TEST_F(Screens, ClockAndSmallViews) {
    for (int remaining : {60, 30, 15, 0}) {
        QWidget frame;
        auto* layout = new QHBoxLayout(&frame);
        auto* clock = new RemainingTimeClockView(60, remaining);
        clock->setFixedSize(20, 20);
        auto* large = new RemainingTimeClockView(60, remaining);
        large->setFixedSize(80, 80);
        layout->addWidget(clock);
        layout->addWidget(large);
        EXPECT_TRUE(saveScreenshot(frame, "clock-" + std::to_string(remaining), QSize(140, 100)));
    }
    for (bool dark : {false, true}) {
        QWidget frame;
        auto* layout = new QVBoxLayout(&frame);
        auto* bullets = new QHBoxLayout;
        for (const char* number : {"1", "2", "3", "10"})
            bullets->addWidget(new BulletView(number));
        bullets->addStretch(1);
        layout->addLayout(bullets);
        layout->addWidget(new ContentDivider);
        layout->addWidget(new QLabel("Below the divider"));
        if (dark)
            frame.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(
            saveScreenshot(frame, dark ? "bullets-divider-dark" : "bullets-divider", QSize(300, 110)));
    }
}

TEST_F(Screens, PDFView) {
    auto document = PDFKitView::documentFromData(testsupport::makeSamplePDF(3));
    ASSERT_TRUE(document);
    QWidget screen;
    auto* layout = new QVBoxLayout(&screen);
    layout->addWidget(new PDFKitView(document));
    // Pages are rendered on a thread of their own: give it time before the picture is taken.
    screen.resize(testsupport::mainWindowSize);
    screen.show();
    QTest::qWait(1000);
    EXPECT_TRUE(saveScreenshot(screen, "pdf-view"));
    // Paged down to the gap between the first two pages.
    auto* pdf = screen.findChild<QPdfView*>();
    ASSERT_TRUE(pdf);
    pdf->verticalScrollBar()->setValue(pdf->verticalScrollBar()->maximum() / 3);
    QTest::qWait(1000);
    EXPECT_TRUE(saveScreenshot(screen, "pdf-view-paged"));
}

// The update dialog inline (settings) and as a sheet, for each state.
TEST_F(Screens, UpdateDialog) {
    struct Case {
        const char* state;
        std::optional<Release> release;
    };
    const std::string app = AppVersions::currentAppVersion();
    const Case cases[] = {
        {"forced", testsupport::releaseWith("99.0.0", AutoUpgrade{"99.0.0", "99.0.0"})},
        {"suggested", testsupport::releaseWith("99.0.0", AutoUpgrade{"99.0.0", std::nullopt})},
        {"available", testsupport::releaseWith("99.0.0")},
        {"up-to-date", testsupport::releaseWith(app)},
        {"none", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        {
            QWidget frame;
            auto* layout = new QVBoxLayout(&frame);
            layout->addWidget(roundedBorderStyle(
                new AppVersionsView(std::make_shared<AppVersionsViewModel>(c.release, true, nullptr))));
            layout->addStretch(1);
            EXPECT_TRUE(
                saveScreenshot(frame, std::string("update-dialog-inline-") + c.state, QSize(560, 220)));
        }
        if (!c.release)
            continue;
        QWidget owner;
        owner.resize(testsupport::mainWindowSize);
        std::unique_ptr<Sheet> sheet(
            (new AppVersionsView(std::make_shared<AppVersionsViewModel>(c.release, false, [] {
            })))->makeSheet(&owner));
        EXPECT_TRUE(
            saveScreenshot(*sheet, std::string("update-dialog-sheet-") + c.state, sheetSize(*sheet, 520)));
    }

    const auto suggested = testsupport::releaseWith("99.0.0", AutoUpgrade{"99.0.0", std::nullopt});
    QWidget owner;
    owner.resize(testsupport::mainWindowSize);
    {
        std::unique_ptr<Sheet> sheet(
            (new AppVersionsView(std::make_shared<AppVersionsViewModel>(suggested, false, [] {
            })))->makeSheet(&owner));
        sheet->setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(*sheet, "update-dialog-sheet-suggested-dark", sheetSize(*sheet, 520)));
    }
    {
        testsupport::ScopedFontScale large(2.0);
        std::unique_ptr<Sheet> sheet(
            (new AppVersionsView(std::make_shared<AppVersionsViewModel>(suggested, false, [] {
            })))->makeSheet(&owner));
        EXPECT_TRUE(
            saveScreenshot(*sheet, "update-dialog-sheet-suggested-large-font", sheetSize(*sheet, 520)));
    }
}

TEST_F(Screens, Settings) {
    struct Case {
        const char* name;
        std::optional<AppVersionsFileLocation> location;  // none: still fetching
        bool storedValues;
        bool serviceEnabled;
    };
    const Case cases[] = {
        {"settings-fetching", std::nullopt, false, true},
        {"settings-no-update-information", AppVersionsFileLocation::invalidOrMissingFile, false, true},
        {"settings-up-to-date", AppVersionsFileLocation::testNoUpdate, false, true},
        {"settings-update-available", AppVersionsFileLocation::testSimpleUpdate, false, true},
        {"settings-suggested-update", AppVersionsFileLocation::testSuggestedUpdate, false, true},
        {"settings-forced-update", AppVersionsFileLocation::testForcedUpdate, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
        if (c.storedValues) {
            platform::UserDefaults::standard().setBoolean("externalCertificateRetrievalDisabled", true);
            platform::UserDefaults::standard().setBoolean("privacyModeEnabled", true);
            platform::UserDefaults::standard().setString("authenticationMethodSelectionMode", "alwaysWallet");
        }
        Dependency<LaunchAgentServiceKey>().set(
            std::make_shared<testsupport::FakeLaunchAgentService>(c.serviceEnabled));
        if (c.location)
            Dependency<AppVersionsKey>().set(std::make_shared<AppVersions>(*c.location, 200ms));
        auto model = AppSettingsViewModel::make([] {}, scheduler_);
        if (c.location) {
            scheduler_->runPending();
            ASSERT_TRUE(testsupport::eventually([&] { return model->releaseInfoFetchState().isFetched; }));
        }
        AppSettingsView view(model);
        EXPECT_TRUE(saveScreenshot(view, c.name, QSize(800, 900)));
    }

    Dependency<AppVersionsKey>().set(
        std::make_shared<AppVersions>(AppVersionsFileLocation::testSuggestedUpdate));
    Dependency<LaunchAgentServiceKey>().set(std::make_shared<testsupport::FakeLaunchAgentService>(false));
    {
        auto model = AppSettingsViewModel::make([] {}, scheduler_);
        scheduler_->runPending();
        AppSettingsView view(model);
        view.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(view, "settings-dark", QSize(800, 900)));
    }
    {
        // A switch of the service that did not take.
        auto service = std::make_shared<testsupport::FakeLaunchAgentService>(false);
        service->registrationFails = true;
        Dependency<LaunchAgentServiceKey>().set(service);
        auto model = AppSettingsViewModel::make([] {}, scheduler_);
        scheduler_->runPending();
        model->setLaunchAgentEnabled(true);
        AppSettingsView view(model);
        EXPECT_TRUE(saveScreenshot(view, "settings-service-failed", QSize(800, 900)));
    }
    {
        testsupport::ScopedFontScale large(2.0);
        auto model = AppSettingsViewModel::make([] {}, scheduler_);
        scheduler_->runPending();
        AppSettingsView view(model);
        EXPECT_TRUE(saveScreenshot(view, "settings-large-font", QSize(800, 1600)));
    }
    {
        QWidget owner;
        owner.resize(testsupport::mainWindowSize);
        auto model = AppSettingsViewModel::make([] {}, scheduler_);
        scheduler_->runPending();
        Sheet sheet(new AppSettingsView(model), &owner, [] {});
        EXPECT_TRUE(saveScreenshot(sheet, "settings-sheet", QSize(640, 560)));
    }
}

TEST_F(Screens, LaunchAgentPage) {
    for (bool enabled : {false, true}) {
        Dependency<LaunchAgentServiceKey>().set(
            std::make_shared<testsupport::FakeLaunchAgentService>(enabled));
        MainWindowController controller;
        auto model =
            std::make_shared<LaunchAgentServiceInfoViewModel>([] {}, nullptr, scheduler_, controller);
        scheduler_->advance(1s);
        LaunchAgentServiceInfoView view(model);
        EXPECT_TRUE(saveScreenshot(view, enabled ? "launch-agent-enabled" : "launch-agent-disabled"));
    }
}

}  // namespace
