#include "SampleCards.h"

#include <chrono>

using std::chrono::seconds;

platform::Date SampleCards::distantPast() {
    return std::chrono::sys_days{std::chrono::year{1678} / std::chrono::January / 1};
}

platform::Date SampleCards::distantFuture() {
    return std::chrono::sys_days{std::chrono::year{2262} / std::chrono::January / 1};
}

std::shared_ptr<CardMock> SampleCards::cardA(platform::Date now) {
    return std::make_shared<CardMock>("Lotte", "Vermeulen", "12345678910", "Lotte", distantPast(),
                                      now + seconds(315'360'000), platform::Bytes{});
}

std::shared_ptr<CardMock> SampleCards::cardB() {
    return std::make_shared<CardMock>("Jonas", "Claessens", "84122800153", "Claessens",
                                      platform::Date(seconds(473'040'000)), distantFuture(),
                                      platform::Bytes{});
}

std::shared_ptr<CardMock> SampleCards::cardC(platform::Date now) {
    return std::make_shared<CardMock>("Marie", "Dubois", "99999999910", "Marie",
                                      platform::Date(seconds(946'080'000)), now + seconds(1'261'440'000),
                                      platform::Bytes{});
}

std::vector<std::shared_ptr<pindle::Card>> SampleCards::all(platform::Date now) {
    return {cardA(now), cardB(), cardC(now)};
}
