#pragma once
// The real registry of the launch agents in a folder of its own, with the relay's agent definition, and the
// app's live launch-agent service on it.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Quorvane/core/LaunchAgentServiceLive.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/LaunchAgent.h"
#include "platform/testing/TestEnvironment.h"

namespace testsupport {

struct LaunchAgentRegistry {
    static inline const std::string plist = "com.tovik.kelv-pc-signing-macos.brokel.plist";

    std::filesystem::path root = makeTempDir("agents");
    std::filesystem::path definitions = root / "LaunchAgents";
    std::filesystem::path registry = root / "config" / "quorvane" / "launch-agents.json";
    LogCapture log;
    LaunchAgentServiceLive service{std::make_shared<LoggerClient>("ui"),
                                   LaunchAgentServiceLive::registryLookup(definitions, registry)};

    void writeDefinition() {
        std::filesystem::create_directories(definitions);
        std::ofstream(definitions / plist) << R"({"Label":"com.tovik.kelv-pc-signing-macos.brokel",
            "Program":"brokel","MachServices":{"com.tovik.kelv-pc-signing-macos.brokel":true}})";
    }
    platform::LaunchAgent agent() const { return platform::LaunchAgent(plist, definitions, registry); }
};

}  // namespace testsupport
