#include "HalcyraEnvironment.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "platform/DeploymentConfiguration.h"

std::string_view rawValue(HalcyraEnvironment environment) {
    switch (environment) {
        case HalcyraEnvironment::ta:
            return "TA";
        case HalcyraEnvironment::qa:
            return "QA";
        case HalcyraEnvironment::rc:
            return "RC";
        case HalcyraEnvironment::int_:
            return "INT";
        case HalcyraEnvironment::prod:
            return "PROD";
    }
    return "PROD";
}

std::optional<HalcyraEnvironment> halcyraEnvironmentFromRawValue(std::string_view raw) {
    for (auto environment : allHalcyraEnvironments)
        if (rawValue(environment) == raw)
            return environment;
    return std::nullopt;
}

std::string_view builtInHost(HalcyraEnvironment environment) {
    switch (environment) {
        case HalcyraEnvironment::ta:
            return "ta.remotesign.quorvane.example";
        case HalcyraEnvironment::qa:
            return "qa.remotesign.quorvane.example";
        case HalcyraEnvironment::rc:
            return "rc.remotesign.quorvane.example";
        case HalcyraEnvironment::int_:
            return "int.remotesign.quorvane.example";
        case HalcyraEnvironment::prod:
            return "remotesign.quorvane.example";
    }
    return "remotesign.quorvane.example";
}

namespace {

bool isPort(std::string_view text) {
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A host name or IPv4 address, or a bracketed IPv6 address, each with an optional ":port". Anything else
// (a scheme, a path, a blank, user info) would make another URL than the one meant.
bool isUsableHost(std::string_view host) {
    if (host.empty() || host.size() > 255)
        return false;
    std::string_view name = host;
    if (host.front() == '[') {
        auto close = host.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        auto address = host.substr(1, close - 1);
        if (!std::all_of(address.begin(), address.end(),
                         [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; }))
            return false;
        auto rest = host.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && isPort(rest.substr(1)));
    }
    if (auto colon = host.find(':'); colon != std::string_view::npos) {
        if (!isPort(host.substr(colon + 1)))
            return false;
        name = host.substr(0, colon);
    }
    if (name.empty() || name.front() == '.' || name.front() == '-')
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

}  // namespace

std::string baseURL(HalcyraEnvironment environment) {
    std::string host(builtInHost(environment));
    auto configuration = platform::DeploymentConfiguration::load();
    auto it = configuration.environmentHosts.find(std::string(rawValue(environment)));
    if (it != configuration.environmentHosts.end()) {
        if (isUsableHost(it->second))
            host = it->second;
        else
            std::cerr << "quorvane: deployment configuration: the host of " << rawValue(environment) << " (\""
                      << it->second << "\") is not a host name; using " << host << "\n";
    }
    return "https://" + host + "/srvremotesign";
}
