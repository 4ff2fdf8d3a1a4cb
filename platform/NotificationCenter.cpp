#include "platform/NotificationCenter.h"

#include <vector>

namespace platform {

struct NotificationCenter::Observation::Entry {
    std::string name;
    Callback callback;
    bool active = true;
    std::weak_ptr<State> center;
};

struct NotificationCenter::State {
    std::multimap<std::string, std::shared_ptr<Observation::Entry>> entries;

    void remove(const Observation::Entry* entry) {
        auto [first, last] = entries.equal_range(entry->name);
        for (auto it = first; it != last; ++it) {
            if (it->second.get() == entry) {
                entries.erase(it);
                return;
            }
        }
    }
};

NotificationCenter::Observation& NotificationCenter::Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        cancel();
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void NotificationCenter::Observation::cancel() {
    auto entry = entry_.lock();
    entry_.reset();
    if (!entry)
        return;
    entry->active = false;
    if (auto center = entry->center.lock())
        center->remove(entry.get());
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;  // never destroyed: usable while exiting
    return *center;
}

NotificationCenter::Observation NotificationCenter::addObserver(const std::string& name, Callback callback) {
    auto entry = std::make_shared<Observation::Entry>();
    entry->name = name;
    entry->callback = std::move(callback);
    entry->center = state_;
    state_->entries.emplace(name, entry);
    return Observation(entry);
}

void NotificationCenter::post(const std::string& name) {
    // The observers of the moment, in the order they registered (a multimap keeps insertion order per key).
    // Each is held for the delivery, so one that ends during it is skipped, not destroyed under our feet.
    std::vector<std::shared_ptr<Observation::Entry>> observers;
    auto [first, last] = state_->entries.equal_range(name);
    for (auto it = first; it != last; ++it)
        observers.push_back(it->second);
    for (const auto& observer : observers) {
        if (observer->active && observer->callback)
            observer->callback();
    }
}

}  // namespace platform
