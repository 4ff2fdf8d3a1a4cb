#include "DeploymentConfiguration.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Json.h"

namespace platform {

namespace {

constexpr std::uintmax_t maximumFileSize = 1 << 20;

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

std::filesystem::path configurationFile() {
    if (auto named = environmentVariable("QUORVANE_DEPLOYMENT_CONFIG"))
        return *named;
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return program.parent_path() / "quorvane-deployment.json";
}

void report(const std::filesystem::path& file, const std::string& problem) {
    std::fprintf(stderr, "quorvane: deployment configuration %s ignored: %s\n", file.c_str(),
                 problem.c_str());
}

// Reads and checks the file; throws json::DecodingError (or std::runtime_error) on anything malformed.
DeploymentConfiguration parse(const std::filesystem::path& file) {
    auto size = std::filesystem::file_size(file);
    if (size > maximumFileSize)
        throw std::runtime_error("file too large");
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in)
        throw std::runtime_error("cannot read the file");

    auto document = json::parse(text.str());
    if (!document.is_object())
        throw json::DecodingError("expected an object");
    auto folder = file.parent_path();
    auto resolve = [&](const std::string& path) {
        std::filesystem::path value(path);
        return value.is_absolute() ? value : folder / value;
    };

    DeploymentConfiguration configuration;
    if (auto environments = json::optional<json::Json>(document, "environments")) {
        if (!environments->is_object())
            throw json::DecodingError("\"environments\" must be an object");
        for (const auto& [name, host] : environments->items()) {
            if (!host.is_string() || host.get<std::string>().empty())
                throw json::DecodingError("the host of \"" + name + "\" must be a non-empty string");
            auto value = host.get<std::string>();
            configuration.environmentHosts[name] = value;
        }
    }
    if (auto url = json::optional<std::string>(document, "appVersionsURL"); url && !url->empty())
        configuration.appVersionsURL = *url;
    if (auto bridge = json::optional<std::string>(document, "bridgeProgram"); bridge && !bridge->empty())
        configuration.bridgeProgram = resolve(*bridge);
    if (auto ca = json::optional<std::string>(document, "extraCACertificates"); ca && !ca->empty())
        configuration.extraCACertificates = resolve(*ca);
    return configuration;
}

}  // namespace

DeploymentConfiguration DeploymentConfiguration::load() {
    DeploymentConfiguration configuration;
    auto file = configurationFile();
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) {
        try {
            configuration = parse(file);
        } catch (const std::exception& e) {
            report(file, e.what());
        }
    } else if (environmentVariable("QUORVANE_DEPLOYMENT_CONFIG")) {
        report(file, "no such file");
    }
    if (auto ca = environmentVariable("QUORVANE_EXTRA_CA_FILE"))
        configuration.extraCACertificates = *ca;
    return configuration;
}

}  // namespace platform
