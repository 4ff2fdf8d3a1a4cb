#pragma once
// One release in the update dialog, and the dialog's three actions. Shown inline in the settings screen (no
// cancel path, so no way to postpone or dismiss) or as a sheet over the choice of authentication method.
#include <functional>
#include <memory>
#include <optional>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

class AppVersionsViewModel : public Observable {
  public:
    // The reminder is 30 calendar days ahead in the user's calendar.
    static constexpr int reminderDays = 30;

    AppVersionsViewModel(std::optional<Release> release, bool inline_, std::function<void()> cancelRequested,
                         std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());

    const std::optional<Release> release;
    const bool inline_;
    const std::function<void()> cancelRequested;

    // Stores now + 30 calendar days as the date before which no suggested update is offered again, then
    // closes the sheet.
    void remindInThirtyDays();
    // Opens the release's download page in the browser; the dialog stays.
    void downloadUpdate();
    // Closes the sheet; nothing is stored, so a suggested update comes back next time.
    void cancel();

  private:
    std::shared_ptr<platform::Scheduler> scheduler_;
    Dependency<AppSettingsKey> _appSettings;
};
