#include "platform/DetachedProgram.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace platform {

namespace {

// Closes every descriptor from 3 up except the two kept ones (-1: none), so the program inherits nothing of
// the caller's but what it is meant to (the caller may be a large application holding sockets and files
// without close-on-exec). Runs between fork() and exec(): async-signal-safe calls only, no allocation.
void closeDescriptorsAbove2Except(int keepA, int keepB) {
    auto closeRange = [](unsigned first, unsigned last) {
#ifdef SYS_close_range
        if (first > last || ::syscall(SYS_close_range, first, last, 0) == 0)
            return true;
#endif
        (void)first;
        (void)last;
        return false;
    };
    unsigned low = static_cast<unsigned>(std::max(std::min(keepA, keepB), 2));
    unsigned high = static_cast<unsigned>(std::max(std::max(keepA, keepB), 2));
    bool closed =
        low == 2 ? (high == 2 ? closeRange(3, ~0U) : closeRange(3, high - 1) && closeRange(high + 1, ~0U))
                 : closeRange(3, low - 1) && closeRange(low + 1, high - 1) && closeRange(high + 1, ~0U);
    if (closed)
        return;
    auto kept = [keepA, keepB](int fd) { return fd == keepA || fd == keepB; };
    // Without close_range: close what /proc lists, read with getdents64 into a buffer on the stack. Closing
    // while reading may skip entries, so it reads again from the start until a pass closes nothing.
    int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        alignas(dirent64) char buffer[4096];
        for (bool closedOne = true; closedOne;) {
            closedOne = false;
            long n;
            while ((n = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer)) > 0) {
                for (long offset = 0; offset < n;) {
                    const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
                    offset += entry->d_reclen;
                    int fd = 0;
                    bool number = entry->d_name[0] != 0;
                    for (const char* c = entry->d_name; *c && number && fd < (1 << 24); ++c) {
                        number = *c >= '0' && *c <= '9';
                        fd = fd * 10 + (*c - '0');
                    }
                    if (number && fd >= 3 && fd != folder && !kept(fd)) {
                        ::close(fd);
                        closedOne = true;
                    }
                }
            }
            if (n < 0 || ::lseek(folder, 0, SEEK_SET) != 0)
                break;
        }
        ::close(folder);
        return;
    }
    rlimit limit{};
    int highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                      ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                      : 65536;
    for (int fd = 3; fd < highest; ++fd)
        if (!kept(fd))
            ::close(fd);
}

// Writes the process id as decimal text at the start of the file. Async-signal-safe.
void writeProcessID(int fd, pid_t pid) {
    char digits[24];
    int length = 0;
    for (auto value = static_cast<unsigned long>(pid); length == 0 || value > 0; value /= 10)
        digits[length++] = static_cast<char>('0' + value % 10);
    char text[24];
    for (int i = 0; i < length; ++i)
        text[i] = digits[length - 1 - i];
    [[maybe_unused]] auto written = ::pwrite(fd, text, static_cast<std::size_t>(length), 0);
}

// An output file, or /dev/null when it cannot be opened. Runs between fork() and exec().
int openOutput(const char* path) {
    // Never follow a link planted where the file belongs.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
    return fd >= 0 ? fd : ::open("/dev/null", O_WRONLY);
}

void makeParentFolder(const std::string& file) {
    if (file.empty())
        return;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
}

}  // namespace

bool spawnDetached(const DetachedProgram& program) {
    if (program.program.empty())
        return false;
    makeParentFolder(program.standardOutPath);
    makeParentFolder(program.standardErrorPath);
    // Everything the children need is prepared before forking: after fork() in a multi-threaded process only
    // async-signal-safe calls are allowed.
    std::vector<std::string> arguments = program.arguments;
    if (arguments.empty())
        arguments.push_back(program.program);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const char* out = program.standardOutPath.empty() ? "/dev/null" : program.standardOutPath.c_str();
    const char* err = program.standardErrorPath.empty() ? nullptr : program.standardErrorPath.c_str();
    const char* file = program.program.c_str();
    const bool searchPath = program.searchPath;
    const int instanceLock = program.instanceLock;

    int status[2];  // reports an exec failure; closed on a successful exec
    if (::pipe2(status, O_CLOEXEC) != 0)
        return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(status[0]);
        ::close(status[1]);
        return false;
    }
    if (child == 0) {
        ::close(status[0]);
        // The report pipe and the lock must survive the redirections below even when the caller has no
        // standard streams.
        int report = status[1] >= 3 ? status[1] : ::fcntl(status[1], F_DUPFD_CLOEXEC, 3);
        int lock = instanceLock < 0    ? -1
                   : instanceLock >= 3 ? instanceLock
                                       : ::fcntl(instanceLock, F_DUPFD_CLOEXEC, 3);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild > 0 && lock >= 0)
                writeProcessID(lock, grandchild);
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        sigset_t all;
        sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        int in = ::open("/dev/null", O_RDONLY);
        int o = openOutput(out);
        int e = err ? openOutput(err) : -1;
        if (in < 0 || o < 0 || (err && e < 0)) {
            int code = errno;
            [[maybe_unused]] auto n = ::write(report, &code, sizeof code);
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e >= 0 ? e : o, 2);
        if (lock >= 0)
            ::fcntl(lock, F_SETFD, 0);  // held by the program for as long as it lives
        closeDescriptorsAbove2Except(report, lock);
        if (searchPath)
            ::execvp(file, argv.data());
        else
            ::execv(file, argv.data());
        int code = errno;
        [[maybe_unused]] auto n = ::write(report, &code, sizeof code);
        ::_exit(127);
    }
    ::close(status[1]);
    int code = 0;
    ssize_t n;
    do {
        n = ::read(status[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    ::close(status[0]);
    int ignored;
    while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
    }
    return n == 0;
}

}  // namespace platform
