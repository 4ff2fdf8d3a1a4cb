#pragma once
// The band at the top of every numbered page of the account creation: the flow's title, "Stop activation",
// which page of how many is shown with the page's title, and a progress bar.
#include <QWidget>
#include <functional>
#include <string>

#include "AccountCreationStep.h"

class QLabel;
class QProgressBar;
class StyledButton;

class AccountCreationStepHeaderView : public QWidget {
  public:
    AccountCreationStepHeaderView(std::string title, int currentStep, int stepCount,
                                  std::string stepDescription, bool stopAllowed,
                                  std::function<void()> stopRequested, QWidget* parent = nullptr);
    // The header of a page of the flow.
    AccountCreationStepHeaderView(const AccountCreationStep& step, bool stopAllowed,
                                  std::function<void()> stopRequested, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QLabel* stepLabel() const { return step_; }
    StyledButton* stopButton() const { return stopButton_; }
    QProgressBar* progressBar() const { return progress_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* title_;
    QLabel* step_;
    StyledButton* stopButton_;
    QProgressBar* progress_;
    std::function<void()> stopRequested_;
};
