#pragma once
// The stand-in card-reader bridge for the tests: the setup it reads (written by the test), the state it keeps
// (its runs and what each run read), and the cards and readers of a setup.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Json.h"
#include "platform/testing/TestPKI.h"

namespace simtest {

// The stand-in bridge program in the build's bin folder, under the bridge's resource name.
std::filesystem::path bridgeProgram();

// A software card of the stand-in bridge, with the certificate and key made for the test.
platform::json::Json softCard(const testsupport::Issued& issued, const std::string& pin = "1234",
                              int tries = 3);

// A reader of the given type ("standard", "pinpad"), holding the card when there is one.
platform::json::Json reader(const std::string& type,
                            const platform::json::Json& card = platform::json::Json(),
                            const std::string& name = "Reader");

// The stand-in bridge's setup and state for one test, in a folder of its own. While it lives the card layer
// runs the stand-in bridge program with this setup.
class SimBridge {
  public:
    SimBridge();
    ~SimBridge();
    SimBridge(const SimBridge&) = delete;
    SimBridge& operator=(const SimBridge&) = delete;

    platform::json::Json& setup() { return setup_; }
    void addReader(const platform::json::Json& r) { setup_["readers"].push_back(r); }
    void script(const platform::json::Json& steps) { setup_["script"] = steps; }

    // Writes the setup and starts from a fresh state.
    void install();

    // Read under the bridge's lock, so a bridge that is writing it is never seen half-way.
    platform::json::Json state() const;
    // How many times the bridge program ran.
    std::size_t runs() const;
    std::vector<platform::json::Json> records() const;
    // Every byte the run read from its input.
    platform::Bytes input(std::size_t run) const;
    // The JSON request of a run.
    platform::json::Json request(std::size_t run) const;

  private:
    std::filesystem::path setupPath() const { return dir_ / "setup.json"; }
    std::filesystem::path statePath() const { return dir_ / "setup.json.state"; }
    std::filesystem::path dir_;
    platform::json::Json setup_;
};

}  // namespace simtest
