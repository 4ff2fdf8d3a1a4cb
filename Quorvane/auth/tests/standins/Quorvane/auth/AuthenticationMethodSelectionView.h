#pragma once
// Stand-in until the method selection lands: its title.
#include <QLabel>
#include <memory>

#include "Quorvane/auth/AuthenticationMethodSelectionViewModel.h"

class AuthenticationMethodSelectionView : public QLabel {
  public:
    explicit AuthenticationMethodSelectionView(std::shared_ptr<AuthenticationMethodSelectionViewModel> model,
                                               QWidget* parent = nullptr)
        : QLabel(QString::fromStdString(model->titleText), parent), model_(std::move(model)) {}

  private:
    std::shared_ptr<AuthenticationMethodSelectionViewModel> model_;
};
