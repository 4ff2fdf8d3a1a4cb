#include "platform/AtomicWrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {

namespace {

// mkstemp replaces "XXXXXX" with letters and digits.
constexpr std::string_view randomPart = "XXXXXX";

bool isTemporaryName(std::string_view name, std::string_view prefix) {
    return name.size() == prefix.size() + randomPart.size() && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c); });
}

// A new temporary file in the folder, locked by this process; -1 with errno set on failure.
int createLockedTemporaryFile(const std::filesystem::path& folder, std::string_view prefix,
                              std::string& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        path = (folder / (std::string(prefix) + std::string(randomPart))).native();
        int fd = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        // Where the file system has no locks, no cleaner can take the file either.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // A cleaner may have taken the file between its creation and the lock: then it has no name left.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Gives the temporary file `fd` (at `temp`) mode 0600, writes the contents, flushes it, renames it over
// `target` and closes it. On failure the temporary file is removed and errno holds the error of the step that
// failed.
bool replaceWithTemporaryFile(int fd, const std::string& temp, const std::filesystem::path& target,
                              std::string_view contents) {
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < contents.size();) {
        ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    // Renamed while still open, so that a lock on the file lasts as long as its temporary name. Once fsync
    // has succeeded, closing cannot lose the contents.
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    int code = errno;
    if (!ok)
        ::unlink(temp.c_str());
    ::close(fd);
    errno = code;
    return ok;
}

}  // namespace

void removeAbandonedTemporaryFiles(const std::filesystem::path& folder, std::string_view temporaryPrefix) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const auto& path = it->path();
        if (!isTemporaryName(path.filename().native(), temporaryPrefix))
            continue;
        // Never through a link; O_NONBLOCK keeps a FIFO of that name from blocking the open.
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // The lock is free only when the writer is gone. The name must still be that file's: a writer that
        // finished meanwhile has renamed it into place.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            ::unlink(path.c_str());
        ::close(fd);
    }
}

bool replaceFileAtomically(const std::filesystem::path& target, std::string_view temporaryPrefix,
                           std::string_view contents) {
    const auto folder = target.parent_path();
    removeAbandonedTemporaryFiles(folder, temporaryPrefix);
    std::string temp;
    int fd = createLockedTemporaryFile(folder, temporaryPrefix, temp);
    if (fd < 0 || !replaceWithTemporaryFile(fd, temp, target, contents))
        return false;
    syncFolder(folder);
    return true;
}

}  // namespace platform
