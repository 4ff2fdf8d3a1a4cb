#pragma once
// The app's typed view of its preferences. It keeps nothing itself: every property reads the standard user
// defaults when asked and writes them (synced at once) when set, so a value written anywhere is seen
// everywhere.
#include <functional>
#include <optional>

#include "AuthenticationMethodSelectionMode.h"
#include "platform/Date.h"

class AppSettings {
  public:
    // Switching privacy mode hands over to the session store's startPrivacyPurgeIfEnabled(), which starts the
    // 900 s privacy timer when the mode is on. The dependency wiring passes a hook that reads the session
    // store on use; without one, switching privacy mode only stores the value.
    using StartPrivacyPurgeIfEnabled = std::function<void()>;

    static constexpr const char* authenticationMethodSelectionModeKey = "authenticationMethodSelectionMode";
    static constexpr const char* privacyModeEnabledKey = "privacyModeEnabled";
    static constexpr const char* externalCertificateRetrievalDisabledKey =
        "externalCertificateRetrievalDisabled";
    static constexpr const char* hasOnboardedAtLeastOnceKey = "hasOnboardedAtLeastOnce";
    static constexpr const char* dateForNextSuggestedUpdateDialogKey = "dateForNextSuggestedUpdateDialog";

    explicit AppSettings(StartPrivacyPurgeIfEnabled startPrivacyPurgeIfEnabled = {});

    // `manual` when nothing is stored or the stored text is not exactly a raw value.
    AuthenticationMethodSelectionMode authenticationMethodSelectionMode() const;
    void setAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode mode);

    bool privacyModeEnabled() const;
    // Stores the value, then asks the session store to start its privacy timer (it does nothing when the new
    // value is false; a running timer is not stopped).
    void setPrivacyModeEnabled(bool enabled);

    bool externalCertificateRetrievalDisabled() const;
    void setExternalCertificateRetrievalDisabled(bool disabled);

    bool hasOnboardedAtLeastOnce() const;
    void setHasOnboardedAtLeastOnce(bool onboarded);

    // None when nothing is stored or the stored value is not a date. Setting none removes the key.
    std::optional<platform::Date> dateForNextSuggestedUpdateDialog() const;
    void setDateForNextSuggestedUpdateDialog(std::optional<platform::Date> date);

  private:
    StartPrivacyPurgeIfEnabled startPrivacyPurgeIfEnabled_;
};
