#include "Quorvane/core/LaunchAgentServiceLive.h"

#include <QFile>
#include <QUrl>
#include <exception>

#include "platform/Workspace.h"

namespace {

class RegistryAgent : public LaunchAgentServiceLive::Agent {
  public:
    explicit RegistryAgent(platform::LaunchAgent agent) : agent_(std::move(agent)) {}
    platform::LaunchAgentStatus status() const override { return agent_.status(); }
    void registerAgent() override { agent_.registerAgent(); }
    void unregisterAgent() override { agent_.unregisterAgent(); }

  private:
    platform::LaunchAgent agent_;
};

}  // namespace

LaunchAgentServiceLive::LaunchAgentServiceLive(AgentLookup agentLookup)
    : agentLookup_(std::move(agentLookup)) {}

LaunchAgentServiceLive::LaunchAgentServiceLive(std::shared_ptr<LoggerClient> logger, AgentLookup agentLookup)
    : logger_(std::move(logger)), agentLookup_(std::move(agentLookup)) {}

bool LaunchAgentServiceLive::isServiceEnabled() const {
    return agent()->status() == platform::LaunchAgentStatus::enabled;
}

void LaunchAgentServiceLive::registerService() {
    try {
        auto service = agent();
        auto status = service->status();
        // The registration outlives the app: an agent already enabled, or waiting for the user, stays as it
        // is.
        if (status == platform::LaunchAgentStatus::enabled ||
            status == platform::LaunchAgentStatus::requiresApproval)
            return;
        service->registerAgent();
    } catch (const std::exception& error) {
        logger()->error(std::string("Error registering XPC service: ") + error.what());
    }
}

void LaunchAgentServiceLive::reregisterService() {
    try {
        agent()->unregisterAgent();
    } catch (const std::exception&) {
        // Not registered, or the registry could not be written: registering below tells what matters.
    }
    registerService();
}

void LaunchAgentServiceLive::unregisterService() {
    try {
        agent()->unregisterAgent();
    } catch (const std::exception& error) {
        logger()->error(std::string("Error unregistering XPC service: ") + error.what());
    }
}

LaunchAgentServiceLive::AgentLookup LaunchAgentServiceLive::registryLookup() {
    return [](const std::string& plistName) -> std::unique_ptr<Agent> {
        return std::make_unique<RegistryAgent>(platform::LaunchAgent(plistName));
    };
}

LaunchAgentServiceLive::AgentLookup LaunchAgentServiceLive::registryLookup(
    std::filesystem::path definitionsFolder, std::filesystem::path registryPath) {
    return [definitionsFolder = std::move(definitionsFolder),
            registryPath = std::move(registryPath)](const std::string& plistName) -> std::unique_ptr<Agent> {
        return std::make_unique<RegistryAgent>(
            platform::LaunchAgent(plistName, definitionsFolder, registryPath));
    };
}

void LaunchAgentServiceLive::openSystemSettingsLoginItems(const std::filesystem::path& registryPath) {
    std::error_code error;
    auto target = registryPath;
    if (!std::filesystem::exists(registryPath, error)) {
        // Nothing registered yet: show the folder the registry will be written to.
        target = registryPath.parent_path();
        std::filesystem::create_directories(target, error);
    }
    auto url = QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(target.native())));
    platform::Workspace::open(url.toString(QUrl::FullyEncoded).toStdString());
}
