#include "DependencyKeys.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AppSettings.h"
#include "AppVersions.h"
#include "AppVersionsFileLocationSelection.h"
#include "AuthenticateAPIClientMock.h"
#include "HalcyraClients.h"
#include "HalcyraEnvironmentSelection.h"
#include "LaunchAgentServiceLive.h"
#include "OnboardingAPIClientMock.h"
#include "PluginClientDarwin.h"
#include "QuorvaneAPI.h"
#include "RemoteSigningAPIClientMock.h"
#include "SampleCards.h"
#include "SigningCertificateInfo.h"
#include "SigningSessionContext.h"
#include "SigningSessionDatabase.h"
#include "SigningSessionDatabaseMock.h"
#include "TokenDriverConfiguration.h"
#include "WalletAPIClientMock.h"
#include "XPCClientLive.h"
#include "api/Clients.h"
#include "cardbridge/PindleClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Scheduler.h"
#include "platform/tokens/TokenStore.h"

namespace {

template <DependencyKey K>
typename K::Value read() {
    return DependencyValues::shared().get<K>();
}

template <DependencyKey K>
std::function<typename K::Value()> reader() {
    return [] { return read<K>(); };
}

// The base path of a server client built now: that of the stored environment. The selection is made only to
// read it; the shared one may not exist yet, and reading its key here would build it.
std::string storedBaseURL() {
    return baseURL(HalcyraEnvironmentSelection().currentEnvironment());
}

// The card-reader client as the session store sees it: whatever the key holds at each call, so that a client
// assigned later (a preview's or a test's) is the one asked. Each operation keeps the client it started on.
class CurrentPindleClient final : public pindle::PindleClient {
  public:
    QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCards() override {
        return onlyCurrentCardsOf(read<PindleClientKey>());
    }
    platform::AsyncStream<pindle::CardFetchingEvent> currentCards() override {
        return read<PindleClientKey>()->currentCards();
    }
    QCoro::Task<std::shared_ptr<pindle::Card>> getCard(std::string withId) override {
        return getCardOf(read<PindleClientKey>(), std::move(withId));
    }

  private:
    static QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCardsOf(
        std::shared_ptr<pindle::PindleClient> client) {
        co_return co_await client->onlyCurrentCards();
    }
    static QCoro::Task<std::shared_ptr<pindle::Card>> getCardOf(std::shared_ptr<pindle::PindleClient> client,
                                                                std::string withId) {
        co_return co_await client->getCard(std::move(withId));
    }
};

// What a switch of the server environment does once it is stored: new clients for all four server
// interfaces, the wallet-polling one included (a wallet client left on the old server would fail every wallet
// login until a restart), then every session and token configuration of the old server goes.
void switchEnvironment(HalcyraEnvironment environment) {
    auto& values = DependencyValues::shared();
    HalcyraClients::live(baseURL(environment), values.get<LoggerClientKey>()).install();
    values.get<SigningSessionDatabaseKey>()->removeAllTokens();
}

}  // namespace

AppSettingsKey::Value AppSettingsKey::liveValue() {
    return std::make_shared<AppSettings>(privacyPurgeHook(reader<SigningSessionDatabaseKey>()));
}

AppVersionsKey::Value AppVersionsKey::liveValue() {
    // A selection of its own, only to learn the stored location: the key's value may not exist yet, and
    // reading it here would build it as a side effect.
    const auto location = AppVersionsFileLocationSelection().storedFileLocation();
    return std::make_shared<AppVersions>(location);
}

AppVersionsFileLocationSelectionKey::Value AppVersionsFileLocationSelectionKey::liveValue() {
    return std::make_shared<AppVersionsFileLocationSelection>();
}

QuorvaneAPIKey::Value QuorvaneAPIKey::liveValue() {
    return std::make_shared<QuorvaneAPI>(reader<AuthenticateAPIClientKey>(), reader<LoggerClientKey>(),
                                         reader<RemoteSigningAPIClientKey>(),
                                         reader<SigningSessionDatabaseKey>());
}

PindleClientKey::Value PindleClientKey::liveValue() {
    return pindle::PindleClientProvider::keychainClient(
        std::set<std::string>(std::begin(allowedPolicyOIDs), std::end(allowedPolicyOIDs)));
}

LaunchAgentServiceKey::Value LaunchAgentServiceKey::liveValue() {
    return std::make_shared<LaunchAgentServiceLive>();
}

LoggerClientKey::Value LoggerClientKey::liveValue() {
    return std::make_shared<LoggerClient>("ui");
}

AuthenticateAPIClientKey::Value AuthenticateAPIClientKey::liveValue() {
    return halcyra::HalcyraClientProvider::authenticateClient(storedBaseURL(), read<LoggerClientKey>());
}

AuthenticateAPIClientKey::Value AuthenticateAPIClientKey::previewValue() {
    return std::make_shared<AuthenticateAPIClientMock>();
}

OnboardingAPIClientKey::Value OnboardingAPIClientKey::liveValue() {
    return halcyra::HalcyraClientProvider::onboardingClient(storedBaseURL(), read<LoggerClientKey>());
}

OnboardingAPIClientKey::Value OnboardingAPIClientKey::previewValue() {
    return std::make_shared<OnboardingAPIClientMock>();
}

RemoteSigningAPIClientKey::Value RemoteSigningAPIClientKey::liveValue() {
    return halcyra::HalcyraClientProvider::remoteSigningClient(storedBaseURL(), read<LoggerClientKey>());
}

RemoteSigningAPIClientKey::Value RemoteSigningAPIClientKey::previewValue() {
    return std::make_shared<RemoteSigningAPIClientMock>();
}

WalletAPIClientKey::Value WalletAPIClientKey::liveValue() {
    return halcyra::HalcyraClientProvider::walletClient(storedBaseURL(), read<LoggerClientKey>());
}

WalletAPIClientKey::Value WalletAPIClientKey::previewValue() {
    return std::make_shared<WalletAPIClientMock>();
}

HalcyraEnvironmentSelectionKey::Value HalcyraEnvironmentSelectionKey::liveValue() {
    return std::make_shared<HalcyraEnvironmentSelection>(switchEnvironment);
}

SigningSessionDatabaseKey::Value SigningSessionDatabaseKey::liveValue() {
    // The settings, the logger and the card-reader client are the keys' at each use: building the store
    // builds none of them.
    auto tokens = std::make_shared<TokenDriverConfiguration>(
        platform::tokens::TokenStore(), reader<LoggerClientKey>(),
        TokenDriverConfiguration::DriverFolder::madeOnRegistration);
    return std::make_shared<SigningSessionDatabase>(reader<AppSettingsKey>(), reader<LoggerClientKey>(),
                                                    std::make_shared<CurrentPindleClient>(),
                                                    std::move(tokens), platform::Scheduler::live());
}

SigningSessionDatabaseKey::Value SigningSessionDatabaseKey::previewValue() {
    // A wallet certificate of a sample holder, valid from 1984-12-28 without end.
    SigningCertificateInfo info;
    info.methodCreatedWith = halcyra::AuthenticationMethod::wallet;
    info.fullName = personNameText("Jonas", "Claessens");
    info.nationalNumber = "84122800153";
    info.notValidBefore = platform::Date(std::chrono::seconds(473'040'000));
    info.notValidAfter = SampleCards::distantFuture();
    return std::make_shared<SigningSessionDatabaseMock>(std::move(info), "test");
}

PluginClientKey::Value PluginClientKey::liveValue() {
    return std::make_shared<PluginClientDarwin>();
}

XPCClientKey::Value XPCClientKey::liveValue() {
    return std::make_shared<XPCClientLive>();
}
