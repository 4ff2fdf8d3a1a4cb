#include "WalletTrackingViewModel.h"

#include <QByteArray>
#include <algorithm>
#include <iterator>
#include <limits>

#include "Quorvane/core/ErrorCodeWrap.h"
#include "api/Clients.h"
#include "api/HalcyraError.h"
#include "outside/Common/Common.h"
#include "platform/qt/Localizable.h"

using halcyra::HalcyraError;
using halcyra::WalletPollingStatus;

ErrorCodeSourceFlow walletTrackingSourceFlow(const SigningReason& reason) {
    switch (reason.kind) {
        case SigningReason::Kind::accountInfoAuthentication:
            return ErrorCodeSourceFlow::accountInfo;
        case SigningReason::Kind::certificateRetrievalAuthentication:
            return ErrorCodeSourceFlow::certificateRetrieval;
        case SigningReason::Kind::accountCreationAuthentication:
        case SigningReason::Kind::agreementSigning:
            return ErrorCodeSourceFlow::onboarding;
        case SigningReason::Kind::signingAuthentication:
        case SigningReason::Kind::actualSigning:
            break;
    }
    return ErrorCodeSourceFlow::signing;
}

std::shared_ptr<WalletTrackingViewModel> WalletTrackingViewModel::make(
    std::string sessionId, std::string pollingSessionId, std::int64_t secondsRemaining, SigningReason reason,
    Callbacks callbacks, std::shared_ptr<platform::Scheduler> scheduler) {
    auto model = std::make_shared<WalletTrackingViewModel>(
        Passkey{}, std::move(sessionId), std::move(pollingSessionId), secondsRemaining, std::move(reason),
        std::move(callbacks), std::move(scheduler));
    // The presentation's handles share one count of their own: when the last of them goes, the model ends,
    // even while a task still holds it to finish an answer on its way.
    return Self(model.get(), [model](WalletTrackingViewModel*) mutable {
        const Self keep = std::move(model);
        keep->end();
    });
}

WalletTrackingViewModel::WalletTrackingViewModel(Passkey, std::string sessionId, std::string pollingSessionId,
                                                 std::int64_t secondsRemaining, SigningReason reason,
                                                 Callbacks callbacks,
                                                 std::shared_ptr<platform::Scheduler> scheduler)
    : pollingCompleted(std::move(callbacks.pollingCompleted)),
      qrCodeRefreshRequested(std::move(callbacks.qrCodeRefreshRequested)),
      qrCodeScanned(std::move(callbacks.qrCodeScanned)),
      cancelRequested(std::move(callbacks.cancelRequested)),
      sessionId_(std::move(sessionId)),
      pollingSessionId_(std::move(pollingSessionId)),
      secondsRemaining_(secondsRemaining),
      reason_(std::move(reason)),
      shouldShowAccountCreationAuthenticationWarning_(reason_.kind ==
                                                      SigningReason::Kind::accountCreationAuthentication),
      scheduler_(std::move(scheduler)) {}

std::optional<std::string> WalletTrackingViewModel::verificationCode() const {
    if (reason_.kind != SigningReason::Kind::actualSigning || !reason_.hashToSign)
        return std::nullopt;
    const platform::Bytes& hash = *reason_.hashToSign;
    const std::string encoded = crockfordBase32Encoded(
        platform::Bytes(hash.begin(), hash.begin() + std::min<std::size_t>(hash.size(), 5)));
    if (encoded.size() < 8)
        return std::nullopt;
    return encoded.substr(0, 4) + "-" + encoded.substr(4, 4);
}

QCoro::Task<> WalletTrackingViewModel::startTracking() {
    if (started_)
        return []() -> QCoro::Task<> { co_return; }();
    started_ = true;
    return fetchPollingSessionIdAndPoll(shared_from_this(), startChain());
}

void WalletTrackingViewModel::continueAfterAccountCreationWarning() {
    setObserved(shouldShowAccountCreationAuthenticationWarning_, false);
    scheduler_->post([self = shared_from_this()] { self->startTracking(); });
}

void WalletTrackingViewModel::refreshQrCode() {
    if (ended_)
        return;
    const auto chain = startChain();
    setObserved(pollingState_, WalletPollingState::waiting());
    scheduler_->post([self = shared_from_this(), chain] { refresh(self, chain); });
}

void WalletTrackingViewModel::cancel() {
    if (cancelled_)
        return;
    const Self keep = shared_from_this();  // the flow may let go of the sheet from inside its handler
    cancelled_ = true;
    ended_ = true;
    invalidateTimers();
    if (cancelRequested)
        cancelRequested();
}

QCoro::Task<> WalletTrackingViewModel::fetchPollingSessionIdAndPoll(Self self, std::uint64_t chain) {
    if (!self->isCurrent(chain))
        co_return;
    if (!self->pollingSessionId_.empty()) {
        self->postPoll(chain);
        co_return;
    }
    const auto client = self->authenticateAPIClient_.get();
    std::optional<halcyra::AuthenticationMethodDataResponse> response;
    std::optional<HalcyraError> error;
    try {
        response = co_await client->getAuthenticationMethodData(halcyra::AuthenticationMethod::wallet,
                                                                self->sessionId_);
    } catch (const HalcyraError& e) {
        error = e;
    }
    if (!self->isCurrent(chain))
        co_return;
    if (error) {
        self->endWithFailure(self->backendError("03", *error));
        co_return;
    }
    if (!response->wallet) {
        const ErrorCodeSourceFlow flow = walletTrackingSourceFlow(self->reason_);
        self->endWithFailure(AppError(ErrorCodeCategory::app, std::nullopt,
                                      std::to_string(rawValue(flow)) + "03",
                                      L("Civaro polling session ID not found."), std::nullopt));
        co_return;
    }
    self->pollingSessionId_ = response->wallet->pollSessionId;
    self->postPoll(chain);
}

void WalletTrackingViewModel::postPoll(std::uint64_t chain) {
    scheduler_->post([self = shared_from_this(), chain] { pollOnce(self, chain); });
}

QCoro::Task<> WalletTrackingViewModel::pollOnce(Self self, std::uint64_t chain) {
    if (!self->isCurrent(chain))
        co_return;
    const auto client = self->walletAPIClient_.get();
    std::optional<halcyra::WalletPollingResponse> response;
    std::optional<HalcyraError> error;
    try {
        response = co_await client->pollWallet(self->pollingSessionId_);
    } catch (const HalcyraError& e) {
        error = e;
    }
    if (!self->isCurrent(chain))
        co_return;
    if (error) {
        self->endWithFailure(self->backendError("04", *error));
        co_return;
    }
    self->applyPollingResponse(*response);
    // The flow's scan handler, or a view told of the new state, may have ended the model meanwhile.
    if (!self->isCurrent(chain))
        co_return;
    switch (response->status) {
        case WalletPollingStatus::authenticated:
            self->scheduleDelayedCompletion(chain);
            break;
        case WalletPollingStatus::expired:
            break;
        case WalletPollingStatus::authenticationPending:
        case WalletPollingStatus::scanPending:
        case WalletPollingStatus::unknown:
            self->scheduleNextPoll(std::chrono::milliseconds(response->millisecondsBeforeNextPolling.value_or(
                                       defaultPollingInterval.count())),
                                   chain);
            break;
    }
}

QCoro::Task<> WalletTrackingViewModel::refresh(Self self, std::uint64_t chain) {
    if (!self->isCurrent(chain) || !self->qrCodeRefreshRequested)
        co_return;
    std::optional<WalletTrackingIdentifiers> identifiers;
    std::optional<HalcyraError> error;
    try {
        identifiers = co_await self->qrCodeRefreshRequested(self->sessionId_);
    } catch (const HalcyraError& e) {
        error = e;
    } catch (...) {
        // Not a server error: the sheet stays waiting, and the user can still cancel.
        co_return;
    }
    if (!self->isCurrent(chain))
        co_return;
    if (error) {
        self->endWithFailure(self->backendError("05", *error));
        co_return;
    }
    self->sessionId_ = identifiers->sessionId;
    self->pollingSessionId_ = identifiers->pollingSessionId.value_or("");
    co_await fetchPollingSessionIdAndPoll(self, chain);
}

namespace {

// A PNG, as the codes come, is decoded as one: naming the format spares probing (and loading) every image
// plugin for it. Anything else is still recognised by its content.
QImage qrCodeImage(const platform::Bytes& bytes) {
    static constexpr unsigned char pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const bool png = bytes.size() >= sizeof pngSignature &&
                     std::equal(std::begin(pngSignature), std::end(pngSignature), bytes.begin());
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()),
                            png ? "PNG" : nullptr);
}

}  // namespace

void WalletTrackingViewModel::applyPollingResponse(const halcyra::WalletPollingResponse& response) {
    if (response.sessionSecondsLeft) {
        secondsRemaining_ = *response.sessionSecondsLeft;
        startCountdown();
    }
    // Every poll sends the code again: the same bytes give the same image, decoded once.
    if (response.qrCodeImageData && response.qrCodeImageData != lastQrCodeImageData_) {
        const auto& bytes = *response.qrCodeImageData;
        QImage image = qrCodeImage(bytes);
        lastQrCodeImage_ = image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image));
        lastQrCodeImageData_ = bytes;
    }
    auto stopCountdown = [this] {
        if (countdownTimer_)
            countdownTimer_->invalidate();
        countdownTimer_.reset();
    };
    switch (response.status) {
        case WalletPollingStatus::authenticated:
            stopCountdown();
            setObserved(pollingState_, WalletPollingState::success());
            break;
        case WalletPollingStatus::authenticationPending:
            stopCountdown();
            if (qrCodeScanned)
                qrCodeScanned();
            setObserved(pollingState_, WalletPollingState::walletPending(secondsRemaining_));
            break;
        case WalletPollingStatus::expired:
            stopCountdown();
            setObserved(pollingState_, WalletPollingState::scanExpired(lastQrCodeImage_));
            break;
        case WalletPollingStatus::scanPending:
            setObserved(pollingState_, WalletPollingState::scanAllowed(lastQrCodeImage_, secondsRemaining_));
            break;
        case WalletPollingStatus::unknown:
            stopCountdown();
            setObserved(pollingState_, WalletPollingState::waiting());
            break;
    }
}

void WalletTrackingViewModel::startCountdown() {
    if (countdownTimer_)
        countdownTimer_->invalidate();
    countdownTimer_ = scheduler_->scheduleRepeating(countdownInterval, [weak = weak_from_this()] {
        auto self = weak.lock();
        // Shown only by the next poll's state; no lower bound but the integer's own.
        if (self && self->pollingState_.kind() == WalletPollingState::Kind::scanAllowed &&
            self->secondsRemaining_ > std::numeric_limits<std::int64_t>::min())
            --self->secondsRemaining_;
    });
}

void WalletTrackingViewModel::scheduleNextPoll(std::chrono::milliseconds delay, std::uint64_t chain) {
    nextPollingTimer_ = scheduler_->scheduleOnce(delay, [weak = weak_from_this(), chain] {
        if (auto self = weak.lock())
            self->postPoll(chain);
    });
}

void WalletTrackingViewModel::scheduleDelayedCompletion(std::uint64_t chain) {
    delayedCompletionTimer_ = scheduler_->scheduleOnce(
        completionDelay,
        [weak = weak_from_this(), chain, sessionId = sessionId_, pollingSessionId = pollingSessionId_] {
            auto self = weak.lock();
            if (!self || !self->isCurrent(chain))
                return;
            self->invalidateTimers();
            self->ended_ = true;
            if (self->pollingCompleted)
                self->pollingCompleted(WalletTrackingResult::success(sessionId, pollingSessionId));
        });
}

void WalletTrackingViewModel::invalidateTimers() {
    for (const auto* timer : {&countdownTimer_, &delayedCompletionTimer_, &nextPollingTimer_}) {
        if (*timer)
            (*timer)->invalidate();
    }
}

void WalletTrackingViewModel::endWithFailure(AppError error) {
    invalidateTimers();
    ended_ = true;
    if (pollingCompleted)
        pollingCompleted(WalletTrackingResult::failure(std::move(error)));
}

void WalletTrackingViewModel::end() {
    ended_ = true;
    invalidateTimers();
}

AppError WalletTrackingViewModel::backendError(const std::string& code, const HalcyraError& error) const {
    return AppError(ErrorCodeCategory::backend, walletTrackingSourceFlow(reason_), code,
                    ErrorCodeWrap::message(error), error);
}
