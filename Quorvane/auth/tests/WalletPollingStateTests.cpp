// The wallet sheet's headline and remaining-time line per state, and the minutes-and-seconds format.
#include <gtest/gtest.h>

#include "Quorvane/auth/WalletPollingState.h"

namespace {

TEST(WalletPollingState, HeadlineAndTimeLinePerState) {
    QImage code(8, 8, QImage::Format_Grayscale8);
    code.fill(0);
    struct Case {
        const char* label;
        WalletPollingState state;
        const char* title;
        const char* time;
    };
    const Case cases[] = {
        {"valid code", WalletPollingState::scanAllowed(code, 300), "Scan the QR code to continue",
         "This code is valid for 05:00 minutes."},
        {"valid, no image yet", WalletPollingState::scanAllowed(std::nullopt, 7),
         "Scan the QR code to continue", "This code is valid for 00:07 minutes."},
        {"counted down below zero", WalletPollingState::scanAllowed(code, -3), "Scan the QR code to continue",
         "This code is valid for -00:03 minutes."},
        {"pending", WalletPollingState::walletPending(59),
         "Please complete authentication on the Civaro app.", "00:59 remaining."},
        {"expired", WalletPollingState::scanExpired(code), "This code is expired.", " "},
        {"waiting", WalletPollingState::waiting(), "Scan the QR code to continue", " "},
        {"success", WalletPollingState::success(), " ", " "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.state.title(), c.title);
        EXPECT_EQ(c.state.remainingTimeText(), c.time);
    }
}

TEST(WalletPollingState, MinutesAndSecondsPaddedToTwoDigits) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "00:00"},     {7, "00:07"},
        {59, "00:59"},    {60, "01:00"},
        {300, "05:00"},   {3599, "59:59"},
        {6000, "100:00"}, {-7, "-00:07"},
        {-61, "-01:01"},  {INT64_MIN, "-153722867280912930:08"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(formattedRemainingTime(seconds), text) << seconds;
}

TEST(WalletPollingState, StatesCompareByImageContentKindAndTime) {
    QImage a(8, 8, QImage::Format_Grayscale8);
    a.fill(0);
    QImage b = a.copy();  // the same pixels in an image of its own
    QImage c = a.copy();
    c.setPixel(0, 0, 0xFFFFFFFF);
    EXPECT_EQ(WalletPollingState::scanAllowed(a, 10), WalletPollingState::scanAllowed(b, 10));
    EXPECT_NE(WalletPollingState::scanAllowed(a, 10), WalletPollingState::scanAllowed(c, 10));
    EXPECT_NE(WalletPollingState::scanAllowed(a, 10), WalletPollingState::scanAllowed(a, 9));
    EXPECT_NE(WalletPollingState::scanAllowed(a, 10), WalletPollingState::scanExpired(a));
    EXPECT_NE(WalletPollingState::scanExpired(a), WalletPollingState::scanExpired(std::nullopt));
}

}  // namespace
