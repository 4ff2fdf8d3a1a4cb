#include "SigningView.h"

#include <QVBoxLayout>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/shell/views/InfoView.h"

SigningView::SigningView(std::shared_ptr<SigningViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    subscription_ = model_->subscribe([this] { render(); });
    render();

    std::weak_ptr<SigningViewModel> weak = model_;
    sheetPresenter_ = SheetPresenter::modalSheet<SigningViewModalState>(
        this, model_->modalSheetState(), [weak](const SigningViewModalState& state) {
            auto model = weak.lock();
            if (!model)
                return SheetPresenter::Content{};
            // The signing sheets are all PIN or wallet sheets.
            return pinOrWalletSheetContent(
                model, state, [](const SigningViewModalState&) { return SheetPresenter::Content{}; },
                model->scheduler());
        });
}

void SigningView::render() {
    // A page is built anew only for a new page model: a card selection keeps its view while the flow's other
    // fields change.
    const auto page = model_->page();
    if (page_ && shownPage_ == page)
        return;
    shownPage_ = page;
    if (page_) {
        // The old page may be the one whose event led here: it goes once its event has returned.
        QWidget* old = std::exchange(page_, nullptr);
        layout()->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    info_ = nullptr;
    cardSelection_ = nullptr;
    if (const auto* info = std::get_if<std::shared_ptr<InfoViewModel>>(&page)) {
        info_ = new InfoView(*info);
        page_ = info_;
    } else {
        cardSelection_ = new CardSelectionView(std::get<std::shared_ptr<CardSelectionViewModel>>(page));
        page_ = cardSelection_;
    }
    layout()->addWidget(page_);
}

void SigningView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The model ignores every call after its first: Qt shows the screen again on restore from minimised.
    model_->start();
}
