#include "relay/common/XPCProtocols.h"

#include <string_view>

namespace relay {

namespace {

using xpc::ArgumentType;

constexpr std::string_view registerFor = "register:for:";
constexpr std::string_view sendAppIsReadySignal = "sendAppIsReadySignal";
constexpr std::string_view sendSignHashRequest = "sendSignHashRequestWithHash:instanceID:";
constexpr std::string_view sendSignRequestTimeout = "sendSignRequestTimeout";
constexpr std::string_view sendSignatureReadySignal = "sendSignatureReadySignalWithSignature:";
constexpr std::string_view sendSignatureFailureSignal = "sendSignatureFailureSignal";
constexpr std::string_view signWithHash = "signWithHash:instanceID:";
constexpr std::string_view signRequestTimeout = "signRequestTimeout";
constexpr std::string_view appIsReady = "appIsReady";
constexpr std::string_view signatureReadyWithSignature = "signatureReadyWithSignature:";
constexpr std::string_view signatureFailed = "signatureFailed";

xpc::Message message(std::string_view name, std::vector<xpc::Value> arguments = {}) {
    return xpc::Message{std::string(name), std::move(arguments)};
}

}  // namespace

xpc::PeerRequirement peerRequirement() {
    return xpc::PeerRequirement::sameUser();
}

std::string roleText(std::int64_t role) {
    switch (role) {
        case static_cast<std::int64_t>(XPCClientRole::app):
            return "app";
        case static_cast<std::int64_t>(XPCClientRole::token):
            return "token";
        default:
            return std::to_string(role);
    }
}

const xpc::Interface& xpcServiceInterface() {
    static const xpc::Interface interface(
        "XPCService", {{std::string(registerFor), {ArgumentType::string, ArgumentType::int64}},
                       {std::string(sendAppIsReadySignal), {}},
                       {std::string(sendSignHashRequest), {ArgumentType::bytes, ArgumentType::string}},
                       {std::string(sendSignRequestTimeout), {}},
                       {std::string(sendSignatureReadySignal), {ArgumentType::bytes}},
                       {std::string(sendSignatureFailureSignal), {}}});
    return interface;
}

const xpc::Interface& xpcClientAppInterface() {
    static const xpc::Interface interface(
        "XPCClientApp", {{std::string(signWithHash), {ArgumentType::bytes, ArgumentType::string}},
                         {std::string(signRequestTimeout), {}}});
    return interface;
}

const xpc::Interface& xpcClientTokenInterface() {
    static const xpc::Interface interface("XPCClientToken",
                                          {{std::string(appIsReady), {}},
                                           {std::string(signatureReadyWithSignature), {ArgumentType::bytes}},
                                           {std::string(signatureFailed), {}}});
    return interface;
}

void exportObject(xpc::Connection& connection, std::weak_ptr<XPCService> weak) {
    connection.setExportedInterface(xpcServiceInterface(), [weak](const xpc::Message& m) {
        auto object = weak.lock();
        if (!object)
            return;
        if (m.name == registerFor)
            object->registerFor(xpc::Endpoint{m.stringAt(0)}, m.int64At(1));
        else if (m.name == sendAppIsReadySignal)
            object->sendAppIsReadySignal();
        else if (m.name == sendSignHashRequest)
            object->sendSignHashRequest(m.bytesAt(0), m.stringAt(1));
        else if (m.name == sendSignRequestTimeout)
            object->sendSignRequestTimeout();
        else if (m.name == sendSignatureReadySignal)
            object->sendSignatureReadySignal(m.bytesAt(0));
        else if (m.name == sendSignatureFailureSignal)
            object->sendSignatureFailureSignal();
    });
}

void exportObject(xpc::Connection& connection, std::weak_ptr<XPCClientApp> weak) {
    connection.setExportedInterface(xpcClientAppInterface(), [weak](const xpc::Message& m) {
        auto object = weak.lock();
        if (!object)
            return;
        if (m.name == signWithHash)
            object->signWithHash(m.bytesAt(0), m.stringAt(1));
        else if (m.name == signRequestTimeout)
            object->signRequestTimeout();
    });
}

void exportObject(xpc::Connection& connection, std::weak_ptr<XPCClientToken> weak) {
    connection.setExportedInterface(xpcClientTokenInterface(), [weak](const xpc::Message& m) {
        auto object = weak.lock();
        if (!object)
            return;
        if (m.name == appIsReady)
            object->appIsReady();
        else if (m.name == signatureReadyWithSignature)
            object->signatureReadyWithSignature(m.bytesAt(0));
        else if (m.name == signatureFailed)
            object->signatureFailed();
    });
}

std::optional<XPCServiceProxy> XPCServiceProxy::remoteObjectProxy(
    const std::shared_ptr<xpc::Connection>& connection) {
    if (!connection || connection->remoteInterfaceName() != xpcServiceInterface().name())
        return std::nullopt;
    return XPCServiceProxy(connection);
}

void XPCServiceProxy::registerFor(const xpc::Endpoint& endpoint, std::int64_t role) {
    connection_->send(message(relay::registerFor, {endpoint.path, role}));
}
void XPCServiceProxy::sendAppIsReadySignal() {
    connection_->send(message(relay::sendAppIsReadySignal));
}
void XPCServiceProxy::sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) {
    connection_->send(message(relay::sendSignHashRequest, {hash, instanceID}));
}
void XPCServiceProxy::sendSignRequestTimeout() {
    connection_->send(message(relay::sendSignRequestTimeout));
}
void XPCServiceProxy::sendSignatureReadySignal(const platform::Bytes& signature) {
    connection_->send(message(relay::sendSignatureReadySignal, {signature}));
}
void XPCServiceProxy::sendSignatureFailureSignal() {
    connection_->send(message(relay::sendSignatureFailureSignal));
}

std::optional<XPCClientAppProxy> XPCClientAppProxy::remoteObjectProxy(
    const std::shared_ptr<xpc::Connection>& connection) {
    if (!connection || connection->remoteInterfaceName() != xpcClientAppInterface().name())
        return std::nullopt;
    return XPCClientAppProxy(connection);
}
void XPCClientAppProxy::signWithHash(const platform::Bytes& hash, const std::string& instanceID) {
    connection_->send(message(relay::signWithHash, {hash, instanceID}));
}
void XPCClientAppProxy::signRequestTimeout() {
    connection_->send(message(relay::signRequestTimeout));
}

std::optional<XPCClientTokenProxy> XPCClientTokenProxy::remoteObjectProxy(
    const std::shared_ptr<xpc::Connection>& connection) {
    if (!connection || connection->remoteInterfaceName() != xpcClientTokenInterface().name())
        return std::nullopt;
    return XPCClientTokenProxy(connection);
}
void XPCClientTokenProxy::appIsReady() {
    connection_->send(message(relay::appIsReady));
}
void XPCClientTokenProxy::signatureReadyWithSignature(const platform::Bytes& signature) {
    connection_->send(message(relay::signatureReadyWithSignature, {signature}));
}
void XPCClientTokenProxy::signatureFailed() {
    connection_->send(message(relay::signatureFailed));
}

}  // namespace relay
