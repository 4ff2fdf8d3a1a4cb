#include "InfoViewModel.h"

#include "Pasteboard.h"

InfoViewModel::InfoViewModel(std::string message, bool isWaiting, std::function<void()> confirmed,
                             bool allowMessageCopyWhenNotWaiting,
                             std::shared_ptr<platform::Scheduler> scheduler)
    : message(std::move(message)),
      isWaiting(isWaiting),
      confirmed(std::move(confirmed)),
      allowMessageCopyWhenNotWaiting(allowMessageCopyWhenNotWaiting),
      scheduler_(std::move(scheduler)) {}

void InfoViewModel::copyMessageToPasteboard() {
    if (!isAllowedToCopyToPasteboard_ || isWaiting || !allowMessageCopyWhenNotWaiting)
        return;
    blockFurtherPasteboardCopies();
    showPasteboardToast();
    Pasteboard::general().setString(message);
}

void InfoViewModel::blockFurtherPasteboardCopies() {
    setObserved(isAllowedToCopyToPasteboard_, false);
    if (contentCopiedBlockTimer_)
        contentCopiedBlockTimer_->invalidate();
    std::weak_ptr<InfoViewModel> weakSelf = weak_from_this();
    setObserved(contentCopiedBlockTimer_, scheduler_->scheduleOnce(copyBlockDuration, [weakSelf] {
        if (auto self = weakSelf.lock())
            self->setObserved(self->isAllowedToCopyToPasteboard_, true);
    }));
}

void InfoViewModel::showPasteboardToast() {
    setObserved(isShowingPasteboardToast_, true);
    // Each copy hides the toast 3 s later; an earlier copy's hide still runs at its own time.
    scheduler_->scheduleOnce(toastDuration, [self = shared_from_this()] {
        self->setObserved(self->isShowingPasteboardToast_, false);
    });
}
