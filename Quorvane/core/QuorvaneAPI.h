#pragma once
// The live authentication facade. It keeps no state between calls: each call resolves its collaborators
// afresh (an environment switch replaces the API clients) and runs one main-thread task that feeds the
// call's stream, so several authentications may run side by side.
//
// Create it with std::make_shared: a task holds the facade weakly and does nothing once it is gone.
#include <QCoroTask>
#include <functional>
#include <memory>
#include <string>

#include "QuorvaneAPIClient.h"
#include "SigningSessionDatabaseClient.h"
#include "api/Clients.h"
#include "cardbridge/Card.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Scheduler.h"

class QuorvaneAPI final : public QuorvaneAPIClient, public std::enable_shared_from_this<QuorvaneAPI> {
  public:
    // Gives the collaborator's current value each time it is used.
    template <class T>
    using Resolve = std::function<std::shared_ptr<T>()>;

    QuorvaneAPI(Resolve<halcyra::AuthenticateAPIClient> authenticateAPIClient, Resolve<LoggerClient> logger,
                Resolve<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient,
                Resolve<SigningSessionDatabaseClient> signingSessionDatabase,
                std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());

    // A collaborator that never changes.
    template <class T>
    static Resolve<T> always(std::shared_ptr<T> value) {
        return [value] { return value; };
    }

    platform::AsyncStream<AuthenticateFlowEvent> runAuthentication(SigningSessionContext context,
                                                                   bool retrieveCertificate) override;

  private:
    using Continuation = platform::AsyncStream<AuthenticateFlowEvent>::Continuation;

    static QCoro::Task<> run(std::weak_ptr<QuorvaneAPI> weakSelf, SigningSessionContext context,
                             Continuation events, bool retrieveCertificate);
    static QCoro::Task<std::optional<SigningSession>> authenticateWithCard(std::shared_ptr<QuorvaneAPI> self,
                                                                           SigningSessionContext context,
                                                                           Continuation events);
    static QCoro::Task<SigningSession> authenticateWithWallet(std::shared_ptr<QuorvaneAPI> self,
                                                              SigningSessionContext context);
    static QCoro::Task<bool> retrieveSigningCertificate(std::shared_ptr<QuorvaneAPI> self,
                                                        SigningSessionContext context);

    std::shared_ptr<halcyra::AuthenticateAPIClient> authenticateAPIClient() const;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient() const;
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase() const;
    void logError(const std::string& message) const;

    Resolve<halcyra::AuthenticateAPIClient> authenticateAPIClient_;
    Resolve<LoggerClient> logger_;
    Resolve<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient_;
    Resolve<SigningSessionDatabaseClient> signingSessionDatabase_;
    std::shared_ptr<platform::Scheduler> scheduler_;
};

// How the card views show a card.
// The holder's given name, then the family name.
std::string displayName(const pindle::Card& card);
// The first characters of the given and the family name, trimmed of white space ("" without names).
std::string initials(const pindle::Card& card);
// "<start> - <end>" as short localized dates, "?" for a date the card does not have.
std::string validityText(const pindle::Card& card);
