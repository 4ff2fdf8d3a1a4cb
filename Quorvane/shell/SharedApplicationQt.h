#pragma once
// The application object on a QApplication.
//
// Activation is a change from inactive to active. The app counts as active while one of its windows has the
// focus; activate() on an inactive app, a launch, a second start and an opened URL make it active and call
// didBecomeActive. Focus that comes back by itself (the user clicks the window) calls nothing: it would open
// stray menu windows.
#include <QPointer>
#include <functional>

#include "SharedApplication.h"

class QMessageBox;

class SharedApplicationQt : public SharedApplication {
  public:
    // Called on every activation.
    std::function<void()> didBecomeActive;
    // Called once by terminate(), before the event loop ends.
    std::function<void()> willTerminate;

    void setActivationPolicy(MainWindowController::ActivationPolicy policy) override;
    // Brings the app's visible windows to the front; an app that was not active becomes active.
    void activate(bool ignoringOtherApps) override;
    void orderFrontStandardAboutPanel() override;
    void terminate() override;

    MainWindowController::ActivationPolicy activationPolicy() const { return policy_; }

    // The About panel leaves room in its title bar for this many buttons, each a square two text lines high,
    // beside the whole title (in a font half as wide again as its own).
    static constexpr int aboutPanelFrameButtons = 4;

  private:
    MainWindowController::ActivationPolicy policy_ = MainWindowController::ActivationPolicy::accessory;
    QPointer<QMessageBox> aboutPanel_;
    bool terminating_ = false;
};
