#pragma once
// A session store for previews and tests: it answers from what it was made with and never changes. Nothing is
// stored, purged or written to the token store.
#include "SigningSessionDatabaseClient.h"

class SigningSessionDatabaseMock final : public SigningSessionDatabaseClient {
  public:
    SigningSessionDatabaseMock(std::optional<SigningCertificateInfo> signingCertificateInfo = std::nullopt,
                               std::string clientData = {},
                               std::vector<SigningSession> authenticatedSessions = {});

    std::string clientData() const override { return clientData_; }
    std::vector<SigningSession> authenticatedSessions() const override { return authenticatedSessions_; }
    void cleanUpSessions() override {}
    void removeAllTokens() override {}
    void purgeSession(const SigningSessionContext&) override {}
    void purgeSessionAndToken(const std::string&) override {}
    void purgeExpiredSessionsAndTokens() override {}
    void startPrivacyPurgeIfEnabled() override {}
    void startImmediatePrivacyPurge() override {}
    void flushImmediatePrivacyPurge() override {}
    bool removeTokenIfCertificateInvalid(const SigningSessionContext&) override { return false; }
    std::optional<SigningSession> activeSession(const SigningSessionContext&, bool) override {
        return std::nullopt;
    }
    QCoro::Task<bool> hasUsableCardSessions() override;
    // The certificate it was made with, whatever the context.
    std::optional<SigningCertificateInfo> signingCertificateInfo(const SigningSessionContext&) override {
        return signingCertificateInfo_;
    }
    std::optional<SigningCertificateInfo> signingCertificateInfo(const std::string&) override {
        return signingCertificateInfo_;
    }
    void removeToken(const SigningSessionContext&) override {}
    // A session "test"/"test" ending at the reference date, without holder; it is not stored.
    SigningSession registerSession(const SigningSessionContext& context,
                                   platform::Date expirationDate) override;
    std::optional<SigningSession> updateSessionHolder(const SigningSessionContext&,
                                                      const halcyra::AccountStatusDetails&) override {
        return std::nullopt;
    }
    bool registerToken(const SigningSessionContext&, const platform::Bytes&) override { return true; }

  private:
    std::optional<SigningCertificateInfo> signingCertificateInfo_;
    std::string clientData_;
    std::vector<SigningSession> authenticatedSessions_;
};
