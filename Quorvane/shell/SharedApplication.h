#pragma once
// The application object as the shell uses it: activation (from MainWindowController::Application), the
// standard About panel and termination.
#include "Quorvane/core/MainWindowController.h"

class SharedApplication : public MainWindowController::Application {
  public:
    // Opens the standard About panel: the app's name, icon and version.
    virtual void orderFrontStandardAboutPanel() = 0;
    // Runs the delegate's termination step and ends the event loop; work still queued does not run.
    virtual void terminate() = 0;
};
