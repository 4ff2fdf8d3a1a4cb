#include "SessionStoreRig.h"

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/PindleMock.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/tokens/TokenStore.h"

namespace testsupport {

SessionStoreRig::SessionStoreRig(std::shared_ptr<pindle::PindleClient> pindle,
                                 std::shared_ptr<platform::VirtualScheduler> scheduler)
    : scheduler(std::move(scheduler)) {
    if (!pindle)
        pindle = PindleMock::make(PindleMock::Mode::noCards(), this->scheduler);
    platform::tokens::TokenStore tokenStore(makeTempDir("tokens") / platform::tokens::driverClassID);
    tokenStore.installDriver();
    tokens = std::make_shared<TokenDriverConfiguration>(tokenStore, logger);
    store = std::make_shared<SigningSessionDatabase>(SigningSessionDatabase::always(settings),
                                                     SigningSessionDatabase::always(logger),
                                                     std::move(pindle), tokens, this->scheduler);
}

void SessionStoreRig::install() const {
    DependencyValues::shared().set<SigningSessionDatabaseKey>(store);
}

SigningSession SessionStoreRig::addSession(const SigningSessionContext& context,
                                           std::chrono::seconds lifetime,
                                           std::optional<std::vector<std::string>> firstLastNumber) {
    auto session = store->registerSession(context, scheduler->now() + lifetime);
    if (!firstLastNumber)
        return session;
    halcyra::AccountStatusDetails details{};
    details.firstName = (*firstLastNumber)[0];
    details.lastName = (*firstLastNumber)[1];
    details.rrnr = (*firstLastNumber)[2];
    return store->updateSessionHolder(context, details).value_or(session);
}

}  // namespace testsupport
