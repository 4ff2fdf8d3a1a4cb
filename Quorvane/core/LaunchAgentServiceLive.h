#pragma once
// The launch-agent service on this platform's launch-agent registry (platform/LaunchAgent).
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "DependencyKeys.h"
#include "LaunchAgentService.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/LaunchAgent.h"

class LaunchAgentServiceLive : public LaunchAgentService {
  public:
    // The agent that runs the signature relay.
    static constexpr const char* agentPlistName = "com.tovik.kelv-pc-signing-macos.brokel.plist";

    // One agent as the service manager shows it.
    class Agent {
      public:
        virtual ~Agent() = default;
        virtual platform::LaunchAgentStatus status() const = 0;
        // Both throw a std::exception whose what() tells why.
        virtual void registerAgent() = 0;
        virtual void unregisterAgent() = 0;
    };
    // Looks an agent up by its property-list name; called afresh for every operation.
    using AgentLookup = std::function<std::unique_ptr<Agent>(const std::string& plistName)>;

    // Logs through the app's logger of the moment (LoggerClientKey), read when a line is written.
    explicit LaunchAgentServiceLive(AgentLookup agentLookup = registryLookup());
    // Logs through the given logger.
    explicit LaunchAgentServiceLive(std::shared_ptr<LoggerClient> logger,
                                    AgentLookup agentLookup = registryLookup());

    bool isServiceEnabled() const override;
    void registerService() override;
    void reregisterService() override;
    void unregisterService() override;

    // Agents of the registry file of platform::LaunchAgent, with definitions and registry in the given
    // places.
    static AgentLookup registryLookup();
    static AgentLookup registryLookup(std::filesystem::path definitionsFolder,
                                      std::filesystem::path registryPath);

    // Opens the place where the user enables launch agents on this platform: the registry file in the
    // desktop's handler for it, or the folder meant for it while there is no file yet.
    static void openSystemSettingsLoginItems(
        const std::filesystem::path& registryPath = platform::LaunchAgent::defaultRegistryPath());

  private:
    std::unique_ptr<Agent> agent() const { return agentLookup_(agentPlistName); }
    std::shared_ptr<LoggerClient> logger() const { return logger_ ? logger_ : _logger.get(); }

    std::shared_ptr<LoggerClient> logger_;
    Dependency<LoggerClientKey> _logger;
    AgentLookup agentLookup_;
};
