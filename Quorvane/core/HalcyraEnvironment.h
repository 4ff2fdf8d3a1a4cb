#pragma once
// The five deployments of the remote-signing server. Their hosts are deployment configuration
// ("environments" in the deployment file, platform/DeploymentConfiguration.h); each base URL is https, the
// host and "/srvremotesign".
#include <array>
#include <optional>
#include <string>
#include <string_view>

// `int_` stands for the INT environment (`int` is a C++ keyword).
enum class HalcyraEnvironment { ta, qa, rc, int_, prod };

// The order in which the environments are listed.
inline constexpr std::array<HalcyraEnvironment, 5> allHalcyraEnvironments{
    HalcyraEnvironment::ta, HalcyraEnvironment::qa, HalcyraEnvironment::rc, HalcyraEnvironment::int_,
    HalcyraEnvironment::prod};

// "TA", "QA", "RC", "INT", "PROD".
std::string_view rawValue(HalcyraEnvironment environment);
// Exactly one of the five raw values, byte for byte; anything else gives none.
std::optional<HalcyraEnvironment> halcyraEnvironmentFromRawValue(std::string_view raw);

// "https://<host>/srvremotesign", the host read from the deployment configuration on every call. A missing or
// unusable host (anything but a host name or address with an optional port) gives the built-in one.
std::string baseURL(HalcyraEnvironment environment);
// The host used when the deployment configuration names none.
std::string_view builtInHost(HalcyraEnvironment environment);
