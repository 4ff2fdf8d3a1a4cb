#include "AccountCreationView.h"

#include <QPointer>
#include <QVBoxLayout>

#include "AccountCreationConditionsView.h"
#include "AccountCreationDisclaimerView.h"
#include "AccountCreationIdentityValidationView.h"
#include "AccountCreationStepHeaderView.h"
#include "AccountCreationSubscriberAgreementView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SheetPresenter.h"

namespace {

// A widget that leaves the screen: it goes once the event that led here (a click on it) has returned.
void discard(QLayout* layout, QWidget* widget) {
    if (!widget)
        return;
    layout->removeWidget(widget);
    widget->hide();
    widget->deleteLater();
}

// Messages (and the retrieval's progress) wrap at this width rather than stretch or squeeze the sheet.
constexpr int messageSheetWidth = 460;

}  // namespace

AccountCreationView::AccountCreationView(std::shared_ptr<AccountCreationViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    subscription_ = model_->subscribe([this] { render(); });
    render();

    std::weak_ptr<AccountCreationViewModel> weak = model_;
    sheetPresenter_ = SheetPresenter::modalSheet<AccountCreationModalState>(
        this, model_->modalSheetState(), [this, weak](const AccountCreationModalState& state) {
            auto model = weak.lock();
            if (!model)
                return SheetPresenter::Content{};
            return pinOrWalletSheetContent(
                model, state, [this](const AccountCreationModalState& other) { return sheetContent(other); },
                model->scheduler());
        });
}

void AccountCreationView::render() {
    const auto& step = model_->currentStep();
    const bool numbered = !step.is<AccountCreationStep::Disclaimer>();
    if (shownStep_ == step && (!numbered || shownStopAllowed_ == model_->stopAllowed()))
        return;
    shownStep_ = step;
    shownStopAllowed_ = model_->stopAllowed();

    discard(layout(), std::exchange(header_, nullptr));
    discard(layout(), std::exchange(page_, nullptr));
    if (numbered) {
        std::weak_ptr<AccountCreationViewModel> weak = model_;
        header_ = new AccountCreationStepHeaderView(step, model_->stopAllowed(), [weak] {
            if (auto model = weak.lock())
                model->stop();
        });
        layout()->addWidget(header_);
    }
    page_ = makePage();
    static_cast<QVBoxLayout*>(layout())->addWidget(page_, 1);
}

QWidget* AccountCreationView::makePage() {
    const auto& step = model_->currentStep();
    if (step.is<AccountCreationStep::Disclaimer>())
        return new AccountCreationDisclaimerView(model_->makeDisclaimerViewModel());
    if (step.is<AccountCreationStep::TermsAndConditionsAgreement>())
        return new AccountCreationConditionsView(model_->makeConditionsViewModel());
    if (step.is<AccountCreationStep::IdentityVerification>())
        return new AccountCreationIdentityValidationView(model_->identityValidationViewModel());
    return new AccountCreationSubscriberAgreementView(model_->makeSubscriberAgreementViewModel());
}

SheetPresenter::Content AccountCreationView::sheetContent(const AccountCreationModalState& state) {
    SheetPresenter::Content content;
    if (const auto* waiting = state.waitingMessage()) {
        auto info = model_->makeInfoViewModel(*waiting);
        content.widget = new InfoView(info);
        content.width = messageSheetWidth;
        // Esc takes the message's OK; a progress message cannot be closed.
        if (info->confirmed && !info->isWaiting)
            content.cancel = [confirmed = info->confirmed] { confirmed(); };
        return content;
    }
    if (state.kind() == AccountCreationModalState::Kind::retrievingCertificate) {
        content.widget = new CertificateRetrievalView(model_->makeCertificateRetrievalViewModel());
        content.width = messageSheetWidth;
    }
    return content;
}
