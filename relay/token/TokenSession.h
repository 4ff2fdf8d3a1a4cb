#pragma once
// A PKCS#11 session of the token: its objects, its find operation and its signing operation (CKM_ECDSA with
// the certificate's key, one exchange with the app per signature). Every call answers as its C function does;
// the session's own lock guards the operations, so calls on one session may come from several threads.
#include <p11-kit/pkcs11.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Bytes.h"
#include "relay/token/TokenObject.h"

namespace pellin {

// Where a session's signatures come from: the app through the relay, or a test's stand-in.
class SignatureExchange {
  public:
    virtual ~SignatureExchange() = default;
    // Blocks for the whole exchange: the signature as the app sent it. Throws when none arrives, also when
    // the exchange is closed meanwhile.
    virtual platform::Bytes signDigest(const platform::Bytes& digest, const char* algorithm) = 0;
    // A signature that is waiting ends at once, and later ones fail at once. Callable from any thread.
    virtual void close() = 0;
};

class TokenSession {
  public:
    TokenSession(CK_SLOT_ID slot, CK_FLAGS flags, TokenObjects objects,
                 std::shared_ptr<SignatureExchange> exchange);

    CK_SLOT_ID slot() const { return slot_; }
    CK_FLAGS flags() const { return flags_; }

    CK_RV getAttributeValue(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count) const;
    CK_RV findObjectsInit(CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    CK_RV findObjects(CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount, CK_ULONG_PTR count);
    CK_RV findObjectsFinal();

    CK_RV signInit(CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
    // The size query and a short buffer are answered from the key and keep the operation; anything else ends
    // it. A signature blocks for its exchange with the app, without the session's lock: close() ends it.
    CK_RV sign(CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength);
    // CKM_ECDSA is single-part: there is never a multi-part operation to go on with. These answer so, also
    // after a failed C_Sign and a new C_SignInit (pkcs11-tool's retry), and end an operation that was
    // started.
    CK_RV signUpdate();
    CK_RV signFinal();
    // A signing operation was started and not yet ended (what a context-specific login needs).
    bool isSignInitialized() const;

    // The session is going away: a signature that is waiting ends at once, and its C_Sign answers `reason`
    // (the first one given).
    void close(CK_RV reason);

  private:
    CK_RV multiPartSign();

    const CK_SLOT_ID slot_;
    const CK_FLAGS flags_;
    const TokenObjects objects_;
    const std::shared_ptr<SignatureExchange> exchange_;

    mutable std::mutex mutex_;  // guards the state below
    std::optional<CK_RV> closed_;
    bool findActive_ = false;
    std::vector<CK_OBJECT_HANDLE> found_;
    std::size_t foundIndex_ = 0;
    bool signActive_ = false;
    bool signRunning_ = false;
};

}  // namespace pellin
