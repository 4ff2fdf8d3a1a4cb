#pragma once
// Registration of the per-user launch agent that runs the signature relay, and whether it is enabled.
// Main thread only.

class LaunchAgentService {
  public:
    virtual ~LaunchAgentService() = default;

    // The agent is registered and allowed to run.
    virtual bool isServiceEnabled() const = 0;
    // Registers the agent unless it is already enabled or waiting for the user's approval. Never throws; a
    // failure is logged.
    virtual void registerService() = 0;
    // Unregisters the agent (a failure is ignored), then registers it as registerService() does.
    virtual void reregisterService() = 0;
    // Unregisters the agent: the user switched it off. Never throws; a failure is logged.
    virtual void unregisterService() = 0;
};
