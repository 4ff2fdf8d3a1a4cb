#pragma once
// Per-user launch agents: programs that are started on demand when a client connects to one of their
// services.
//
// An agent is described by a definition file named by its property-list name (for instance
// "com.tovik.kelv-pc-signing-macos.brokel.plist") in the definitions folder that ships with the programs
// ($QUORVANE_LAUNCH_AGENTS_DIR, else "<folder of the running program>/../LaunchAgents"). The file is JSON:
//   {
//     "Label": "com.tovik.kelv-pc-signing-macos.brokel",
//     "Program": "/usr/lib/quorvane/brokel",            absolute, or relative to the definitions folder
//     "ProgramArguments": ["brokel"],                    optional; argv, the first element is argv[0]
//     "MachServices": {"com.tovik.kelv-pc-signing-macos.brokel": true},
//     "StandardOutPath": "...",                          optional; appended to, its folder is made
//     "StandardErrorPath": "..."                         optional; defaults to StandardOutPath
//   }
// An output that cannot be opened goes to /dev/null: it never keeps the program from starting.
// Registering copies the definition (Program made absolute) into the registry file
// $XDG_CONFIG_HOME/quorvane/launch-agents.json; a client that finds no listener on a registered service
// starts the agent's program detached (platform/xpc does this) and retries.
//
// An agent runs once, as under a service manager: the program started for it holds a lock in the user's
// runtime folder ("quorvane-agents/<label>.instance", which also names its process) for as long as it lives,
// and while it does, starting the agent again does nothing. Unregistering ends that instance, so that the
// next client starts a fresh one.
#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/DetachedProgram.h"

namespace platform {

struct LaunchAgentDefinition {
    std::string label;
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::string> machServices;
    std::string standardOutPath;
    std::string standardErrorPath;

    bool operator==(const LaunchAgentDefinition&) const = default;
};

enum class LaunchAgentStatus : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

class LaunchAgentError : public std::exception {
  public:
    enum class Code { notFound, invalidDefinition, registryUnavailable, notRegistered };
    LaunchAgentError(Code code, std::string detail);
    Code code() const { return code_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    Code code_;
    std::string text_;
};

class LaunchAgent {
  public:
    explicit LaunchAgent(std::string plistName);
    LaunchAgent(std::string plistName, std::filesystem::path definitionsFolder,
                std::filesystem::path registryPath);

    const std::string& plistName() const { return plistName_; }

    // notFound when there is no valid definition file; enabled when registered; otherwise notRegistered.
    LaunchAgentStatus status() const;
    // Throws LaunchAgentError (notFound, invalidDefinition, registryUnavailable).
    void registerAgent() const;
    // Also ends the agent's running instance (SIGTERM, then SIGKILL after stopGracePeriod) and returns once
    // it has ended; an instance runs on when the registry cannot be written. Throws LaunchAgentError
    // (notRegistered, registryUnavailable).
    void unregisterAgent() const;
    static constexpr std::chrono::milliseconds stopGracePeriod{2000};

    // The definition file's contents, or nothing when it is missing or invalid.
    std::optional<LaunchAgentDefinition> definition() const;

    static std::filesystem::path defaultDefinitionsFolder();
    static std::filesystem::path defaultRegistryPath();

    // The registered agent that serves the service, if any.
    static std::optional<LaunchAgentDefinition> registeredAgentForService(
        const std::string& machServiceName,
        const std::filesystem::path& registryPath = defaultRegistryPath());

    // Starts the program in a new session, detached from the caller (no child is left to reap), with standard
    // input from /dev/null and its output appended to the definition's paths, unless an instance of the agent
    // still runs (then nothing is started, and the result is true). False when it could not be run.
    static bool startDetached(const LaunchAgentDefinition& definition);

    // Nothing when the text is not a valid definition.
    static std::optional<LaunchAgentDefinition> parseDefinition(const std::string& json);

  private:
    std::map<std::string, LaunchAgentDefinition> readRegistry() const;
    void writeRegistry(const std::map<std::string, LaunchAgentDefinition>& agents) const;

    std::string plistName_;
    std::filesystem::path definitionsFolder_;
    std::filesystem::path registryPath_;
};

}  // namespace platform
