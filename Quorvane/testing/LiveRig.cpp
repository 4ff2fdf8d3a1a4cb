#include "LiveRig.h"

#include <set>
#include <stdexcept>

#include "Quorvane/core/DependencyKeys.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/TestEnvironment.h"

namespace testsupport {

LiveRig::LiveRig(std::vector<std::string> serverFlags, Tokens tokens)
    : server(std::move(serverFlags)),
      clients(HalcyraClients::live(server.basePath(), logger)),
      auth(clients.authenticate),
      remote(clients.remoteSigning),
      onboarding(clients.onboarding),
      wallet(clients.wallet),
      pindle(std::make_shared<pindle::PindleClientVexoConnect>(std::set<std::string>{},
                                                               platform::Scheduler::live())),
      tokensFolder_(tokens) {
    if (!platform::addTrustedCACertificates(server.caFile()))
        throw std::runtime_error("cannot trust the stand-in server's CA");
    settings->setPrivacyModeEnabled(false);
    restartApp();
}

void LiveRig::restartApp() {
    tokenStore = tokensFolder_ == Tokens::usersFolder
                     ? platform::tokens::TokenStore()
                     : platform::tokens::TokenStore(makeTempDir("tokens") / platform::tokens::driverClassID);
    tokenStore.installDriver();
    tokenStore.removeAllConfigurations();
    tokens = std::make_shared<TokenDriverConfiguration>(
        tokenStore, logger, TokenDriverConfiguration::DriverFolder::madeOnRegistration);
    database = std::make_shared<SigningSessionDatabase>(SigningSessionDatabase::always(settings),
                                                        SigningSessionDatabase::always(logger), pindle,
                                                        tokens, platform::Scheduler::live());
    api = std::make_shared<QuorvaneAPI>(QuorvaneAPI::always(auth), QuorvaneAPI::always(logger),
                                        QuorvaneAPI::always(remote),
                                        QuorvaneAPI::always<SigningSessionDatabaseClient>(database));
}

void LiveRig::install() const {
    auto& values = DependencyValues::shared();
    values.set<AppSettingsKey>(settings);
    values.set<LoggerClientKey>(logger);
    clients.install();
    values.set<PindleClientKey>(pindle);
    values.set<SigningSessionDatabaseKey>(database);
    values.set<QuorvaneAPIKey>(api);
}

}  // namespace testsupport
