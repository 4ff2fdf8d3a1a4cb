#include "SigningSessionDatabaseMock.h"

SigningSessionDatabaseMock::SigningSessionDatabaseMock(
    std::optional<SigningCertificateInfo> signingCertificateInfo, std::string clientData,
    std::vector<SigningSession> authenticatedSessions)
    : signingCertificateInfo_(std::move(signingCertificateInfo)),
      clientData_(std::move(clientData)),
      authenticatedSessions_(std::move(authenticatedSessions)) {}

QCoro::Task<bool> SigningSessionDatabaseMock::hasUsableCardSessions() {
    co_return false;
}

SigningSession SigningSessionDatabaseMock::registerSession(const SigningSessionContext&, platform::Date) {
    return SigningSession{"test", "test", 0, std::nullopt, std::nullopt, std::nullopt};
}
