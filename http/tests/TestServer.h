#pragma once
// HTTPS (and plain HTTP) servers on loopback for the client's tests: a chosen certificate chain, an optional
// request for a client certificate, scripted handlers, and a record of every request that reached a handler.
#include <httplib.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Certificate.h"
#include "platform/testing/TestPKI.h"

namespace httptest {

struct RecordedRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
    // The certificate the client presented, if any.
    std::optional<platform::Bytes> clientCertificate;

    std::optional<std::string> header(const std::string& name) const;
};

class TestServer {
  public:
    // HTTPS presenting `leaf` (with its key) followed by `chain`. With requestClientCertificate, the server
    // asks for a client certificate (any is accepted, none is required) and records the one presented.
    TestServer(const testsupport::Issued& leaf, std::vector<platform::Certificate> chain,
               bool requestClientCertificate = false);
    // Plain HTTP.
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Handlers are registered before start().
    httplib::Server& server() { return *server_; }
    void start();

    int port() const { return port_; }
    // "https://localhost:<port>" (or http for a plain server), with another host name if given.
    std::string origin(const std::string& host = "localhost") const;

    std::vector<RecordedRequest> requests() const;

  private:
    std::unique_ptr<httplib::Server> server_;
    bool secure_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace httptest
