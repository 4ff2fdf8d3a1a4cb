#include "platform/AtomicWrite.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

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
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        int code = errno;
        ::unlink(temp.c_str());
        errno = code;
    }
    return ok;
}

}  // namespace platform
