#include "platform/testing/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/testing/Eventually.h"

namespace testsupport {

pid_t spawnTiedToParent(const std::vector<std::string>& argv, const std::function<bool()>& prepare) {
    std::vector<std::string> arguments = argv;
    std::vector<char*> raw;
    for (auto& argument : arguments)
        raw.push_back(argument.data());
    raw.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child == 0) {
        if (prepare && !prepare())
            ::_exit(126);
        // After prepare(): taking on another user clears the tie.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(127);
        ::execvp(raw[0], raw.data());
        ::_exit(127);
    }
    if (child < 0)
        throw std::runtime_error("cannot start " + argv.front());
    return child;
}

std::optional<int> reapWithin(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (!eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit))
        return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void killAndReap(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status;
    for (int i = 0; i < 200; ++i) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

std::string readProcessFile(pid_t pid, const char* name) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string content;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<std::size_t>(count));
    ::close(fd);
    return count < 0 ? std::string() : content;
}

void killProgramsOfRuntimeFolder(const std::string& runtimeFolder) {
    const std::string wanted = "XDG_RUNTIME_DIR=" + runtimeFolder;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == ::getpid())
            continue;
        const pid_t pid = std::stoi(name);
        // Readable for this user's processes only.
        const std::string environment = readProcessFile(pid, "environ");
        for (std::size_t at = 0; at < environment.size();) {
            std::size_t end = environment.find('\0', at);
            if (end == std::string::npos)
                end = environment.size();
            if (environment.compare(at, end - at, wanted) == 0) {
                ::kill(pid, SIGKILL);
                break;
            }
            at = end + 1;
        }
    }
}

}  // namespace testsupport
