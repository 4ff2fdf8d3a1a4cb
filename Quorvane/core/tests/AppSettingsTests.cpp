#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "platform/qt/UserDefaults.h"

using platform::UserDefaults;

namespace {

class AppSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { UserDefaults::standard().clear(); }
    void TearDown() override { UserDefaults::standard().clear(); }

    static std::string fileText() {
        std::ifstream in(UserDefaults::standard().file());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(AppSettingsTest, ModeReadsOnlyExactRawValues) {
    struct Case {
        const char* stored;
        AuthenticationMethodSelectionMode expected;
    };
    const Case cases[] = {
        {"manual", AuthenticationMethodSelectionMode::manual},
        {"alwaysEID", AuthenticationMethodSelectionMode::alwaysEID},
        {"alwaysWallet", AuthenticationMethodSelectionMode::alwaysWallet},
        {"alwayseid", AuthenticationMethodSelectionMode::manual},
        {"ALWAYSWALLET", AuthenticationMethodSelectionMode::manual},
        {" alwaysEID", AuthenticationMethodSelectionMode::manual},
        {"", AuthenticationMethodSelectionMode::manual},
        {"wallet", AuthenticationMethodSelectionMode::manual},
    };
    AppSettings settings;
    EXPECT_EQ(settings.authenticationMethodSelectionMode(), AuthenticationMethodSelectionMode::manual);
    for (const auto& c : cases) {
        UserDefaults::standard().setString(AppSettings::authenticationMethodSelectionModeKey, c.stored);
        EXPECT_EQ(settings.authenticationMethodSelectionMode(), c.expected)
            << "stored \"" << c.stored << "\"";
    }
    // A value of another type under the key reads as the default too.
    UserDefaults::standard().setDate(AppSettings::authenticationMethodSelectionModeKey,
                                     std::chrono::system_clock::now());
    EXPECT_EQ(settings.authenticationMethodSelectionMode(), AuthenticationMethodSelectionMode::manual);
}

TEST_F(AppSettingsTest, ModeIsStoredAsItsRawValueAndSeenByEveryInstance) {
    AppSettings writer;
    AppSettings reader;
    for (auto mode : allAuthenticationMethodSelectionModes) {
        writer.setAuthenticationMethodSelectionMode(mode);
        EXPECT_EQ(UserDefaults::standard().string("authenticationMethodSelectionMode"),
                  std::string(rawValue(mode)));
        EXPECT_EQ(reader.authenticationMethodSelectionMode(), mode);
    }
}

TEST(AuthenticationMethodSelectionModeTest, RawValuesTitlesAndOrder) {
    std::vector<std::string> raws, titles;
    for (auto mode : allAuthenticationMethodSelectionModes) {
        raws.emplace_back(rawValue(mode));
        titles.push_back(title(mode));
        EXPECT_EQ(authenticationMethodSelectionModeFromRawValue(rawValue(mode)), mode);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"manual", "alwaysEID", "alwaysWallet"}));
    EXPECT_EQ(titles, (std::vector<std::string>{"Ask every time", "Always use eID", "Always use Civaro"}));
    EXPECT_EQ(authenticationMethodSelectionModeFromRawValue("Manual"), std::nullopt);
}

TEST_F(AppSettingsTest, BooleansDefaultToFalseAndAreWrittenThrough) {
    AppSettings settings;
    EXPECT_FALSE(settings.privacyModeEnabled());
    EXPECT_FALSE(settings.externalCertificateRetrievalDisabled());
    EXPECT_FALSE(settings.hasOnboardedAtLeastOnce());

    settings.setPrivacyModeEnabled(true);
    settings.setExternalCertificateRetrievalDisabled(true);
    settings.setHasOnboardedAtLeastOnce(true);
    // On disk at once, under the exact keys.
    auto text = fileText();
    EXPECT_NE(text.find("privacyModeEnabled=true"), std::string::npos) << text;
    EXPECT_NE(text.find("externalCertificateRetrievalDisabled=true"), std::string::npos) << text;
    EXPECT_NE(text.find("hasOnboardedAtLeastOnce=true"), std::string::npos) << text;

    AppSettings other;
    EXPECT_TRUE(other.privacyModeEnabled());
    EXPECT_TRUE(other.externalCertificateRetrievalDisabled());
    EXPECT_TRUE(other.hasOnboardedAtLeastOnce());

    other.setHasOnboardedAtLeastOnce(false);
    EXPECT_FALSE(settings.hasOnboardedAtLeastOnce());
}

TEST_F(AppSettingsTest, ReadsSeeAChangeMadeToTheFileByAnotherWriter) {
    AppSettings settings;
    settings.setPrivacyModeEnabled(false);
    EXPECT_FALSE(settings.privacyModeEnabled());
    {
        std::ofstream out(UserDefaults::standard().file(), std::ios::trunc);
        out << "[General]\nprivacyModeEnabled=true\nhasOnboardedAtLeastOnce=true\n";
    }
    EXPECT_TRUE(settings.privacyModeEnabled());
    EXPECT_TRUE(settings.hasOnboardedAtLeastOnce());
}

TEST_F(AppSettingsTest, SwitchingPrivacyModeStoresThenStartsThePrivacyPurge) {
    std::vector<bool> modeSeenByHook;
    AppSettings* self = nullptr;
    AppSettings settings([&] { modeSeenByHook.push_back(self->privacyModeEnabled()); });
    self = &settings;

    settings.setPrivacyModeEnabled(true);
    settings.setPrivacyModeEnabled(false);
    settings.setPrivacyModeEnabled(true);
    // The session store decides what to do with the mode; it is asked every time, after the value is stored.
    EXPECT_EQ(modeSeenByHook, (std::vector<bool>{true, false, true}));

    // Other settings do not touch the privacy purge.
    settings.setHasOnboardedAtLeastOnce(true);
    settings.setExternalCertificateRetrievalDisabled(true);
    settings.setAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode::alwaysEID);
    settings.setDateForNextSuggestedUpdateDialog(std::chrono::system_clock::now());
    EXPECT_EQ(modeSeenByHook.size(), 3u);
}

TEST_F(AppSettingsTest, DateForNextSuggestedUpdateDialog) {
    AppSettings settings;
    EXPECT_EQ(settings.dateForNextSuggestedUpdateDialog(), std::nullopt);

    auto inThirtyDays = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now()) +
                        std::chrono::hours(24 * 30);
    settings.setDateForNextSuggestedUpdateDialog(inThirtyDays);
    EXPECT_EQ(AppSettings().dateForNextSuggestedUpdateDialog(), inThirtyDays);

    settings.setDateForNextSuggestedUpdateDialog(std::nullopt);
    EXPECT_EQ(settings.dateForNextSuggestedUpdateDialog(), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(AppSettings::dateForNextSuggestedUpdateDialogKey));

    // Something that is not a date reads as none, whatever its text looks like.
    for (const char* text : {"2030-01-01T00:00:00Z", "1893456000", ""}) {
        UserDefaults::standard().setString(AppSettings::dateForNextSuggestedUpdateDialogKey, text);
        EXPECT_EQ(settings.dateForNextSuggestedUpdateDialog(), std::nullopt) << text;
    }
    UserDefaults::standard().setBoolean(AppSettings::dateForNextSuggestedUpdateDialogKey, true);
    EXPECT_EQ(settings.dateForNextSuggestedUpdateDialog(), std::nullopt);
}

TEST_F(AppSettingsTest, ClearingTheDomainBringsBackEveryDefault) {
    AppSettings settings;
    settings.setAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode::alwaysWallet);
    settings.setPrivacyModeEnabled(true);
    settings.setExternalCertificateRetrievalDisabled(true);
    settings.setHasOnboardedAtLeastOnce(true);
    settings.setDateForNextSuggestedUpdateDialog(std::chrono::system_clock::now());

    UserDefaults::standard().clear();

    EXPECT_EQ(settings.authenticationMethodSelectionMode(), AuthenticationMethodSelectionMode::manual);
    EXPECT_FALSE(settings.privacyModeEnabled());
    EXPECT_FALSE(settings.externalCertificateRetrievalDisabled());
    EXPECT_FALSE(settings.hasOnboardedAtLeastOnce());
    EXPECT_EQ(settings.dateForNextSuggestedUpdateDialog(), std::nullopt);
}

}  // namespace
