#pragma once
// The session store as the rest of the app sees it: the sessions in memory, keyed by token identifier, the
// token configurations that expose the remote signing certificate, and the privacy mode's purges of wallet
// data. Nothing here fails: absence shows as an empty optional or false. Main thread only.
#include <QCoroTask>
#include <optional>
#include <string>
#include <vector>

#include "SigningCertificateInfo.h"
#include "SigningSession.h"
#include "SigningSessionContext.h"
#include "api/Account.h"
#include "platform/Bytes.h"
#include "platform/Date.h"

class SigningSessionDatabaseClient {
  public:
    virtual ~SigningSessionDatabaseClient() = default;

    // 16 upper-case hexadecimal characters, new on every app run; the flows send it with their server
    // requests.
    virtual std::string clientData() const = 0;
    // Every stored session, in no fixed order.
    virtual std::vector<SigningSession> authenticatedSessions() const = 0;
    // At launch: drops expired sessions and stale tokens and, in privacy mode, wallet data.
    virtual void cleanUpSessions() = 0;
    // Forgets every session and removes every token configuration.
    virtual void removeAllTokens() = 0;
    virtual void purgeSession(const SigningSessionContext& context) = 0;
    virtual void purgeSessionAndToken(const std::string& tokenIdentifier) = 0;
    virtual void purgeExpiredSessionsAndTokens() = 0;
    // In privacy mode: starts the 900 s purge of wallet data unless it is already running.
    virtual void startPrivacyPurgeIfEnabled() = 0;
    // In privacy mode: (re)starts the 5 s purge of wallet data.
    virtual void startImmediatePrivacyPurge() = 0;
    // In privacy mode: runs a pending 5 s purge now.
    virtual void flushImmediatePrivacyPurge() = 0;
    // Removes the context's token configuration when its certificate is not valid now; true when it did.
    virtual bool removeTokenIfCertificateInvalid(const SigningSessionContext& context) = 0;
    // The context's session when it stays valid for 300 s (forSigning) or 900 s; otherwise it is dropped.
    virtual std::optional<SigningSession> activeSession(const SigningSessionContext& context,
                                                        bool forSigning) = 0;
    // Whether every card present now has a usable session and certificate (false without cards).
    virtual QCoro::Task<bool> hasUsableCardSessions() = 0;
    virtual std::optional<SigningCertificateInfo> signingCertificateInfo(
        const SigningSessionContext& context) = 0;
    // The same for the token identifier alone (a card's unique identifier, or the wallet's), where no card is
    // at hand: a card that is still to be inserted.
    virtual std::optional<SigningCertificateInfo> signingCertificateInfo(
        const std::string& tokenIdentifier) = 0;
    // Removes the context's token configuration; its session stays.
    virtual void removeToken(const SigningSessionContext& context) = 0;
    // Stores a new session for the context, replacing the one it had.
    virtual SigningSession registerSession(const SigningSessionContext& context,
                                           platform::Date expirationDate) = 0;
    virtual std::optional<SigningSession> updateSessionHolder(
        const SigningSessionContext& context, const halcyra::AccountStatusDetails& accountStatus) = 0;
    // Installs the certificate in the context's token configuration; true when it was written.
    virtual bool registerToken(const SigningSessionContext& context,
                               const platform::Bytes& certificateData) = 0;
};
