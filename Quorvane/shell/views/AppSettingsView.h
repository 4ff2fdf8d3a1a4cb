#pragma once
// The settings screen: title, the sections "Signing tools integration", "Quorvane service", "Authentication
// method", "Privacy" and "About", each in the standard bordered box, and "Done" at the bottom, all in one
// vertical scroll. It shows the model and forwards every change to it; it keeps no state of its own.
#include <QWidget>
#include <memory>

#include "AppSettingsViewModel.h"

class QComboBox;
class QLabel;
class QScrollArea;
class QVBoxLayout;
class StyledButton;
class Toggle;

class AppSettingsView : public QWidget {
  public:
    explicit AppSettingsView(std::shared_ptr<AppSettingsViewModel> model, QWidget* parent = nullptr);

    Toggle* externalCertificateRetrievalToggle() const { return externalCertificateRetrieval_; }
    Toggle* launchAgentToggle() const { return launchAgent_; }
    QLabel* launchAgentFailureLabel() const { return launchAgentFailure_; }
    QComboBox* authenticationMethodPicker() const { return picker_; }
    Toggle* privacyModeToggle() const { return privacyMode_; }
    // The "About" section's content: a progress indicator while fetching, then the update dialog.
    QWidget* aboutContent() const { return aboutContent_; }
    StyledButton* doneButton() const { return done_; }

  private:
    void render();

    std::shared_ptr<AppSettingsViewModel> model_;
    Observable::Subscription subscription_;
    QScrollArea* scroll_;
    Toggle* externalCertificateRetrieval_;
    Toggle* launchAgent_;
    QLabel* launchAgentFailure_;
    QComboBox* picker_;
    Toggle* privacyMode_;
    QVBoxLayout* about_;
    QWidget* aboutContent_ = nullptr;
    bool aboutShowsFetched_ = false;
    StyledButton* done_;
};
