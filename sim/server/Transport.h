#pragma once
// The stand-in server's connections: HTTPS on loopback (cpp-httplib over OpenSSL) with bounded requests, many
// requests per connection and replies sent at once (no Nagle delay), plus the plain-HTTP callback page of the
// demo. Handlers run on the workers' threads.
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sim {

class Transport {
  public:
    // A POST body, read whole within the body limit whatever its transfer encoding.
    using BodyHandler =
        std::function<void(const httplib::Request& req, const std::string& body, httplib::Response& res)>;
    using PageHandler = std::function<void(const httplib::Request& req, httplib::Response& res)>;

    Transport(const std::filesystem::path& certificateFile, const std::filesystem::path& keyFile,
              std::size_t maxBodyBytes);
    ~Transport();

    // False when the certificate or key cannot be used.
    bool isValid() const;

    // A POST route; a body over the limit, or one that cannot be read, is answered with the error body.
    void post(const std::string& pattern, BodyHandler handler);
    void get(const std::string& pattern, PageHandler handler);

    // Binds the HTTPS server (port 0 = a free one) and, when a port is given for it, the callback page that
    // `page` answers at "/signed"; the HTTPS port, or -1.
    int bind(const std::string& host, int port, std::optional<int> callbackPagePort, PageHandler page);
    // The callback page's port once bound, or -1.
    int callbackPagePort() const { return callbackPagePort_; }
    // Serves on the calling thread until the flag is set (it may be set from a signal handler); the flag is
    // looked at on every new connection and at least ten times a second. False when serving failed.
    bool run(const std::atomic<bool>& stopRequested);

  private:
    class Listener;
    class Workers;

    std::size_t maxBodyBytes_;
    std::size_t connectionBudget_ = 0;  // bytes a connection may send per request, all told
    std::unique_ptr<Listener> server_;
    std::unique_ptr<httplib::Server> callbackPage_;
    int callbackPagePort_ = -1;
};

}  // namespace sim
