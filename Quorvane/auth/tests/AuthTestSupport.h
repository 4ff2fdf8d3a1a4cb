#pragma once
// What the authentication screens' tests share: a clean dependency container and user defaults per test, and
// the real session store on a virtual clock installed as the app's.
#include <gtest/gtest.h>

#include <memory>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"

namespace authtest {

// Every test starts and ends with an empty dependency container and empty user defaults.
class CleanState : public ::testing::Test {
  protected:
    CleanState() { reset(); }
    ~CleanState() override { reset(); }

    static void reset() {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }

    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
};

// The app's session store of the test (on a token driver folder of its own), installed as the app's.
struct SessionStore : testsupport::SessionStoreRig {
    explicit SessionStore(std::shared_ptr<platform::VirtualScheduler> scheduler)
        : SessionStoreRig(nullptr, std::move(scheduler)) {
        install();
    }
};

}  // namespace authtest
