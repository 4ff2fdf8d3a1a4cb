#include "sim/testing/SimBridge.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cardbridge/VexoConnectInvoker.h"
#include "platform/Codecs.h"
#include "platform/testing/TestEnvironment.h"

namespace simtest {

using platform::json::Json;

std::filesystem::path bridgeProgram() {
    return testsupport::binaryDir() / pindle::bridgeResourceName;
}

Json softCard(const testsupport::Issued& issued, const std::string& pin, int tries) {
    Json card = Json::object();
    card["certificates"] = Json::array({issued.certificatePEM()});
    card["key"] = issued.privateKeyPEM();
    card["pin"] = pin;
    card["tries"] = tries;
    return card;
}

Json reader(const std::string& type, const Json& card, const std::string& name) {
    Json r = Json::object();
    r["name"] = name;
    r["type"] = type;
    r["cardType"] = "eid";
    r["card"] = card;
    return r;
}

SimBridge::SimBridge() : dir_(testsupport::makeTempDir("bridge")), setup_(Json{{"readers", Json::array()}}) {
    pindle::VexoConnectInvoker::setExecutableLocationOverride(bridgeProgram());
    install();
}

SimBridge::~SimBridge() {
    unsetenv("QUORVANE_BRIDGE_SETUP");
    pindle::VexoConnectInvoker::setExecutableLocationOverride(std::nullopt);
}

void SimBridge::install() {
    std::ofstream(setupPath()) << setup_.dump(2);
    std::filesystem::remove(statePath());
    setenv("QUORVANE_BRIDGE_SETUP", setupPath().c_str(), 1);
}

Json SimBridge::state() const {
    int fd = ::open(statePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Json::object();
    ::flock(fd, LOCK_SH);
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    Json state = Json::parse(text, nullptr, false);
    return state.is_object() ? state : Json::object();
}

std::size_t SimBridge::runs() const {
    return state().value("runs", std::size_t{0});
}

std::vector<Json> SimBridge::records() const {
    std::vector<Json> out;
    for (const auto& r : state().value("records", Json::array()))
        out.push_back(r);
    return out;
}

platform::Bytes SimBridge::input(std::size_t run) const {
    return platform::base64Decoded(records().at(run).value("input", std::string()))
        .value_or(platform::Bytes{});
}

Json SimBridge::request(std::size_t run) const {
    auto bytes = input(run);
    if (bytes.size() < 4)
        return Json();
    return Json::parse(bytes.begin() + 4, bytes.end(), nullptr, false);
}

}  // namespace simtest
