#pragma once
// Opening URLs with the desktop's handler ("quorvane://" starts or raises the app). The result is not
// reported: callers open and go on. Plain C++; Qt programs may install their own opener (platform/qt).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class Workspace {
  public:
    using Opener = std::function<void(const std::string& url)>;

    static void open(const std::string& url);
    // Replaces the process-wide opener; nullptr restores the default (xdg-open).
    static void setOpener(Opener opener);
    // The default: runs "xdg-open <url>" detached, with its output discarded.
    static void openWithXdgOpen(const std::string& url);
};

// Records the URLs opened while it lives instead of opening them (tests).
class WorkspaceRecorder {
  public:
    WorkspaceRecorder();
    ~WorkspaceRecorder();
    WorkspaceRecorder(const WorkspaceRecorder&) = delete;
    WorkspaceRecorder& operator=(const WorkspaceRecorder&) = delete;

    std::vector<std::string> openedURLs() const;

  private:
    struct State {
        std::mutex mutex;
        std::vector<std::string> urls;
    };
    std::shared_ptr<State> state_;
};

}  // namespace platform
