#pragma once
// The stand-in bridge with one standard reader holding a software card, installed as the app's bridge. On its
// way out it waits until the card layer has reaped the bridge runs still waiting for their end.
#include <chrono>
#include <string>

#include "cardbridge/VexoConnectInvoker.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"

namespace testsupport {

class StandInBridge : public simtest::SimBridge {
  public:
    explicit StandInBridge(const Issued& card, const std::string& pin = "1234") {
        addReader(simtest::reader("standard", simtest::softCard(card, pin), "Reader 1"));
        install();
    }
    ~StandInBridge() {
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; },
                   std::chrono::seconds(30));
    }
};

}  // namespace testsupport
