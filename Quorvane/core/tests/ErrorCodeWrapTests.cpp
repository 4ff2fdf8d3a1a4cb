#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/BundleInfo.h"
#include "platform/qt/SystemInfo.h"

using halcyra::HalcyraError;
using platform::BundleInfo;
using platform::SystemInfo;

namespace {

// A known platform line for the golden texts.
class ErrorCodeWrapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SystemInfo::setOperatingSystemVersionOverride(platform::OperatingSystemVersion{14, 5, 0});
        BundleInfo::overrideMainInfoDictionary(
            BundleInfo::Dictionary{{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "27"}});
    }
    void TearDown() override {
        SystemInfo::setOperatingSystemVersionOverride(std::nullopt);
        BundleInfo::resetMainInfoDictionary();
    }

    static std::string shown(const std::string& headline) {
        return headline + "\n\nIntel Linux 14.5.0 - App version 1.4 (27)\n";
    }
};

HalcyraError backend(int status, std::vector<std::string> supportIds, std::string message) {
    return HalcyraError::backendError(status, std::move(supportIds), std::move(message),
                                      "https://faq.test/x");
}

TEST_F(ErrorCodeWrapTest, GoldenTexts) {
    using Flow = ErrorCodeSourceFlow;
    using Category = ErrorCodeCategory;
    const auto network = HalcyraError::networkError(std::make_exception_ptr(std::runtime_error("offline")));
    struct Case {
        AppError error;
        std::string headline;
    };
    const Case cases[] = {
        {{Category::xpc, std::nullopt, "002", "Signature creation has timed out.", std::nullopt},
         "7002: Signature creation has timed out."},
        {{Category::app, std::nullopt, "000", "Something failed", std::nullopt}, "2000: Something failed"},
        {{Category::vexoConnect, Flow::signing, "001", "Bridge failed", std::nullopt}, "5001: Bridge failed"},
        {{Category::backend, std::nullopt, "", "", std::nullopt}, "1: "},
        // A server error without a source flow is ignored.
        {{Category::app, std::nullopt, "305", "Own message", backend(500, {"x"}, "Server message")},
         "2305: Own message"},
        // With both, the backend category, the flow digit, the server's message and (backend errors) the
        // status.
        {{Category::app, Flow::signing, "000", "Own message", HalcyraError::otherError("M")}, "13000: M"},
        {{Category::xpc, Flow::certificateRetrieval, "02", "Own", backend(500, {}, "Server down")},
         "1202-500: Server down"},
        {{Category::app, Flow::certificateRetrieval, "02", "Own", network},
         "1202: Network error, please verify your internet connection."},
        {{Category::app, Flow::onboarding, "305", "Own", backend(400, {"a", "b"}, "M")},
         "11305-400: M - a, b"},
        {{Category::app, Flow::accountInfo, "01", "Own", backend(404, {"only"}, "Gone")},
         "1401-404: Gone - only"},
        {{Category::app, Flow::meansHandling, "7", "Own", backend(503, {""}, "Busy")}, "157-503: Busy"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorCodeWrap::errorText(c.error), shown(c.headline)) << c.headline;

    EXPECT_EQ(ErrorCodeWrap::errorText(ErrorCodeCategory::app, "000", "M"), shown("2000: M"));
}

TEST_F(ErrorCodeWrapTest, MessagesOfServerErrors) {
    EXPECT_EQ(ErrorCodeWrap::message(backend(400, {}, "M")), "M");
    EXPECT_EQ(ErrorCodeWrap::message(backend(400, {"a", "b"}, "M")), "M - a, b");
    EXPECT_EQ(ErrorCodeWrap::message(backend(400, {"", ""}, "M")), "M - , ");
    EXPECT_EQ(ErrorCodeWrap::message(HalcyraError::otherError("Failed to decode API response")),
              "Failed to decode API response");
    EXPECT_EQ(ErrorCodeWrap::message(HalcyraError::networkError(nullptr)),
              "Network error, please verify your internet connection.");
}

TEST_F(ErrorCodeWrapTest, OnlyTheHeadlineIsLoggedAndOnlyWithALogger) {
    LogCapture capture;
    LoggerClient logger("ui");
    AppError error(ErrorCodeCategory::app, ErrorCodeSourceFlow::signing, "03", "Own",
                   backend(502, {"s1"}, "Bad gateway"));
    auto text = ErrorCodeWrap::errorText(error, &logger);
    EXPECT_EQ(text, shown("1303-502: Bad gateway - s1"));
    ErrorCodeWrap::errorText(error);
    ErrorCodeWrap::errorText(ErrorCodeCategory::xpc, "001", "Timed out");

    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::error);
    EXPECT_EQ(lines[0].message, "1303-502: Bad gateway - s1");
}

TEST_F(ErrorCodeWrapTest, AppVersionNeedsBothValues) {
    struct Case {
        std::optional<BundleInfo::Dictionary> dictionary;
        std::string expected;
    };
    const Case cases[] = {
        {BundleInfo::Dictionary{{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "27"}},
         "App version 1.4 (27)"},
        {BundleInfo::Dictionary{{"CFBundleShortVersionString", "1.4"}}, "Unknown app version"},
        {BundleInfo::Dictionary{{"CFBundleVersion", "27"}}, "Unknown app version"},
        {BundleInfo::Dictionary{}, "Unknown app version"},
        {std::nullopt, "Unknown app version"},
    };
    for (const auto& c : cases) {
        BundleInfo::overrideMainInfoDictionary(c.dictionary);
        EXPECT_EQ(ErrorCodeWrap::appVersionText(), c.expected);
    }
    BundleInfo::overrideMainInfoDictionary(std::nullopt);
    EXPECT_EQ(ErrorCodeWrap::errorText(ErrorCodeCategory::app, "1", "M"),
              "21: M\n\nIntel Linux 14.5.0 - Unknown app version\n");
}

TEST(ErrorCodeWrapLiveTest, PlatformLineFromTheRunningSystemAndTheBuild) {
    EXPECT_TRUE(std::regex_match(ErrorCodeWrap::operatingSystemVersionText(),
                                 std::regex("Linux [0-9]+\\.[0-9]+\\.[0-9]+")))
        << ErrorCodeWrap::operatingSystemVersionText();
    EXPECT_TRUE(std::regex_match(ErrorCodeWrap::appVersionText(),
                                 std::regex("App version [0-9]+(\\.[0-9]+)* \\(.+\\)")))
        << ErrorCodeWrap::appVersionText();
}

TEST(ErrorCodeCategoryTest, RawValues) {
    std::vector<int> categories, flows;
    for (int raw = -1; raw <= 8; ++raw) {
        if (auto category = errorCodeCategoryFromRawValue(raw)) {
            EXPECT_EQ(rawValue(*category), raw);
            categories.push_back(raw);
        }
        if (auto flow = errorCodeSourceFlowFromRawValue(raw)) {
            EXPECT_EQ(rawValue(*flow), raw);
            flows.push_back(raw);
        }
    }
    EXPECT_EQ(categories, (std::vector<int>{1, 2, 5, 7}));
    EXPECT_EQ(flows, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(errorCodeCategoryFromRawValue(5), ErrorCodeCategory::vexoConnect);
    EXPECT_EQ(errorCodeSourceFlowFromRawValue(2), ErrorCodeSourceFlow::certificateRetrieval);
}

}  // namespace
