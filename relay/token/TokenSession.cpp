#include "relay/token/TokenSession.h"

#include <cstring>
#include <exception>

#include "outside/Logger/LoggerClient.h"
#include "relay/token/QuorvaneToken.h"

namespace pellin {

namespace {

// The digest algorithm that a digest of this length stands for.
const char* algorithmForDigestLength(std::size_t length) {
    switch (length) {
        case 32:
            return algorithms::ecdsaSignatureDigestX962SHA256;
        case 48:
            return algorithms::ecdsaSignatureDigestX962SHA384;
        default:
            return algorithms::ecdsaSignatureDigestX962SHA512;
    }
}

}  // namespace

TokenSession::TokenSession(CK_SLOT_ID slot, CK_FLAGS flags, TokenObjects objects,
                           std::shared_ptr<SignatureExchange> exchange)
    : slot_(slot), flags_(flags), objects_(std::move(objects)), exchange_(std::move(exchange)) {}

CK_RV TokenSession::getAttributeValue(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count) const {
    if (!templ && count)
        return CKR_ARGUMENTS_BAD;
    const TokenObject* object = objects_.find(handle);
    if (!object)
        return CKR_OBJECT_HANDLE_INVALID;
    return object->copyAttributes(templ, count);
}

CK_RV TokenSession::findObjectsInit(CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    if (!templ && count)
        return CKR_ARGUMENTS_BAD;
    std::lock_guard lock(mutex_);
    if (findActive_)
        return CKR_OPERATION_ACTIVE;
    found_.clear();
    for (const auto& object : objects_.objects)
        if (object.matches(templ, count))
            found_.push_back(object.handle);
    foundIndex_ = 0;
    findActive_ = true;
    return CKR_OK;
}

CK_RV TokenSession::findObjects(CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount, CK_ULONG_PTR count) {
    if (!objects || !count)
        return CKR_ARGUMENTS_BAD;
    std::lock_guard lock(mutex_);
    if (!findActive_)
        return CKR_OPERATION_NOT_INITIALIZED;
    CK_ULONG n = 0;
    while (n < maxCount && foundIndex_ < found_.size())
        objects[n++] = found_[foundIndex_++];
    *count = n;
    return CKR_OK;
}

CK_RV TokenSession::findObjectsFinal() {
    std::lock_guard lock(mutex_);
    if (!findActive_)
        return CKR_OPERATION_NOT_INITIALIZED;
    findActive_ = false;
    found_.clear();
    return CKR_OK;
}

CK_RV TokenSession::signInit(CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    if (!mechanism)
        return CKR_ARGUMENTS_BAD;
    std::lock_guard lock(mutex_);
    if (signActive_ || signRunning_)
        return CKR_OPERATION_ACTIVE;
    if (mechanism->mechanism != CKM_ECDSA)
        return CKR_MECHANISM_INVALID;
    if (mechanism->ulParameterLen != 0)
        return CKR_MECHANISM_PARAM_INVALID;
    if (key != privateKeyHandle || !objects_.find(privateKeyHandle))
        return CKR_KEY_HANDLE_INVALID;
    signActive_ = true;
    return CKR_OK;
}

CK_RV TokenSession::sign(CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
                         CK_ULONG_PTR signatureLength) {
    platform::Bytes digest;
    {
        std::lock_guard lock(mutex_);
        if (!signActive_)
            return CKR_OPERATION_NOT_INITIALIZED;
        if (!signatureLength || (!data && dataLength)) {
            signActive_ = false;
            return CKR_ARGUMENTS_BAD;
        }
        std::size_t size = objects_.key->signatureSize();
        // The size query is answered from the key alone: it must never start an exchange with the app.
        if (!signature) {
            *signatureLength = size;
            return CKR_OK;
        }
        if (*signatureLength < size) {
            *signatureLength = size;
            return CKR_BUFFER_TOO_SMALL;
        }
        signActive_ = false;
        // The request carries the number that ECDSA signs as a digest of the key's size.
        digest = objects_.key->digestFor(data, dataLength);
        signRunning_ = true;
    }
    struct Running {
        TokenSession& session;
        ~Running() {
            std::lock_guard lock(session.mutex_);
            session.signRunning_ = false;
        }
    } running{*this};

    std::optional<platform::Bytes> raw;
    try {
        platform::Bytes answer = exchange_->signDigest(digest, algorithmForDigestLength(digest.size()));
        raw = objects_.key->verifiedSignature(answer, digest);
        if (!raw)
            LoggerClient("token").error(
                "The signature from the app does not verify with the certificate's key");
    } catch (const std::exception& error) {
        LoggerClient("token").error(error.what());
    }
    std::lock_guard lock(mutex_);
    if (closed_)
        return *closed_;
    if (!raw)
        return CKR_FUNCTION_FAILED;
    std::memcpy(signature, raw->data(), raw->size());
    *signatureLength = raw->size();
    return CKR_OK;
}

CK_RV TokenSession::multiPartSign() {
    std::lock_guard lock(mutex_);
    // A call that fails ends the operation that C_SignInit started.
    signActive_ = false;
    return CKR_OPERATION_NOT_INITIALIZED;
}

CK_RV TokenSession::signUpdate() {
    return multiPartSign();
}

CK_RV TokenSession::signFinal() {
    return multiPartSign();
}

bool TokenSession::isSignInitialized() const {
    std::lock_guard lock(mutex_);
    return signActive_;
}

void TokenSession::close(CK_RV reason) {
    {
        std::lock_guard lock(mutex_);
        if (!closed_)
            closed_ = reason;
    }
    exchange_->close();
}

}  // namespace pellin
