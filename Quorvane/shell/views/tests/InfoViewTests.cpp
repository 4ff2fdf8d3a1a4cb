// The message page: the copy gate and the toast in virtual time, and the page's wiring driven with mouse and
// keyboard events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>

#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/InfoViewModel.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ToastView.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Eventually.h"

using namespace std::chrono_literals;
using testsupport::eventually;

namespace {

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

void putOnClipboard(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    data->setHtml("<b>" + text + "</b>");
    QGuiApplication::clipboard()->setMimeData(data);
}

struct Page {
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<InfoViewModel> model;

    explicit Page(bool isWaiting = false, bool allowCopy = true, std::function<void()> confirmed = {}) {
        model = std::make_shared<InfoViewModel>("Error 1201: the server said no", isWaiting,
                                                std::move(confirmed), allowCopy, scheduler);
    }
};

TEST(InfoViewModelTest, ACopyReplacesTheClipboardThenBlocksForThreeSeconds) {
    Page page;
    putOnClipboard("before");
    page.model->copyMessageToPasteboard();
    EXPECT_EQ(clipboardText(), "Error 1201: the server said no");
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasHtml()) << "what the clipboard held is cleared";
    EXPECT_TRUE(page.model->isShowingPasteboardToast());
    EXPECT_FALSE(page.model->isAllowedToCopyToPasteboard());
    ASSERT_TRUE(page.model->contentCopiedBlockTimer());

    // Presses within the 3 s do nothing: no write, no new timer, the toast is not extended.
    putOnClipboard("meanwhile");
    const auto timer = page.model->contentCopiedBlockTimer();
    page.scheduler->advance(1s);
    page.model->copyMessageToPasteboard();
    page.scheduler->advance(1.999s);
    page.model->copyMessageToPasteboard();
    EXPECT_EQ(clipboardText(), "meanwhile");
    EXPECT_EQ(page.model->contentCopiedBlockTimer(), timer);
    EXPECT_TRUE(page.model->isShowingPasteboardToast());

    // At 3 s the gate opens and the toast goes; a copy then works again and shows the toast again.
    page.scheduler->advance(0.001s);
    EXPECT_TRUE(page.model->isAllowedToCopyToPasteboard());
    EXPECT_FALSE(page.model->isShowingPasteboardToast());
    page.model->copyMessageToPasteboard();
    EXPECT_EQ(clipboardText(), "Error 1201: the server said no");
    EXPECT_TRUE(page.model->isShowingPasteboardToast());
    EXPECT_NE(page.model->contentCopiedBlockTimer(), timer);
    page.scheduler->advance(3s);
    EXPECT_FALSE(page.model->isShowingPasteboardToast());
}

TEST(InfoViewModelTest, WaitingPagesAndPagesWithoutCopyNeverCopy) {
    struct Case {
        const char* label;
        bool isWaiting;
        bool allowCopy;
    };
    const Case cases[] = {
        {"waiting, copy allowed", true, true},
        {"waiting, copy not allowed", true, false},
        {"not waiting, copy not allowed", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Page page(c.isWaiting, c.allowCopy);
        putOnClipboard("untouched");
        page.model->copyMessageToPasteboard();
        EXPECT_EQ(clipboardText(), "untouched");
        EXPECT_FALSE(page.model->isShowingPasteboardToast());
        EXPECT_TRUE(page.model->isAllowedToCopyToPasteboard());
        EXPECT_FALSE(page.model->contentCopiedBlockTimer());
    }
}

TEST(InfoViewModelTest, TheToastsHideHoldsTheModelAndTheGateTimerDoesNot) {
    Page page;
    std::weak_ptr<InfoViewModel> weak = page.model;
    page.model->copyMessageToPasteboard();
    page.model.reset();
    EXPECT_FALSE(weak.expired()) << "the toast's hide keeps the model until it has run";
    page.scheduler->advance(3s);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(page.scheduler->activeTimerCount(), 0u);
}

// ---- The page

void showPage(QWidget& view) {
    view.resize(600, 400);
    view.show();
    QApplication::setActiveWindow(&view);
    QApplication::processEvents();
}

TEST(InfoViewTest, APressAControlClickOrTheCopyShortcutCopiesAndShowsTheToast) {
    enum class Gesture { press, dragAcross, controlClick, copyShortcut };
    for (auto gesture : {Gesture::press, Gesture::dragAcross, Gesture::controlClick, Gesture::copyShortcut}) {
        SCOPED_TRACE(static_cast<int>(gesture));
        Page page;
        InfoView view(page.model);
        showPage(view);
        putOnClipboard("before");
        switch (gesture) {
            case Gesture::press:
                QTest::mouseClick(view.messageLabel(), Qt::LeftButton);
                break;
            case Gesture::dragAcross:
                QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(20, 20));
                putOnClipboard("changed during the drag");
                for (int x = 30; x < 300; x += 30) {
                    QMouseEvent move(QEvent::MouseMove, QPointF(x, 20), view.mapToGlobal(QPointF(x, 20)),
                                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
                    QApplication::sendEvent(&view, &move);
                }
                QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(300, 20));
                EXPECT_EQ(clipboardText(), "changed during the drag")
                    << "one write per 3 s, however long the drag";
                putOnClipboard("Error 1201: the server said no");
                break;
            case Gesture::controlClick:
                QTest::mouseClick(&view, Qt::LeftButton, Qt::ControlModifier, QPoint(20, 20));
                break;
            case Gesture::copyShortcut:
                QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
                break;
        }
        EXPECT_EQ(clipboardText(), "Error 1201: the server said no");
        EXPECT_TRUE(eventually([&] { return view.toast()->isVisible(); }));
        EXPECT_EQ(view.toast()->text(), "Error details copied to clipboard");

        page.scheduler->advance(3s);
        EXPECT_TRUE(eventually([&] { return !view.toast()->isVisible(); })) << "the toast slides out";
    }
}

TEST(InfoViewTest, OKHasTheFocusAndConfirmsFromTheKeyboard) {
    int confirmations = 0;
    Page page(false, false, [&] { ++confirmations; });
    InfoView view(page.model);
    showPage(view);
    ASSERT_TRUE(view.okButton());
    EXPECT_EQ(view.okButton()->text(), "OK");
    EXPECT_TRUE(view.okButton()->hasFocus());
    EXPECT_FALSE(view.progressIndicator());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::mouseClick(view.okButton(), Qt::LeftButton);
    EXPECT_EQ(confirmations, 2);

    // A page made without an action: OK does nothing.
    Page silent(false, true);
    InfoView other(silent.model);
    showPage(other);
    QTest::mouseClick(other.okButton(), Qt::LeftButton);
    EXPECT_FALSE(silent.model->isShowingPasteboardToast()) << "a click on OK is not a press on the page";
}

TEST(InfoViewTest, AWaitingPageShowsTheIndicatorAndNoButton) {
    Page page(true, true);
    InfoView view(page.model);
    showPage(view);
    ASSERT_TRUE(view.progressIndicator());
    EXPECT_TRUE(view.progressIndicator()->isVisible());
    EXPECT_LT(view.progressIndicator()->geometry().bottom(), view.messageLabel()->geometry().top());
    EXPECT_FALSE(view.okButton());
    EXPECT_EQ(view.messageLabel()->text(), "Error 1201: the server said no");
    putOnClipboard("untouched");
    QTest::mouseClick(view.messageLabel(), Qt::LeftButton);
    EXPECT_EQ(clipboardText(), "untouched");
}

}  // namespace
