#include "platform/LaunchAgent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/AtomicWrite.h"
#include "platform/UserFolders.h"

namespace platform {

namespace {

using Json = nlohmann::json;

std::filesystem::path runningProgramFolder() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path.parent_path();
}

Json toJson(const LaunchAgentDefinition& d) {
    Json services = Json::object();
    for (const auto& name : d.machServices)
        services[name] = true;
    Json json = {{"Label", d.label},
                 {"Program", d.program},
                 {"ProgramArguments", d.arguments},
                 {"MachServices", services}};
    if (!d.standardOutPath.empty())
        json["StandardOutPath"] = d.standardOutPath;
    if (!d.standardErrorPath.empty())
        json["StandardErrorPath"] = d.standardErrorPath;
    return json;
}

std::optional<LaunchAgentDefinition> fromJson(const Json& json) {
    if (!json.is_object())
        return std::nullopt;
    LaunchAgentDefinition d;
    auto text = [&](const char* key, std::string& out, bool required) {
        auto found = json.find(key);
        if (found == json.end())
            return !required;
        if (!found->is_string())
            return false;
        out = found->get<std::string>();
        return required ? !out.empty() : true;
    };
    if (!text("Label", d.label, true) || !text("StandardOutPath", d.standardOutPath, false) ||
        !text("StandardErrorPath", d.standardErrorPath, false))
        return std::nullopt;
    // The label names the instance's lock file.
    if (d.label == "." || d.label == ".." || d.label.find('/') != std::string::npos)
        return std::nullopt;
    if (auto found = json.find("ProgramArguments"); found != json.end()) {
        if (!found->is_array())
            return std::nullopt;
        for (const auto& item : *found) {
            if (!item.is_string())
                return std::nullopt;
            d.arguments.push_back(item.get<std::string>());
        }
    }
    if (!text("Program", d.program, false))
        return std::nullopt;
    if (d.program.empty()) {
        if (d.arguments.empty() || d.arguments.front().empty())
            return std::nullopt;
        d.program = d.arguments.front();
    }
    if (d.arguments.empty())
        d.arguments.push_back(d.program);
    if (auto found = json.find("MachServices"); found != json.end()) {
        if (!found->is_object())
            return std::nullopt;
        for (const auto& [name, enabled] : found->items())
            if (enabled.is_boolean() && enabled.get<bool>())
                d.machServices.push_back(name);
    }
    return d;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return text.str();
}

std::filesystem::path instanceFolder() {
    return runtimeFolder() / "quorvane-agents";
}

std::filesystem::path instanceLockPath(const std::string& label) {
    return instanceFolder() / (label + ".instance");
}

// True when the process has the file open: the agent's instance holds its lock file for as long as it lives.
bool holdsFile(pid_t pid, const struct stat& file) {
    std::error_code error;
    std::filesystem::directory_iterator descriptors("/proc/" + std::to_string(pid) + "/fd", error);
    for (; !error && descriptors != std::filesystem::directory_iterator(); descriptors.increment(error)) {
        struct stat info {};
        if (::stat(descriptors->path().c_str(), &info) == 0 && info.st_dev == file.st_dev &&
            info.st_ino == file.st_ino)
            return true;
    }
    return false;
}

// Through syscall(): Debian 12's <sys/pidfd.h> declares its wrappers without C linkage.
int openProcess(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool signalProcess(int pidfd, int signal) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

bool waitForExit(int pidfd, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{pidfd, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

// Ends the instance of the agent that startDetached() started, if it still runs.
void stopInstance(const std::string& label) {
    int fd = ::open(instanceLockPath(label).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    char text[24] = {};
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    struct stat lock {};
    bool known = ::fstat(fd, &lock) == 0;
    ::close(fd);
    pid_t pid = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9' && pid < (1 << 24); ++i)
        pid = pid * 10 + (text[i] - '0');
    if (!known || pid <= 0)
        return;  // nothing started, or an instance starting this moment, which is fresh anyway
    int process = openProcess(pid);
    if (process < 0)
        return;
    // The number may belong to another process by now: only the one holding the lock is the agent.
    if (holdsFile(pid, lock) && signalProcess(process, SIGTERM) &&
        !waitForExit(process, LaunchAgent::stopGracePeriod)) {
        signalProcess(process, SIGKILL);
        waitForExit(process, LaunchAgent::stopGracePeriod);
    }
    ::close(process);
}

}  // namespace

LaunchAgentError::LaunchAgentError(Code code, std::string detail) : code_(code), text_(std::move(detail)) {}

LaunchAgent::LaunchAgent(std::string plistName)
    : LaunchAgent(std::move(plistName), defaultDefinitionsFolder(), defaultRegistryPath()) {}

LaunchAgent::LaunchAgent(std::string plistName, std::filesystem::path definitionsFolder,
                         std::filesystem::path registryPath)
    : plistName_(std::move(plistName)),
      definitionsFolder_(std::move(definitionsFolder)),
      registryPath_(std::move(registryPath)) {}

std::filesystem::path LaunchAgent::defaultDefinitionsFolder() {
    if (const char* folder = std::getenv("QUORVANE_LAUNCH_AGENTS_DIR"); folder && *folder)
        return folder;
    return runningProgramFolder().parent_path() / "LaunchAgents";
}

std::filesystem::path LaunchAgent::defaultRegistryPath() {
    return configHome() / "quorvane" / "launch-agents.json";
}

std::optional<LaunchAgentDefinition> LaunchAgent::parseDefinition(const std::string& json) {
    Json parsed = Json::parse(json, nullptr, false);
    if (parsed.is_discarded())
        return std::nullopt;
    return fromJson(parsed);
}

std::optional<LaunchAgentDefinition> LaunchAgent::definition() const {
    if (plistName_.empty() || plistName_.find('/') != std::string::npos || plistName_.front() == '.')
        return std::nullopt;
    auto text = readFile(definitionsFolder_ / plistName_);
    if (!text)
        return std::nullopt;
    auto parsed = parseDefinition(*text);
    if (parsed && std::filesystem::path(parsed->program).is_relative())
        parsed->program = (definitionsFolder_ / parsed->program).lexically_normal().native();
    return parsed;
}

std::map<std::string, LaunchAgentDefinition> LaunchAgent::readRegistry() const {
    std::map<std::string, LaunchAgentDefinition> agents;
    auto text = readFile(registryPath_);
    if (!text)
        return agents;
    Json json = Json::parse(*text, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("agents") || !json["agents"].is_object())
        return agents;
    for (const auto& [name, value] : json["agents"].items())
        if (auto definition = fromJson(value))
            agents[name] = *definition;
    return agents;
}

void LaunchAgent::writeRegistry(const std::map<std::string, LaunchAgentDefinition>& agents) const {
    Json list = Json::object();
    for (const auto& [name, definition] : agents)
        list[name] = toJson(definition);
    Json json = {{"agents", list}};
    std::error_code ignored;
    std::filesystem::create_directories(registryPath_.parent_path(), ignored);
    // Whole or not at all; temporary files are named "." + the registry's name + "." + six letters or digits.
    if (!replaceFileAtomically(registryPath_, "." + registryPath_.filename().native() + ".",
                               json.dump(2) + "\n"))
        throw LaunchAgentError(LaunchAgentError::Code::registryUnavailable,
                               "cannot write the launch-agent registry " + registryPath_.native());
}

LaunchAgentStatus LaunchAgent::status() const {
    if (!definition())
        return LaunchAgentStatus::notFound;
    return readRegistry().contains(plistName_) ? LaunchAgentStatus::enabled
                                               : LaunchAgentStatus::notRegistered;
}

void LaunchAgent::registerAgent() const {
    if (!readFile(definitionsFolder_ / plistName_))
        throw LaunchAgentError(LaunchAgentError::Code::notFound, "no launch agent named " + plistName_);
    auto found = definition();
    if (!found)
        throw LaunchAgentError(LaunchAgentError::Code::invalidDefinition,
                               "the launch agent " + plistName_ + " has an invalid definition");
    auto agents = readRegistry();
    agents[plistName_] = *found;
    writeRegistry(agents);
}

void LaunchAgent::unregisterAgent() const {
    auto agents = readRegistry();
    auto found = agents.find(plistName_);
    if (found == agents.end()) {
        // An instance may still run (the registry was changed behind the app's back): it ends all the same.
        if (auto own = definition())
            stopInstance(own->label);
        throw LaunchAgentError(LaunchAgentError::Code::notRegistered,
                               "the launch agent " + plistName_ + " is not registered");
    }
    std::string label = found->second.label;
    agents.erase(found);
    // Out of the registry first, so that no client starts it again in between.
    writeRegistry(agents);
    stopInstance(label);
}

std::optional<LaunchAgentDefinition> LaunchAgent::registeredAgentForService(
    const std::string& machServiceName, const std::filesystem::path& registryPath) {
    LaunchAgent registry("", {}, registryPath);
    for (const auto& [name, definition] : registry.readRegistry())
        for (const auto& service : definition.machServices)
            if (service == machServiceName)
                return definition;
    return std::nullopt;
}

bool LaunchAgent::startDetached(const LaunchAgentDefinition& definition) {
    DetachedProgram program{definition.program, definition.arguments, definition.standardOutPath,
                            definition.standardErrorPath, false};
    // Without a usable runtime folder the agent still starts, untracked.
    int lock = makePrivateFolder(instanceFolder()) ? ::open(instanceLockPath(definition.label).c_str(),
                                                            O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)
                                                   : -1;
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        bool running = errno == EWOULDBLOCK;
        ::close(lock);
        lock = -1;
        if (running)
            return true;
    }
    if (lock >= 0) {
        [[maybe_unused]] int emptied = ::ftruncate(lock, 0);  // no earlier instance's number is left
        program.instanceLock = lock;
    }
    bool started = spawnDetached(program);
    if (lock >= 0)
        ::close(lock);  // the program holds the lock from now on
    return started;
}

}  // namespace platform
