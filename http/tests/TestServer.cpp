#include "TestServer.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <stdexcept>

namespace httptest {

namespace {

platform::Bytes derOf(X509* certificate) {
    unsigned char* der = nullptr;
    int length = i2d_X509(certificate, &der);
    if (length <= 0)
        return {};
    platform::Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    auto it = headers.find(name);  // httplib compares header names without regard to letter case
    if (it == headers.end())
        return std::nullopt;
    return it->second;
}

TestServer::TestServer(const testsupport::Issued& leaf, std::vector<platform::Certificate> chain,
                       bool requestClientCertificate)
    : secure_(true) {
    auto certificate = leaf.certificate;
    auto key = leaf.key;
    server_ = std::make_unique<httplib::SSLServer>(
        [certificate, key, chain, requestClientCertificate](SSL_CTX& context) {
            if (SSL_CTX_use_certificate(&context, certificate.x509()) != 1)
                return false;
            if (SSL_CTX_use_PrivateKey(&context, key.get()) != 1)
                return false;
            for (const auto& extra : chain)
                if (SSL_CTX_add1_chain_cert(&context, extra.x509()) != 1)
                    return false;
            if (requestClientCertificate)
                SSL_CTX_set_verify(&context, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
            return true;
        });
    if (!static_cast<httplib::SSLServer&>(*server_).is_valid())
        throw std::runtime_error("TestServer: bad TLS setup");
}

TestServer::TestServer() : server_(std::make_unique<httplib::Server>()), secure_(false) {}

void TestServer::start() {
    server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        RecordedRequest recorded{request.method, request.path, request.headers, request.body, std::nullopt};
        if (request.ssl) {
            if (X509* peer = SSL_get1_peer_certificate(const_cast<SSL*>(request.ssl))) {
                recorded.clientCertificate = derOf(peer);
                X509_free(peer);
            }
        }
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(recorded));
        return httplib::Server::HandlerResponse::Unhandled;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("TestServer: cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::string TestServer::origin(const std::string& host) const {
    return std::string(secure_ ? "https" : "http") + "://" + host + ":" + std::to_string(port_);
}

std::vector<RecordedRequest> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

}  // namespace httptest
