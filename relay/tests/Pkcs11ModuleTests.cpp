// The token as a PKCS#11 module, loaded as an application loads it: slots from the token store, the
// certificate and its key paired by CKA_ID, and ECDSA signing through the real relay and a fake app.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>

#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

CK_FUNCTION_LIST_PTR p11 = nullptr;

std::filesystem::path modulePath() {
    return testsupport::binaryDir().parent_path() / "lib" / "libpellin-pkcs11.so";
}

std::string trimmed(const CK_UTF8CHAR* field, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

class Pkcs11Module : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (p11)
            return;
        ::setenv("QUORVANE_TIME_SCALE", "0.2", 1);  // read by the module on its first signature
        FakeOpener::shared();
        void* module = ::dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << ::dlerror();
        auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(module, "C_GetFunctionList"));
        ASSERT_NE(getFunctionList, nullptr);
        ASSERT_EQ(getFunctionList(&p11), CKR_OK);
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    }

    void SetUp() override {
        ASSERT_NE(p11, nullptr);
        store.installDriver();
        store.removeAllConfigurations();
    }

    std::vector<CK_SLOT_ID> slots() {
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        std::vector<CK_SLOT_ID> list(count);
        EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, list.data(), &count), CKR_OK);
        list.resize(count);
        return list;
    }

    std::string label(CK_SLOT_ID slot) {
        CK_TOKEN_INFO info;
        EXPECT_EQ(p11->C_GetTokenInfo(slot, &info), CKR_OK);
        return trimmed(info.label, sizeof info.label);
    }

    CK_SLOT_ID slotOf(const std::string& instanceID) {
        for (auto slot : slots())
            if (label(slot) == instanceID)
                return slot;
        ADD_FAILURE() << "no slot for " << instanceID;
        return 0;
    }

    CK_SESSION_HANDLE open(const std::string& instanceID) {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(p11->C_OpenSession(slotOf(instanceID), CKF_SERIAL_SESSION, nullptr, nullptr, &session),
                  CKR_OK);
        return session;
    }

    std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass) {
        CK_ATTRIBUTE templ{CKA_CLASS, &objectClass, sizeof objectClass};
        EXPECT_EQ(p11->C_FindObjectsInit(session, &templ, 1), CKR_OK);
        CK_OBJECT_HANDLE handles[8];
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, handles, 8, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        return std::vector<CK_OBJECT_HANDLE>(handles, handles + count);
    }

    Bytes attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        CK_ATTRIBUTE a{type, nullptr, 0};
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &a, 1), CKR_OK) << type;
        Bytes value(a.ulValueLen);
        a.pValue = value.data();
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &a, 1), CKR_OK) << type;
        return value;
    }

    TokenStore store;
};

testsupport::Issued certificate(testsupport::KeyType type, const std::string& name) {
    testsupport::CertificateRequest request;
    request.commonName = name;
    request.keyType = type;
    return testsupport::makeSelfSigned(request);
}

}  // namespace

TEST_F(Pkcs11Module, SlotsFollowTheStore) {
    EXPECT_TRUE(slots().empty());
    auto a = certificate(testsupport::KeyType::ecP256, "A");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-A", a.der()));
    store.writeConfiguration(TokenConfiguration::forCertificate("WALLET_TOKEN_IDENTIFIER", a.der()));
    ASSERT_EQ(slots().size(), 2u);
    CK_SLOT_ID slotA = slotOf("CARD-A");
    CK_SLOT_ID wallet = slotOf("WALLET_TOKEN_IDENTIFIER");
    EXPECT_NE(slotA, wallet);

    CK_TOKEN_INFO info;
    ASSERT_EQ(p11->C_GetTokenInfo(slotA, &info), CKR_OK);
    EXPECT_FALSE(info.flags & CKF_LOGIN_REQUIRED);
    EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);

    store.removeConfiguration("CARD-A");
    EXPECT_EQ(slots(), std::vector<CK_SLOT_ID>{wallet});  // slot ids stay stable
    CK_SESSION_HANDLE session;
    EXPECT_EQ(p11->C_OpenSession(slotA, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
              CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(p11->C_OpenSession(9999, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(p11->C_OpenSession(wallet, 0, nullptr, nullptr, &session), CKR_SESSION_PARALLEL_NOT_SUPPORTED);

    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    CK_SLOT_ID none[1];
    count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, none, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1u);
}

TEST_F(Pkcs11Module, CertificateAndKeyArePairedByID) {
    auto issued = certificate(testsupport::KeyType::ecP256, "Pairing");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-P", issued.der()));
    auto session = open("CARD-P");

    auto certificates = find(session, CKO_CERTIFICATE);
    auto privateKeys = find(session, CKO_PRIVATE_KEY);
    auto publicKeys = find(session, CKO_PUBLIC_KEY);
    ASSERT_EQ(certificates.size(), 1u);
    ASSERT_EQ(privateKeys.size(), 1u);
    ASSERT_EQ(publicKeys.size(), 1u);

    EXPECT_EQ(attribute(session, certificates[0], CKA_VALUE), issued.der());
    Bytes id = attribute(session, certificates[0], CKA_ID);
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(attribute(session, privateKeys[0], CKA_ID), id);
    EXPECT_EQ(attribute(session, publicKeys[0], CKA_ID), id);
    EXPECT_EQ(platform::toString(attribute(session, certificates[0], CKA_LABEL)), "CARD-P-leaf");
    EXPECT_EQ(platform::toString(attribute(session, privateKeys[0], CKA_LABEL)), "CARD-P");
    Bytes prime256v1{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    EXPECT_EQ(attribute(session, privateKeys[0], CKA_EC_PARAMS), prime256v1);
    CK_KEY_TYPE keyType = 0;
    CK_ATTRIBUTE type{CKA_KEY_TYPE, &keyType, sizeof keyType};
    EXPECT_EQ(p11->C_GetAttributeValue(session, privateKeys[0], &type, 1), CKR_OK);
    EXPECT_EQ(keyType, static_cast<CK_KEY_TYPE>(CKK_EC));

    // The key is never revealed, and unknown attributes are reported as such.
    std::uint8_t buffer[64];
    CK_ATTRIBUTE secret{CKA_VALUE, buffer, sizeof buffer};
    EXPECT_EQ(p11->C_GetAttributeValue(session, privateKeys[0], &secret, 1), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(secret.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE modulus{CKA_MODULUS, buffer, sizeof buffer};
    EXPECT_EQ(p11->C_GetAttributeValue(session, privateKeys[0], &modulus, 1), CKR_ATTRIBUTE_TYPE_INVALID);

    // Finding by CKA_ID gives the whole pair.
    CK_ATTRIBUTE byID{CKA_ID, id.data(), id.size()};
    ASSERT_EQ(p11->C_FindObjectsInit(session, &byID, 1), CKR_OK);
    CK_OBJECT_HANDLE handles[8];
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_FindObjects(session, handles, 8, &count), CKR_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(Pkcs11Module, SignsDigestsThroughTheAppWithOneExchangePerSignature) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    struct Case {
        testsupport::KeyType type;
        std::size_t digestLength;
        CK_ULONG signatureLength;
    };
    int exchanges = 0;
    for (auto c : {Case{testsupport::KeyType::ecP256, 32, 64}, Case{testsupport::KeyType::ecP256, 48, 64},
                   Case{testsupport::KeyType::ecP256, 64, 64}, Case{testsupport::KeyType::ecP384, 48, 96}}) {
        auto issued = certificate(c.type, "Signer");
        store.writeConfiguration(TokenConfiguration::forCertificate("CARD-S", issued.der()));
        auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
        app->connectAndRegister();

        auto session = open("CARD-S");
        auto key = find(session, CKO_PRIVATE_KEY).at(0);
        CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
        ASSERT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OK);
        EXPECT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OPERATION_ACTIVE);
        Bytes digest(c.digestLength);
        for (std::size_t i = 0; i < digest.size(); ++i)
            digest[i] = static_cast<std::uint8_t>(i * 7 + c.digestLength);

        // The size query and a short buffer are answered from the key, without asking the app.
        CK_ULONG length = 0;
        ASSERT_EQ(p11->C_Sign(session, digest.data(), digest.size(), nullptr, &length), CKR_OK);
        EXPECT_EQ(length, c.signatureLength);
        Bytes signature(length);
        CK_ULONG shortLength = length - 1;
        ASSERT_EQ(p11->C_Sign(session, digest.data(), digest.size(), signature.data(), &shortLength),
                  CKR_BUFFER_TOO_SMALL);
        EXPECT_TRUE(app->requests().empty());

        ASSERT_EQ(p11->C_Sign(session, digest.data(), digest.size(), signature.data(), &length), CKR_OK);
        ++exchanges;
        EXPECT_EQ(length, c.signatureLength);
        EXPECT_TRUE(verifies(issued.key.get(), digest, signature)) << c.digestLength;
        ASSERT_EQ(app->requests().size(), 1u);
        EXPECT_EQ(app->requests()[0].hash, digest);
        EXPECT_EQ(app->requests()[0].instanceID, "CARD-S");
        EXPECT_EQ(p11->C_Sign(session, digest.data(), digest.size(), signature.data(), &length),
                  CKR_OPERATION_NOT_INITIALIZED);
        p11->C_CloseSession(session);
    }
    EXPECT_TRUE(brokel.waitForMessage("info: XPC signature exchange completed with success", exchanges));
}

TEST_F(Pkcs11Module, EveryMissingSignatureIsAFunctionFailure) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Failing");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-F", issued.der()));
    auto session = open("CARD-F");
    auto key = find(session, CKO_PRIVATE_KEY).at(0);
    CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
    Bytes digest(32, 5);
    for (auto answer : {FakeApp::Answer::failure, FakeApp::Answer::empty, FakeApp::Answer::garbage}) {
        auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
        app->setAnswer(answer);
        app->connectAndRegister();
        ASSERT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OK);
        Bytes signature(64);
        CK_ULONG length = signature.size();
        EXPECT_EQ(p11->C_Sign(session, digest.data(), digest.size(), signature.data(), &length),
                  CKR_FUNCTION_FAILED);
        EXPECT_EQ(app->requests().size(), 1u);
    }

    // Inputs that cannot be a supported digest, other mechanisms and other keys are refused without an
    // exchange.
    ASSERT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OK);
    Bytes sha1(20, 1);
    Bytes signature(64);
    CK_ULONG length = signature.size();
    EXPECT_EQ(p11->C_Sign(session, sha1.data(), sha1.size(), signature.data(), &length), CKR_DATA_LEN_RANGE);
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(p11->C_SignInit(session, &rsa, key), CKR_MECHANISM_INVALID);
    EXPECT_EQ(p11->C_SignInit(session, &ecdsa, find(session, CKO_CERTIFICATE).at(0)), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(p11->C_EncryptInit(session, &ecdsa, key), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(p11->C_GenerateRandom(session, signature.data(), 8), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(p11->C_SignUpdate(session, digest.data(), digest.size()), CKR_FUNCTION_NOT_SUPPORTED);
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetMechanismList(slotOf("CARD-F"), nullptr, &count), CKR_OK);
    CK_MECHANISM_TYPE mechanism = 0;
    ASSERT_EQ(p11->C_GetMechanismList(slotOf("CARD-F"), &mechanism, &count), CKR_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(mechanism, static_cast<CK_MECHANISM_TYPE>(CKM_ECDSA));
    p11->C_CloseSession(session);
}
