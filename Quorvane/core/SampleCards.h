#pragma once
// The three sample cards of previews and tests. They are made afresh on each call: "now" is the moment of the
// call, which is why it is passed in (the scheduler's clock in tests). Every card has empty certificate data.
//
//   card  holder            national number  identifier  valid from              valid until
//   A     Lotte Vermeulen   12345678910      Lotte       distantPast             now + 3,650 days
//   B     Jonas Claessens   84122800153      Claessens   1984-12-28 (473,040,000 s after 1970) distantFuture
//   C     Marie Dubois      99999999910      Marie       1999-12-25 (946,080,000 s after 1970)   now + 14,600
//   days
#include <memory>
#include <vector>

#include "CardMock.h"

struct SampleCards {
    // The earliest and latest dates the sample cards use. platform::Date counts nanoseconds, so it spans only
    // the years 1677 to 2262; these are the first days of the first and last whole years in that range,
    // leaving room for the margins the session rules add or subtract.
    static platform::Date distantPast();
    static platform::Date distantFuture();

    static std::shared_ptr<CardMock> cardA(platform::Date now);
    static std::shared_ptr<CardMock> cardB();
    static std::shared_ptr<CardMock> cardC(platform::Date now);
    // A, B and C in this order.
    static std::vector<std::shared_ptr<pindle::Card>> all(platform::Date now);
};
