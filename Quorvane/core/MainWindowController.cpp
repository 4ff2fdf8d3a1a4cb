#include "Quorvane/core/MainWindowController.h"

MainWindowController& MainWindowController::shared() {
    static MainWindowController* controller = new MainWindowController;  // lives as long as the app
    return *controller;
}
