#pragma once
// The stand-in server as a real child process for the tests, and its control endpoints.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.h"

namespace apitest {

class SimServerProcess {
  public:
    // Starts quorvane-sim-server from the build's bin folder with the extra flags and waits for its port.
    explicit SimServerProcess(std::vector<std::string> flags = {});
    // Kills and reaps the child.
    ~SimServerProcess();
    SimServerProcess(const SimServerProcess&) = delete;
    SimServerProcess& operator=(const SimServerProcess&) = delete;

    int port() const { return port_; }
    std::string basePath() const;
    const std::filesystem::path& caFile() const { return caFile_; }

    // POST to a control endpoint; the reply's status.
    int control(const std::string& path, const platform::json::Json& body) const;
    void fault(const std::string& endpoint, const platform::json::Json& fault) const;
    void clearFaults() const { control("/faults/clear", platform::json::Json::object()); }

    struct Received {
        std::string path;
        platform::json::Json body;  // parsed with its key order
    };
    std::vector<Received> requests() const;
    void clearRequests() const { control("/requests/clear", platform::json::Json::object()); }
    // The last request the server received (fails the test when there is none).
    Received lastRequest() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path caFile_;
};

// The key names of a JSON object, in order.
std::vector<std::string> keys(const platform::json::Json& object);

}  // namespace apitest
