#pragma once
// The app's in-process notification center: observers register for a name and are called, synchronously and
// in the order they registered, whenever that name is posted. Notifications carry no object and no data.
//
// Main thread only. An observer may post, add observers or end observations (its own included) from inside
// a delivery: an observation ended during a post is not called afterwards, one added during a post is called
// from the next post on.
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace platform {

class NotificationCenter {
  public:
    using Callback = std::function<void()>;

    // Keeps one observer registered; dropping it (or calling cancel()) ends the observation. Safe to outlive
    // the center.
    class Observation {
      public:
        Observation() = default;
        Observation(Observation&& other) noexcept = default;
        Observation& operator=(Observation&& other) noexcept;
        Observation(const Observation&) = delete;
        Observation& operator=(const Observation&) = delete;
        ~Observation() { cancel(); }

        void cancel();

      private:
        friend class NotificationCenter;
        struct Entry;
        explicit Observation(std::weak_ptr<Entry> entry) : entry_(std::move(entry)) {}
        std::weak_ptr<Entry> entry_;
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's default center.
    static NotificationCenter& defaultCenter();

    [[nodiscard]] Observation addObserver(const std::string& name, Callback callback);
    void post(const std::string& name);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
