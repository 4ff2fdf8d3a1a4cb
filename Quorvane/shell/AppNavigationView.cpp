#include "AppNavigationView.h"

#include <QCloseEvent>
#include <QHBoxLayout>

#include "Quorvane/auth/AuthenticationMethodSelectionView.h"
#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/auth/CardSelectionViewModel.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoViewModel.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/SigningView.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

// A completion for a screen model: runs the navigation model's handler while the model exists.
template <class Handler>
auto weakly(const std::shared_ptr<AppNavigationViewModel>& model, Handler handler) {
    return [weak = std::weak_ptr<AppNavigationViewModel>(model), handler](auto&&... arguments) {
        if (auto model = weak.lock())
            handler(*model, std::forward<decltype(arguments)>(arguments)...);
    };
}

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
    screen_ = makeScreen(model_->navigationTarget());
    layout_->addWidget(screen_);
}

QWidget* AppNavigationView::makeScreen(const AppNavigationTarget& target) {
    const auto& model = model_;
    auto scheduler = model->scheduler();
    MainWindowController& controller = model->mainWindowController();
    return std::visit(
        Overloaded{
            [&](const AppNavigationTarget::AccountCreation& creation) -> QWidget* {
                auto context = creation.context;
                auto screenModel = std::make_shared<standin::AccountCreationViewModel>(
                    context,
                    weakly(model,
                           [context](AppNavigationViewModel& m, std::optional<AppError> error) {
                               m.handleAccountCreationCompleted(context, std::move(error));
                           }),
                    weakly(model, [context](AppNavigationViewModel& m) {
                        m.handleAccountCreationCancelled(context);
                    }));
                return new standin::FlowScreen(screenModel, "Account creation");
            },
            [&](const AppNavigationTarget::AccountInfo& info) -> QWidget* {
                return new standin::FlowScreen(
                    std::make_shared<standin::AccountInfoViewModel>(info.context, info.session),
                    "Account info");
            },
            [&](const AppNavigationTarget::CardSelection& selection) -> QWidget* {
                auto sessionIdentifier = selection.sessionIdentifier;
                return new CardSelectionView(std::make_shared<CardSelectionViewModel>(
                    selection.cardIdentifier, selection.initialCards,
                    weakly(
                        model,
                        [sessionIdentifier](AppNavigationViewModel& m, std::shared_ptr<pindle::Card> card) {
                            m.handleCardSelected(std::move(card), sessionIdentifier);
                        }),
                    scheduler));
            },
            [&](const AppNavigationTarget::CertificateRetrieval& retrieval) -> QWidget* {
                return new CertificateRetrievalView(std::make_shared<CertificateRetrievalViewModel>(
                    retrieval.context, retrieval.mode,
                    weakly(model, [](AppNavigationViewModel& m, std::optional<AppError> error) {
                        m.handleCertificateRetrievalCompleted(std::move(error));
                    })));
            },
            [&](const AppNavigationTarget::Info& info) -> QWidget* {
                // Confirming closes the window, whatever became of the navigation model.
                auto confirmed = [scheduler, &controller] {
                    scheduler->post([&controller] { controller.close(false); });
                };
                return new InfoView(std::make_shared<InfoViewModel>(info.message, info.isWaiting, confirmed,
                                                                    info.isError, scheduler));
            },
            [&](const AppNavigationTarget::Signing& signing) -> QWidget* {
                return new SigningView(std::make_shared<SigningViewModel>(
                    signing.request,
                    weakly(model,
                           [](AppNavigationViewModel& m, std::optional<AppError> error) {
                               m.handleSigningCompleted(std::move(error));
                           }),
                    scheduler));
            },
            [&](const AppNavigationTarget::LaunchAgentInfo&) -> QWidget* {
                return new LaunchAgentServiceInfoView(std::make_shared<LaunchAgentServiceInfoViewModel>(
                    weakly(model, [](AppNavigationViewModel& m) { m.restart(); }), nullptr, scheduler,
                    controller));
            },
            [&](const AppNavigationTarget::MainMenu&) -> QWidget* {
                // Showing another mode replaces this view and its model: the choice holds neither.
                return new MenuView(std::make_shared<MenuViewModel>(
                    [&controller](AppOpenMode mode) { controller.show(mode); }));
            },
            [&](const AppNavigationTarget::MethodSelection&) -> QWidget* {
                return new AuthenticationMethodSelectionView(model->makeMethodSelectionViewModel());
            },
            [&](const AppNavigationTarget::Settings&) -> QWidget* {
                return new AppSettingsView(AppSettingsViewModel::make(
                    weakly(model, [](AppNavigationViewModel& m) { m.closeWindow(); }), scheduler));
            },
        },
        target.value);
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
