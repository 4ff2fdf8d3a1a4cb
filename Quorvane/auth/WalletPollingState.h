#pragma once
// What the wallet sheet shows at a moment of the QR-code exchange, with the headline and the remaining-time
// line it derives. The QR image is shared, not copied, between states.
#include <QImage>
#include <cstdint>
#include <optional>
#include <string>

class WalletPollingState {
  public:
    enum class Kind {
        scanAllowed,    // the code is valid and waits to be scanned
        scanExpired,    // the code expired; its image stays for a faded display
        walletPending,  // scanned; the user confirms in the wallet app
        waiting,        // nothing to show yet
        success,
    };

    static WalletPollingState scanAllowed(std::optional<QImage> qrCodeImage, std::int64_t remainingTime) {
        return WalletPollingState(Kind::scanAllowed, std::move(qrCodeImage), remainingTime);
    }
    static WalletPollingState scanExpired(std::optional<QImage> qrCodeImage) {
        return WalletPollingState(Kind::scanExpired, std::move(qrCodeImage), 0);
    }
    static WalletPollingState walletPending(std::int64_t remainingTime) {
        return WalletPollingState(Kind::walletPending, std::nullopt, remainingTime);
    }
    static WalletPollingState waiting() { return WalletPollingState(Kind::waiting, std::nullopt, 0); }
    static WalletPollingState success() { return WalletPollingState(Kind::success, std::nullopt, 0); }

    Kind kind() const { return kind_; }
    // scanAllowed and scanExpired; nothing before the first image arrived.
    const std::optional<QImage>& qrCodeImage() const { return qrCodeImage_; }
    // Seconds; scanAllowed and walletPending. May be negative: the countdown has no lower bound.
    std::int64_t remainingTime() const { return remainingTime_; }

    // The headline: the scan instruction, the expiry or the wallet-app prompt; a single blank on success.
    std::string title() const;
    // The validity (scanAllowed) or the time left (walletPending); a single blank otherwise.
    std::string remainingTimeText() const;

    friend bool operator==(const WalletPollingState&, const WalletPollingState&) = default;

  private:
    WalletPollingState(Kind kind, std::optional<QImage> qrCodeImage, std::int64_t remainingTime)
        : kind_(kind), qrCodeImage_(std::move(qrCodeImage)), remainingTime_(remainingTime) {}

    Kind kind_;
    std::optional<QImage> qrCodeImage_;
    std::int64_t remainingTime_;
};

// Minutes and seconds, each padded to two digits: "05:00" for 300, "00:07" for 7, "100:00" for 6000, and a
// minus sign in front of a negative time ("-00:07").
std::string formattedRemainingTime(std::int64_t seconds);
