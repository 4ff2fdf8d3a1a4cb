#pragma once
// The app's one main window. Every request to show something goes through show(mode), which makes the window
// once and gives it, each time, fresh content for the mode; closing goes through close() or the window's own
// close button. The controller announces opening and closing in the process ("MainWindowDidOpen",
// "MainWindowWillClose"), switches the application between the regular and the accessory activation policy,
// and on close tells the signing plug-in that certificate retrieval is over, unless told not to.
//
// The app shell fills in what needs the windowing system: the window factory and the application object. The
// flows only call show() and close(). Main thread only.
#include <functional>
#include <memory>
#include <optional>

#include "AppOpenMode.h"
#include "DependencyKeys.h"

class MainWindowController {
  public:
    static constexpr const char* mainWindowDidOpenNotification = "MainWindowDidOpen";
    static constexpr const char* mainWindowWillCloseNotification = "MainWindowWillClose";

    enum class ActivationPolicy { regular, accessory };

    // The main window.
    class Window {
      public:
        virtual ~Window() = default;
        // Brings the window in front of the others and gives it the keyboard focus.
        virtual void makeKeyAndOrderFront() = 0;
        virtual bool isVisible() const = 0;
        // Replaces the content with a new screen for the mode; the old one goes with its model.
        virtual void setContent(const AppOpenMode& mode) = 0;
        // Orders a visible window out, calling the will-close handler first. A window that is not on screen
        // does nothing: it is closed already.
        virtual void close() = 0;
        // Called when the visible window is about to close, by close() or by the user; set by the
        // controller that shows the window.
        std::function<void()> willClose;
    };

    // The application object's activation: in or out of the taskbar, and in front of other applications.
    class Application {
      public:
        virtual ~Application() = default;
        virtual void setActivationPolicy(ActivationPolicy policy) = 0;
        virtual void activate(bool ignoringOtherApps) = 0;
    };

    using WindowFactory = std::function<std::shared_ptr<Window>()>;

    MainWindowController() = default;
    ~MainWindowController();
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // Made on first use; main thread only.
    static MainWindowController& shared();

    // Shows the window for the mode: makes it on first use (through makeWindow), gives it new content, brings
    // it to the front and announces it. A window that is busy with a flow is closed first, with its whole
    // will-close handling, so that the flow ends through its cancel path and its requester gets an answer.
    void show(const AppOpenMode& mode);
    // Closes a visible window. With ignoringWillCloseSignal, that close does not tell the signing plug-in
    // that retrieval is over. A window that is not on screen is left alone.
    void close(bool ignoringWillCloseSignal);
    // The window's will-close handling; the window calls it through its willClose handler.
    void windowWillClose();

    // The window is on screen with a flow: its last mode is neither `menu` nor `settings`.
    bool isBusy() const;
    // The mode of the last show(); never cleared.
    const std::optional<AppOpenMode>& lastShownMode() const { return lastShownMode_; }

    // Absent until the window has been shown the first time.
    std::shared_ptr<Window> window;
    // Absent until the app shell installs it.
    std::shared_ptr<Application> application;
    // Makes the window on the first show(); installed by the app shell. Without it nothing is shown.
    WindowFactory makeWindow;

  private:
    Dependency<LoggerClientKey> _logger;
    Dependency<PluginClientKey> _pluginClient;
    std::optional<AppOpenMode> lastShownMode_;
    bool ignoreWillCloseNotificationForCertificateRetrievalCompletionNotification_ = false;
};
