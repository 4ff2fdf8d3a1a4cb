#include "platform/DetachedProgram.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

extern char** environ;

namespace platform {

namespace {

// A descriptor closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// A close-on-exec copy of the descriptor at `lowest` or above, so that placing the standard streams of the
// program cannot overwrite it (the caller may have no standard streams); -1 when there is none.
int above(int fd, int lowest) {
    if (fd < 0 || fd >= lowest)
        return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, lowest);
    ::close(fd);
    return moved;
}

// An output file, or /dev/null when it cannot be opened.
int openOutput(const std::string& path) {
    // Never follow a link planted where the file belongs.
    int fd = path.empty()
                 ? -1
                 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return above(fd, 3);
}

void makeParentFolder(const std::string& file) {
    if (file.empty())
        return;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
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

// What the go-between needs, prepared by the caller; it writes its result into it.
struct Launch {
    const char* file;
    char* const* argv;
    char* const* envp;
    const posix_spawn_file_actions_t* actions;
    const posix_spawnattr_t* attributes;
    bool searchPath;
    int instanceLock;
    int error = ENOSYS;
};

// The go-between: a child that shares the caller's memory (nothing of the caller is copied, whatever its
// size) while the calling thread waits for it to end. It starts a session, starts the program in it and ends,
// which leaves the program to the system's reaper. Async-signal-safe calls only; all signals stay blocked.
int goBetween(void* argument) {
    auto* launch = static_cast<Launch*>(argument);
    ::setsid();
    pid_t pid = 0;
    launch->error = launch->searchPath ? ::posix_spawnp(&pid, launch->file, launch->actions,
                                                        launch->attributes, launch->argv, launch->envp)
                                       : ::posix_spawn(&pid, launch->file, launch->actions,
                                                       launch->attributes, launch->argv, launch->envp);
    if (launch->error == 0 && launch->instanceLock >= 0)
        writeProcessID(launch->instanceLock, pid);
    return 0;
}

// The go-between's stack: its own calls and posix_spawn's (which maps another stack for the program).
constexpr std::size_t goBetweenStackSize = 256 * 1024;

using CloneFunction = int (*)(int (*)(void*), void*, int, void*, ...);

// ThreadSanitizer takes every clone for a fork and resets its own state in the child as after a fork; the
// go-between shares the caller's memory, so that reset would be the caller's. Under it, call the C library's
// clone directly.
CloneFunction systemClone() {
#if defined(__SANITIZE_THREAD__)
    static const CloneFunction libraryClone = [] {
        void* library = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
        return library ? reinterpret_cast<CloneFunction>(::dlsym(library, "clone")) : nullptr;
    }();
    if (libraryClone)
        return libraryClone;
#endif
    return ::clone;
}

// Runs the go-between and waits until it has ended; false when it could not be run.
bool runGoBetween(Launch& launch) {
    void* stack = ::mmap(nullptr, goBetweenStackSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE, -1, 0);
    if (stack == MAP_FAILED)
        return false;
    // No handler of the caller's may run in the go-between, which shares the caller's memory.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_t child = systemClone()(goBetween, static_cast<char*>(stack) + goBetweenStackSize,
                                CLONE_VM | CLONE_VFORK | SIGCHLD, &launch);
    if (child > 0) {
        int ignored;
        while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, goBetweenStackSize);
    return child > 0;
}

// posix_spawn's settings, freed when they go.
struct SpawnSettings {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSettings() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

}  // namespace

bool spawnDetached(const DetachedProgram& program) {
    if (program.program.empty())
        return false;
    makeParentFolder(program.standardOutPath);
    makeParentFolder(program.standardErrorPath);
    std::vector<std::string> arguments = program.arguments;
    if (arguments.empty())
        arguments.push_back(program.program);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Descriptor in(above(::open("/dev/null", O_RDONLY | O_CLOEXEC), 3));
    Descriptor out(openOutput(program.standardOutPath));
    Descriptor err(program.standardErrorPath.empty() ? -1 : openOutput(program.standardErrorPath));
    // The program holds its instance lock for as long as it lives, as descriptor 3.
    Descriptor lock(program.instanceLock < 0 ? -1 : ::fcntl(program.instanceLock, F_DUPFD_CLOEXEC, 4));
    if (in.get() < 0 || out.get() < 0 || (!program.standardErrorPath.empty() && err.get() < 0) ||
        (program.instanceLock >= 0 && lock.get() < 0))
        return false;

    SpawnSettings settings;
    auto* actions = &settings.actions;
    // The standard streams first: the descriptors above 2 that they come from are closed after.
    bool prepared =
        ::posix_spawn_file_actions_adddup2(actions, in.get(), 0) == 0 &&
        ::posix_spawn_file_actions_adddup2(actions, out.get(), 1) == 0 &&
        ::posix_spawn_file_actions_adddup2(actions, err.get() >= 0 ? err.get() : out.get(), 2) == 0 &&
        (lock.get() < 0 || ::posix_spawn_file_actions_adddup2(actions, lock.get(), 3) == 0) &&
        ::posix_spawn_file_actions_addclosefrom_np(actions, lock.get() < 0 ? 3 : 4) == 0;
    // Signals as a program expects them, whatever the caller ignores, handles or blocks.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    prepared =
        prepared && ::posix_spawnattr_setsigmask(&settings.attributes, &none) == 0 &&
        ::posix_spawnattr_setsigdefault(&settings.attributes, &all) == 0 &&
        ::posix_spawnattr_setflags(&settings.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    if (!prepared)
        return false;

    Launch launch{program.program.c_str(), argv.data(),        environ,   actions,
                  &settings.attributes,    program.searchPath, lock.get()};
    return runGoBetween(launch) && launch.error == 0;
}

}  // namespace platform
