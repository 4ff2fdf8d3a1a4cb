#include "sim/testing/SimServerProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

namespace simtest {

using platform::json::Json;

namespace {

// One line from the descriptor, waiting at most until the deadline.
std::optional<std::string> readLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0)
            continue;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
    return std::nullopt;
}

// The rest of a line that starts with the prefix.
std::optional<std::string> after(const std::optional<std::string>& line, const std::string& prefix) {
    if (!line || line->rfind(prefix, 0) != 0)
        return std::nullopt;
    return line->substr(prefix.size());
}

std::unique_ptr<httplib::SSLClient> controlClient(int port, const std::filesystem::path& caFile) {
    auto client = std::make_unique<httplib::SSLClient>("localhost", port);
    client->set_ca_cert_path(caFile.c_str());
    client->enable_server_certificate_verification(true);
    // The recorded requests may come to tens of megabytes of JSON, which a sanitizer build on a busy machine
    // takes longer than the default 5 s to write.
    client->set_read_timeout(60, 0);
    return client;
}

}  // namespace

SimServerProcess::SimServerProcess(std::vector<std::string> flags) {
    auto program = testsupport::binaryDir() / "quorvane-sim-server";
    auto certDir = testsupport::makeTempDir("sim");
    auto cardCA = certDir / "card-ca.pem";
    testsupport::writeFile(cardCA, testsupport::cardCA().certificatePEM());
    std::vector<std::string> args = {program.string(), "--cert-dir", certDir.string(), "--card-ca",
                                     cardCA.string()};
    args.insert(args.end(), flags.begin(), flags.end());

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    try {
        int output = out[1];
        pid_ = testsupport::spawnTiedToParent(args, [output] { return ::dup2(output, STDOUT_FILENO) >= 0; });
    } catch (...) {
        close(out[0]);
        close(out[1]);
        throw;
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto port = after(readLine(out[0], deadline), "PORT ");
    auto ca = after(readLine(out[0], deadline), "CA ");
    auto base = after(readLine(out[0], deadline), "BASE ");
    const bool wantsPage = std::find(flags.begin(), flags.end(), "--callback-page-port") != flags.end();
    auto page = wantsPage ? after(readLine(out[0], deadline), "CALLBACK ") : std::nullopt;
    close(out[0]);
    if (!port || !ca || !base || (wantsPage && !page)) {
        testsupport::killAndReap(pid_);
        throw std::runtime_error("the stand-in server did not report its port");
    }
    port_ = std::stoi(*port);
    caFile_ = *ca;
    basePath_ = *base;
    callbackPage_ = page.value_or("");
}

SimServerProcess::~SimServerProcess() {
    testsupport::killAndReap(pid_);
}

std::optional<int> SimServerProcess::stop(std::chrono::milliseconds limit) {
    if (pid_ <= 0)
        return std::nullopt;
    kill(pid_, SIGTERM);
    auto status = testsupport::reapWithin(pid_, limit);
    if (!status)
        testsupport::killAndReap(pid_);
    pid_ = -1;
    return status;
}

int SimServerProcess::control(const std::string& path, const Json& body) const {
    auto result =
        controlClient(port_, caFile_)->Post(("/control" + path).c_str(), body.dump(), "application/json");
    if (!result)
        throw std::runtime_error("control call failed: " + path);
    return result->status;
}

void SimServerProcess::fault(const std::string& endpoint, const Json& fault) const {
    Json body = fault;
    body["endpoint"] = endpoint;
    EXPECT_EQ(control("/faults", body), 200) << body.dump();
}

std::vector<SimServerProcess::Received> SimServerProcess::requests() const {
    auto result = controlClient(port_, caFile_)->Get("/control/requests");
    if (!result)
        throw std::runtime_error("cannot read the received requests");
    std::vector<Received> out;
    const Json all = Json::parse(result->body);
    for (const auto& entry : all["requests"]) {
        Json body;
        try {
            body = Json::parse(entry["body"].get<std::string>());
        } catch (const Json::exception&) {
            body = entry["body"];
        }
        out.push_back({entry["path"].get<std::string>(), body, entry["clientPort"].get<int>()});
    }
    return out;
}

SimServerProcess::Received SimServerProcess::lastRequest() const {
    auto all = requests();
    if (all.empty()) {
        ADD_FAILURE() << "the server received no request";
        return {};
    }
    return all.back();
}

}  // namespace simtest
