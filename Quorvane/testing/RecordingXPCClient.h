#pragma once
// An XPC client for tests of the flows that drive the relay link: it records each call, in order, and lets
// the test play the relay's messages to the handlers set on it. Like the app's client, an answer or a
// disconnection drops the sign-request handler.
#include <string>
#include <vector>

#include "Quorvane/core/XPCClient.h"
#include "platform/Codecs.h"

namespace testsupport {

class RecordingXPCClient : public XPCClient {
  public:
    // "disconnect", "connect", "register", "ready", "signature <Base64>", "cancel".
    std::vector<std::string> calls;

    void connect() override { calls.push_back("connect"); }
    void registerWithService() override { calls.push_back("register"); }
    void sendAppIsReady() override { calls.push_back("ready"); }
    void sendSignature(const platform::Bytes& signature) override {
        calls.push_back("signature " + platform::base64Encoded(signature));
        signatureRequestHandler_ = nullptr;
    }
    void cancelTokenCommunication() override {
        calls.push_back("cancel");
        signatureRequestHandler_ = nullptr;
    }
    void disconnect() override {
        calls.push_back("disconnect");
        signatureRequestHandler_ = nullptr;
    }
    void setSignatureRequestHandler(SignatureRequestHandler handler) override {
        signatureRequestHandler_ = std::move(handler);
    }
    void setCommunicationErrorHandler(CommunicationErrorHandler handler) override {
        communicationErrorHandler_ = std::move(handler);
    }

    // The relay forwards the token's hash; nothing happens without a handler.
    void deliverHash(const platform::Bytes& hash, const std::string& instanceID) {
        if (signatureRequestHandler_)
            signatureRequestHandler_(hash, instanceID);
    }
    // The token gave up waiting: the app's client reports "002" and disconnects.
    void deliverTimeout(const AppError& error) {
        if (communicationErrorHandler_)
            communicationErrorHandler_(error);
        disconnect();
    }
    bool hasSignatureRequestHandler() const { return static_cast<bool>(signatureRequestHandler_); }

  private:
    SignatureRequestHandler signatureRequestHandler_;
    CommunicationErrorHandler communicationErrorHandler_;
};

}  // namespace testsupport
