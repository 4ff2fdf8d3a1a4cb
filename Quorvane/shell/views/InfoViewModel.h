#pragma once
// The general message page of every flow: a message with a progress indicator while something runs, or with
// an OK button once there is something to acknowledge. On pages that allow it (errors), pressing the page
// copies the message to the clipboard and a toast confirms it; after a copy further copies are refused for
// 3 s, and the toast hides 3 s after the copy that showed it.
//
// Main thread only; made with std::make_shared (the toast's hide holds the model until it has run).
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

class InfoViewModel : public Observable, public std::enable_shared_from_this<InfoViewModel> {
  public:
    static constexpr std::chrono::milliseconds toastDuration{3000};
    static constexpr std::chrono::milliseconds copyBlockDuration{3000};

    InfoViewModel(std::string message, bool isWaiting, std::function<void()> confirmed,
                  bool allowMessageCopyWhenNotWaiting,
                  std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    ~InfoViewModel() override = default;
    InfoViewModel(const InfoViewModel&) = delete;
    InfoViewModel& operator=(const InfoViewModel&) = delete;

    const std::string message;
    const bool isWaiting;
    const std::function<void()> confirmed;
    const bool allowMessageCopyWhenNotWaiting;

    // Observed.
    bool isShowingPasteboardToast() const { return isShowingPasteboardToast_; }
    const std::shared_ptr<platform::Timer>& contentCopiedBlockTimer() const {
        return contentCopiedBlockTimer_;
    }
    bool isAllowedToCopyToPasteboard() const { return isAllowedToCopyToPasteboard_; }

    // Copies the message to the clipboard (replacing whatever it held) and shows the toast, unless the page
    // is waiting, does not allow copies, or a copy was made less than 3 s ago.
    void copyMessageToPasteboard();
    void showPasteboardToast();
    void blockFurtherPasteboardCopies();

  private:
    bool isShowingPasteboardToast_ = false;
    std::shared_ptr<platform::Timer> contentCopiedBlockTimer_;
    bool isAllowedToCopyToPasteboard_ = true;
    std::shared_ptr<platform::Scheduler> scheduler_;
};
