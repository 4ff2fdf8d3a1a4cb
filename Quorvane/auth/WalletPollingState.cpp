#include "WalletPollingState.h"

#include <cstdio>

#include "platform/qt/Localizable.h"

std::string WalletPollingState::title() const {
    switch (kind_) {
        case Kind::scanAllowed:
        case Kind::waiting:
            return L("Scan the QR code to continue");
        case Kind::scanExpired:
            return L("This code is expired.");
        case Kind::walletPending:
            return L("Please complete authentication on the Civaro app.");
        case Kind::success:
            break;
    }
    return " ";
}

std::string WalletPollingState::remainingTimeText() const {
    switch (kind_) {
        case Kind::scanAllowed:
            return L("This code is valid for %@ minutes.", formattedRemainingTime(remainingTime_));
        case Kind::walletPending:
            return L("%@ remaining.", formattedRemainingTime(remainingTime_));
        case Kind::scanExpired:
        case Kind::waiting:
        case Kind::success:
            break;
    }
    return " ";
}

std::string formattedRemainingTime(std::int64_t seconds) {
    // In unsigned arithmetic, so that the most negative value has a magnitude too.
    const bool negative = seconds < 0;
    const std::uint64_t magnitude = negative ? std::uint64_t(0) - static_cast<std::uint64_t>(seconds)
                                             : static_cast<std::uint64_t>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%s%02llu:%02llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 60),
                  static_cast<unsigned long long>(magnitude % 60));
    return text;
}
