#include <gtest/gtest.h>

#include "Quorvane/core/AppOpenMode.h"

namespace {

BulkSigningRequest bulkRequest(const std::string& hash) {
    return BulkSigningRequest{"1", "t", {{hash, std::nullopt}}};
}

TEST(AppOpenMode, EqualityIsStructural) {
    const AppOpenMode modes[] = {
        AppOpenMode::getCertificate(true),
        AppOpenMode::getCertificate(false),
        AppOpenMode::sign(SigningRequestType::overXPC()),
        AppOpenMode::sign(SigningRequestType::overXPC(platform::Bytes{1, 2})),
        AppOpenMode::sign(SigningRequestType::bulk(bulkRequest("AA=="), "https://a.example/cb")),
        AppOpenMode::sign(SigningRequestType::bulk(bulkRequest("AA=="), "https://b.example/cb")),
        AppOpenMode::sign(SigningRequestType::bulk(bulkRequest("AQ=="), "https://a.example/cb")),
        AppOpenMode::menu(),
        AppOpenMode::accountInfo(),
        AppOpenMode::settings(),
    };
    for (std::size_t i = 0; i < std::size(modes); ++i)
        for (std::size_t j = 0; j < std::size(modes); ++j)
            EXPECT_EQ(modes[i] == modes[j], i == j)
                << modes[i].description() << " / " << modes[j].description();
    EXPECT_EQ(AppOpenMode::sign(SigningRequestType::bulk(bulkRequest("AA=="), "https://a.example/cb")),
              modes[4]);
}

TEST(AppOpenMode, DescriptionNamesTheCaseButNoHash) {
    EXPECT_EQ(AppOpenMode::getCertificate(false).description(), "getCertificate(showResult: false)");
    EXPECT_EQ(AppOpenMode::menu().description(), "menu");
    EXPECT_EQ(AppOpenMode::sign(SigningRequestType::overXPC()).description(), "sign(overXPC(hash: none))");
    auto bulk = AppOpenMode::sign(SigningRequestType::bulk(bulkRequest("c2VjcmV0"), "https://a.example/cb"));
    EXPECT_EQ(bulk.description(), "sign(bulk(1 hashes, callback: https://a.example/cb))");
}

}  // namespace
