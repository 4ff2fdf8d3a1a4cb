#pragma once
// The app's one main-window controller, as the core services reach it. The app shell fills it in: the window
// once it has been shown, and the application's activation.
#include <memory>

class MainWindowController {
  public:
    enum class ActivationPolicy { regular, accessory };

    // The main window.
    class Window {
      public:
        virtual ~Window() = default;
        // Brings the window in front of the others and gives it the keyboard focus.
        virtual void makeKeyAndOrderFront() = 0;
    };

    // The application object's activation: in or out of the taskbar, and in front of other applications.
    class Application {
      public:
        virtual ~Application() = default;
        virtual void setActivationPolicy(ActivationPolicy policy) = 0;
        virtual void activate(bool ignoringOtherApps) = 0;
    };

    // Made on first use; main thread only.
    static MainWindowController& shared();

    // Absent until the window has been shown the first time.
    std::shared_ptr<Window> window;
    // Absent until the app shell installs it.
    std::shared_ptr<Application> application;
};
