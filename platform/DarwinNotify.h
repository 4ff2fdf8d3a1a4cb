#pragma once
// Cross-process notifications without payload: a sender posts a name, every process that observes that name
// is told. Plain C++ on libdbus-1 (no Qt, no event loop needed), so the plug-in that other programs load can
// observe.
//
// On the wire a notification is a broadcast signal on the session bus:
//   object path  "/com/tovik/pcsigning/Notify"
//   interface    "com.tovik.pcsigning.Notify"
//   member       "Notification"
//   arguments    one string: the notification's name
// Observers add the match rule
//   "type='signal',path='/com/tovik/pcsigning/Notify',interface='com.tovik.pcsigning.Notify',member='Notification'"
// and filter the names themselves. Any process of the same session may post, as with any session-wide
// notification.
//
// Names are non-empty valid UTF-8 without NUL, at most maxNameLength bytes.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class DarwinNotify {
  public:
    static constexpr const char* objectPath = "/com/tovik/pcsigning/Notify";
    static constexpr const char* interfaceName = "com.tovik.pcsigning.Notify";
    static constexpr const char* memberName = "Notification";
    static constexpr std::size_t maxNameLength = 4096;

    // Posts the notification to the session bus and returns once it is written there. Notifications posted by
    // one process reach each observer in the order they were posted. Returns false, and posts nothing, when
    // the name is not a valid name or no session bus can be reached. Callable from any thread.
    static bool post(const std::string& name) noexcept;

    static bool isValidName(const std::string& name) noexcept;
};

// Observes notifications from the moment its constructor returns until stop() or its destruction. Each one is
// handed, in the order received, to the callback on the observer's own thread, and is also kept for
// waitFor(). Without a session bus the observer observes nothing: isObserving() is false and waitFor()
// returns false at once.
//
// The observer must be stopped or destroyed before the code that holds it is unloaded; both return only when
// the observer's thread has ended (except when called from the callback itself, see stop()).
class DarwinNotifyObserver {
  public:
    using Callback = std::function<void(const std::string& name)>;
    struct AllNames {};
    static constexpr AllNames allNames{};
    // The name of each observer's thread, as tools (and /proc) show it.
    static constexpr const char* threadName = "quorvane-notify";

    // Observes the given names (invalid ones are ignored). The callback may be empty; an exception it throws
    // is dropped. It may stop its own observer, and should return promptly: deliveries wait for it.
    explicit DarwinNotifyObserver(const std::vector<std::string>& names, Callback callback = {}) noexcept;
    // Observes every name (tests that check that nothing else was posted).
    explicit DarwinNotifyObserver(AllNames, Callback callback = {}) noexcept;
    ~DarwinNotifyObserver();

    DarwinNotifyObserver(const DarwinNotifyObserver&) = delete;
    DarwinNotifyObserver& operator=(const DarwinNotifyObserver&) = delete;

    // True while connected to the bus and not stopped; false once the bus is lost.
    bool isObserving() const noexcept;

    // Waits until a delivery of the name is at hand that no earlier waitFor() took, takes it and returns
    // true; the callback for that delivery has returned by then. Deliveries received before the call count.
    // Returns false at the deadline, at once for a name that is not observed, and as soon as the observer
    // stops or loses the bus with nothing left to take. Any number of threads may wait, except on the
    // observer's own thread.
    bool waitFor(const std::string& name, std::chrono::steady_clock::time_point deadline) noexcept;
    bool waitFor(const std::string& name, std::chrono::milliseconds timeout) noexcept;

    // Stops observing, wakes every waitFor() and ends the observer's thread before returning. Called from the
    // callback, it makes the thread end once that callback returns (its delivery still counts for waitFor()).
    // Calling it again does nothing.
    void stop() noexcept;

  private:
    struct State;
    void start(std::vector<std::string> names, bool all, Callback callback) noexcept;
    static void run(std::shared_ptr<State> state) noexcept;
    bool onOwnThread() const noexcept;

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace platform
