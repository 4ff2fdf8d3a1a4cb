#include "platform/Workspace.h"

#include "platform/DetachedProgram.h"

namespace platform {

namespace {

struct OpenerSlot {
    std::mutex mutex;
    Workspace::Opener opener;

    static OpenerSlot& shared() {
        static OpenerSlot* slot = new OpenerSlot;  // never destroyed: usable while the process exits
        return *slot;
    }
};

}  // namespace

void Workspace::open(const std::string& url) {
    Opener opener;
    {
        auto& slot = OpenerSlot::shared();
        std::lock_guard lock(slot.mutex);
        opener = slot.opener;
    }
    if (opener)
        opener(url);
    else
        openWithXdgOpen(url);
}

void Workspace::setOpener(Opener opener) {
    auto& slot = OpenerSlot::shared();
    std::lock_guard lock(slot.mutex);
    slot.opener = std::move(opener);
}

void Workspace::openWithXdgOpen(const std::string& url) {
    // Output is discarded: a program's standard output may be its log file.
    spawnDetached(DetachedProgram{"xdg-open", {"xdg-open", url}, {}, {}, true});
}

WorkspaceRecorder::WorkspaceRecorder() : state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    Workspace::setOpener([weak](const std::string& url) {
        if (auto state = weak.lock()) {
            std::lock_guard lock(state->mutex);
            state->urls.push_back(url);
        }
    });
}

WorkspaceRecorder::~WorkspaceRecorder() {
    Workspace::setOpener(nullptr);
}

std::vector<std::string> WorkspaceRecorder::openedURLs() const {
    std::lock_guard lock(state_->mutex);
    return state_->urls;
}

}  // namespace platform
