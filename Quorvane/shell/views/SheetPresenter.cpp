#include "Quorvane/shell/views/SheetPresenter.h"

#include <QEvent>
#include <QWidget>

SheetPresenter::SheetPresenter(QWidget* host, std::shared_ptr<void> state,
                               std::function<std::optional<Content>()> build)
    : QObject(host), host_(host), state_(std::move(state)), build_(std::move(build)) {
    host_->installEventFilter(this);
}

SheetPresenter::~SheetPresenter() {
    subscription_.cancel();
    dismiss();
}

void SheetPresenter::update() {
    dismiss();
    auto content = build_();
    if (!content)
        return;
    content_ = std::move(*content);
    if (!content_.widget)
        content_.widget = new QWidget;
    // Without a cancel path the sheet has no close button and ignores Esc.
    std::function<void()> cancelRequested;
    if (content_.cancel)
        cancelRequested = [this] { cancel(); };
    sheet_ = new Sheet(content_.widget, host_, std::move(cancelRequested));
    if (content_.width > 0)
        sheet_->setFixedWidth(content_.width);
    open();
}

void SheetPresenter::open() {
    // A host that is not on screen yet gets its sheet when it is shown.
    if (sheet_ && host_->isVisible() && !sheet_->isVisible())
        sheet_->open();
}

void SheetPresenter::dismiss() {
    if (!sheet_)
        return;
    auto content = std::exchange(content_, Content{});
    Sheet* sheet = sheet_;
    sheet_ = nullptr;
    if (content.dismissed)
        content.dismissed();
    // The sheet may be the one whose key press or close got us here: it goes once its event has returned.
    sheet->hide();
    sheet->deleteLater();
}

void SheetPresenter::cancel() {
    // The cancel path tells the model, which may replace or clear the state (and so this presentation): call
    // a copy.
    auto cancel = content_.cancel;
    if (cancel)
        cancel();
}

bool SheetPresenter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == host_ && !event->spontaneous()) {
        if (event->type() == QEvent::Show) {
            open();
        } else if (event->type() == QEvent::Hide && sheet_) {
            // The window goes away: the sheet, a window of its own, would stay on screen over nothing, and
            // the flow behind it would wait for ever. End it as the user would; a sheet that cannot be ended
            // now hides with its window and comes back with it.
            cancel();
            if (sheet_)
                sheet_->hide();
        }
    }
    return QObject::eventFilter(watched, event);
}
