#pragma once
// The signing screen: the model's page (its message, with the waiting indicator while the flow works, or the
// card selection for the card the request is for), and the PIN or wallet sheet while the model shows one.
// Showing the screen starts the model's intake (once per model). It decides nothing itself.
#include <QWidget>
#include <memory>

#include "SigningViewModel.h"

class CardSelectionView;
class InfoView;
class SheetPresenter;

class SigningView : public QWidget {
  public:
    explicit SigningView(std::shared_ptr<SigningViewModel> model, QWidget* parent = nullptr);

    const std::shared_ptr<SigningViewModel>& model() const { return model_; }
    // The page on screen: one of the two is set.
    InfoView* infoView() const { return info_; }
    CardSelectionView* cardSelectionView() const { return cardSelection_; }
    SheetPresenter* sheetPresenter() const { return sheetPresenter_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();

    std::shared_ptr<SigningViewModel> model_;
    Observable::Subscription subscription_;
    SigningViewModel::Page shownPage_;
    QWidget* page_ = nullptr;
    InfoView* info_ = nullptr;
    CardSelectionView* cardSelection_ = nullptr;
    SheetPresenter* sheetPresenter_ = nullptr;
};
