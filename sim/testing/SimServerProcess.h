#pragma once
// The stand-in server (quorvane-sim-server) as a real child process for the tests, and its control endpoints.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.h"

namespace simtest {

class SimServerProcess {
  public:
    // Starts quorvane-sim-server from the build's bin folder with a private certificate folder, trusting the
    // test card issuer (testsupport::cardCA()), with the extra flags, and waits for the lines it prints once
    // it listens. The server is killed when the thread that started it ends, so a test process that dies does
    // not leave it running.
    explicit SimServerProcess(std::vector<std::string> flags = {});
    // Kills and reaps the child.
    ~SimServerProcess();
    SimServerProcess(const SimServerProcess&) = delete;
    SimServerProcess& operator=(const SimServerProcess&) = delete;

    pid_t pid() const { return pid_; }
    int port() const { return port_; }
    // The URL in front of every endpoint, as the server printed it.
    const std::string& basePath() const { return basePath_; }
    // The server's CA certificate (PEM): trust it to talk to the server.
    const std::filesystem::path& caFile() const { return caFile_; }
    // The plain-HTTP callback page ("http://127.0.0.1:n/signed") when the flags asked for one
    // (--callback-page-port), else empty.
    const std::string& callbackPage() const { return callbackPage_; }

    // Asks the server to stop (SIGTERM) and reaps it: its exit status (-1 when a signal ended it), or nothing
    // when it did not end within the limit (it is killed then).
    std::optional<int> stop(std::chrono::milliseconds limit = std::chrono::seconds(30));

    // POST to a control endpoint; the reply's status (throws when there is no reply).
    int control(const std::string& path, const platform::json::Json& body) const;
    // Sets a fault for one endpoint (fails the test when the server refuses it).
    void fault(const std::string& endpoint, const platform::json::Json& fault) const;
    void clearFaults() const { control("/faults/clear", platform::json::Json::object()); }

    struct Received {
        std::string path;
        platform::json::Json body;  // parsed with its key order
        int clientPort = 0;         // of the connection it came on
    };
    std::vector<Received> requests() const;
    void clearRequests() const { control("/requests/clear", platform::json::Json::object()); }
    // The last request the server received (fails the test when there is none).
    Received lastRequest() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string basePath_;
    std::filesystem::path caFile_;
    std::string callbackPage_;
};

}  // namespace simtest
