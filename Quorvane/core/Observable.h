#pragma once
// The base of the app's view models. Views subscribe and re-render when told; a model changes an observed
// field through setObserved(), which notifies every subscriber once, and only when the value actually
// changes.
//
// Main thread only. Subscribers may subscribe, unsubscribe or release the model from inside a notification.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class Observable {
  public:
    // Keeps one subscription alive; dropping it (or calling cancel()) ends it. Safe to outlive the model.
    class Subscription {
      public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&& other) noexcept {
            if (this != &other) {
                cancel();
                registry_ = std::move(other.registry_);
                id_ = other.id_;
            }
            return *this;
        }
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { cancel(); }

        void cancel() {
            if (auto registry = registry_.lock())
                registry->erase(id_);
            registry_.reset();
        }

      private:
        friend class Observable;
        using Registry = std::map<std::uint64_t, std::shared_ptr<std::function<void()>>>;
        Subscription(std::weak_ptr<Registry> registry, std::uint64_t id)
            : registry_(std::move(registry)), id_(id) {}

        std::weak_ptr<Registry> registry_;
        std::uint64_t id_ = 0;
    };

    Observable() = default;
    // A copy or move of a model starts without subscribers: they watch the object they subscribed to.
    Observable(const Observable&) : Observable() {}
    Observable& operator=(const Observable&) { return *this; }
    virtual ~Observable() = default;

    [[nodiscard]] Subscription subscribe(std::function<void()> onChange) {
        auto id = nextId_++;
        registry_->emplace(id, std::make_shared<std::function<void()>>(std::move(onChange)));
        return Subscription(registry_, id);
    }

  protected:
    // Stores the value and notifies when it differs from the field's current one. True when it changed.
    template <class T, class V>
    bool setObserved(T& field, V&& value) {
        if (field == value)
            return false;
        field = std::forward<V>(value);
        notify();
        return true;
    }

    void notify() {
        // Subscribers may change the registry or destroy the model while they run: work on a snapshot, and
        // skip the ones cancelled meanwhile.
        std::weak_ptr<Subscription::Registry> weak = registry_;
        std::vector<std::pair<std::uint64_t, std::shared_ptr<std::function<void()>>>> snapshot(
            registry_->begin(), registry_->end());
        for (auto& [id, onChange] : snapshot) {
            auto registry = weak.lock();
            if (!registry || !registry->contains(id))
                continue;
            registry.reset();
            (*onChange)();
        }
    }

  private:
    std::shared_ptr<Subscription::Registry> registry_ = std::make_shared<Subscription::Registry>();
    std::uint64_t nextId_ = 1;
};
