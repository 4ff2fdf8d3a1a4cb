// The main menu: its three buttons hand back the open modes of the status menu's items, by mouse and by
// keyboard, and the first one has the focus once the screen is shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <vector>

#include "Quorvane/shell/views/MenuButtonView.h"
#include "Quorvane/shell/views/MenuView.h"

void PrintTo(const AppOpenMode& mode, std::ostream* out) {
    *out << mode.description();
}

namespace {

struct Menu {
    std::vector<AppOpenMode> chosen;
    std::shared_ptr<MenuViewModel> model =
        std::make_shared<MenuViewModel>([this](AppOpenMode mode) { chosen.push_back(std::move(mode)); });
    MenuView view{model};

    Menu() {
        view.resize(800, 550);
        view.show();
        QApplication::setActiveWindow(&view);
        QApplication::processEvents();
    }
};

TEST(MenuViewTest, EachButtonHandsBackItsMode) {
    Menu menu;
    struct Case {
        MenuButtonView* button;
        const char* title;
        AppOpenMode mode;
    };
    const Case cases[] = {
        {menu.view.retrieveButton(), "Retrieve remote sign certificate", AppOpenMode::getCertificate(true)},
        {menu.view.accountInfoButton(), "Account info", AppOpenMode::accountInfo()},
        {menu.view.settingsButton(), "Settings", AppOpenMode::settings()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(c.button->accessibleName(), c.title);
        EXPECT_EQ(c.button->titleLabel()->text(), c.title);
        EXPECT_GE(c.button->height(), MenuButtonView::rowHeight);
        // A click anywhere on the row, the title included.
        menu.chosen.clear();
        QTest::mouseClick(c.button, Qt::LeftButton, {}, QPoint(12, c.button->height() / 2));
        QTest::mouseClick(c.button, Qt::LeftButton, {}, c.button->titleLabel()->geometry().center());
        EXPECT_EQ(menu.chosen, (std::vector<AppOpenMode>{c.mode, c.mode}));
    }
    // One under the other, 30 points apart.
    EXPECT_EQ(menu.view.accountInfoButton()->y() - menu.view.retrieveButton()->geometry().bottom() - 1, 30);
}

TEST(MenuViewTest, TheKeyboardReachesEveryButtonFromTheFirst) {
    Menu menu;
    EXPECT_TRUE(menu.view.retrieveButton()->hasFocus());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(menu.view.accountInfoButton()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(menu.view.settingsButton()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_EQ(menu.chosen, (std::vector<AppOpenMode>{AppOpenMode::getCertificate(true),
                                                     AppOpenMode::accountInfo(), AppOpenMode::settings()}));
}

// A title made of runs: shown as text, never as markup, the coloured run in its colour.
TEST(MenuButtonViewTest, TitleRunsAreEscapedAndColoured) {
    AttributedText title{{{"Sign <b>now</b> & later", std::nullopt, false},
                          {" (Temporarily unavailable)", ViewColor::fixed(QColor(0xCC, 0, 0)), false}}};
    MenuButtonView button(ViewImage::asset("Pindle"), SymbolWeight::regular, ViewColor::role(QPalette::Text),
                          ViewColor::asset("WalletButtonBackground"), title, ViewColor::role(QPalette::Base));
    EXPECT_EQ(button.accessibleName(), "Sign <b>now</b> & later (Temporarily unavailable)");
    const QString html = button.titleLabel()->text();
    EXPECT_TRUE(html.contains("Sign &lt;b&gt;now&lt;/b&gt; &amp; later")) << html.toStdString();
    EXPECT_TRUE(html.contains("color:#cc0000")) << html.toStdString();
}

}  // namespace
