#pragma once
// The message page: the message (verbatim) under a progress indicator while waiting, or above an OK button
// otherwise. A press on the page, a Control-click, or the Copy shortcut copies the message where the model
// allows it; the confirming toast slides in at the top. The OK button has the keyboard focus once shown.
#include <QWidget>
#include <memory>

#include "InfoViewModel.h"

class QLabel;
class QProgressBar;
class QVariantAnimation;
class QGraphicsOpacityEffect;
class StyledButton;
class ToastView;

class InfoView : public QWidget {
  public:
    enum class Field { okButton };
    static constexpr int toastAnimationMilliseconds = 350;

    explicit InfoView(std::shared_ptr<InfoViewModel> model, QWidget* parent = nullptr);

    QLabel* messageLabel() const { return message_; }
    QProgressBar* progressIndicator() const { return progress_; }
    StyledButton* okButton() const { return okButton_; }
    ToastView* toast() const { return toast_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void render();
    void placeToast();

    std::shared_ptr<InfoViewModel> model_;
    Observable::Subscription subscription_;
    QProgressBar* progress_ = nullptr;
    QLabel* message_;
    StyledButton* okButton_ = nullptr;
    ToastView* toast_;
    QGraphicsOpacityEffect* toastOpacity_;
    QVariantAnimation* toastAnimation_;
    bool toastShown_ = false;
};
