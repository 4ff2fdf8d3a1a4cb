#include "SimServer.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <thread>

#include "AppVersionsDocument.h"
#include "Pdf.h"
#include "QrCode.h"

namespace sim {

// --- Server state

struct SimServer::AuthSession {
    std::string id;
    std::string clientData;
    std::string level;
    Clock::time_point expiry;
    std::string state = "SELECTING_MEAN";
    std::optional<std::string> mean;
    Bytes hashToSign;
    std::string pollSessionId;
    std::optional<Identity> identity;
    Bytes cardCertificate;
};

struct SimServer::PollSession {
    std::string id;
    std::string owner;  // the authentication, onboarding or consent session it proves
    Clock::time_point expiry;
    int polls = 0;
    std::string state = "SCAN_PENDING";
};

struct SimServer::Account {
    Identity identity;
    std::string status = "ACTIVE";
    bool canSign = true;
    std::optional<Json> reason;
    Key key;
    Cert certificate;
    Bytes signedAgreement;
};

struct SimServer::OnboardingSession {
    std::string id;
    std::string authSessionId;
    std::string language;
    Bytes hashToSign;
    std::string pollSessionId;
};

struct SimServer::ConsentSession {
    std::string id;
    std::string authSessionId;
    std::vector<Bytes> hashes;
    Bytes hashToSign;
    std::string pollSessionId;
};

namespace {

constexpr int kMaxJsonDepth = 16;
constexpr std::size_t kMaxRecordedRequests = 10000;
constexpr std::size_t kMaxRecordedBytes = 64u << 20;
// Open sessions of one kind; beyond this the server answers 503 instead of growing.
constexpr std::size_t kMaxOpenSessions = 100000;
// A client text the server keeps (clientData, a language): bounded, so that many sessions cannot exhaust
// memory.
constexpr std::size_t kMaxStoredText = 256;
std::string requiredString(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        fail("BAD_REQUEST", std::string("\"") + key + "\" must be a string");
    return it->get<std::string>();
}

const Json* optionalObject(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    if (!it->is_object())
        fail("BAD_REQUEST", std::string("\"") + key + "\" must be an object");
    return &*it;
}

std::string storedText(const Json& object, const char* key) {
    std::string text = requiredString(object, key);
    if (text.size() > kMaxStoredText)
        fail("BAD_REQUEST", std::string("\"") + key + "\" is too long");
    return text;
}

Bytes requiredBase64(const Json& object, const char* key) {
    auto bytes = base64Decoded(requiredString(object, key));
    if (!bytes)
        fail("BAD_REQUEST", std::string("\"") + key + "\" is not Base64");
    return *bytes;
}

// Exactly one of the two proofs.
void requireOneProof(const Json& body, const Json*& eid, const Json*& wallet) {
    eid = optionalObject(body, "eid");
    wallet = optionalObject(body, "wallet");
    if ((eid == nullptr) == (wallet == nullptr))
        fail("BAD_REQUEST", "exactly one of \"eid\" and \"wallet\"");
}

// "yyyy-MM-dd'T'HH:mm:ss.SSSZ" in UTC, e.g. "2026-12-10T14:05:09.042+0000".
std::string formatTime(Clock::time_point time) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+0000", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

Json parseBody(const std::string& text) {
    // Parsed into std::map objects: ordered_json finds each key by walking its members, so a body of many
    // members would take time with the square of their count.
    nlohmann::json::parser_callback_t limit = [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > kMaxJsonDepth)
            throw ApiError{"BAD_REQUEST", "nested too deeply"};
        return true;
    };
    Json body;
    try {
        body = Json(nlohmann::json::parse(text, limit));
    } catch (const Json::exception&) {
        fail("BAD_REQUEST", "the body is not JSON");
    }
    if (!body.is_object())
        fail("BAD_REQUEST", "the body is not a JSON object");
    return body;
}

const std::map<std::string, std::size_t>& hashSizes() {
    static const std::map<std::string, std::size_t> sizes = {
        {"2.16.840.1.101.3.4.2.1", 32}, {"2.16.840.1.101.3.4.2.2", 48}, {"2.16.840.1.101.3.4.2.3", 64}};
    return sizes;
}

}  // namespace

// --- Set-up

SimServer::SimServer(Options options) : options_(std::move(options)) {
    for (const auto& file : options_.cardCAFiles)
        cardTrust_.addPEMFile(file);
    for (auto& [path, fault] : options_.faults) {
        if (!routes().contains(path))
            throw std::runtime_error("a fault for an unknown endpoint: " + path);
        faults_[path] = fault;
    }
}

SimServer::~SimServer() = default;

void SimServer::writeCertificates() {
    std::filesystem::create_directories(options_.certDir);
    Key serverKey = makeECKey();
    Cert serverCert = ca_.issueServerCertificate(serverKey.get());
    auto write = [](const std::filesystem::path& path, const std::string& text, mode_t mode) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
        chmod(path.c_str(), mode);
    };
    write(options_.certDir / "ca.pem", pem(ca_.certificate()), 0644);
    write(options_.certDir / "server-cert.pem", pem(serverCert.get()), 0644);
    write(options_.certDir / "server-key.pem", privateKeyPEM(serverKey.get()), 0600);
}

int SimServer::bind() {
    writeCertificates();
    transport_ = std::make_unique<Transport>(options_.certDir / "server-cert.pem",
                                             options_.certDir / "server-key.pem", options_.maxBodyBytes);
    if (!transport_->isValid())
        return -1;
    installRoutes();
    return transport_->bind(options_.host, options_.port, options_.callbackPagePort,
                            [this](const httplib::Request& req, httplib::Response& res) {
                                auto value = [&](const char* key) {
                                    return req.has_param(key) ? std::optional(req.get_param_value(key))
                                                              : std::nullopt;
                                };
                                res.set_content(signedConsents_.page(value("signatures"), value("error")),
                                                "text/html; charset=utf-8");
                            });
}

int SimServer::callbackPagePort() const {
    return transport_ ? transport_->callbackPagePort() : -1;
}

bool SimServer::run(const std::atomic<bool>& stopRequested) {
    return transport_->run(stopRequested);
}

const std::map<std::string, SimServer::Handler>& SimServer::routes() {
    static const std::map<std::string, Handler> routes = {
        {"/auth/getMeans", &SimServer::getMeans},
        {"/auth/getMeanData", &SimServer::getMeanData},
        {"/auth/authenticate", &SimServer::authenticate},
        {"/wallet/poll", &SimServer::poll},
        {"/onboarding/getAgreementFile", &SimServer::getAgreementFile},
        {"/onboarding/confirmUserData", &SimServer::confirmUserData},
        {"/onboarding/signAgreement", &SimServer::signAgreement},
        {"/onboarding/getSignedAgreementFile", &SimServer::getSignedAgreementFile},
        {"/rsign/getAccountStatus", &SimServer::getAccountStatus},
        {"/rsign/getSignatureInfo", &SimServer::getSignatureInfo},
        {"/rsign/deleteAccount", &SimServer::deleteAccount},
        {"/rsign/getDataToConsent", &SimServer::getDataToConsent},
        {"/rsign/consentAndSignHashes", &SimServer::consentAndSignHashes},
    };
    return routes;
}

void SimServer::endpoint(const std::string& path, Handler handler) {
    transport_->post(options_.basePath + path,
                     [this, path, handler](const httplib::Request& req, const std::string& body,
                                           httplib::Response& res) { serve(path, handler, req, body, res); });
}

void SimServer::installRoutes() {
    for (const auto& [path, handler] : routes())
        endpoint(path, handler);

    // Control endpoints, for tests and the demo.
    auto control = [this](const std::string& path, auto action) {
        transport_->post("/control" + path, [this, action](const httplib::Request&, const std::string& text,
                                                           httplib::Response& res) {
            try {
                Json body = text.empty() ? Json::object() : parseBody(text);
                std::lock_guard lock(mutex_);
                setJson(res, 200, action(body));
            } catch (const ApiError& e) {
                Json body = errorBody(e.code);
                if (!e.detail.empty())
                    body["detail"] = e.detail;
                setJson(res, statusOf(e.code), body);
            } catch (const std::exception&) {
                setJson(res, 500, errorBody("INTERNAL_ERROR"));
            }
        });
    };
    control("/faults", [this](const Json& body) {
        std::string path = requiredString(body, "endpoint");
        if (!routes().contains(path))
            fail("BAD_REQUEST", "no such endpoint");
        auto fault = faultFromJson(body);
        if (!fault)
            fail("BAD_REQUEST", "invalid fault");
        faults_[path] = *fault;
        return Json::object();
    });
    control("/faults/clear", [this](const Json&) {
        faults_.clear();
        return Json::object();
    });
    control("/wallet", [this](const Json& body) {
        std::string state = requiredString(body, "state");
        if (state != "SCAN_PENDING" && state != "AUTHENTICATION_PENDING" && state != "AUTHENTICATED" &&
            state != "EXPIRED")
            fail("BAD_REQUEST", "unknown state");
        int updated = 0;
        for (auto& [id, poll] : polls_) {
            if (body.contains("pollSessionId") && requiredString(body, "pollSessionId") != id)
                continue;
            poll->state = state;
            ++updated;
        }
        if (body.contains("pollSessionId") && updated == 0)
            fail("POLL_SESSION_NOT_FOUND");
        return Json{{"updated", updated}};
    });
    control("/accounts", [this](const Json& body) {
        auto it = accounts_.find(requiredString(body, "rrnr"));
        if (it == accounts_.end())
            fail("ACCOUNT_NOT_FOUND");
        Account& account = *it->second;
        std::optional<std::string> status;
        if (body.contains("status")) {
            status = requiredString(body, "status");
            if (*status != "ACTIVE" && *status != "DELETED")
                fail("BAD_REQUEST", "\"status\" must be ACTIVE or DELETED");
            // A deleted account has no key or certificate left; it becomes active again only by onboarding.
            if (*status == "ACTIVE" && !account.key)
                fail("BAD_REQUEST", "a deleted account is reopened by onboarding again");
        }
        if (body.contains("canSign")) {
            if (!body["canSign"].is_boolean())
                fail("BAD_REQUEST", "\"canSign\" must be a boolean");
            account.canSign = body["canSign"].get<bool>();
        }
        if (body.contains("reason")) {
            const Json& reason = body["reason"];
            if (reason.is_null())
                account.reason.reset();
            else if (reason.is_object())
                account.reason = reason;
            else
                fail("BAD_REQUEST", "\"reason\" must be an object or null");
        }
        if (status)
            account.status = *status;
        return Json::object();
    });
    control("/requests/clear", [this](const Json&) {
        requests_.clear();
        recordedBytes_ = 0;
        return Json::object();
    });
    serveAppVersions(*transport_);
    transport_->get("/control/requests", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        setJson(res, 200, Json{{"requests", requests_}});
    });
}

void SimServer::record(const httplib::Request& req, const std::string& body) {
    // Bodies may be as large as the request limit: keep the latest requests within a byte budget as well as a
    // count, so that a long run cannot exhaust memory.
    std::lock_guard lock(mutex_);
    requests_.push_back(
        Json{{"method", req.method}, {"path", req.path}, {"body", body}, {"clientPort", req.remote_port}});
    recordedBytes_ += body.size();
    while (requests_.size() > kMaxRecordedRequests ||
           (recordedBytes_ > kMaxRecordedBytes && requests_.size() > 1)) {
        recordedBytes_ -= requests_.front()["body"].get_ref<const std::string&>().size();
        requests_.pop_front();
    }
}

std::optional<Fault> SimServer::takeFault(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto it = faults_.find(path);
    if (it == faults_.end())
        return std::nullopt;
    Fault fault = it->second;
    if (it->second.count > 0 && --it->second.count == 0)
        faults_.erase(it);
    return fault;
}

void SimServer::serve(const std::string& path, Handler handler, const httplib::Request& req,
                      const std::string& body, httplib::Response& res) {
    record(req, body);
    auto fault = takeFault(path);
    if (fault && fault->delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
    if (fault && fault->drop) {
        Fault::dropReply(res);
        return;
    }
    bool replaces = fault && fault->replacesReply();
    if (!replaces || fault->passThrough) {
        try {
            Json json = parseBody(body);
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                reply = (this->*handler)(json);
            }
            res.status = reply.status;
            if (reply.body)
                res.set_content(text(*reply.body), "application/json");
        } catch (const ApiError& e) {
            Json body = errorBody(e.code);
            setJson(res, statusOf(e.code), body);
        } catch (const std::exception&) {
            setJson(res, 500, errorBody("INTERNAL_ERROR"));
        }
        if (!replaces)
            return;
    }
    fault->replaceReply(res);
}

// --- Sessions

SimServer::AuthSession& SimServer::session(const std::string& id) {
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        fail("SESSION_NOT_FOUND");
    if (Clock::now() >= it->second->expiry)
        fail("SESSION_EXPIRED");
    return *it->second;
}

SimServer::AuthSession& SimServer::readySession(const std::string& id) {
    AuthSession& s = session(id);
    if (s.state != "READY" || !s.identity)
        fail("SESSION_NOT_AUTHENTICATED");
    return s;
}

// Ended sessions are forgotten once they have been over for as long as they lasted (until then they still
// answer "expired"); onboardings and consents go with their authentication session. This keeps the state of a
// long-running server bounded.
void SimServer::prune() {
    auto now = Clock::now();
    std::erase_if(sessions_, [&](const auto& entry) {
        const AuthSession& s = *entry.second;
        int lifetime = s.state == "READY" ? options_.sessionSeconds : options_.authSeconds;
        return now > s.expiry + std::chrono::seconds(lifetime);
    });
    std::erase_if(polls_, [&](const auto& entry) {
        return now > entry.second->expiry + std::chrono::seconds(options_.walletSeconds);
    });
    std::erase_if(onboardings_,
                  [&](const auto& entry) { return !sessions_.contains(entry.second->authSessionId); });
    std::erase_if(consents_,
                  [&](const auto& entry) { return !sessions_.contains(entry.second->authSessionId); });
    if (sessions_.size() >= kMaxOpenSessions || polls_.size() >= kMaxOpenSessions ||
        onboardings_.size() >= kMaxOpenSessions || consents_.size() >= kMaxOpenSessions)
        fail("SERVICE_UNAVAILABLE", "too many open sessions");
}

SimServer::Account& SimServer::activeAccount(const Identity& identity) {
    auto it = accounts_.find(identity.rrnr);
    if (it == accounts_.end() || it->second->status != "ACTIVE")
        fail("ACCOUNT_NOT_FOUND");
    return *it->second;
}

SimServer::PollSession& SimServer::newPollSession(const std::string& owner) {
    auto poll = std::make_unique<PollSession>();
    poll->id = randomId();
    poll->owner = owner;
    poll->expiry = Clock::now() + std::chrono::seconds(options_.walletSeconds);
    auto& ref = *poll;
    polls_[poll->id] = std::move(poll);
    return ref;
}

void SimServer::advance(PollSession& poll, bool counting) {
    if (poll.state == "AUTHENTICATED" || poll.state == "EXPIRED")
        return;
    if (Clock::now() >= poll.expiry) {
        poll.state = "EXPIRED";
        return;
    }
    if (!counting || options_.walletPolls <= 0)
        return;
    ++poll.polls;
    if (poll.polls >= options_.walletPolls)
        poll.state = "AUTHENTICATED";
    else if (poll.polls > options_.walletPolls / 2)
        poll.state = "AUTHENTICATION_PENDING";
}

void SimServer::requireWalletProof(const std::string& pollSessionId, const std::string& owner) {
    auto it = polls_.find(pollSessionId);
    if (it == polls_.end() || it->second->owner != owner)
        fail("POLL_SESSION_NOT_FOUND");
    advance(*it->second, false);
    if (it->second->state != "AUTHENTICATED")
        fail("WALLET_NOT_AUTHENTICATED");
    polls_.erase(it);  // a confirmation proves one thing once
}

SimServer::CardProof SimServer::requireCardProof(const Json& eid, const Bytes& hashToSign) {
    CardProof proof;
    proof.certificate = requiredBase64(eid, "authenticationCertificate");
    Bytes signature = requiredBase64(eid, "signature");
    Cert certificate = certificateFromDER(proof.certificate);
    if (!certificate || !cardTrust_.verifies(certificate.get()))
        fail("INVALID_CERTIFICATE");
    auto serialNumber = subjectEntry(certificate.get(), NID_serialNumber);
    if (!serialNumber || serialNumber->empty())
        fail("INVALID_CERTIFICATE", "no national register number");
    if (!verifyDigestSignature(certificate.get(), hashToSign, signature))
        fail("INVALID_SIGNATURE");
    proof.holder.givenName = subjectEntry(certificate.get(), NID_givenName).value_or("");
    proof.holder.surname = subjectEntry(certificate.get(), NID_surname).value_or("");
    proof.holder.rrnr = *serialNumber;
    return proof;
}

void SimServer::requireSameCard(const Json& eid, const Bytes& hashToSign, const AuthSession& session) {
    if (requireCardProof(eid, hashToSign).certificate != session.cardCertificate)
        fail("CARD_MISMATCH");
}

// --- Authentication

SimServer::Reply SimServer::getMeans(const Json& body) {
    prune();
    auto session = std::make_unique<AuthSession>();
    session->clientData = storedText(body, "clientData");
    session->level = requiredString(body, "level");
    if (session->level != "high" && session->level != "substantial")
        fail("BAD_REQUEST", "unknown level");
    session->id = randomId();
    session->expiry = Clock::now() + std::chrono::seconds(options_.authSeconds);
    Json means = Json::array();
    for (const char* mean : {"eid", "wallet"}) {
        bool disabled = std::find(options_.disabledMeans.begin(), options_.disabledMeans.end(), mean) !=
                        options_.disabledMeans.end();
        means.push_back(Json{{"mean", mean}, {"disabled", disabled}});
    }
    Json reply{{"sessionId", session->id}, {"means", means}};
    sessions_[session->id] = std::move(session);
    return {200, reply};
}

SimServer::Reply SimServer::getMeanData(const Json& body) {
    prune();
    std::string sessionId = requiredString(body, "sessionId");
    std::string mean = requiredString(body, "mean");
    AuthSession& s = session(sessionId);
    if (s.state == "READY")
        fail("BAD_REQUEST", "the session is already authenticated");
    bool disabled = std::find(options_.disabledMeans.begin(), options_.disabledMeans.end(), mean) !=
                    options_.disabledMeans.end();
    if ((mean != "eid" && mean != "wallet") || disabled)
        fail("MEAN_NOT_AVAILABLE");
    s.mean = mean;
    s.state = "MEAN_SELECTED";
    if (mean == "eid") {
        s.hashToSign = sha256(randomBytes(32));
        return {200, Json{{"eid",
                           {{"hashToSign", base64URLEncoded(s.hashToSign)}, {"hashAlgorithm", "SHA-256"}}}}};
    }
    if (!s.pollSessionId.empty())
        polls_.erase(s.pollSessionId);
    s.pollSessionId = newPollSession(s.id).id;
    return {200, Json{{"wallet", {{"pollSessionId", s.pollSessionId}}}}};
}

SimServer::Reply SimServer::authenticate(const Json& body) {
    AuthSession& s = session(requiredString(body, "sessionId"));
    const Json *eid = nullptr, *wallet = nullptr;
    requireOneProof(body, eid, wallet);
    if (s.state != "MEAN_SELECTED" || s.mean != (eid ? "eid" : "wallet"))
        fail("MEAN_NOT_AVAILABLE");
    Identity identity;
    if (eid) {
        CardProof proof = requireCardProof(*eid, s.hashToSign);
        identity = proof.holder;
        s.cardCertificate = std::move(proof.certificate);
    } else {
        requireWalletProof(requiredString(*wallet, "pollSessionId"), s.id);
        identity = options_.walletIdentity;
        s.pollSessionId.clear();
    }
    s.identity = identity;
    s.state = "READY";
    s.hashToSign.clear();
    s.expiry = Clock::now() + std::chrono::seconds(options_.sessionSeconds);
    return {200, Json{{"state", "READY"}, {"mean", *s.mean}, {"expirationTime", formatTime(s.expiry)}}};
}

SimServer::Reply SimServer::poll(const Json& body) {
    auto it = polls_.find(requiredString(body, "pollSessionId"));
    if (it == polls_.end())
        fail("POLL_SESSION_NOT_FOUND");
    PollSession& p = *it->second;
    advance(p, true);
    auto left = std::chrono::duration_cast<std::chrono::seconds>(p.expiry - Clock::now()).count();
    Json reply{{"type", p.state}};
    if (p.state == "SCAN_PENDING")
        reply["qrCode"] = base64URLEncoded(qrCodePNG("https://wallet.quorvane.example/p/" + p.id));
    reply["authTimeLeft"] = std::max<long long>(0, p.state == "EXPIRED" ? 0 : left);
    reply["retryAfter"] = options_.retryAfterMs;
    return {200, reply};
}

// --- Onboarding

SimServer::Reply SimServer::getAgreementFile(const Json& body) {
    readySession(requiredString(body, "authSessionId"));
    std::string language = requiredString(body, "pdfLanguage");
    return {200, Json{{"bytes", base64URLEncoded(agreementPDF(language))}}};
}

SimServer::Reply SimServer::confirmUserData(const Json& body) {
    prune();
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    std::string language = storedText(body, "uiLanguage");
    requiredString(body, "pdfName");
    auto existing = accounts_.find(s.identity->rrnr);
    if (existing != accounts_.end() && existing->second->status == "ACTIVE")
        fail("ACCOUNT_EXISTS");
    auto onboarding = std::make_unique<OnboardingSession>();
    onboarding->id = randomId();
    onboarding->authSessionId = s.id;
    onboarding->language = language;
    Bytes agreementHash = sha256(agreementPDF(language));
    Json reply{{"onboardingSessionId", onboarding->id},
               {"userAgreementHash", base64URLEncoded(agreementHash)}};
    if (s.mean == "eid") {
        Bytes material = agreementHash;
        material.insert(material.end(), onboarding->id.begin(), onboarding->id.end());
        onboarding->hashToSign = sha256(material);
        reply["eid"] =
            Json{{"hashToSign", base64URLEncoded(onboarding->hashToSign)}, {"hashAlgorithm", "SHA-256"}};
    } else {
        onboarding->pollSessionId = newPollSession(onboarding->id).id;
        reply["wallet"] = Json{{"pollSessionId", onboarding->pollSessionId}};
    }
    onboardings_[onboarding->id] = std::move(onboarding);
    return {200, reply};
}

SimServer::Reply SimServer::signAgreement(const Json& body) {
    auto it = onboardings_.find(requiredString(body, "onboardingSessionId"));
    if (it == onboardings_.end())
        fail("ONBOARDING_SESSION_NOT_FOUND");
    OnboardingSession& onboarding = *it->second;
    AuthSession& s = readySession(onboarding.authSessionId);
    const Json *eid = nullptr, *wallet = nullptr;
    requireOneProof(body, eid, wallet);
    if (eid) {
        if (onboarding.hashToSign.empty())
            fail("BAD_REQUEST", "this registration is confirmed in the wallet app");
        requireSameCard(*eid, onboarding.hashToSign, s);
    } else {
        if (onboarding.pollSessionId.empty())
            fail("BAD_REQUEST", "this registration is confirmed with the card");
        requireWalletProof(requiredString(*wallet, "pollSessionId"), onboarding.id);
    }
    const Identity& identity = *s.identity;
    // Two registrations of one person may run side by side; only the first one to sign opens the account.
    auto existing = accounts_.find(identity.rrnr);
    if (existing != accounts_.end() && existing->second->status == "ACTIVE")
        fail("ACCOUNT_EXISTS");
    auto account = std::make_unique<Account>();
    account->identity = identity;
    account->key = makeECKey();
    std::string name = identity.givenName + " " + identity.surname;
    account->certificate = ca_.issueSigningCertificate(
        account->key.get(),
        Subject{name + " (Signature)", identity.givenName, identity.surname, identity.rrnr});
    account->signedAgreement =
        signedAgreementPDF(onboarding.language, name, identity.rrnr, formatTime(Clock::now()));
    Json reply{{"bytes", base64URLEncoded(account->signedAgreement)}};
    accounts_[identity.rrnr] = std::move(account);
    onboardings_.erase(it);
    return {200, reply};
}

SimServer::Reply SimServer::getSignedAgreementFile(const Json& body) {
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    return {200, Json{{"bytes", base64URLEncoded(activeAccount(*s.identity).signedAgreement)}}};
}

// --- Account

SimServer::Reply SimServer::getAccountStatus(const Json& body) {
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    const Identity& identity = *s.identity;
    Json reply;
    auto it = accounts_.find(identity.rrnr);
    bool active = it != accounts_.end() && it->second->status == "ACTIVE";
    reply["status"] = active ? "ACTIVE" : "DELETED";
    reply["lastName"] = identity.surname;
    reply["firstName"] = identity.givenName;
    reply["rrnr"] = identity.rrnr;
    // Whoever has no active account may create one: only an active account's own setting can refuse.
    reply["canSign"] = !active || it->second->canSign;
    if (active && it->second->reason)
        reply["reason"] = *it->second->reason;
    return {200, reply};
}

SimServer::Reply SimServer::getSignatureInfo(const Json& body) {
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    auto it = accounts_.find(s.identity->rrnr);
    if (it == accounts_.end() || it->second->status != "ACTIVE" || !it->second->certificate)
        return {200, Json{{"status", "MISSING"},
                          {"maxSignatures", options_.maxSignatures},
                          {"signingCertificate", ""},
                          {"certificateChain", Json::array()}}};
    return {200, Json{{"status", "READY"},
                      {"maxSignatures", options_.maxSignatures},
                      {"signingCertificate", base64URLEncoded(der(it->second->certificate.get()))},
                      {"certificateChain", Json::array({base64URLEncoded(der(ca_.certificate()))})}}};
}

SimServer::Reply SimServer::deleteAccount(const Json& body) {
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    requiredString(body, "reason");
    Account& account = activeAccount(*s.identity);
    account.status = "DELETED";
    account.canSign = false;
    account.reason.reset();
    account.key.reset();
    account.certificate.reset();
    account.signedAgreement.clear();
    return {204, std::nullopt};
}

// --- Consent and signing

SimServer::Reply SimServer::getDataToConsent(const Json& body) {
    prune();
    storedText(body, "clientData");
    AuthSession& s = readySession(requiredString(body, "authSessionId"));
    std::string oid = requiredString(body, "hashAlgorithmOID");
    auto hashesIt = body.find("hashesToSign");
    if (hashesIt == body.end() || !hashesIt->is_array())
        fail("BAD_REQUEST", "\"hashesToSign\" must be an array");
    auto size = hashSizes().find(oid);
    if (size == hashSizes().end())
        fail("BAD_REQUEST", "unknown hash algorithm");
    if (hashesIt->empty() || hashesIt->size() > static_cast<std::size_t>(options_.maxSignatures))
        fail("BAD_REQUEST", "wrong number of hashes");
    auto consent = std::make_unique<ConsentSession>();
    for (const auto& entry : *hashesIt) {
        if (!entry.is_object())
            fail("BAD_REQUEST", "a hash entry must be an object");
        requiredString(entry, "label");
        Bytes hash = requiredBase64(entry, "hash");
        if (hash.size() != size->second)
            fail("BAD_REQUEST", "a hash does not fit the algorithm");
        consent->hashes.push_back(hash);
    }
    Account& account = activeAccount(*s.identity);
    if (!account.canSign)
        fail("ACCOUNT_CANNOT_SIGN");
    consent->id = randomId();
    consent->authSessionId = s.id;
    Json reply{{"consentSessionId", consent->id}};
    if (s.mean == "eid") {
        Bytes material(consent->id.begin(), consent->id.end());
        for (const auto& hash : consent->hashes)
            material.insert(material.end(), hash.begin(), hash.end());
        consent->hashToSign = sha256(material);
        reply["eid"] =
            Json{{"hashToSign", base64URLEncoded(consent->hashToSign)}, {"hashAlgorithm", "SHA-256"}};
    } else {
        consent->pollSessionId = newPollSession(consent->id).id;
        reply["wallet"] = Json{{"pollSessionId", consent->pollSessionId}};
    }
    consents_[consent->id] = std::move(consent);
    return {200, reply};
}

SimServer::Reply SimServer::consentAndSignHashes(const Json& body) {
    auto it = consents_.find(requiredString(body, "consentSessionId"));
    if (it == consents_.end())
        fail("CONSENT_SESSION_NOT_FOUND");
    ConsentSession& consent = *it->second;
    AuthSession& s = readySession(consent.authSessionId);
    const Json *eid = nullptr, *wallet = nullptr;
    requireOneProof(body, eid, wallet);
    if (eid) {
        if (consent.hashToSign.empty())
            fail("BAD_REQUEST", "this consent is given in the wallet app");
        requireSameCard(*eid, consent.hashToSign, s);
    } else {
        if (consent.pollSessionId.empty())
            fail("BAD_REQUEST", "this consent is given with the card");
        requireWalletProof(requiredString(*wallet, "pollSessionId"), consent.id);
    }
    Account& account = activeAccount(*s.identity);
    if (!account.canSign)
        fail("ACCOUNT_CANNOT_SIGN");
    Json signatures = Json::array();
    for (const auto& hash : consent.hashes) {
        auto signature = signDigest(account.key.get(), hash);
        if (!signature)
            fail("INTERNAL_ERROR");
        signatures.push_back(base64URLEncoded(*signature));
    }
    signedConsents_.add(std::move(consent.hashes), account.certificate.get());
    consents_.erase(it);
    return {200, Json{{"signatures", signatures}}};
}

}  // namespace sim
