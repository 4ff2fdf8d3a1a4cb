#pragma once
// The main window and the application object as the window controller sees them, for the tests: the window is
// on screen until closed, and both log what is asked of them ("window to front", "content <mode>",
// "window closed"; "policy regular", "policy accessory", "activate", "activate ignoring others").
#include <memory>
#include <string>

#include "CallLog.h"
#include "Quorvane/core/MainWindowController.h"

namespace testsupport {

class FakeWindow : public MainWindowController::Window {
  public:
    explicit FakeWindow(std::shared_ptr<CallLog> log = std::make_shared<CallLog>()) : log(std::move(log)) {}

    void makeKeyAndOrderFront() override {
        visible = true;
        log->add("window to front");
    }
    bool isVisible() const override { return visible; }
    void setContent(const AppOpenMode& mode) override { log->add("content " + mode.description()); }
    void close() override {
        if (!visible)
            return;
        if (willClose)
            willClose();
        visible = false;
        ++closes;
        log->add("window closed");
    }

    bool visible = true;
    int closes = 0;
    std::shared_ptr<CallLog> log;
};

class FakeApplication : public MainWindowController::Application {
  public:
    explicit FakeApplication(std::shared_ptr<CallLog> log = std::make_shared<CallLog>())
        : log(std::move(log)) {}

    void setActivationPolicy(MainWindowController::ActivationPolicy policy) override {
        log->add(policy == MainWindowController::ActivationPolicy::regular ? "policy regular"
                                                                           : "policy accessory");
    }
    void activate(bool ignoringOtherApps) override {
        log->add(ignoringOtherApps ? "activate ignoring others" : "activate");
    }

    std::shared_ptr<CallLog> log;
};

}  // namespace testsupport
