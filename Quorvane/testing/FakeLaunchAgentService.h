#pragma once
// The launch-agent service of the tests: enabled as the test sets it, registering takes unless told to fail,
// and every call is logged ("registerService", "reregisterService", "unregisterService") and every status
// read counted. With `forwardTo` set it passes every call on to that service (the live one on a test
// registry).
#include <memory>

#include "CallLog.h"
#include "Quorvane/core/LaunchAgentService.h"

namespace testsupport {

class FakeLaunchAgentService : public LaunchAgentService {
  public:
    explicit FakeLaunchAgentService(bool enabled = false,
                                    std::shared_ptr<CallLog> log = std::make_shared<CallLog>())
        : enabled(enabled), log(std::move(log)) {}

    bool isServiceEnabled() const override {
        ++statusReads;
        return forwardTo ? forwardTo->isServiceEnabled() : enabled;
    }
    void registerService() override {
        log->add("registerService");
        if (forwardTo)
            forwardTo->registerService();
        else if (!registrationFails)
            enabled = true;
    }
    void reregisterService() override {
        log->add("reregisterService");
        if (forwardTo)
            forwardTo->reregisterService();
    }
    void unregisterService() override {
        log->add("unregisterService");
        if (forwardTo)
            forwardTo->unregisterService();
        else
            enabled = false;
    }

    bool enabled;
    bool registrationFails = false;
    std::shared_ptr<LaunchAgentService> forwardTo;
    std::shared_ptr<CallLog> log;
    mutable int statusReads = 0;
};

}  // namespace testsupport
