// The answer joins the callback as a query item of its own, whatever the callback's query already holds.
#include <gtest/gtest.h>

#include <QUrl>
#include <QUrlQuery>

#include "Quorvane/core/BulkSigningCallback.h"

namespace {

TEST(BulkSigningCallback, TheAnswerIsTheLastQueryItem) {
    const std::pair<std::string, std::string> cases[] = {
        {"https://example.org/cb", "https://example.org/cb?error=Fordidden"},
        {"https://example.org/cb?", "https://example.org/cb?error=Fordidden"},
        {"https://example.org/cb?id=7&", "https://example.org/cb?id=7&error=Fordidden"},
        {"https://example.org/cb?id=7#top", "https://example.org/cb?id=7&error=Fordidden#top"},
        {"https://example.org/cb#why?", "https://example.org/cb?error=Fordidden#why?"},
        // A "?" that ends the query belongs to its last item.
        {"https://example.org/cb?q=why?", "https://example.org/cb?q=why?&error=Fordidden"},
        {"https://example.org?done?", "https://example.org?done?&error=Fordidden"},
    };
    for (const auto& [callback, expected] : cases) {
        const std::string answer = bulksigning::callbackWithQueryItem(callback, "error", "Fordidden");
        EXPECT_EQ(answer, expected) << callback;
        const auto items = QUrlQuery(QUrl(QString::fromStdString(answer))).queryItems();
        ASSERT_FALSE(items.isEmpty()) << callback;
        EXPECT_EQ(items.back(), qMakePair(QString("error"), QString("Fordidden"))) << callback;
    }
}

}  // namespace
