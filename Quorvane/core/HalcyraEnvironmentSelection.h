#pragma once
// The server environment the app works against, kept in the user defaults under "orchestrator_env" (PROD when
// nothing usable is stored), and the switch to another one.
#include <functional>

#include "HalcyraEnvironment.h"

class HalcyraEnvironmentSelection {
  public:
    static constexpr const char* environmentKey = "orchestrator_env";

    // What a switch does after storing the new environment: rebuild the server clients for its base URL and
    // have the session store remove all tokens. The dependency wiring supplies it.
    using EnvironmentSwitched = std::function<void(HalcyraEnvironment)>;

    explicit HalcyraEnvironmentSelection(EnvironmentSwitched environmentSwitched = {});

    // Read afresh on every call; never fails.
    HalcyraEnvironment currentEnvironment() const;

    // Stores the environment, then runs the switch, also when it is the one already in use.
    void select(HalcyraEnvironment environment);

  private:
    void storeEnvironment(HalcyraEnvironment environment);

    EnvironmentSwitched environmentSwitched_;
};
