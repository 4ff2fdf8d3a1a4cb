#pragma once
// Deployment configuration: one JSON file next to the program ("quorvane-deployment.json"; installed with the
// system's configuration, /etc/quorvane, and linked from there), or the file named by the environment
// variable QUORVANE_DEPLOYMENT_CONFIG. It tells where the servers of the five environments are, where the
// production app-versions document is, where the card-reader bridge program is, and which extra CA
// certificates TLS trusts on top of the system store. Missing file or keys: the built-in defaults, which are
// examples. The file's keys, relative paths taken from the folder the file is read from (the program's,
// through the installed link):
//   "environments": {"TA": "<host>", "QA": ..., "RC": ..., "INT": ..., "PROD": ...}
//   "appVersionsURL": "<https URL of the production app-versions document>"
//   "bridgeProgram": "<path of the bridge program>"
//   "extraCACertificates": "<PEM file>"
// The environment variable QUORVANE_EXTRA_CA_FILE, when set, names the extra CA file instead.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace platform {

struct DeploymentConfiguration {
    std::map<std::string, std::string> environmentHosts;
    std::optional<std::string> appVersionsURL;
    std::optional<std::filesystem::path> bridgeProgram;
    std::optional<std::filesystem::path> extraCACertificates;

    // Reads the file (once per call); a malformed file is reported on stderr and treated as absent.
    static DeploymentConfiguration load();
};

}  // namespace platform
