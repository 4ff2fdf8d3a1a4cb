#include "platform/DarwinNotify.h"

#include <dbus/dbus.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace platform {
namespace {

// Distinct names counted for waitFor() when every name is observed: others on the bus cannot grow it without
// end.
constexpr std::size_t maxCountedNames = 1024;

std::string matchRule() {
    return std::string("type='signal',path='") + DarwinNotify::objectPath + "',interface='" +
           DarwinNotify::interfaceName + "',member='" + DarwinNotify::memberName + "'";
}

// A private connection: the shared one would belong to whatever else in the process uses libdbus, and would
// end the process when the bus goes away.
DBusConnection* openSessionBus() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (connection)
        dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return connection;
}

void closeConnection(DBusConnection* connection) {
    if (!connection)
        return;
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

// One connection for every post of the process: the bus keeps the order of one connection's messages, not
// across connections.
struct PostConnection {
    std::mutex mutex;
    DBusConnection* connection = nullptr;
    ~PostConnection() { closeConnection(connection); }
};

PostConnection& postConnection() {
    static PostConnection instance;
    return instance;
}

// Nothing reads the posting connection; drop what arrived on it (the bus's greeting, stray calls).
void discardIncoming(DBusConnection* connection) {
    while (DBusMessage* message = dbus_connection_pop_message(connection))
        dbus_message_unref(message);
}

}  // namespace

bool DarwinNotify::isValidName(const std::string& name) noexcept {
    if (name.empty() || name.size() > maxNameLength || name.find('\0') != std::string::npos)
        return false;
    // libdbus aborts the process on a string that is not UTF-8, so it is checked before it gets there.
    DBusError error;
    dbus_error_init(&error);
    const bool valid = dbus_validate_utf8(name.c_str(), &error);
    dbus_error_free(&error);
    return valid;
}

bool DarwinNotify::post(const std::string& name) noexcept {
    if (!isValidName(name))
        return false;
    try {
        PostConnection& shared = postConnection();
        std::lock_guard lock(shared.mutex);
        if (shared.connection && !dbus_connection_get_is_connected(shared.connection)) {
            closeConnection(shared.connection);
            shared.connection = nullptr;
        }
        if (!shared.connection)
            shared.connection = openSessionBus();
        if (!shared.connection)
            return false;

        DBusMessage* message = dbus_message_new_signal(objectPath, interfaceName, memberName);
        if (!message)
            return false;
        const char* argument = name.c_str();
        bool sent = dbus_message_append_args(message, DBUS_TYPE_STRING, &argument, DBUS_TYPE_INVALID) &&
                    dbus_connection_send(shared.connection, message, nullptr);
        dbus_message_unref(message);
        if (sent) {
            dbus_connection_flush(shared.connection);
            sent = dbus_connection_get_is_connected(shared.connection);
        }
        discardIncoming(shared.connection);
        return sent;
    } catch (...) {
        return false;
    }
}

struct DarwinNotifyObserver::State {
    std::set<std::string> names;
    bool all = false;
    Callback callback;
    DBusConnection* connection = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    std::map<std::string, std::size_t> pending;
    std::thread::id threadID;

    ~State() {
        closeConnection(connection);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    bool observes(const std::string& name) const {
        return all ? DarwinNotify::isValidName(name) : names.count(name) > 0;
    }

    void wake() const {
        const std::uint64_t one = 1;
        while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void finish() {
        {
            std::lock_guard lock(mutex);
            running = false;
            threadID = {};
        }
        changed.notify_all();
    }

    void deliver(DBusMessage* message) {
        if (!dbus_message_is_signal(message, DarwinNotify::interfaceName, DarwinNotify::memberName) ||
            !dbus_message_has_path(message, DarwinNotify::objectPath))
            return;
        DBusMessageIter arguments;
        if (!dbus_message_iter_init(message, &arguments) ||
            dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_STRING ||
            dbus_message_iter_has_next(&arguments))
            return;
        const char* text = nullptr;
        dbus_message_iter_get_basic(&arguments, &text);
        const std::string name(text);
        if (!observes(name))
            return;
        if (callback) {
            try {
                callback(name);
            } catch (...) {
            }
        }
        {
            std::lock_guard lock(mutex);
            auto found = pending.find(name);
            if (found != pending.end())
                ++found->second;
            else if (pending.size() < maxCountedNames)
                pending.emplace(name, 1);
        }
        changed.notify_all();
    }
};

DarwinNotifyObserver::DarwinNotifyObserver(const std::vector<std::string>& names,
                                           Callback callback) noexcept {
    try {
        start(names, false, std::move(callback));
    } catch (...) {
    }
}

DarwinNotifyObserver::DarwinNotifyObserver(AllNames, Callback callback) noexcept {
    try {
        start({}, true, std::move(callback));
    } catch (...) {
    }
}

DarwinNotifyObserver::~DarwinNotifyObserver() {
    stop();
    // Destroyed by its own callback: the thread holds the state until it ends.
    if (thread_.joinable())
        thread_.detach();
}

void DarwinNotifyObserver::start(std::vector<std::string> names, bool all, Callback callback) noexcept {
    try {
        auto state = std::make_shared<State>();
        for (auto& name : names) {
            if (DarwinNotify::isValidName(name))
                state->names.insert(std::move(name));
        }
        state->all = all;
        state->callback = std::move(callback);
        state_ = state;

        state->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (state->wakeFd < 0)
            return;
        state->connection = openSessionBus();
        if (!state->connection)
            return;
        // The rule is in place once the bus has answered, so a notification posted after the constructor
        // returns is not missed.
        DBusError error;
        dbus_error_init(&error);
        dbus_bus_add_match(state->connection, matchRule().c_str(), &error);
        const bool matched = !dbus_error_is_set(&error);
        dbus_error_free(&error);
        if (!matched)
            return;

        state->running = true;
        thread_ = std::thread(&DarwinNotifyObserver::run, state);
        ::pthread_setname_np(thread_.native_handle(), threadName);
    } catch (...) {
        if (state_)
            state_->running = false;
    }
}

void DarwinNotifyObserver::run(std::shared_ptr<State> state) noexcept {
    {
        std::lock_guard lock(state->mutex);
        state->threadID = std::this_thread::get_id();
    }
    DBusConnection* connection = state->connection;
    while (!state->stopping) {
        // Messages may already be queued (read while the match rule was added, or by the last read).
        while (!state->stopping) {
            DBusMessage* message = dbus_connection_pop_message(connection);
            if (!message)
                break;
            state->deliver(message);
            dbus_message_unref(message);
        }
        int fd = -1;
        if (state->stopping || !dbus_connection_get_is_connected(connection) ||
            !dbus_connection_get_unix_fd(connection, &fd))
            break;
        pollfd fds[2] = {{fd, POLLIN, 0}, {state->wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (fds[0].revents && !dbus_connection_read_write(connection, 0))
            break;
    }
    state->finish();
}

bool DarwinNotifyObserver::isObserving() const noexcept {
    if (!state_)
        return false;
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

bool DarwinNotifyObserver::waitFor(const std::string& name,
                                   std::chrono::steady_clock::time_point deadline) noexcept {
    if (!state_ || !state_->observes(name))
        return false;
    try {
        std::unique_lock lock(state_->mutex);
        // Nothing is delivered while the observer's own thread waits: there it only takes what is at hand.
        const bool ownThread = state_->running && state_->threadID == std::this_thread::get_id();
        auto available = [&] {
            auto found = state_->pending.find(name);
            return found != state_->pending.end() && found->second > 0;
        };
        if (!ownThread)
            state_->changed.wait_until(lock, deadline, [&] { return available() || !state_->running; });
        if (!available())
            return false;
        --state_->pending.find(name)->second;
        return true;
    } catch (...) {
        return false;
    }
}

bool DarwinNotifyObserver::waitFor(const std::string& name, std::chrono::milliseconds timeout) noexcept {
    return waitFor(name, std::chrono::steady_clock::now() + timeout);
}

bool DarwinNotifyObserver::onOwnThread() const noexcept {
    std::lock_guard lock(state_->mutex);
    return state_->threadID == std::this_thread::get_id();
}

void DarwinNotifyObserver::stop() noexcept {
    if (!state_)
        return;
    state_->stopping = true;
    if (state_->wakeFd >= 0)
        state_->wake();
    // From the callback the thread cannot be joined: it ends once that delivery is done.
    if (onOwnThread())
        return;
    if (thread_.joinable())
        thread_.join();
    state_->finish();
}

}  // namespace platform
