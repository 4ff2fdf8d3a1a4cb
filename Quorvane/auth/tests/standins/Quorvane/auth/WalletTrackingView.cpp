#include "Quorvane/auth/WalletTrackingView.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/Localizable.h"

WalletTrackingView::WalletTrackingView(std::shared_ptr<WalletTrackingViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QString::fromStdString(L("Open your Civaro app and scan the QR code to continue"))));
    auto* cancel = new QPushButton(QString::fromStdString(L("Cancel")));
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] {
        auto model = model_;
        model->cancel();
    });
}
