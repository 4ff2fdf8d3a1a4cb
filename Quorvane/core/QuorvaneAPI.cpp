#include "QuorvaneAPI.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTextBoundaryFinder>
#include <chrono>

#include "CardDataToSign.h"
#include "SigningCertificateInfo.h"
#include "platform/Certificate.h"
#include "platform/Codecs.h"

using halcyra::AuthenticateRequest;
using halcyra::HalcyraError;
using pindle::CardSigningEvent;

QuorvaneAPI::QuorvaneAPI(Resolve<halcyra::AuthenticateAPIClient> authenticateAPIClient,
                         Resolve<LoggerClient> logger,
                         Resolve<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient,
                         Resolve<SigningSessionDatabaseClient> signingSessionDatabase,
                         std::shared_ptr<platform::Scheduler> scheduler)
    : authenticateAPIClient_(std::move(authenticateAPIClient)),
      logger_(std::move(logger)),
      remoteSigningAPIClient_(std::move(remoteSigningAPIClient)),
      signingSessionDatabase_(std::move(signingSessionDatabase)),
      scheduler_(std::move(scheduler)) {}

platform::AsyncStream<AuthenticateFlowEvent> QuorvaneAPI::runAuthentication(SigningSessionContext context,
                                                                            bool retrieveCertificate) {
    auto [stream, events] = platform::AsyncStream<AuthenticateFlowEvent>::make();
    // Posted, so the caller gets the stream before any work runs, in the order the calls were made.
    scheduler_->post([weakSelf = weak_from_this(), context = std::move(context), events,
                      retrieveCertificate] { run(weakSelf, context, events, retrieveCertificate); });
    return stream;
}

QCoro::Task<> QuorvaneAPI::run(std::weak_ptr<QuorvaneAPI> weakSelf, SigningSessionContext context,
                               Continuation events, bool retrieveCertificate) {
    auto self = weakSelf.lock();
    if (!self) {
        events.finish();
        co_return;
    }
    std::optional<HalcyraError> failure;
    try {
        events.yield(AuthenticateFlowEvent::ongoing());
        std::optional<SigningSession> session;
        if (context.kind() == SigningSessionContext::Kind::card)
            session = co_await authenticateWithCard(self, context, events);
        else
            session = co_await authenticateWithWallet(self, context);

        if (session) {
            bool newCertificateRetrieved = false;
            if (retrieveCertificate) {
                // A failed certificate step never undoes the login: it is logged and reported as no new
                // certificate.
                std::optional<HalcyraError> certificateFailure;
                try {
                    newCertificateRetrieved = co_await retrieveSigningCertificate(self, context);
                } catch (const HalcyraError& error) {
                    certificateFailure = error;
                }
                if (certificateFailure)
                    self->logError("Certificate retrieval failed during authentication: " +
                                   certificateFailure->errorDescription());
            }
            events.yield(AuthenticateFlowEvent::completed(std::move(*session), newCertificateRetrieved));
        }
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected from the collaborators; still, the stream must end with the failure.
        failure = HalcyraError::otherError(error.what());
    }
    if (failure)
        events.yield(AuthenticateFlowEvent::error(std::move(*failure)));
    events.finish();
}

QCoro::Task<std::optional<SigningSession>> QuorvaneAPI::authenticateWithCard(
    std::shared_ptr<QuorvaneAPI> self, SigningSessionContext context, Continuation events) {
    auto authenticateClient = self->authenticateAPIClient();
    auto methodData = co_await authenticateClient->getAuthenticationMethodData(
        halcyra::AuthenticationMethod::eid, context.sessionId());

    const auto dataToSign =
        cardDataToSign(methodData.eid ? std::optional(methodData.eid->hashToSign) : std::nullopt);

    auto card = context.card();
    auto cardEvents = card->sign(dataToSign);
    std::optional<platform::Bytes> signature;
    bool failed = false;
    while (auto event = co_await cardEvents.next()) {
        if (failed)
            continue;  // the card's stream is read to its end; nothing more is passed on
        if (event->kind == CardSigningEvent::Kind::finished) {
            signature = std::move(event->signature);
            break;
        }
        failed = event->kind == CardSigningEvent::Kind::failed;
        events.yield(AuthenticateFlowEvent::signingEvent(std::move(*event)));
        if (failed)
            events.finish();
    }
    if (!signature)
        co_return std::nullopt;

    AuthenticateRequest request(context.sessionId(),
                                AuthenticateRequest::EID{platform::base64Encoded(card->certificateData()),
                                                         platform::base64Encoded(*signature)});
    authenticateClient = self->authenticateAPIClient();
    auto result = co_await authenticateClient->authenticate(std::move(request));
    co_return self->signingSessionDatabase()->registerSession(context, result.expirationDate);
}

QCoro::Task<SigningSession> QuorvaneAPI::authenticateWithWallet(std::shared_ptr<QuorvaneAPI> self,
                                                                SigningSessionContext context) {
    // The wallet confirmed the login before the facade was called: no polling here.
    AuthenticateRequest request(context.sessionId(), AuthenticateRequest::Wallet{context.pollingSessionId()});
    auto authenticateClient = self->authenticateAPIClient();
    auto result = co_await authenticateClient->authenticate(std::move(request));
    co_return self->signingSessionDatabase()->registerSession(context, result.expirationDate);
}

QCoro::Task<bool> QuorvaneAPI::retrieveSigningCertificate(std::shared_ptr<QuorvaneAPI> self,
                                                          SigningSessionContext context) {
    auto remoteSigningClient = self->remoteSigningAPIClient();
    auto info = co_await remoteSigningClient->getSignatureInfo(context.sessionId());

    // An account without a certificate answers with empty bytes: installing them would leave a token that
    // cannot sign while the flows believe a certificate was retrieved.
    if (info.status == halcyra::SigningStatus::missing)
        throw HalcyraError::otherError("The account has no signing certificate");
    if (info.signingCertificate.empty() || !platform::Certificate::fromDER(info.signingCertificate))
        throw HalcyraError::otherError("The signing certificate could not be read");

    auto store = self->signingSessionDatabase();
    auto held = store->signingCertificateInfo(context);
    if (held && held->certificateData == info.signingCertificate)
        co_return false;
    if (!store->registerToken(context, info.signingCertificate))
        throw HalcyraError::otherError("The signing certificate could not be installed in the token");
    co_return true;
}

std::shared_ptr<halcyra::AuthenticateAPIClient> QuorvaneAPI::authenticateAPIClient() const {
    auto client = authenticateAPIClient_ ? authenticateAPIClient_() : nullptr;
    if (!client)
        throw HalcyraError::otherError("No authentication client");
    return client;
}

std::shared_ptr<halcyra::RemoteSigningAPIClient> QuorvaneAPI::remoteSigningAPIClient() const {
    auto client = remoteSigningAPIClient_ ? remoteSigningAPIClient_() : nullptr;
    if (!client)
        throw HalcyraError::otherError("No remote signing client");
    return client;
}

std::shared_ptr<SigningSessionDatabaseClient> QuorvaneAPI::signingSessionDatabase() const {
    auto store = signingSessionDatabase_ ? signingSessionDatabase_() : nullptr;
    if (!store)
        throw HalcyraError::otherError("No session store");
    return store;
}

void QuorvaneAPI::logError(const std::string& message) const {
    if (auto logger = logger_ ? logger_() : nullptr)
        logger->error(message);
}

// --- Card display

namespace {

QString firstCharacter(const std::string& text) {
    QString string = QString::fromStdString(text);
    if (string.isEmpty())
        return QStringLiteral(" ");
    // A character as the reader sees it: an accented letter made of two code points stays whole.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
    qsizetype end = finder.toNextBoundary();
    return string.left(end > 0 ? end : 1);
}

std::string shortDate(const std::optional<platform::Date>& date) {
    if (!date)
        return "?";
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).date(), QLocale::ShortFormat).toStdString();
}

}  // namespace

std::string displayName(const pindle::Card& card) {
    return personNameText(card.firstName(), card.lastName());
}

std::string initials(const pindle::Card& card) {
    return (firstCharacter(card.firstName()) + firstCharacter(card.lastName())).trimmed().toStdString();
}

std::string validityText(const pindle::Card& card) {
    return shortDate(card.notValidBefore()) + " - " + shortDate(card.notValidAfter());
}
