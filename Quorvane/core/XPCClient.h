#pragma once
// The app's end of the signature relay, as the signing flow drives it: connect, register, announce that the
// app is ready, then answer the one sign request with a signature or a failure. Each answer and the token's
// time-out leave the client disconnected; it is reused for the next exchange. Main thread only.
#include <functional>
#include <string>

#include "AppError.h"
#include "platform/Bytes.h"

class XPCClient {
  public:
    // Called with the digest to sign and the token configuration's instance id, on the client's XPC queue.
    using SignatureRequestHandler =
        std::function<void(const platform::Bytes& digest, const std::string& instanceID)>;
    // Called when the token side gave up waiting for the signature.
    using CommunicationErrorHandler = std::function<void(const AppError& error)>;

    virtual ~XPCClient() = default;

    virtual void connect() = 0;
    virtual void registerWithService() = 0;
    virtual void sendAppIsReady() = 0;
    virtual void sendSignature(const platform::Bytes& signature) = 0;
    virtual void cancelTokenCommunication() = 0;
    virtual void disconnect() = 0;

    virtual void setSignatureRequestHandler(SignatureRequestHandler handler) = 0;
    virtual void setCommunicationErrorHandler(CommunicationErrorHandler handler) = 0;
};
