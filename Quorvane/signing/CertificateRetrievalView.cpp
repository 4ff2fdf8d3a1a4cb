#include "CertificateRetrievalView.h"

#include <QVBoxLayout>

#include "CertificateRetrievalResultView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "platform/qt/Localizable.h"

CertificateRetrievalView::CertificateRetrievalView(std::shared_ptr<CertificateRetrievalViewModel> model,
                                                   QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void CertificateRetrievalView::render() {
    const auto& info = model_->signingCertificateInfo();
    if (!info) {
        if (!progress_) {
            progress_ = new InfoView(
                std::make_shared<InfoViewModel>(L("Retrieving sign certificate..."), true, nullptr, true));
            layout()->addWidget(progress_);
        }
        return;
    }
    if (result_)
        return;
    std::weak_ptr<CertificateRetrievalViewModel> weakModel = model_;
    result_ = new CertificateRetrievalResultView(
        std::make_shared<CertificateRetrievalResultViewModel>(*info, [weakModel] {
            if (auto model = weakModel.lock())
                model->completed(std::nullopt);
        }));
    layout()->addWidget(result_);
    if (progress_) {
        // The change may come while the progress page handles an event of its own.
        progress_->hide();
        progress_->deleteLater();
        progress_ = nullptr;
    }
}

void CertificateRetrievalView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The model ignores every call after its first.
    model_->start();
}
