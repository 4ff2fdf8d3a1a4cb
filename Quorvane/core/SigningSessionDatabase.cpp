#include "SigningSessionDatabase.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "outside/Common/Common.h"

namespace {

// A date as the log shows it: "2026-12-10 13:05:09 +0000".
std::string dateText(platform::Date date) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

}  // namespace

SigningSessionDatabase::SigningSessionDatabase(Resolve<AppSettings> appSettings, Resolve<LoggerClient> logger,
                                               std::shared_ptr<pindle::PindleClient> pindleClient,
                                               std::shared_ptr<TokenDriverConfiguration> tokens,
                                               std::shared_ptr<platform::Scheduler> scheduler,
                                               std::string clientData)
    : clientData_(std::move(clientData)),
      appSettings_(std::move(appSettings)),
      logger_(std::move(logger)),
      pindleClient_(std::move(pindleClient)),
      tokens_(std::move(tokens)),
      scheduler_(std::move(scheduler)) {
    if (!appSettings_ || !logger_ || !pindleClient_ || !tokens_ || !scheduler_)
        throw std::invalid_argument("SigningSessionDatabase needs all of its collaborators");
}

bool SigningSessionDatabase::privacyModeEnabled() const {
    // The settings keep nothing themselves: without a value for them the stored preference still holds.
    if (auto settings = appSettings_())
        return settings->privacyModeEnabled();
    return AppSettings().privacyModeEnabled();
}

void SigningSessionDatabase::logInfo(const std::string& message) const {
    if (auto logger = logger_())
        logger->info(message);
}

std::string SigningSessionDatabase::newClientData() {
    std::string uuid = UUIDProvider().newUUIDString();
    uuid.erase(std::remove(uuid.begin(), uuid.end(), '-'), uuid.end());
    return uuid.substr(0, 16);
}

std::vector<SigningSession> SigningSessionDatabase::authenticatedSessions() const {
    std::vector<SigningSession> sessions;
    for (const auto& [id, session] : activeSessions_)
        sessions.push_back(session);
    return sessions;
}

void SigningSessionDatabase::purgeExpiredSessions() {
    const auto now = scheduler_->now();
    std::erase_if(activeSessions_,
                  [&](const auto& entry) { return entry.second.expirationDate() - defaultMargin < now; });
}

void SigningSessionDatabase::cleanUpSessions() {
    purgeExpiredSessions();
    tokens_->removeStaleTokens(scheduler_->now());
    if (privacyModeEnabled())
        purgeWalletData();
}

void SigningSessionDatabase::removeAllTokens() {
    activeSessions_.clear();
    tokens_->removeAllTokens();
}

void SigningSessionDatabase::purgeSession(const SigningSessionContext& context) {
    if (context.kind() == SigningSessionContext::Kind::wallet)
        logInfo("Purging wallet session data");
    else
        logInfo("Purging session data for: " + context.card()->uniqueIdentifier());
    purgeSessionAndToken(context.tokenIdentifier());
}

void SigningSessionDatabase::purgeSessionAndToken(const std::string& tokenIdentifier) {
    logInfo("Purging session and token for " + tokenIdentifier);
    tokens_->removeToken(tokenIdentifier);
    activeSessions_.erase(tokenIdentifier);
}

void SigningSessionDatabase::purgeExpiredSessionsAndTokens() {
    purgeExpiredSessions();
    tokens_->removeStaleTokens(scheduler_->now());
}

void SigningSessionDatabase::purgeWalletData() {
    for (auto* timer : {&privacyCleanupTimer_, &immediatePrivacyCleanupTimer_}) {
        if (*timer)
            (*timer)->invalidate();
        timer->reset();
    }
    logInfo("Privacy cleanup triggered, deleting wallet related data");
    purgeSessionAndToken(SigningSessionContext::walletTokenIdentifier);
}

std::shared_ptr<platform::Timer> SigningSessionDatabase::schedulePurge(std::chrono::seconds delay) {
    std::weak_ptr<SigningSessionDatabase> weakSelf = weak_from_this();
    return scheduler_->scheduleOnce(delay, [weakSelf] {
        if (auto self = weakSelf.lock())
            self->purgeWalletData();
    });
}

void SigningSessionDatabase::startPrivacyCleanupTimer() {
    if (privacyCleanupTimer_ && privacyCleanupTimer_->isValid()) {
        logInfo("Privacy cleanup timer already running, aborting timer start request");
        return;
    }
    privacyCleanupTimer_ = schedulePurge(privacyCleanupDelay);
    logInfo("Privacy cleanup timer started");
}

void SigningSessionDatabase::startPrivacyPurgeIfEnabled() {
    if (!privacyModeEnabled())
        return;
    logInfo("Privacy mode enabled - starting privacy data purge timer");
    startPrivacyCleanupTimer();
}

void SigningSessionDatabase::startImmediatePrivacyPurge() {
    if (!privacyModeEnabled())
        return;
    logInfo("Starting immediate privacy data purge timer");
    if (immediatePrivacyCleanupTimer_)
        immediatePrivacyCleanupTimer_->invalidate();
    immediatePrivacyCleanupTimer_ = schedulePurge(immediatePrivacyCleanupDelay);
}

void SigningSessionDatabase::flushImmediatePrivacyPurge() {
    if (!privacyModeEnabled() || !immediatePrivacyCleanupTimer_ || !immediatePrivacyCleanupTimer_->isValid())
        return;
    logInfo("Pending immediate privacy data purge detected, cancelling the timer and purging now");
    purgeWalletData();
}

std::optional<SigningCertificateInfo> SigningSessionDatabase::certificateInfo(
    const std::string& tokenIdentifier) const {
    auto data = tokens_->certificateData(tokenIdentifier);
    if (!data)
        return std::nullopt;
    return SigningCertificateInfo::make(tokenIdentifier, *data, scheduler_->now());
}

bool SigningSessionDatabase::removeTokenIfCertificateInvalid(const SigningSessionContext& context) {
    const auto id = context.tokenIdentifier();
    auto info = certificateInfo(id);
    if (!info)
        return false;
    const auto now = scheduler_->now();
    if (info->notValidBefore > now || info->notValidAfter < now) {
        tokens_->removeToken(id);
        return true;
    }
    return false;
}

std::optional<SigningSession> SigningSessionDatabase::activeSession(const SigningSessionContext& context,
                                                                    bool forSigning) {
    const auto id = context.tokenIdentifier();
    auto entry = activeSessions_.find(id);
    if (entry == activeSessions_.end()) {
        logInfo("Active session not found for identifier " + id);
        return std::nullopt;
    }
    const auto margin = forSigning ? signingMargin : defaultMargin;
    const SigningSession session = entry->second;
    if (session.expirationDate() - margin > scheduler_->now()) {
        if (forSigning)
            logInfo("Active signing session found for identifier " + id + ": " +
                    sessionTag(session.orchestratorSessionId) + " - " + session.internalSessionId);
        return session;
    }
    logInfo("Active session about to expire for identifier " + id +
            ", expiration date: " + dateText(session.expirationDate()));
    activeSessions_.erase(entry);
    return std::nullopt;
}

QCoro::Task<bool> SigningSessionDatabase::hasUsableCardSessions() {
    // The reading may take seconds; the store must outlive it.
    auto keepAlive = weak_from_this().lock();
    purgeExpiredSessions();
    tokens_->removeStaleTokens(scheduler_->now());

    const auto cards = co_await pindleClient_->onlyCurrentCards();

    // Read after the cards arrived: what other work changed meanwhile counts.
    std::vector<SigningSession> sessions;
    for (const auto& card : cards) {
        if (!card)
            continue;
        if (auto entry = activeSessions_.find(card->uniqueIdentifier()); entry != activeSessions_.end())
            sessions.push_back(entry->second);
    }
    if (cards.empty() || sessions.size() < cards.size())
        co_return false;

    for (const auto& session : sessions) {
        const auto now = scheduler_->now();
        if (session.expirationDate() - defaultMargin < now)
            co_return false;
        auto info = certificateInfo(session.internalSessionId);
        if (!info)
            co_return false;
        if (!(info->notValidBefore < now))
            co_return false;
        if (!(info->notValidAfter - defaultMargin > now))
            co_return false;
    }
    co_return true;
}

std::optional<SigningCertificateInfo> SigningSessionDatabase::signingCertificateInfo(
    const SigningSessionContext& context) {
    return certificateInfo(context.tokenIdentifier());
}

std::optional<SigningCertificateInfo> SigningSessionDatabase::signingCertificateInfo(
    const std::string& tokenIdentifier) {
    return certificateInfo(tokenIdentifier);
}

void SigningSessionDatabase::removeToken(const SigningSessionContext& context) {
    tokens_->removeToken(context.tokenIdentifier());
}

SigningSession SigningSessionDatabase::registerSession(const SigningSessionContext& context,
                                                       platform::Date expirationDate) {
    const bool wallet = context.kind() == SigningSessionContext::Kind::wallet;
    if (wallet)
        logInfo("Registering wallet session " + sessionTag(context.sessionId()));
    else
        logInfo("Registering session " + sessionTag(context.sessionId()) +
                " for card: " + context.card()->uniqueIdentifier());
    if (wallet && privacyModeEnabled()) {
        logInfo("Privacy mode enabled, starting privacy mode purge timer for new registered wallet session");
        startPrivacyCleanupTimer();
    }
    SigningSession session;
    session.internalSessionId = context.tokenIdentifier();
    session.orchestratorSessionId = context.sessionId();
    session.expirationTimeInterval = platform::timeIntervalSinceReferenceDate(expirationDate);
    activeSessions_.insert_or_assign(session.internalSessionId, session);
    return session;
}

std::optional<SigningSession> SigningSessionDatabase::updateSessionHolder(
    const SigningSessionContext& context, const halcyra::AccountStatusDetails& accountStatus) {
    auto entry = activeSessions_.find(context.tokenIdentifier());
    if (entry == activeSessions_.end())
        return std::nullopt;
    entry->second.firstName = accountStatus.firstName;
    entry->second.lastName = accountStatus.lastName;
    entry->second.nationalRegisterNumber = accountStatus.rrnr;
    return entry->second;
}

bool SigningSessionDatabase::registerToken(const SigningSessionContext& context,
                                           const platform::Bytes& certificateData) {
    return tokens_->registerToken(context.tokenIdentifier(), certificateData);
}

AppSettings::StartPrivacyPurgeIfEnabled privacyPurgeHook(
    std::function<std::shared_ptr<SigningSessionDatabaseClient>()> store) {
    return [store = std::move(store)] {
        if (auto current = store ? store() : nullptr)
            current->startPrivacyPurgeIfEnabled();
    };
}
