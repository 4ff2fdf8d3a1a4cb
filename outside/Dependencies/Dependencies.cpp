#include "outside/Dependencies/Dependencies.h"

DependencyValues& DependencyValues::shared() {
    // Never destroyed: services live until the process ends, and destroying them during static destruction
    // would run their destructors after what they use (the Qt application, other statics) is gone.
    static auto* const instance = new DependencyValues;
    return *instance;
}

void DependencyValues::reset() {
    std::unordered_map<std::type_index, std::unique_ptr<SlotBase>> current;
    std::unordered_map<std::type_index, std::unique_ptr<SlotBase>> preview;
    {
        std::lock_guard lock(mutex_);
        current.swap(current_);
        preview.swap(preview_);
        previewMode_.store(false);
    }
    // The values are released here, outside the lock: their destructors may read other keys.
}
