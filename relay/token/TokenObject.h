#pragma once
// The objects a token shows for its configuration: the certificate, and the halves of its EC key when that
// key can sign, paired by CKA_ID. Their attributes answer C_GetAttributeValue and C_FindObjectsInit
// templates.
#include <p11-kit/pkcs11.h>

#include <map>
#include <optional>
#include <vector>

#include "platform/Bytes.h"
#include "platform/tokens/TokenStore.h"
#include "relay/token/ECKey.h"

namespace pellin {

// Object handles within a session.
inline constexpr CK_OBJECT_HANDLE certificateHandle = 1;
inline constexpr CK_OBJECT_HANDLE privateKeyHandle = 2;
inline constexpr CK_OBJECT_HANDLE publicKeyHandle = 3;

struct TokenObject {
    CK_OBJECT_HANDLE handle = 0;
    std::map<CK_ATTRIBUTE_TYPE, platform::Bytes> attributes;
    std::vector<CK_ATTRIBUTE_TYPE> sensitive;  // exist, but are never revealed

    // True when every attribute of the template is one of the object's with the same value.
    bool matches(const CK_ATTRIBUTE* templ, CK_ULONG count) const;
    // Fills the template as C_GetAttributeValue does: every attribute is answered; the result is the first
    // of CKR_ATTRIBUTE_SENSITIVE, CKR_ATTRIBUTE_TYPE_INVALID and CKR_BUFFER_TOO_SMALL that occurred (the
    // sensitive one wins).
    CK_RV copyAttributes(CK_ATTRIBUTE* templ, CK_ULONG count) const;
};

struct TokenObjects {
    std::vector<TokenObject> objects;
    std::optional<ECKeyInfo> key;  // the key that signs, when the certificate has one

    // The objects of the configuration; none when it holds no certificate that parses. A certificate whose
    // key cannot sign is shown without a key (the token's log says why).
    static TokenObjects of(const platform::tokens::TokenConfiguration& configuration);

    const TokenObject* find(CK_OBJECT_HANDLE handle) const;
};

}  // namespace pellin
