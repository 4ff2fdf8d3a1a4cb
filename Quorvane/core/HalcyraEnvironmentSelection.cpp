#include "HalcyraEnvironmentSelection.h"

#include <utility>

#include "platform/qt/UserDefaults.h"

HalcyraEnvironmentSelection::HalcyraEnvironmentSelection(EnvironmentSwitched environmentSwitched)
    : environmentSwitched_(std::move(environmentSwitched)) {}

HalcyraEnvironment HalcyraEnvironmentSelection::currentEnvironment() const {
    auto stored = platform::UserDefaults::standard().string(environmentKey);
    if (!stored)
        return HalcyraEnvironment::prod;
    return halcyraEnvironmentFromRawValue(*stored).value_or(HalcyraEnvironment::prod);
}

void HalcyraEnvironmentSelection::select(HalcyraEnvironment environment) {
    storeEnvironment(environment);
    if (environmentSwitched_)
        environmentSwitched_(environment);
}

void HalcyraEnvironmentSelection::storeEnvironment(HalcyraEnvironment environment) {
    platform::UserDefaults::standard().setString(environmentKey, rawValue(environment));
}
