#pragma once
// The main menu screen: three large buttons, one below the other, for retrieving the signing certificate,
// the account information and the settings. The first one has the keyboard focus when the screen is shown.
#include <QWidget>
#include <memory>

#include "MenuViewModel.h"

class MenuButtonView;

class MenuView : public QWidget {
  public:
    enum class Field { retrieveButton };

    explicit MenuView(std::shared_ptr<MenuViewModel> model, QWidget* parent = nullptr);

    MenuButtonView* retrieveButton() const { return retrieveButton_; }
    MenuButtonView* accountInfoButton() const { return accountInfoButton_; }
    MenuButtonView* settingsButton() const { return settingsButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::shared_ptr<MenuViewModel> model_;
    MenuButtonView* retrieveButton_;
    MenuButtonView* accountInfoButton_;
    MenuButtonView* settingsButton_;
};
