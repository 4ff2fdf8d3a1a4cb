#pragma once
// The session store of the tests: it answers from what the test sets (or passes every call on to another
// store, a real one whose calls a test wants to see) and logs every call, one line each:
//
//   "clientData", "authenticatedSessions", "cleanUpSessions", "removeAllTokens", "purgeSession <token>",
//   "purgeSessionAndToken <token>", "purgeExpiredSessionsAndTokens", "startPrivacyPurgeIfEnabled",
//   "startImmediatePrivacyPurge", "flushImmediatePrivacyPurge", "removeTokenIfCertificateInvalid <token>",
//   "activeSession <token>" (" for signing"), "hasUsableCardSessions", "signingCertificateInfo <token>",
//   "removeToken <token>", "registerSession <token>", "updateSessionHolder <token>", "registerToken <token>"
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"

namespace testsupport {

class FakeSessionStore : public SigningSessionDatabaseClient {
  public:
    explicit FakeSessionStore(std::shared_ptr<CallLog> log = std::make_shared<CallLog>(),
                              std::shared_ptr<SigningSessionDatabaseClient> forwardTo = nullptr)
        : log(std::move(log)), forwardTo(std::move(forwardTo)) {}

    std::string clientDataText = "CLIENTDATA000001";
    std::vector<SigningSession> sessions;
    // The session of every context, when there is one.
    std::optional<SigningSession> storedSession;
    bool usableCardSessions = false;
    bool certificateInvalid = false;
    std::optional<SigningCertificateInfo> certificateInfo;
    bool tokenRegistrationSucceeds = true;

    std::shared_ptr<CallLog> log;
    std::shared_ptr<SigningSessionDatabaseClient> forwardTo;

    std::string clientData() const override;
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
    std::optional<SigningCertificateInfo> signingCertificateInfo(
        const SigningSessionContext& context) override;
    std::optional<SigningCertificateInfo> signingCertificateInfo(const std::string& tokenIdentifier) override;
    void removeToken(const SigningSessionContext& context) override;
    // A session for the context until the date (the stored session stays as it is).
    SigningSession registerSession(const SigningSessionContext& context,
                                   platform::Date expirationDate) override;
    // The stored session with the holder's names.
    std::optional<SigningSession> updateSessionHolder(const SigningSessionContext& context,
                                                      const halcyra::AccountStatusDetails& details) override;
    bool registerToken(const SigningSessionContext& context, const platform::Bytes& certificateData) override;
};

}  // namespace testsupport
