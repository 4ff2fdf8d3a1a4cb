// The settings screen: what it reads and writes in the user defaults, the privacy purge it starts, the
// relay service's switch, its one update check, and the view driven with mouse and keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/AppSettingsViewModel.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Eventually.h"

using platform::UserDefaults;
using testsupport::eventually;

namespace {

class AppSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DependencyValues::shared().reset();
        UserDefaults::standard().clear();
        Dependency<LaunchAgentServiceKey>().set(service_);
        Dependency<AppSettingsKey>().set(std::make_shared<AppSettings>([this] { ++privacyPurgeStarts_; }));
        Dependency<AppVersionsKey>().set(
            std::make_shared<AppVersions>(AppVersionsFileLocation::testForcedUpdate));
    }
    void TearDown() override {
        DependencyValues::shared().reset();
        UserDefaults::standard().clear();
    }

    std::shared_ptr<AppSettingsViewModel> make() {
        return AppSettingsViewModel::make([this] { ++closeRequests_; }, scheduler_);
    }
    static std::optional<std::string> stored(const char* key) { return UserDefaults::standard().string(key); }

    std::shared_ptr<platform::VirtualScheduler> scheduler_ = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<testsupport::FakeLaunchAgentService> service_ =
        std::make_shared<testsupport::FakeLaunchAgentService>(true);
    int privacyPurgeStarts_ = 0;
    int closeRequests_ = 0;
};

TEST_F(AppSettingsTest, StartsFromTheStoredValues) {
    struct Case {
        const char* label;
        std::vector<std::pair<const char*, const char*>> stored;
        AuthenticationMethodSelectionMode mode;
        bool external;
        bool privacy;
    };
    const Case cases[] = {
        {"nothing stored", {}, AuthenticationMethodSelectionMode::manual, false, false},
        {"an unknown mode",
         {{"authenticationMethodSelectionMode", "Always Wallet"}},
         AuthenticationMethodSelectionMode::manual,
         false,
         false},
        {"everything set",
         {{"authenticationMethodSelectionMode", "alwaysWallet"},
          {"externalCertificateRetrievalDisabled", "true"},
          {"privacyModeEnabled", "true"}},
         AuthenticationMethodSelectionMode::alwaysWallet,
         true,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        UserDefaults::standard().clear();
        for (auto [key, value] : c.stored)
            UserDefaults::standard().setString(key, value);
        auto model = make();
        EXPECT_EQ(model->authenticationMethodSelectionMode(), c.mode);
        EXPECT_EQ(model->externalCertificateRetrievalDisablingEnabled(), c.external);
        EXPECT_EQ(model->privacyModeEnabled(), c.privacy);
        EXPECT_FALSE(model->releaseInfoFetchState().isFetched);
        // Reading writes nothing: an unknown mode stays until the user picks one.
        for (auto [key, value] : c.stored)
            EXPECT_EQ(stored(key), value);
    }
}

TEST_F(AppSettingsTest, EveryChangeIsStoredAtOnce) {
    UserDefaults::standard().setString("authenticationMethodSelectionMode", "Always Wallet");
    auto model = make();
    int notifications = 0;
    auto subscription = model->subscribe([&] { ++notifications; });

    model->setExternalCertificateRetrievalDisabled(true);
    EXPECT_EQ(UserDefaults::standard().boolean("externalCertificateRetrievalDisabled"), true);
    model->setExternalCertificateRetrievalDisabled(false);
    EXPECT_EQ(UserDefaults::standard().boolean("externalCertificateRetrievalDisabled"), false)
        << "false is stored";

    // Picking the mode the screen already shows still overwrites an unknown stored text.
    model->selectAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode::manual);
    EXPECT_EQ(stored("authenticationMethodSelectionMode"), "manual");
    model->selectAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode::alwaysWallet);
    EXPECT_EQ(stored("authenticationMethodSelectionMode"), "alwaysWallet");
    EXPECT_EQ(model->authenticationMethodSelectionMode(), AuthenticationMethodSelectionMode::alwaysWallet);

    // Each switch of privacy mode goes through the settings store, which hands it to the session store.
    model->setPrivacyModeEnabled(true);
    model->setPrivacyModeEnabled(false);
    EXPECT_EQ(UserDefaults::standard().boolean("privacyModeEnabled"), false);
    EXPECT_EQ(privacyPurgeStarts_, 2);
    EXPECT_EQ(notifications, 5) << "one per changed value";
    EXPECT_EQ(closeRequests_, 0) << "nothing here closes the screen";
}

TEST_F(AppSettingsTest, TheRelayServiceSwitchShowsTheStatusItLeaves) {
    auto model = make();
    EXPECT_TRUE(model->isLaunchAgentEnabled());
    model->setLaunchAgentEnabled(false);
    EXPECT_FALSE(model->isLaunchAgentEnabled());
    EXPECT_FALSE(model->launchAgentEnableFailed());
    model->setLaunchAgentEnabled(true);
    EXPECT_TRUE(model->isLaunchAgentEnabled());

    service_->registrationFails = true;
    model->setLaunchAgentEnabled(false);
    model->setLaunchAgentEnabled(true);
    EXPECT_FALSE(model->isLaunchAgentEnabled());
    EXPECT_TRUE(model->launchAgentEnableFailed());
    model->setLaunchAgentEnabled(false);
    EXPECT_FALSE(model->launchAgentEnableFailed());
    EXPECT_EQ(service_->log->list,
              (std::vector<std::string>{"unregisterService", "registerService", "unregisterService",
                                        "registerService", "unregisterService"}));
}

TEST_F(AppSettingsTest, OneUpdateCheckPerScreenThatOutlivesTheScreen) {
    auto model = make();
    std::weak_ptr<AppSettingsViewModel> weak = model;
    EXPECT_FALSE(model->releaseInfoFetchState().isFetched) << "the check starts in a task of its own";
    model.reset();
    EXPECT_FALSE(weak.expired()) << "the task keeps the model";
    scheduler_->runPending();
    ASSERT_TRUE(eventually([&] { return weak.expired(); }));

    auto shown = make();
    scheduler_->runPending();
    ASSERT_TRUE(eventually([&] { return shown->releaseInfoFetchState().isFetched; }));
    ASSERT_TRUE(shown->releaseInfoFetchState().release);
    EXPECT_EQ(updateKind(*shown->releaseInfoFetchState().release), AppUpdateKind::forced);

    // A document that cannot be read ends as fetched without a release.
    Dependency<AppVersionsKey>().set(std::make_shared<AppVersions>(
        AppVersionsFileLocation::invalidOrMissingFile, std::chrono::milliseconds(1)));
    auto failing = make();
    scheduler_->runPending();
    ASSERT_TRUE(eventually([&] { return failing->releaseInfoFetchState().isFetched; }));
    EXPECT_FALSE(failing->releaseInfoFetchState().release);
}

// ---- The view

TEST_F(AppSettingsTest, TheScreenForwardsEachControlAndShowsTheUpdateCheck) {
    auto model = make();
    AppSettingsView view(model);
    view.resize(800, 900);
    view.show();
    QApplication::setActiveWindow(&view);
    QApplication::processEvents();

    EXPECT_TRUE(qobject_cast<QProgressBar*>(view.aboutContent())) << "fetching";
    scheduler_->runPending();
    ASSERT_TRUE(eventually([&] { return !qobject_cast<QProgressBar*>(view.aboutContent()); }));
    bool forcedTextShown = false;
    for (auto* label : view.aboutContent()->findChildren<QLabel*>())
        forcedTextShown |= label->text().endsWith("is no longer supported");
    EXPECT_TRUE(forcedTextShown);

    // A click on a toggle's label switches it, as one on its box does.
    QTest::mouseClick(view.externalCertificateRetrievalToggle()->label(), Qt::LeftButton);
    EXPECT_EQ(UserDefaults::standard().boolean("externalCertificateRetrievalDisabled"), true);
    EXPECT_TRUE(view.externalCertificateRetrievalToggle()->isChecked());
    QTest::mouseClick(view.privacyModeToggle()->checkBox(), Qt::LeftButton);
    EXPECT_EQ(UserDefaults::standard().boolean("privacyModeEnabled"), true);

    // Tab goes through the controls from top to bottom.
    view.externalCertificateRetrievalToggle()->setFocus();
    const std::vector<QWidget*> tabOrder = {view.launchAgentToggle()->checkBox(),
                                            view.authenticationMethodPicker(),
                                            view.privacyModeToggle()->checkBox(), view.doneButton()};
    for (QWidget* next : tabOrder) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }

    // The keyboard: Space on a focused toggle, arrow keys in the picker.
    view.privacyModeToggle()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(UserDefaults::standard().boolean("privacyModeEnabled"), false);
    view.authenticationMethodPicker()->setFocus();
    QTest::keyClick(view.authenticationMethodPicker(), Qt::Key_Down);
    EXPECT_EQ(stored("authenticationMethodSelectionMode"), "alwaysEID");
    EXPECT_EQ(view.authenticationMethodPicker()->currentText(), "Always use eID");

    // Switching the relay service off and, when registering fails, back on: the box shows what took.
    service_->registrationFails = true;
    QTest::mouseClick(view.launchAgentToggle()->checkBox(), Qt::LeftButton);
    EXPECT_FALSE(view.launchAgentToggle()->isChecked());
    EXPECT_FALSE(view.launchAgentFailureLabel()->isVisible());
    QTest::mouseClick(view.launchAgentToggle()->checkBox(), Qt::LeftButton);
    EXPECT_FALSE(view.launchAgentToggle()->isChecked()) << "the switch springs back";
    EXPECT_TRUE(view.launchAgentFailureLabel()->isVisible());
    EXPECT_EQ(view.launchAgentFailureLabel()->text(), "The Quorvane service could not be enabled.");

    view.doneButton()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(closeRequests_, 1);
}

}  // namespace
