#include <gtest/gtest.h>

#include <QCoroTask>
#include <cctype>
#include <latch>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/AppVersionsFileLocationSelection.h"
#include "Quorvane/core/AuthenticateAPIClientMock.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/HalcyraEnvironmentSelection.h"
#include "Quorvane/core/LaunchAgentServiceLive.h"
#include "Quorvane/core/OnboardingAPIClientMock.h"
#include "Quorvane/core/PluginClientDarwin.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/RemoteSigningAPIClientMock.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/SigningSessionDatabaseMock.h"
#include "Quorvane/core/WalletAPIClientMock.h"
#include "Quorvane/core/XPCClientLive.h"
#include "Quorvane/core/tests/QuorvaneAPITestSupport.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "api/Clients.h"
#include "cardbridge/PindleClientVexoConnect.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"
#include "platform/tokens/TokenStore.h"

using platform::UserDefaults;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

auto& values() {
    return DependencyValues::shared();
}

class DependencyKeysTest : public ::testing::Test {
  protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }

    static void clean() {
        values().reset();
        UserDefaults::standard().clear();
        TokenStore store;
        if (store.isDriverInstalled())
            store.removeAllConfigurations();
    }
};

// Where a server client would send the request for `path`: the base path it was built with, then the path.
template <class Client>
std::string destination(const std::shared_ptr<Client>& client, const std::string& path) {
    auto providing = std::dynamic_pointer_cast<halcyra::HalcyraProviding>(client);
    if (!providing)
        return "<not a live server client>";
    vastel::NetworkRequest<platform::Bytes> request(vastel::HTTPMethod::post, path);
    return providing->providedVastel()->absolutePath(request).value_or("<no URL>");
}

// The four server clients as they are now, with one endpoint of each.
struct ServerClients {
    std::shared_ptr<halcyra::AuthenticateAPIClient> authenticate = values().get<AuthenticateAPIClientKey>();
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding = values().get<OnboardingAPIClientKey>();
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigning =
        values().get<RemoteSigningAPIClientKey>();
    std::shared_ptr<halcyra::WalletAPIClient> wallet = values().get<WalletAPIClientKey>();

    // Fails the test unless every client sends to the environment's server.
    void expectSendTo(HalcyraEnvironment environment) const {
        const auto base = baseURL(environment);
        EXPECT_EQ(destination(authenticate, "/auth/getMeans"), base + "/auth/getMeans");
        EXPECT_EQ(destination(onboarding, "/onboarding/getAgreementFile"),
                  base + "/onboarding/getAgreementFile");
        EXPECT_EQ(destination(remoteSigning, "/rsign/getAccountStatus"), base + "/rsign/getAccountStatus");
        EXPECT_EQ(destination(wallet, "/wallet/poll"), base + "/wallet/poll");
    }
};

template <class Live, class Value>
bool is(const std::shared_ptr<Value>& value) {
    return value && typeid(*value) == typeid(Live);
}

// --- Live values

TEST_F(DependencyKeysTest, EveryKeyBuildsItsLiveServiceOnceAndKeepsIt) {
    auto expectKept = [](auto first, auto second, const char* key) {
        EXPECT_TRUE(first) << key;
        EXPECT_EQ(first, second) << key;
    };
#define EXPECT_KEPT(Key) expectKept(values().get<Key>(), values().get<Key>(), #Key)
    EXPECT_KEPT(AppSettingsKey);
    EXPECT_KEPT(AppVersionsKey);
    EXPECT_KEPT(AppVersionsFileLocationSelectionKey);
    EXPECT_KEPT(QuorvaneAPIKey);
    EXPECT_KEPT(PindleClientKey);
    EXPECT_KEPT(LaunchAgentServiceKey);
    EXPECT_KEPT(LoggerClientKey);
    EXPECT_KEPT(AuthenticateAPIClientKey);
    EXPECT_KEPT(OnboardingAPIClientKey);
    EXPECT_KEPT(RemoteSigningAPIClientKey);
    EXPECT_KEPT(WalletAPIClientKey);
    EXPECT_KEPT(HalcyraEnvironmentSelectionKey);
    EXPECT_KEPT(SigningSessionDatabaseKey);
    EXPECT_KEPT(PluginClientKey);
    EXPECT_KEPT(XPCClientKey);
#undef EXPECT_KEPT

    EXPECT_TRUE(is<QuorvaneAPI>(values().get<QuorvaneAPIKey>()));
    EXPECT_TRUE(is<LaunchAgentServiceLive>(values().get<LaunchAgentServiceKey>()));
    EXPECT_TRUE(is<SigningSessionDatabase>(values().get<SigningSessionDatabaseKey>()));
    EXPECT_TRUE(is<PluginClientDarwin>(values().get<PluginClientKey>()));
    EXPECT_TRUE(is<XPCClientLive>(values().get<XPCClientKey>()));
    EXPECT_EQ(values().get<LoggerClientKey>()->logID(), "ui");
}

TEST_F(DependencyKeysTest, TheCardReaderClientAcceptsExactlyTheTwoEIDPolicies) {
    auto client = std::dynamic_pointer_cast<pindle::PindleClientVexoConnect>(values().get<PindleClientKey>());
    ASSERT_TRUE(client);
    EXPECT_EQ(client->allowedPolicyOIDs(),
              (std::set<std::string>{"2.16.56.12.1.1.2.2", "2.16.56.13.6.1.1.1000"}));
}

TEST_F(DependencyKeysTest, TheSessionStoreKeepsOneClientDataPerRun) {
    auto first = values().get<SigningSessionDatabaseKey>();
    const auto clientData = first->clientData();
    ASSERT_EQ(clientData.size(), 16u) << clientData;
    for (char c : clientData)
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) &&
                    !std::islower(static_cast<unsigned char>(c)))
            << clientData;
    EXPECT_EQ(values().get<SigningSessionDatabaseKey>(), first);
    EXPECT_EQ(values().get<SigningSessionDatabaseKey>()->clientData(), clientData);
    EXPECT_TRUE(first->authenticatedSessions().empty());

    // A new run has a new store with its own client data.
    values().reset();
    EXPECT_NE(values().get<SigningSessionDatabaseKey>()->clientData(), clientData);
}

// Every thread that races for the first read gets the one value, and it stays the key's value.
template <class Key>
void expectOneValueUnderRacingFirstReads() {
    values().reset();
    constexpr int readers = 8;
    std::latch start(readers);
    std::vector<typename Key::Value> seen(readers);
    std::vector<std::thread> threads;
    for (int i = 0; i < readers; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[i] = values().get<Key>();
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(seen[0]) << typeid(Key).name();
    for (const auto& value : seen)
        EXPECT_EQ(value, seen[0]) << typeid(Key).name();
    EXPECT_EQ(values().get<Key>(), seen[0]) << typeid(Key).name();
}

// The keys whose values own no Qt objects; the others are first read on the main thread, like every service.
TEST_F(DependencyKeysTest, RacingFirstReadsShareOneValue) {
    for (int round = 0; round < 20; ++round) {
        expectOneValueUnderRacingFirstReads<SigningSessionDatabaseKey>();
        expectOneValueUnderRacingFirstReads<AppSettingsKey>();
        expectOneValueUnderRacingFirstReads<LoggerClientKey>();
        expectOneValueUnderRacingFirstReads<AppVersionsKey>();
        expectOneValueUnderRacingFirstReads<AppVersionsFileLocationSelectionKey>();
        expectOneValueUnderRacingFirstReads<QuorvaneAPIKey>();
        expectOneValueUnderRacingFirstReads<PindleClientKey>();
        expectOneValueUnderRacingFirstReads<LaunchAgentServiceKey>();
        expectOneValueUnderRacingFirstReads<HalcyraEnvironmentSelectionKey>();
        expectOneValueUnderRacingFirstReads<PluginClientKey>();
        if (HasFailure())
            return;
    }
}

// An assignment through one accessor is what every reader sees afterwards, and the old value is let go.
template <class Key>
void expectReplacedAppWide(typename Key::Value replacement) {
    std::weak_ptr old = Dependency<Key>().get();
    ASSERT_FALSE(old.expired());
    Dependency<Key>().set(replacement);
    EXPECT_EQ(values().get<Key>(), replacement) << typeid(Key).name();
    EXPECT_EQ(Dependency<Key>().get(), replacement) << typeid(Key).name();
    EXPECT_TRUE(old.expired()) << typeid(Key).name() << ": the replaced value is still held";
}

TEST_F(DependencyKeysTest, AnAssignmentReplacesTheValueForTheWholeApp) {
    expectReplacedAppWide<LoggerClientKey>(std::make_shared<LoggerClient>("replacement"));
    expectReplacedAppWide<PindleClientKey>(std::make_shared<testsupport::FakePindleClient>());
    expectReplacedAppWide<WalletAPIClientKey>(std::make_shared<WalletAPIClientMock>());
    expectReplacedAppWide<SigningSessionDatabaseKey>(std::make_shared<SigningSessionDatabaseMock>());
    expectReplacedAppWide<XPCClientKey>(std::make_shared<XPCClientLive>());
}

// --- Services read their collaborators on use

TEST_F(DependencyKeysTest, SwitchingPrivacyModeReachesTheSessionStoreOfTheMoment) {
    auto settings = values().get<AppSettingsKey>();
    LogCapture capture;
    auto other = std::make_shared<SigningSessionDatabase>(
        SigningSessionDatabase::always(settings),
        SigningSessionDatabase::always(std::make_shared<LoggerClient>("other")),
        std::make_shared<testsupport::FakePindleClient>(),
        std::make_shared<TokenDriverConfiguration>(TokenStore(), std::make_shared<LoggerClient>("other")),
        std::make_shared<platform::VirtualScheduler>());
    values().set<SigningSessionDatabaseKey>(other);

    settings->setPrivacyModeEnabled(true);

    std::vector<std::string> started;
    for (const auto& line : capture.lines())
        if (line.message == "Privacy mode enabled - starting privacy data purge timer")
            started.push_back(line.logID);
    EXPECT_EQ(started, std::vector<std::string>{"other"});
}

TEST_F(DependencyKeysTest, TheSessionStoreReadsItsSettingsAndLoggerOnEachUse) {
    TokenStore tokens;
    tokens.installDriver();
    UserDefaults::standard().setBoolean(AppSettings::privacyModeEnabledKey, true);
    auto store = values().get<SigningSessionDatabaseKey>();

    // The store keeps neither its settings nor its logger: the values the keys give now go as soon as they
    // are replaced, and the replacements are what it uses from then on.
    std::weak_ptr<AppSettings> firstSettings = values().get<AppSettingsKey>();
    std::weak_ptr<LoggerClient> firstLogger = values().get<LoggerClientKey>();
    values().set<AppSettingsKey>(std::make_shared<AppSettings>());
    values().set<LoggerClientKey>(std::make_shared<LoggerClient>("assigned"));
    EXPECT_TRUE(firstSettings.expired());
    EXPECT_TRUE(firstLogger.expired());

    auto lines = [](const LogCapture& capture) {
        std::vector<std::string> seen;
        for (const auto& line : capture.lines())
            seen.push_back(line.logID + ": " + line.message);
        return seen;
    };
    const auto wallet = SigningSessionContext::wallet("SESSION", "POLLING");
    {
        LogCapture capture;
        store->registerSession(wallet, platform::Scheduler::live()->now() + std::chrono::hours(1));
        EXPECT_EQ(lines(capture),
                  (std::vector<std::string>{
                      "assigned: Registering wallet session " + sessionTag("SESSION"),
                      "assigned: Privacy mode enabled, starting privacy mode purge timer for new registered "
                      "wallet session",
                      "assigned: Privacy cleanup timer started"}));
    }

    // A later assignment reaches the very next line, the token configuration's included.
    values().set<LoggerClientKey>(std::make_shared<LoggerClient>("later"));
    {
        LogCapture capture;
        EXPECT_FALSE(store->registerToken(wallet, platform::Bytes{1, 2, 3}));
        store->purgeSession(wallet);
        EXPECT_EQ(
            lines(capture),
            (std::vector<std::string>{
                "later: Token not registered for WALLET_TOKEN_IDENTIFIER: the certificate does not parse",
                "later: Purging wallet session data",
                "later: Purging session and token for WALLET_TOKEN_IDENTIFIER"}));
    }
    EXPECT_TRUE(store->authenticatedSessions().empty());
}

TEST_F(DependencyKeysTest, TheSessionStoreAsksTheCardReaderClientOfTheMoment) {
    auto store = values().get<SigningSessionDatabaseKey>();
    auto reader = std::make_shared<testsupport::FakePindleClient>();
    reader->cards = {std::make_shared<testsupport::FakeCard>("CARD-1")};
    values().set<PindleClientKey>(reader);

    EXPECT_FALSE(QCoro::waitFor(store->hasUsableCardSessions()));
    EXPECT_EQ(reader->readings, 1);
}

TEST_F(DependencyKeysTest, TheFacadeUsesTheClientsAndStoreOfTheMoment) {
    auto api = values().get<QuorvaneAPIKey>();
    auto authenticate = std::make_shared<testsupport::FakeAuthenticateClient>();
    values().set<AuthenticateAPIClientKey>(authenticate);

    auto events =
        authtest::collect(api->runAuthentication(SigningSessionContext::wallet("SESSION", "POLLING"), false));

    EXPECT_EQ(authtest::describe(events), (std::vector<std::string>{"ongoing", "completed kept"}));
    EXPECT_EQ(authenticate->authenticateCalls.requests.size(), 1u);
    auto sessions = values().get<SigningSessionDatabaseKey>()->authenticatedSessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].orchestratorSessionId, "SESSION");
}

// --- Server environments

TEST_F(DependencyKeysTest, ServerClientsAreBuiltForTheEnvironmentStoredAtTheirFirstRead) {
    ASSERT_NE(baseURL(HalcyraEnvironment::qa), baseURL(HalcyraEnvironment::prod));
    struct Case {
        std::optional<std::string> stored;
        HalcyraEnvironment expected;
    };
    const Case cases[] = {
        {std::nullopt, HalcyraEnvironment::prod}, {"QA", HalcyraEnvironment::qa},
        {"RC", HalcyraEnvironment::rc},           {"qa", HalcyraEnvironment::prod},
        {"staging", HalcyraEnvironment::prod},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.value_or("<none>"));
        values().reset();
        UserDefaults::standard().clear();
        if (c.stored)
            UserDefaults::standard().setString(HalcyraEnvironmentSelection::environmentKey, *c.stored);
        ServerClients().expectSendTo(c.expected);
    }
}

TEST_F(DependencyKeysTest, OnlySelectingAnEnvironmentReplacesBuiltServerClients) {
    TokenStore tokens;
    tokens.installDriver();
    tokens.writeConfiguration(TokenConfiguration::forCertificate("CARD-1", platform::Bytes{1, 2, 3}));
    tokens.writeConfiguration(TokenConfiguration::forCertificate("WALLET_TOKEN_IDENTIFIER", {4, 5, 6}));
    auto store = values().get<SigningSessionDatabaseKey>();
    store->registerSession(SigningSessionContext::wallet("SESSION", "POLLING"),
                           platform::Scheduler::live()->now() + std::chrono::hours(1));

    const ServerClients before;
    before.expectSendTo(HalcyraEnvironment::prod);

    // Storing another environment is not a switch: the built clients stay where they were.
    UserDefaults::standard().setString(HalcyraEnvironmentSelection::environmentKey, "QA");
    const ServerClients stored;
    EXPECT_EQ(stored.authenticate, before.authenticate);
    EXPECT_EQ(stored.onboarding, before.onboarding);
    EXPECT_EQ(stored.remoteSigning, before.remoteSigning);
    EXPECT_EQ(stored.wallet, before.wallet);
    stored.expectSendTo(HalcyraEnvironment::prod);
    EXPECT_EQ(store->authenticatedSessions().size(), 1u);
    EXPECT_EQ(tokens.configurations().size(), 2u);

    // Selecting one replaces all four, the wallet-polling client included, and forgets the old server's
    // sessions and tokens. The store itself stays.
    values().get<HalcyraEnvironmentSelectionKey>()->select(HalcyraEnvironment::rc);
    EXPECT_EQ(UserDefaults::standard().string(HalcyraEnvironmentSelection::environmentKey), "RC");
    const ServerClients switched;
    EXPECT_NE(switched.authenticate, before.authenticate);
    EXPECT_NE(switched.onboarding, before.onboarding);
    EXPECT_NE(switched.remoteSigning, before.remoteSigning);
    EXPECT_NE(switched.wallet, before.wallet);
    switched.expectSendTo(HalcyraEnvironment::rc);
    EXPECT_EQ(values().get<SigningSessionDatabaseKey>(), store);
    EXPECT_TRUE(store->authenticatedSessions().empty());
    EXPECT_TRUE(tokens.configurations().empty());

    // Selecting the environment in use still makes new clients.
    tokens.writeConfiguration(TokenConfiguration::forCertificate("CARD-2", platform::Bytes{7}));
    values().get<HalcyraEnvironmentSelectionKey>()->select(HalcyraEnvironment::rc);
    const ServerClients again;
    EXPECT_NE(again.authenticate, switched.authenticate);
    EXPECT_NE(again.wallet, switched.wallet);
    again.expectSendTo(HalcyraEnvironment::rc);
    EXPECT_TRUE(tokens.configurations().empty());

    // The choice survives a restart.
    values().reset();
    ServerClients().expectSendTo(HalcyraEnvironment::rc);
}

TEST_F(DependencyKeysTest, AWalletClientFirstReadAfterASwitchIsBuiltForTheNewEnvironment) {
    values().get<HalcyraEnvironmentSelectionKey>()->select(HalcyraEnvironment::ta);
    EXPECT_EQ(destination(values().get<WalletAPIClientKey>(), "/wallet/poll"),
              baseURL(HalcyraEnvironment::ta) + "/wallet/poll");
}

// --- Previews

TEST_F(DependencyKeysTest, PreviewsServeTheDoublesAndEveryOtherKeyItsDefault) {
    // The live values, for telling the preview ones apart.
    auto liveLogger = values().get<LoggerClientKey>();
    auto liveSettings = values().get<AppSettingsKey>();
    auto liveXPC = values().get<XPCClientKey>();

    values().setPreviewMode(true);
    EXPECT_TRUE(is<AuthenticateAPIClientMock>(values().get<AuthenticateAPIClientKey>()));
    EXPECT_TRUE(is<OnboardingAPIClientMock>(values().get<OnboardingAPIClientKey>()));
    EXPECT_TRUE(is<RemoteSigningAPIClientMock>(values().get<RemoteSigningAPIClientKey>()));
    EXPECT_TRUE(is<WalletAPIClientMock>(values().get<WalletAPIClientKey>()));

    auto store = values().get<SigningSessionDatabaseKey>();
    ASSERT_TRUE(is<SigningSessionDatabaseMock>(store));
    EXPECT_EQ(store->clientData(), "test");
    EXPECT_TRUE(store->authenticatedSessions().empty());
    auto info = store->signingCertificateInfo(SigningSessionContext::wallet("SESSION", "POLLING"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->methodCreatedWith, halcyra::AuthenticationMethod::wallet);
    EXPECT_TRUE(info->certificateData.empty());
    EXPECT_FALSE(info->fullName.empty());
    EXPECT_EQ(info->fullName, personNameText("Jonas", "Claessens"));
    EXPECT_FALSE(info->nationalNumber.empty());
    EXPECT_EQ(info->notValidBefore, platform::Date(std::chrono::seconds(473'040'000)));
    EXPECT_EQ(info->notValidAfter, SampleCards::distantFuture());

    // The others: the container's default, a service of the live kind of the preview's own.
    EXPECT_TRUE(is<LoggerClient>(values().get<LoggerClientKey>()));
    EXPECT_NE(values().get<LoggerClientKey>(), liveLogger);
    EXPECT_NE(values().get<AppSettingsKey>(), liveSettings);
    EXPECT_NE(values().get<XPCClientKey>(), liveXPC);
    EXPECT_TRUE(is<XPCClientLive>(values().get<XPCClientKey>()));
    EXPECT_TRUE(is<QuorvaneAPI>(values().get<QuorvaneAPIKey>()));
    EXPECT_TRUE(is<pindle::PindleClientVexoConnect>(values().get<PindleClientKey>()));
    EXPECT_TRUE(is<LaunchAgentServiceLive>(values().get<LaunchAgentServiceKey>()));
    EXPECT_TRUE(is<PluginClientDarwin>(values().get<PluginClientKey>()));
    EXPECT_TRUE(values().get<AppVersionsKey>());
    EXPECT_TRUE(values().get<AppVersionsFileLocationSelectionKey>());
    EXPECT_TRUE(values().get<HalcyraEnvironmentSelectionKey>());

    // Leaving preview mode gives the live values back.
    values().setPreviewMode(false);
    EXPECT_EQ(values().get<LoggerClientKey>(), liveLogger);
    EXPECT_TRUE(is<SigningSessionDatabase>(values().get<SigningSessionDatabaseKey>()));
}

}  // namespace
