#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "Quorvane/shell/views/ViewModifiers.h"

namespace {

TEST(ViewModifiers, FocusMovesOnALaterTurnAndTheLastCallWins) {
    QWidget screen;
    auto* layout = new QVBoxLayout(&screen);
    auto* first = new QLineEdit;
    auto* second = new QLineEdit;
    auto* current = new QLineEdit;
    layout->addWidget(first);
    layout->addWidget(second);
    layout->addWidget(current);
    screen.show();
    QApplication::setActiveWindow(&screen);
    current->setFocus();

    setFocusAsync(first);
    setFocusAsync(second);
    EXPECT_TRUE(current->hasFocus());
    QApplication::processEvents();
    EXPECT_TRUE(second->hasFocus());
}

TEST(ViewModifiers, FocusOnAWidgetGoneMeanwhileDoesNothing) {
    auto* field = new QLineEdit;
    setFocusAsync(field);
    delete field;
    QApplication::processEvents();
}

TEST(ViewModifiers, TheBoxGrowsWithItsContent) {
    auto* label = new QLabel("short");
    RoundedBorderBox* box = roundedBorderStyle(label);
    const QSize before = box->sizeHint();
    EXPECT_EQ(before, label->sizeHint() + QSize(2 * defaultPadding, 2 * defaultPadding));
    label->setText("a much longer text than before, which needs a wider box");
    EXPECT_GT(box->sizeHint().width(), before.width());
    delete box;
}

}  // namespace
