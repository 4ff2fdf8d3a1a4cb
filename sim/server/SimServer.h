#pragma once
// The stand-in remote-signing server: the thirteen endpoints under the base path, with real sessions,
// accounts, certificates and signatures, plus control endpoints under "/control" for faults and wallet
// confirmations.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ApiError.h"
#include "CallbackPage.h"
#include "Crypto.h"
#include "Fault.h"
#include "Transport.h"

namespace sim {

using Clock = std::chrono::system_clock;

struct Identity {
    std::string givenName;
    std::string surname;
    std::string rrnr;
};

struct Options {
    std::filesystem::path certDir;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string basePath = "/srvremotesign";
    int authSeconds = 600;      // an authentication session until it is authenticated
    int sessionSeconds = 3600;  // an authenticated session
    int walletSeconds = 180;    // a wallet poll session
    int walletPolls = 3;        // polls until a wallet login is confirmed; 0 = only by a control call
    int retryAfterMs = 1000;
    int maxSignatures = 100;
    std::size_t maxBodyBytes = 1 << 20;
    std::vector<std::filesystem::path> cardCAFiles;  // PEM files of the card issuers to trust
    std::vector<std::string> disabledMeans;
    Identity walletIdentity{"Lotte", "Verbeke", "85073003328"};
    std::vector<std::pair<std::string, Fault>> faults;  // endpoint path (without base path) -> fault
    // Port of the plain-HTTP callback page on the host (0 = a free one); no page when absent.
    std::optional<int> callbackPagePort;
};

class SimServer {
  public:
    // Throws when a card issuer file cannot be read.
    explicit SimServer(Options options);
    ~SimServer();

    // Writes the CA and server certificate, binds (the callback page too); the port, or -1.
    int bind();
    // The callback page's port once bound, or -1.
    int callbackPagePort() const;
    // Serves on the calling thread until the flag is set (it may be set from a signal handler); the flag is
    // looked at on every new connection and at least ten times a second. False when serving failed.
    bool run(const std::atomic<bool>& stopRequested);

    std::filesystem::path caFile() const { return options_.certDir / "ca.pem"; }

  private:
    struct AuthSession;
    struct PollSession;
    struct Account;
    struct OnboardingSession;
    struct ConsentSession;
    struct Reply {
        int status = 200;
        std::optional<Json> body;
    };
    using Handler = Reply (SimServer::*)(const Json& body);
    struct CardProof {
        Identity holder;
        Bytes certificate;  // DER
    };
    // The endpoints by their path without the base path.
    static const std::map<std::string, Handler>& routes();
    void writeCertificates();
    void installRoutes();
    void endpoint(const std::string& path, Handler handler);
    void serve(const std::string& path, Handler handler, const httplib::Request& req, const std::string& body,
               httplib::Response& res);
    std::optional<Fault> takeFault(const std::string& path);

    Reply getMeans(const Json& body);
    Reply getMeanData(const Json& body);
    Reply authenticate(const Json& body);
    Reply poll(const Json& body);
    Reply getAgreementFile(const Json& body);
    Reply confirmUserData(const Json& body);
    Reply signAgreement(const Json& body);
    Reply getSignedAgreementFile(const Json& body);
    Reply getAccountStatus(const Json& body);
    Reply getSignatureInfo(const Json& body);
    Reply deleteAccount(const Json& body);
    Reply getDataToConsent(const Json& body);
    Reply consentAndSignHashes(const Json& body);

    AuthSession& session(const std::string& id);
    AuthSession& readySession(const std::string& id);
    Account& activeAccount(const Identity& identity);
    void prune();
    void record(const httplib::Request& req, const std::string& body);
    PollSession& newPollSession(const std::string& owner);
    void advance(PollSession& poll, bool counting);
    void requireWalletProof(const std::string& pollSessionId, const std::string& owner);
    CardProof requireCardProof(const Json& eid, const Bytes& hashToSign);
    // A later proof of an authenticated session: it must come from the card that logged in.
    void requireSameCard(const Json& eid, const Bytes& hashToSign, const AuthSession& session);

    Options options_;
    CertificateAuthority ca_;
    CardTrust cardTrust_;
    std::unique_ptr<Transport> transport_;
    SignedConsents signedConsents_;

    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<AuthSession>> sessions_;
    std::map<std::string, std::unique_ptr<PollSession>> polls_;
    std::map<std::string, std::unique_ptr<Account>> accounts_;  // by national register number
    std::map<std::string, std::unique_ptr<OnboardingSession>> onboardings_;
    std::map<std::string, std::unique_ptr<ConsentSession>> consents_;
    std::map<std::string, Fault> faults_;
    std::deque<Json> requests_;  // the latest ones, within a count and a byte budget
    std::size_t recordedBytes_ = 0;
};

}  // namespace sim
