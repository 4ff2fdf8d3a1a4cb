#pragma once
// The choice of authentication method: a waiting message while the model works; then the introduction, one
// button per method the server offers, and the sentence linking the terms and the privacy statement. Below,
// in both states, "Settings" (opens the settings as a sheet) and the done button (closes the window; it has
// the keyboard focus). The model's update dialog shows as a sheet too. Each showing starts the model's
// sequence again.
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AuthenticationMethodSelectionViewModel.h"
#include "Quorvane/shell/views/Sheet.h"

class AuthenticationMethodButtonView;
class QLabel;
class QVBoxLayout;
class StyledButton;

class AuthenticationMethodSelectionView : public QWidget {
  public:
    enum class Field { doneButton };

    explicit AuthenticationMethodSelectionView(std::shared_ptr<AuthenticationMethodSelectionViewModel> model,
                                               QWidget* parent = nullptr);

    // The two pages the terms sentence links to: one fixed web host, whatever server the app talks to.
    static std::string termsURL();
    static std::string privacyURL();
    // The sentence as rich text, the first "terms and conditions" and "privacy statement" in it as links (a
    // translation without one of them keeps its sentence without that link).
    static QString termsText(const QPalette& palette);

    StyledButton* settingsButton() const { return settings_; }
    StyledButton* doneButton() const { return done_; }
    // Present while the methods are listed.
    const std::vector<AuthenticationMethodButtonView*>& methodButtons() const { return methodButtons_; }
    QLabel* termsLabel() const { return terms_; }
    QLabel* titleLabel() const { return title_; }
    // The sheet on screen, if any.
    Sheet* sheet() const { return sheet_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void render();
    void renderSheet();
    QWidget* makeSelection();

    std::shared_ptr<AuthenticationMethodSelectionViewModel> model_;
    Observable::Subscription subscription_;
    QVBoxLayout* stateArea_;
    QWidget* state_ = nullptr;
    std::optional<AuthenticationMethodSelectionViewState> shownState_;
    std::vector<AuthenticationMethodButtonView*> methodButtons_;
    QLabel* title_ = nullptr;
    QLabel* terms_ = nullptr;
    StyledButton* settings_;
    StyledButton* done_;
    std::optional<AuthenticationMethodSelectionModalState> shownModalState_;
    QPointer<Sheet> sheet_;
};
