#pragma once
// Stand-in for the wallet sheet's screen until the wallet tracking lands: a line of text and Cancel.
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "platform/qt/Localizable.h"

class WalletTrackingView : public QWidget {
  public:
    static constexpr int sheetWidth = 600;

    explicit WalletTrackingView(std::shared_ptr<WalletTrackingViewModel> model, QWidget* parent = nullptr)
        : QWidget(parent),
          model_(std::move(model)),
          cancel_(new QPushButton(QString::fromStdString(L("Cancel")))) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(
            new QLabel(QString::fromStdString(L("Open your Civaro app and scan the QR code to continue"))));
        layout->addWidget(cancel_);
        connect(cancel_, &QPushButton::clicked, this, [this] {
            auto model = model_;
            model->cancel();
        });
    }

    QPushButton* cancelButton() const { return cancel_; }

  private:
    std::shared_ptr<WalletTrackingViewModel> model_;
    QPushButton* cancel_;
};
