// The update dialog: its three actions (the reminder date in calendar days, the download page, closing) and
// what it shows and offers for each kind of update, inline and as a sheet, driven by mouse and keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>
#include <ctime>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/shell/views/AppVersionsView.h"
#include "Quorvane/shell/views/AppVersionsViewModel.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "platform/VirtualScheduler.h"
#include "platform/Workspace.h"
#include "platform/qt/SystemInfo.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"

using testsupport::releaseWith;

namespace {

class AppVersionsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }
    void TearDown() override {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }
    std::optional<platform::Date> storedReminder() const {
        return AppSettings().dateForNextSuggestedUpdateDialog();
    }
};

platform::Date localDate(int year, int month, int day, int hour) {
    return platform::Date(
        std::chrono::milliseconds(QDateTime(QDate(year, month, day), QTime(hour, 0)).toMSecsSinceEpoch()));
}

TEST_F(AppVersionsDialogTest, TheReminderIsThirtyCalendarDaysAheadThenTheSheetCloses) {
    // A zone with daylight time: calendar days keep the time of day across the change.
    testsupport::ScopedVariable zone("TZ", "Europe/Brussels");
    tzset();
    struct Case {
        const char* label;
        platform::Date now;
        platform::Date expected;
    };
    const Case cases[] = {
        {"31 January, common year", localDate(2027, 1, 31, 10), localDate(2027, 3, 2, 10)},
        {"31 January, leap year", localDate(2028, 1, 31, 10), localDate(2028, 3, 1, 10)},
        {"across the change to summer time", localDate(2027, 3, 15, 12), localDate(2027, 4, 14, 12)},
        {"across the end of a year", localDate(2027, 12, 20, 23), localDate(2028, 1, 19, 23)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        int closed = 0;
        AppVersionsViewModel model(
            releaseWith("99.0.0", AutoUpgrade{"99.0.0", std::nullopt}), false, [&] { ++closed; },
            std::make_shared<platform::VirtualScheduler>(c.now));
        model.remindInThirtyDays();
        EXPECT_EQ(storedReminder(), c.expected);
        EXPECT_EQ(closed, 1);
    }
    ASSERT_EQ(localDate(2027, 4, 14, 12) - localDate(2027, 3, 15, 12), std::chrono::hours(30 * 24 - 1))
        << "the case above does cross a change of daylight time";
}

TEST_F(AppVersionsDialogTest, DownloadOpensThePageForTheFirstLanguageAndCancelStoresNothing) {
    platform::WorkspaceRecorder workspace;
    platform::SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{"fr-BE", "nl"});
    int closed = 0;
    AppVersionsViewModel model(releaseWith("99.0.0"), false, [&] { ++closed; });
    model.downloadUpdate();
    model.downloadUpdate();
    EXPECT_EQ(workspace.openedURLs(), (std::vector<std::string>{"https://www.quorvane.example/fr/download",
                                                                "https://www.quorvane.example/fr/download"}));
    EXPECT_EQ(closed, 0) << "the dialog stays";
    model.cancel();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(storedReminder());
    platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt);

    // Without a release, or without a way to close, the actions do nothing.
    AppVersionsViewModel empty(std::nullopt, true, nullptr);
    empty.downloadUpdate();
    empty.cancel();
    EXPECT_EQ(workspace.openedURLs().size(), 2u);
}

// ---- The view

std::vector<std::string> texts(const QWidget& view) {
    std::vector<std::string> found;
    for (auto* label : view.findChildren<QLabel*>())
        if (label->isVisibleTo(&view))
            found.push_back(label->text().toStdString());
    return found;
}

struct Shown {
    QWidget owner;
    std::shared_ptr<AppVersionsViewModel> model;
    AppVersionsView* view = nullptr;
    Sheet* sheet = nullptr;
    int cancels = 0;

    Shown(std::optional<Release> release, bool asSheet) {
        model = std::make_shared<AppVersionsViewModel>(
            std::move(release), !asSheet,
            asSheet ? std::function<void()>([this] { ++cancels; }) : std::function<void()>());
        owner.resize(800, 550);
        if (asSheet) {
            owner.show();
            view = new AppVersionsView(model);
            sheet = view->makeSheet(&owner);
            sheet->open();
            QApplication::setActiveWindow(sheet);
        } else {
            view = new AppVersionsView(model);
            (new QVBoxLayout(&owner))->addWidget(view);
            owner.show();
            QApplication::setActiveWindow(&owner);
        }
        QApplication::processEvents();
    }
};

TEST_F(AppVersionsDialogTest, TextsAndButtonsForEachKindInlineAndAsASheet) {
    const std::string app = AppVersions::currentAppVersion();
    const std::string current = "Current version: " + app;
    struct Case {
        const char* label;
        std::optional<Release> release;
        std::vector<std::string> texts;
        bool download;
        bool actionsInSheet;
    };
    const Case cases[] = {
        {"none", std::nullopt, {current, "No update information found."}, false, false},
        {"up to date", releaseWith(app), {current, "You are up to date."}, false, false},
        {"available", releaseWith("99.0.0"), {current, "Version 99.0.0 is available."}, true, true},
        {"suggested",
         releaseWith("99.0.0", AutoUpgrade{"99.0.0", std::nullopt}),
         {current, "Version 99.0.0 is available with important updates."},
         true,
         true},
        {"forced",
         releaseWith("99.0.0", AutoUpgrade{"99.0.0", "99.0.0"}),
         {current, "Version " + app + " is no longer supported",
          "Please install version 99.0.0 to continue using QuorvaneApp."},
         true,
         false},
    };
    for (const auto& c : cases) {
        for (bool asSheet : {false, true}) {
            SCOPED_TRACE(std::string(c.label) + (asSheet ? " as a sheet" : " inline"));
            Shown shown(c.release, asSheet);
            EXPECT_EQ(texts(*shown.view), c.texts);
            EXPECT_EQ(shown.view->downloadButton() != nullptr, c.download);
            const bool actions = asSheet && c.actionsInSheet;
            EXPECT_EQ(shown.view->remindButton() != nullptr, actions);
            EXPECT_EQ(shown.view->cancelButton() != nullptr, actions);
            if (shown.view->downloadButton()) {
                EXPECT_EQ(shown.view->downloadButton()->text(), "Download Update");
            }
            if (actions) {
                EXPECT_EQ(shown.view->remindButton()->text(), "Remind me in 30 days");
                EXPECT_EQ(shown.view->cancelButton()->text(), "Cancel");
            }
            // Inline texts start at the leading edge, a sheet's are centred.
            auto* first = shown.view->findChildren<QLabel*>().front();
            EXPECT_EQ(first->alignment() & Qt::AlignHorizontal_Mask,
                      asSheet ? Qt::AlignHCenter : Qt::AlignLeft);
        }
    }
}

TEST_F(AppVersionsDialogTest, TheSheetsButtonsAndKeys) {
    platform::WorkspaceRecorder workspace;
    {
        // Suggested: Return downloads and the sheet stays; Esc is its cancel path; the reminder stores its
        // date and closes it too.
        Shown shown(releaseWith("99.0.0", AutoUpgrade{"99.0.0", std::nullopt}), true);
        QTest::keyClick(shown.sheet, Qt::Key_Return);
        EXPECT_EQ(workspace.openedURLs().size(), 1u);
        EXPECT_EQ(shown.cancels, 0);
        EXPECT_TRUE(shown.sheet->isVisible());
        QTest::keyClick(shown.sheet, Qt::Key_Escape);
        EXPECT_EQ(shown.cancels, 1);
        EXPECT_FALSE(storedReminder());
        QTest::mouseClick(shown.view->remindButton(), Qt::LeftButton);
        EXPECT_EQ(shown.cancels, 2);
        EXPECT_TRUE(storedReminder());
        QTest::mouseClick(shown.view->cancelButton(), Qt::LeftButton);
        EXPECT_EQ(shown.cancels, 3);
    }
    {
        // Forced: no way to close it, though its presenter gave a cancel path; the download may be pressed
        // again and again.
        Shown shown(releaseWith("99.0.0", AutoUpgrade{"99.0.0", "99.0.0"}), true);
        QTest::keyClick(shown.sheet, Qt::Key_Escape);
        shown.sheet->close();
        QApplication::processEvents();
        EXPECT_TRUE(shown.sheet->isVisible());
        QTest::mouseClick(shown.view->downloadButton(), Qt::LeftButton);
        EXPECT_EQ(workspace.openedURLs().size(), 2u);
        QTest::mouseClick(shown.view->downloadButton(), Qt::LeftButton);
        EXPECT_EQ(workspace.openedURLs().size(), 3u);
        EXPECT_EQ(shown.cancels, 0);
    }
}

}  // namespace
