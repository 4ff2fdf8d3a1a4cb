#include "relay/token/TokenObject.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "outside/Logger/LoggerClient.h"

namespace pellin {

namespace {

using platform::Bytes;

Bytes ulongValue(CK_ULONG value) {
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

Bytes boolValue(bool value) {
    return Bytes{static_cast<std::uint8_t>(value ? CK_TRUE : CK_FALSE)};
}

// What every object of the token has: it lives on the token, is public and read-only, and is labelled and
// paired by CKA_ID.
TokenObject tokenObject(CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS objectClass, const std::string& label,
                        const Bytes& id, const Bytes& subject) {
    TokenObject object{handle, {}, {}};
    auto& a = object.attributes;
    a[CKA_CLASS] = ulongValue(objectClass);
    a[CKA_TOKEN] = boolValue(true);
    a[CKA_PRIVATE] = boolValue(false);
    a[CKA_MODIFIABLE] = boolValue(false);
    a[CKA_LABEL] = platform::toBytes(label);
    a[CKA_ID] = id;
    a[CKA_SUBJECT] = subject;
    return object;
}

// What both halves of the EC key pair have.
TokenObject ecKeyObject(CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS objectClass, const std::string& label,
                        const Bytes& id, const Bytes& subject, const ECKeyInfo& key) {
    auto object = tokenObject(handle, objectClass, label, id, subject);
    auto& a = object.attributes;
    a[CKA_KEY_TYPE] = ulongValue(CKK_EC);
    a[CKA_DERIVE] = boolValue(false);
    a[CKA_LOCAL] = boolValue(false);
    a[CKA_EC_PARAMS] = key.ecParameters;
    return object;
}

}  // namespace

bool TokenObject::matches(const CK_ATTRIBUTE* templ, CK_ULONG count) const {
    for (CK_ULONG i = 0; i < count; ++i) {
        auto found = attributes.find(templ[i].type);
        if (found == attributes.end())
            return false;
        if (templ[i].ulValueLen != found->second.size())
            return false;
        if (templ[i].ulValueLen && (!templ[i].pValue || std::memcmp(templ[i].pValue, found->second.data(),
                                                                    found->second.size()) != 0))
            return false;
    }
    return true;
}

CK_RV TokenObject::copyAttributes(CK_ATTRIBUTE* templ, CK_ULONG count) const {
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        auto& attribute = templ[i];
        if (std::find(sensitive.begin(), sensitive.end(), attribute.type) != sensitive.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
            continue;
        }
        auto found = attributes.find(attribute.type);
        if (found == attributes.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK)
                rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        if (!attribute.pValue) {
            attribute.ulValueLen = found->second.size();
        } else if (attribute.ulValueLen < found->second.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK)
                rv = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(attribute.pValue, found->second.data(), found->second.size());
            attribute.ulValueLen = found->second.size();
        }
    }
    return rv;
}

TokenObjects TokenObjects::of(const platform::tokens::TokenConfiguration& configuration) {
    TokenObjects result;
    auto certificate = configuration.certificateData();
    if (!certificate)
        return result;
    auto fields = certificateFields(*certificate);
    if (!fields)
        return result;
    if (!fields->ecKey)
        LoggerClient("token").error("The certificate gives no signing key: " + fields->keyProblem);
    // Consumers pair a certificate with its key by CKA_ID; the configuration's object ids stay as labels.
    Bytes id = platform::toBytes(configuration.instanceID);
    std::string keyLabel = configuration.instanceID;
    std::string certificateLabel = configuration.instanceID + "-leaf";
    for (const auto& item : configuration.keychainItems) {
        if (item.kind == platform::tokens::KeychainItem::Kind::certificate)
            certificateLabel = item.objectID;
        if (item.kind == platform::tokens::KeychainItem::Kind::key)
            keyLabel = item.objectID;
    }

    auto cert = tokenObject(certificateHandle, CKO_CERTIFICATE, certificateLabel, id, fields->subject);
    auto& c = cert.attributes;
    c[CKA_CERTIFICATE_TYPE] = ulongValue(CKC_X_509);
    c[CKA_TRUSTED] = boolValue(false);
    c[CKA_CERTIFICATE_CATEGORY] = ulongValue(0);
    c[CKA_ISSUER] = fields->issuer;
    c[CKA_SERIAL_NUMBER] = fields->serialNumber;
    c[CKA_VALUE] = *certificate;
    result.objects.push_back(std::move(cert));

    result.key = fields->ecKey;
    if (!result.key)
        return result;  // only an EC key can sign here
    const ECKeyInfo& key = *result.key;

    auto privateKey = ecKeyObject(privateKeyHandle, CKO_PRIVATE_KEY, keyLabel, id, fields->subject, key);
    privateKey.sensitive = {CKA_VALUE};
    auto& p = privateKey.attributes;
    p[CKA_SENSITIVE] = boolValue(true);
    p[CKA_ALWAYS_SENSITIVE] = boolValue(true);
    p[CKA_EXTRACTABLE] = boolValue(false);
    p[CKA_NEVER_EXTRACTABLE] = boolValue(true);
    p[CKA_SIGN] = boolValue(true);
    p[CKA_SIGN_RECOVER] = boolValue(false);
    p[CKA_DECRYPT] = boolValue(false);
    p[CKA_UNWRAP] = boolValue(false);
    p[CKA_ALWAYS_AUTHENTICATE] = boolValue(false);
    p[CKA_KEY_GEN_MECHANISM] = ulongValue(CK_UNAVAILABLE_INFORMATION);
    result.objects.push_back(std::move(privateKey));

    auto publicKey = ecKeyObject(publicKeyHandle, CKO_PUBLIC_KEY, keyLabel, id, fields->subject, key);
    auto& q = publicKey.attributes;
    q[CKA_VERIFY] = boolValue(true);
    q[CKA_VERIFY_RECOVER] = boolValue(false);
    q[CKA_ENCRYPT] = boolValue(false);
    q[CKA_WRAP] = boolValue(false);
    q[CKA_EC_POINT] = key.ecPoint;
    result.objects.push_back(std::move(publicKey));
    return result;
}

const TokenObject* TokenObjects::find(CK_OBJECT_HANDLE handle) const {
    for (const auto& object : objects)
        if (object.handle == handle)
            return &object;
    return nullptr;
}

}  // namespace pellin
