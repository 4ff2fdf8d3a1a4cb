#pragma once
// Stand-in for the PIN sheet's screen until the PIN entry lands: the PIN field (focused on each focus
// trigger, Return submits when allowed), the tries left, and the confirm, Cancel and Retry buttons.
#include <QWidget>
#include <memory>

#include "Quorvane/auth/PinInputViewModel.h"

class QLabel;
class QLineEdit;
class QPushButton;

class PinInputView : public QWidget {
  public:
    explicit PinInputView(std::shared_ptr<PinInputViewModel> model, QWidget* parent = nullptr);

    // The form's Cancel; nothing where the form offers none (a pinpad reader waiting, a PIN handed over).
    void cancel();

  private:
    void render();

    std::shared_ptr<PinInputViewModel> model_;
    Observable::Subscription subscription_;
    QLineEdit* field_;
    QLabel* tries_;
    QLabel* pinPad_;
    QPushButton* confirm_;
    QPushButton* cancel_;
    QPushButton* retry_;
    int focusTrigger_ = 0;
};
