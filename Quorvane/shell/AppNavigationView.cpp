#include "AppNavigationView.h"

#include <QCloseEvent>
#include <QHBoxLayout>

#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/account/AccountInfoView.h"
#include "Quorvane/auth/AuthenticationMethodSelectionView.h"
#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoView.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/SigningView.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace

AppNavigationView::AppNavigationView(std::shared_ptr<AppNavigationViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), layout_(new QHBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    subscription_ = model_->subscribe([this] { render(); });
    render();

    std::weak_ptr<AppNavigationViewModel> weak = model_;
    sheetPresenter_ = SheetPresenter::modalSheet<AppNavigationViewModalState>(
        this, model_->modalSheetState(), [weak](const AppNavigationViewModalState& state) {
            auto model = weak.lock();
            if (!model)
                return SheetPresenter::Content{};
            // The navigation's sheet states are all PIN or wallet sheets.
            return pinOrWalletSheetContent(
                model, state, [](const AppNavigationViewModalState&) { return SheetPresenter::Content{}; },
                model->scheduler());
        });
}

void AppNavigationView::render() {
    if (!model_ || (screen_ && model_->navigationTargetRevision() == shownRevision_))
        return;
    shownRevision_ = model_->navigationTargetRevision();
    if (screen_) {
        // The old screen may be the one whose button led here: it goes once its event has returned.
        QWidget* old = std::exchange(screen_, nullptr);
        layout_->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    screen_ = makeScreen(model_->screen());
    layout_->addWidget(screen_);
}

QWidget* AppNavigationView::makeScreen(const AppNavigationViewModel::Screen& screen) {
    return std::visit(
        Overloaded{
            [](const std::shared_ptr<AccountCreationViewModel>& model) -> QWidget* {
                return new AccountCreationView(model);
            },
            [](const std::shared_ptr<AccountInfoViewModel>& model) -> QWidget* {
                return new AccountInfoView(model);
            },
            [](const std::shared_ptr<CardSelectionViewModel>& model) -> QWidget* {
                return new CardSelectionView(model);
            },
            [](const std::shared_ptr<CertificateRetrievalViewModel>& model) -> QWidget* {
                return new CertificateRetrievalView(model);
            },
            [](const std::shared_ptr<InfoViewModel>& model) -> QWidget* { return new InfoView(model); },
            [](const std::shared_ptr<SigningViewModel>& model) -> QWidget* { return new SigningView(model); },
            [](const std::shared_ptr<LaunchAgentServiceInfoViewModel>& model) -> QWidget* {
                return new LaunchAgentServiceInfoView(model);
            },
            [](const std::shared_ptr<MenuViewModel>& model) -> QWidget* { return new MenuView(model); },
            [](const std::shared_ptr<AuthenticationMethodSelectionViewModel>& model) -> QWidget* {
                return new AuthenticationMethodSelectionView(model);
            },
            [](const std::shared_ptr<AppSettingsViewModel>& model) -> QWidget* {
                return new AppSettingsView(model);
            },
        },
        screen);
}

void AppNavigationView::closeEvent(QCloseEvent* event) {
    // Replaced in the window: let go of the screen, the sheet and the model now, before anything they queued
    // can act on the window's next content.
    subscription_.cancel();
    delete std::exchange(sheetPresenter_, nullptr);
    if (screen_) {
        QWidget* old = std::exchange(screen_, nullptr);
        layout_->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    if (auto model = std::exchange(model_, nullptr))
        model->end();
    QWidget::closeEvent(event);
}
