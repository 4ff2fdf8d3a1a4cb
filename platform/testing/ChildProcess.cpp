#include "platform/testing/ChildProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
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

void killProgramsOfRuntimeFolder(const std::string& runtimeFolder) {
    const std::string wanted = "XDG_RUNTIME_DIR=" + runtimeFolder;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == ::getpid())
            continue;
        std::ifstream in(entry.path() / "environ");  // readable for this user's processes only
        std::string variable;
        while (std::getline(in, variable, '\0')) {
            if (variable == wanted) {
                ::kill(std::stoi(name), SIGKILL);
                break;
            }
        }
    }
}

}  // namespace testsupport
