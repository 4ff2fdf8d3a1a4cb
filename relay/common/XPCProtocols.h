#pragma once
// The relay's protocol, shared by the app, the relay Brokel and the token Pellin: the service name, the peer
// requirement, the roles and the three one-way interfaces. On the wire a method is its selector and its
// arguments (bytes for data, a string for text, an int64 for the role; an endpoint travels as its path).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "platform/xpc/Connection.h"

namespace relay {

inline constexpr char machServiceName[] = "com.tovik.kelv-pc-signing-macos.brokel";
inline constexpr char launchAgentPlistName[] = "com.tovik.kelv-pc-signing-macos.brokel.plist";
// The requirement that every peer of the relay must meet. On Linux it stands for the same user
// (peerRequirement()).
inline constexpr char peerCodeSigningRequirement[] = "certificate leaf[subject.OU] = \"KQ72MVX9DT\"";

xpc::PeerRequirement peerRequirement();

enum class XPCClientRole : std::int64_t { app = 0, token = 1 };

// "app" or "token"; any other value as its number.
std::string roleText(std::int64_t role);

// The interfaces with their methods, in declaration order.
const xpc::Interface& xpcServiceInterface();
const xpc::Interface& xpcClientAppInterface();
const xpc::Interface& xpcClientTokenInterface();

// Exported by the relay on every connection it accepts.
class XPCService {
  public:
    virtual ~XPCService() = default;
    virtual void registerFor(const xpc::Endpoint& endpoint, std::int64_t role) = 0;
    virtual void sendAppIsReadySignal() = 0;
    virtual void sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) = 0;
    virtual void sendSignRequestTimeout() = 0;
    virtual void sendSignatureReadySignal(const platform::Bytes& signature) = 0;
    virtual void sendSignatureFailureSignal() = 0;
};

// Exported by the app on the connection the relay opens to the app's endpoint.
class XPCClientApp {
  public:
    virtual ~XPCClientApp() = default;
    virtual void signWithHash(const platform::Bytes& hash, const std::string& instanceID) = 0;
    virtual void signRequestTimeout() = 0;
};

// Exported by the token on the connection the relay opens to the token's endpoint.
class XPCClientToken {
  public:
    virtual ~XPCClientToken() = default;
    virtual void appIsReady() = 0;
    virtual void signatureReadyWithSignature(const platform::Bytes& signature) = 0;
    virtual void signatureFailed() = 0;
};

// Makes the connection deliver its messages to the object (held weakly: nothing is delivered once it is
// gone).
void exportObject(xpc::Connection& connection, std::weak_ptr<XPCService> object);
void exportObject(xpc::Connection& connection, std::weak_ptr<XPCClientApp> object);
void exportObject(xpc::Connection& connection, std::weak_ptr<XPCClientToken> object);

// Remote object proxies: each call sends one one-way message. Made only for a connection whose remote
// interface is the named one (remoteObjectProxy answers nothing otherwise).
class XPCServiceProxy final : public XPCService {
  public:
    static std::optional<XPCServiceProxy> remoteObjectProxy(
        const std::shared_ptr<xpc::Connection>& connection);
    void registerFor(const xpc::Endpoint& endpoint, std::int64_t role) override;
    void sendAppIsReadySignal() override;
    void sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) override;
    void sendSignRequestTimeout() override;
    void sendSignatureReadySignal(const platform::Bytes& signature) override;
    void sendSignatureFailureSignal() override;

  private:
    explicit XPCServiceProxy(std::shared_ptr<xpc::Connection> connection)
        : connection_(std::move(connection)) {}
    std::shared_ptr<xpc::Connection> connection_;
};

class XPCClientAppProxy final : public XPCClientApp {
  public:
    static std::optional<XPCClientAppProxy> remoteObjectProxy(
        const std::shared_ptr<xpc::Connection>& connection);
    void signWithHash(const platform::Bytes& hash, const std::string& instanceID) override;
    void signRequestTimeout() override;

  private:
    explicit XPCClientAppProxy(std::shared_ptr<xpc::Connection> connection)
        : connection_(std::move(connection)) {}
    std::shared_ptr<xpc::Connection> connection_;
};

class XPCClientTokenProxy final : public XPCClientToken {
  public:
    static std::optional<XPCClientTokenProxy> remoteObjectProxy(
        const std::shared_ptr<xpc::Connection>& connection);
    void appIsReady() override;
    void signatureReadyWithSignature(const platform::Bytes& signature) override;
    void signatureFailed() override;

  private:
    explicit XPCClientTokenProxy(std::shared_ptr<xpc::Connection> connection)
        : connection_(std::move(connection)) {}
    std::shared_ptr<xpc::Connection> connection_;
};

}  // namespace relay
