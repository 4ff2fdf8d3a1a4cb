#include "Transport.h"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <thread>

#include "ApiError.h"

namespace sim {

namespace {

// Enough workers that a few clients that connect and never start TLS (or idle keep-alive connections) do not
// hold every one of them; the read time-out bounds how long each may.
constexpr std::size_t kWorkers = 64;
constexpr int kReadTimeoutSeconds = 5;
// Requests one connection may carry. cpp-httplib closes a connection after five, so a client polling each
// second would make a new TLS handshake every five seconds; servers in front of real services keep a
// connection for hundreds of requests. The idle time-out (five seconds) still ends quiet connections.
constexpr std::size_t kKeepAliveRequests = 1000;
constexpr auto kStopCheckInterval = std::chrono::milliseconds(100);

// Bytes read on a connection since its current request began (TLS records, the request's head included), kept
// on the connection's SSL object. cpp-httplib bounds only a body of declared length: request and header
// lines, and whatever follows a body that was refused half-way, would otherwise be read into memory without
// end.
int readCountIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

void countRecord(int writing, int, int contentType, const void* header, std::size_t length, SSL* ssl,
                 void* budget) {
    if (writing || contentType != SSL3_RT_HEADER || length < SSL3_RT_HEADER_LENGTH)
        return;
    const auto* bytes = static_cast<const unsigned char*>(header);
    auto count = reinterpret_cast<std::uintptr_t>(SSL_get_ex_data(ssl, readCountIndex())) +
                 SSL3_RT_HEADER_LENGTH + ((bytes[3] << 8) | bytes[4]);
    SSL_set_ex_data(ssl, readCountIndex(), reinterpret_cast<void*>(count));
    if (count > *static_cast<const std::size_t*>(budget))
        shutdown(SSL_get_fd(ssl), SHUT_RDWR);  // the next read fails and the connection ends
}

void startRequest(const httplib::Request& req) {
    SSL_set_ex_data(const_cast<SSL*>(req.ssl), readCountIndex(), nullptr);
}

// The rest of the request stays unread, so the connection cannot carry another one: it ends at its next read.
// (Shutting it down at once would also stop the reply: cpp-httplib writes only to a socket it can still
// read.)
void spendBudget(const httplib::Request& req, std::size_t budget) {
    SSL_set_ex_data(const_cast<SSL*>(req.ssl), readCountIndex(),
                    reinterpret_cast<void*>(std::uintptr_t{budget}));
}

}  // namespace

// cpp-httplib listens with a backlog of five: a burst of connections (a few clients that never start TLS,
// say) would leave the next ones waiting a second or more for their handshake to be retried.
class Transport::Listener : public httplib::SSLServer {
  public:
    using SSLServer::SSLServer;
    bool widenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

// The connections' workers. They also stop the server, on the serving thread, once asked to: a signal handler
// may only set a flag, and stopping from another thread would race the server's destruction.
class Transport::Workers : public httplib::ThreadPool {
  public:
    Workers(httplib::Server& server, const std::atomic<bool>& stopRequested)
        : ThreadPool(kWorkers), server_(server), stopRequested_(stopRequested) {}

    void enqueue(std::function<void()> work) override {
        ThreadPool::enqueue(std::move(work));
        stopIfRequested();
    }
    void on_idle() override { stopIfRequested(); }

  private:
    void stopIfRequested() {
        if (!stopped_ && stopRequested_.load()) {
            stopped_ = true;
            server_.stop();
        }
    }

    httplib::Server& server_;
    const std::atomic<bool>& stopRequested_;
    bool stopped_ = false;
};

Transport::Transport(const std::filesystem::path& certificateFile, const std::filesystem::path& keyFile,
                     std::size_t maxBodyBytes)
    : maxBodyBytes_(maxBodyBytes),
      server_(std::make_unique<Listener>(certificateFile.c_str(), keyFile.c_str())) {
    if (!server_->is_valid())
        return;
    server_->set_payload_max_length(maxBodyBytes_);
    server_->set_read_timeout(kReadTimeoutSeconds, 0);
    server_->set_keep_alive_max_count(kKeepAliveRequests);
    server_->set_write_timeout(10, 0);
    server_->set_idle_interval(kStopCheckInterval);
    // A reply goes out in several writes (head, body): with Nagle's algorithm on, each later write waits for
    // the client's delayed acknowledgement, some 40 ms per reply.
    server_->set_tcp_nodelay(true);
    // Room for a body at the limit in any encoding (chunk lines, TLS records) and for the next request's
    // head.
    connectionBudget_ = 2 * maxBodyBytes_ + (64 << 10);
    SSL_CTX_set_msg_callback(server_->ssl_context(), countRecord);
    SSL_CTX_set_msg_callback_arg(server_->ssl_context(), &connectionBudget_);
    server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        startRequest(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        setJson(res, 500, errorBody("INTERNAL_ERROR"));
    });
    server_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // Faults send what they were told to; everything else gets the server's error body.
        if (!res.body.empty() || res.has_header("X-Quorvane-Sim-Fault") || res.status < 400)
            return;
        setJson(res, res.status, errorBody(codeForStatus(res.status)));
    });
}

Transport::~Transport() = default;

bool Transport::isValid() const {
    return server_->is_valid();
}

void Transport::post(const std::string& pattern, BodyHandler handler) {
    server_->Post(
        pattern, [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                                      const httplib::ContentReader& content) {
            std::string body;
            bool tooLarge = false;
            bool complete = content([&](const char* data, std::size_t size) {
                if (size > maxBodyBytes_ - body.size()) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, size);
                return true;
            });
            if (!complete) {
                if (tooLarge)
                    spendBudget(req, connectionBudget_);
                // cpp-httplib has answered a declared length over the limit with 413 already.
                std::string code = tooLarge || res.status == 413 ? "PAYLOAD_TOO_LARGE" : "BAD_REQUEST";
                setJson(res, statusOf(code), errorBody(code));
                return;
            }
            handler(req, body, res);
        });
}

void Transport::get(const std::string& pattern, PageHandler handler) {
    server_->Get(pattern, std::move(handler));
}

int Transport::bind(const std::string& host, int port, std::optional<int> callbackPagePort,
                    PageHandler page) {
    auto bindTo = [&host](httplib::Server& server, int port) {
        return port == 0 ? server.bind_to_any_port(host) : server.bind_to_port(host, port) ? port : -1;
    };
    if (callbackPagePort) {
        // Plain HTTP, as a browser opens a callback link without trusting the server's CA.
        callbackPage_ = std::make_unique<httplib::Server>();
        callbackPage_->set_read_timeout(kReadTimeoutSeconds, 0);
        callbackPage_->set_tcp_nodelay(true);
        callbackPage_->Get("/signed", std::move(page));
        callbackPagePort_ = bindTo(*callbackPage_, *callbackPagePort);
        if (callbackPagePort_ <= 0)
            return -1;
    }
    int bound = bindTo(*server_, port);
    return bound > 0 && server_->widenBacklog() ? bound : -1;
}

bool Transport::run(const std::atomic<bool>& stopRequested) {
    server_->new_task_queue = [this, &stopRequested] { return new Workers(*server_, stopRequested); };
    std::thread page;
    std::atomic<bool> pageEnded{false};
    if (callbackPage_)
        page = std::thread([this, &pageEnded] {
            callbackPage_->listen_after_bind();
            pageEnded = true;
        });
    bool served = server_->listen_after_bind();
    if (callbackPage_) {
        // A stop before the page listens would be lost.
        while (!pageEnded && !callbackPage_->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        callbackPage_->stop();
        page.join();
    }
    return served;
}

}  // namespace sim
