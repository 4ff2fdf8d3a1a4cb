#include "FakeSessionStore.h"

namespace testsupport {

std::string FakeSessionStore::clientData() const {
    log->add("clientData");
    return forwardTo ? forwardTo->clientData() : clientDataText;
}

std::vector<SigningSession> FakeSessionStore::authenticatedSessions() const {
    log->add("authenticatedSessions");
    return forwardTo ? forwardTo->authenticatedSessions() : sessions;
}

void FakeSessionStore::cleanUpSessions() {
    log->add("cleanUpSessions");
    if (forwardTo)
        forwardTo->cleanUpSessions();
}

void FakeSessionStore::removeAllTokens() {
    log->add("removeAllTokens");
    if (forwardTo)
        forwardTo->removeAllTokens();
}

void FakeSessionStore::purgeSession(const SigningSessionContext& context) {
    log->add("purgeSession " + context.tokenIdentifier());
    if (forwardTo)
        forwardTo->purgeSession(context);
}

void FakeSessionStore::purgeSessionAndToken(const std::string& tokenIdentifier) {
    log->add("purgeSessionAndToken " + tokenIdentifier);
    if (forwardTo)
        forwardTo->purgeSessionAndToken(tokenIdentifier);
}

void FakeSessionStore::purgeExpiredSessionsAndTokens() {
    log->add("purgeExpiredSessionsAndTokens");
    if (forwardTo)
        forwardTo->purgeExpiredSessionsAndTokens();
}

void FakeSessionStore::startPrivacyPurgeIfEnabled() {
    log->add("startPrivacyPurgeIfEnabled");
    if (forwardTo)
        forwardTo->startPrivacyPurgeIfEnabled();
}

void FakeSessionStore::startImmediatePrivacyPurge() {
    log->add("startImmediatePrivacyPurge");
    if (forwardTo)
        forwardTo->startImmediatePrivacyPurge();
}

void FakeSessionStore::flushImmediatePrivacyPurge() {
    log->add("flushImmediatePrivacyPurge");
    if (forwardTo)
        forwardTo->flushImmediatePrivacyPurge();
}

bool FakeSessionStore::removeTokenIfCertificateInvalid(const SigningSessionContext& context) {
    log->add("removeTokenIfCertificateInvalid " + context.tokenIdentifier());
    return forwardTo ? forwardTo->removeTokenIfCertificateInvalid(context) : certificateInvalid;
}

std::optional<SigningSession> FakeSessionStore::activeSession(const SigningSessionContext& context,
                                                              bool forSigning) {
    log->add("activeSession " + context.tokenIdentifier() + (forSigning ? " for signing" : ""));
    return forwardTo ? forwardTo->activeSession(context, forSigning) : storedSession;
}

QCoro::Task<bool> FakeSessionStore::hasUsableCardSessions() {
    log->add("hasUsableCardSessions");
    if (forwardTo)
        co_return co_await forwardTo->hasUsableCardSessions();
    co_return usableCardSessions;
}

std::optional<SigningCertificateInfo> FakeSessionStore::signingCertificateInfo(
    const SigningSessionContext& context) {
    log->add("signingCertificateInfo " + context.tokenIdentifier());
    return forwardTo ? forwardTo->signingCertificateInfo(context) : certificateInfo;
}

std::optional<SigningCertificateInfo> FakeSessionStore::signingCertificateInfo(
    const std::string& tokenIdentifier) {
    log->add("signingCertificateInfo " + tokenIdentifier);
    return forwardTo ? forwardTo->signingCertificateInfo(tokenIdentifier) : certificateInfo;
}

void FakeSessionStore::removeToken(const SigningSessionContext& context) {
    log->add("removeToken " + context.tokenIdentifier());
    if (forwardTo)
        forwardTo->removeToken(context);
}

SigningSession FakeSessionStore::registerSession(const SigningSessionContext& context,
                                                 platform::Date expirationDate) {
    log->add("registerSession " + context.tokenIdentifier());
    if (forwardTo)
        return forwardTo->registerSession(context, expirationDate);
    SigningSession session;
    session.internalSessionId = context.tokenIdentifier();
    session.orchestratorSessionId = context.sessionId();
    session.expirationTimeInterval = platform::timeIntervalSinceReferenceDate(expirationDate);
    return session;
}

std::optional<SigningSession> FakeSessionStore::updateSessionHolder(
    const SigningSessionContext& context, const halcyra::AccountStatusDetails& details) {
    log->add("updateSessionHolder " + context.tokenIdentifier());
    if (forwardTo)
        return forwardTo->updateSessionHolder(context, details);
    if (!storedSession)
        return std::nullopt;
    auto updated = *storedSession;
    updated.firstName = details.firstName;
    updated.lastName = details.lastName;
    updated.nationalRegisterNumber = details.rrnr;
    return updated;
}

bool FakeSessionStore::registerToken(const SigningSessionContext& context,
                                     const platform::Bytes& certificateData) {
    log->add("registerToken " + context.tokenIdentifier());
    return forwardTo ? forwardTo->registerToken(context, certificateData) : tokenRegistrationSucceeds;
}

}  // namespace testsupport
