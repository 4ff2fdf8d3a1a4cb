#pragma once
// The app's session store on a virtual clock, with a token driver folder of its own (installed) and its own
// settings and logger; it reads the cards through the given card-reader client (none by default).
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/VirtualScheduler.h"

namespace testsupport {

struct SessionStoreRig {
    explicit SessionStoreRig(std::shared_ptr<pindle::PindleClient> pindle = nullptr,
                             std::shared_ptr<platform::VirtualScheduler> scheduler =
                                 std::make_shared<platform::VirtualScheduler>());

    // Makes it the app's session store.
    void install() const;
    // A session ending after the given time; with holder data when names are given.
    SigningSession addSession(const SigningSessionContext& context, std::chrono::seconds lifetime,
                              std::optional<std::vector<std::string>> firstLastNumber = std::nullopt);

    std::shared_ptr<platform::VirtualScheduler> scheduler;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<TokenDriverConfiguration> tokens;
    std::shared_ptr<SigningSessionDatabase> store;
};

}  // namespace testsupport
