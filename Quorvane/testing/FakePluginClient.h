#pragma once
// The signing plug-in's client of the tests: it logs each signal ("requested", "retrieved") and, with
// `forwardTo` set, passes it on (to the live client, whose notifications an observer process sees).
#include <memory>

#include "CallLog.h"
#include "Quorvane/core/PluginClient.h"

namespace testsupport {

class FakePluginClient : public PluginClient {
  public:
    explicit FakePluginClient(std::shared_ptr<CallLog> log = std::make_shared<CallLog>(),
                              std::shared_ptr<PluginClient> forwardTo = nullptr)
        : log(std::move(log)), forwardTo(std::move(forwardTo)) {}

    void signalCertificateRequested() override {
        log->add("requested");
        if (forwardTo)
            forwardTo->signalCertificateRequested();
    }
    void signalCertificateRetrieved() override {
        log->add("retrieved");
        if (forwardTo)
            forwardTo->signalCertificateRetrieved();
    }

    std::shared_ptr<CallLog> log;
    std::shared_ptr<PluginClient> forwardTo;
};

}  // namespace testsupport
