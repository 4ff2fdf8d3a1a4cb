#include "AppSettings.h"

#include <utility>

#include "platform/qt/UserDefaults.h"

using platform::UserDefaults;

AppSettings::AppSettings(StartPrivacyPurgeIfEnabled startPrivacyPurgeIfEnabled)
    : startPrivacyPurgeIfEnabled_(std::move(startPrivacyPurgeIfEnabled)) {}

AuthenticationMethodSelectionMode AppSettings::authenticationMethodSelectionMode() const {
    auto stored = UserDefaults::standard().string(authenticationMethodSelectionModeKey);
    if (!stored)
        return AuthenticationMethodSelectionMode::manual;
    return authenticationMethodSelectionModeFromRawValue(*stored).value_or(
        AuthenticationMethodSelectionMode::manual);
}

void AppSettings::setAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode mode) {
    UserDefaults::standard().setString(authenticationMethodSelectionModeKey, rawValue(mode));
}

bool AppSettings::privacyModeEnabled() const {
    return UserDefaults::standard().boolean(privacyModeEnabledKey).value_or(false);
}

void AppSettings::setPrivacyModeEnabled(bool enabled) {
    UserDefaults::standard().setBoolean(privacyModeEnabledKey, enabled);
    if (startPrivacyPurgeIfEnabled_)
        startPrivacyPurgeIfEnabled_();
}

bool AppSettings::externalCertificateRetrievalDisabled() const {
    return UserDefaults::standard().boolean(externalCertificateRetrievalDisabledKey).value_or(false);
}

void AppSettings::setExternalCertificateRetrievalDisabled(bool disabled) {
    UserDefaults::standard().setBoolean(externalCertificateRetrievalDisabledKey, disabled);
}

bool AppSettings::hasOnboardedAtLeastOnce() const {
    return UserDefaults::standard().boolean(hasOnboardedAtLeastOnceKey).value_or(false);
}

void AppSettings::setHasOnboardedAtLeastOnce(bool onboarded) {
    UserDefaults::standard().setBoolean(hasOnboardedAtLeastOnceKey, onboarded);
}

std::optional<platform::Date> AppSettings::dateForNextSuggestedUpdateDialog() const {
    return UserDefaults::standard().date(dateForNextSuggestedUpdateDialogKey);
}

void AppSettings::setDateForNextSuggestedUpdateDialog(std::optional<platform::Date> date) {
    if (date)
        UserDefaults::standard().setDate(dateForNextSuggestedUpdateDialogKey, *date);
    else
        UserDefaults::standard().remove(dateForNextSuggestedUpdateDialogKey);
}
