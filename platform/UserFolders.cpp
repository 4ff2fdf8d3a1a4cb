#include "platform/UserFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

std::filesystem::path absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value == '/' ? std::filesystem::path(value) : std::filesystem::path();
}

bool isOwnFolder(const std::filesystem::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

}  // namespace

std::filesystem::path homeFolder() {
    if (auto home = absoluteVariable("HOME"); !home.empty())
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
        return entry->pw_dir;
    return "/";
}

std::filesystem::path configHome() {
    auto folder = absoluteVariable("XDG_CONFIG_HOME");
    return folder.empty() ? homeFolder() / ".config" : folder;
}

std::filesystem::path dataHome() {
    auto folder = absoluteVariable("XDG_DATA_HOME");
    return folder.empty() ? homeFolder() / ".local" / "share" : folder;
}

std::filesystem::path stateHome() {
    auto folder = absoluteVariable("XDG_STATE_HOME");
    return folder.empty() ? homeFolder() / ".local" / "state" : folder;
}

std::filesystem::path runtimeFolder() {
    if (auto folder = absoluteVariable("XDG_RUNTIME_DIR"); !folder.empty())
        return folder;
    // Only the login manager (root) makes folders in /run/user, so one owned by the user is the user's.
    std::filesystem::path login = "/run/user/" + std::to_string(::geteuid());
    if (isOwnFolder(login))
        return login;
    return stateHome() / "quorvane" / "runtime";
}

bool makePrivateFolder(const std::filesystem::path& folder) {
    if (folder.empty())
        return false;
    if (::mkdir(folder.c_str(), 0700) != 0) {
        if (errno == ENOENT) {
            auto parent = folder.parent_path();
            if (parent == folder || !makePrivateFolder(parent) ||
                (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST))
                return false;
        } else if (errno != EEXIST) {
            return false;
        }
    }
    // Opened without following a link, so that the checks and the narrowing apply to the folder itself.
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
              ((info.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ok;
}

}  // namespace platform
