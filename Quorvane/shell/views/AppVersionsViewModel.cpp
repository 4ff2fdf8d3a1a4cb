#include "AppVersionsViewModel.h"

#include <QDateTime>

#include "Quorvane/core/AppSettings.h"
#include "platform/Workspace.h"

AppVersionsViewModel::AppVersionsViewModel(std::optional<Release> release, bool inline_,
                                           std::function<void()> cancelRequested,
                                           std::shared_ptr<platform::Scheduler> scheduler)
    : release(std::move(release)),
      inline_(inline_),
      cancelRequested(std::move(cancelRequested)),
      scheduler_(std::move(scheduler)) {}

void AppVersionsViewModel::remindInThirtyDays() {
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(scheduler_->now().time_since_epoch());
    // Days of the local calendar, not 30 × 24 hours: the same time of day, across a change of daylight time.
    const QDateTime later = QDateTime::fromMSecsSinceEpoch(now.count()).addDays(reminderDays);
    _appSettings->setDateForNextSuggestedUpdateDialog(
        platform::Date(duration_cast<platform::Date::duration>(milliseconds(later.toMSecsSinceEpoch()))));
    if (auto cancel = cancelRequested)
        cancel();
}

void AppVersionsViewModel::downloadUpdate() {
    if (release)
        platform::Workspace::open(preferredLink(*release).toString(QUrl::FullyEncoded).toStdString());
}

void AppVersionsViewModel::cancel() {
    if (auto cancel = cancelRequested)
        cancel();
}
