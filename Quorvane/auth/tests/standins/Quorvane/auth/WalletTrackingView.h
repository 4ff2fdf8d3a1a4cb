#pragma once
// Stand-in for the wallet sheet's screen until the wallet tracking lands: a line of text and Cancel.
#include <QWidget>
#include <memory>

#include "Quorvane/auth/WalletTrackingViewModel.h"

class WalletTrackingView : public QWidget {
  public:
    explicit WalletTrackingView(std::shared_ptr<WalletTrackingViewModel> model, QWidget* parent = nullptr);

  private:
    std::shared_ptr<WalletTrackingViewModel> model_;
};
