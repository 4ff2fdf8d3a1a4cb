#pragma once
// The app's one memory of who is logged in to the remote-signing server, and the driver of the token
// configurations. Sessions live only in memory; token configurations outlive the app until removed here.
//
// Privacy mode (AppSettings::privacyModeEnabled, read afresh on each use) forgets the wallet's session and
// token 900 s after the mode was switched on or a wallet session was registered, and 5 s after a signature.
// The timers hold the store weakly: create it with std::make_shared.
//
// The settings and the logger are asked for on every use, so that values assigned to their keys later are
// the ones used, and building the store builds neither.
#include <functional>
#include <map>
#include <memory>

#include "AppSettings.h"
#include "SigningSessionDatabaseClient.h"
#include "TokenDriverConfiguration.h"
#include "cardbridge/PindleClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Scheduler.h"

class SigningSessionDatabase : public SigningSessionDatabaseClient,
                               public std::enable_shared_from_this<SigningSessionDatabase> {
  public:
    static constexpr std::chrono::seconds signingMargin{300};
    static constexpr std::chrono::seconds defaultMargin{900};
    static constexpr std::chrono::seconds privacyCleanupDelay{900};
    static constexpr std::chrono::seconds immediatePrivacyCleanupDelay{5};

    // Gives the collaborator's current value each time it is used.
    template <class T>
    using Resolve = std::function<std::shared_ptr<T>()>;

    // A collaborator that never changes.
    template <class T>
    static Resolve<T> always(std::shared_ptr<T> value) {
        return [value] { return value; };
    }

    // Throws std::invalid_argument when a collaborator (or the function giving it) is missing.
    SigningSessionDatabase(Resolve<AppSettings> appSettings, Resolve<LoggerClient> logger,
                           std::shared_ptr<pindle::PindleClient> pindleClient,
                           std::shared_ptr<TokenDriverConfiguration> tokens,
                           std::shared_ptr<platform::Scheduler> scheduler,
                           std::string clientData = newClientData());

    // A new random UUID, upper-case, without its dashes, cut to 16 characters.
    static std::string newClientData();

    std::string clientData() const override { return clientData_; }
    std::vector<SigningSession> authenticatedSessions() const override;
    void cleanUpSessions() override;
    void removeAllTokens() override;
    void purgeSession(const SigningSessionContext& context) override;
    void purgeSessionAndToken(const std::string& tokenIdentifier) override;
    void purgeExpiredSessionsAndTokens() override;
    void startPrivacyPurgeIfEnabled() override;
    void startImmediatePrivacyPurge() override;
    void flushImmediatePrivacyPurge() override;
    bool removeTokenIfCertificateInvalid(const SigningSessionContext& context) override;
    std::optional<SigningSession> activeSession(const SigningSessionContext& context,
                                                bool forSigning) override;
    QCoro::Task<bool> hasUsableCardSessions() override;
    std::optional<SigningCertificateInfo> signingCertificateInfo(const std::string& tokenIdentifier) override;
    std::optional<SigningCertificateInfo> signingCertificateInfo(
        const SigningSessionContext& context) override;
    void removeToken(const SigningSessionContext& context) override;
    SigningSession registerSession(const SigningSessionContext& context,
                                   platform::Date expirationDate) override;
    std::optional<SigningSession> updateSessionHolder(
        const SigningSessionContext& context, const halcyra::AccountStatusDetails& accountStatus) override;
    bool registerToken(const SigningSessionContext& context, const platform::Bytes& certificateData) override;

  private:
    std::optional<SigningCertificateInfo> certificateInfo(const std::string& tokenIdentifier) const;
    void purgeExpiredSessions();
    void purgeWalletData();
    void startPrivacyCleanupTimer();
    std::shared_ptr<platform::Timer> schedulePurge(std::chrono::seconds delay);
    bool privacyModeEnabled() const;
    void logInfo(const std::string& message) const;

    std::string clientData_;
    Resolve<AppSettings> appSettings_;
    Resolve<LoggerClient> logger_;
    std::shared_ptr<pindle::PindleClient> pindleClient_;
    std::shared_ptr<TokenDriverConfiguration> tokens_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::map<std::string, SigningSession> activeSessions_;
    std::shared_ptr<platform::Timer> privacyCleanupTimer_;
    std::shared_ptr<platform::Timer> immediatePrivacyCleanupTimer_;
};

// The hook AppSettings runs when privacy mode is switched: the store that `store` gives at that moment starts
// its privacy timer. Nothing happens when it gives none.
AppSettings::StartPrivacyPurgeIfEnabled privacyPurgeHook(
    std::function<std::shared_ptr<SigningSessionDatabaseClient>()> store);
