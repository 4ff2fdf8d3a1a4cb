// The token as a PKCS#11 module, loaded as an application loads it: slots from the token store, the
// certificate and its key paired by CKA_ID, and ECDSA signing through the real relay and a fake app. The test
// build's module is used (its waits are a fifth of the real ones).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>

#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

CK_FUNCTION_LIST_PTR p11 = nullptr;

// As GnuTLS initialises a module: the system's locking, and no threads of the module's own.
CK_C_INITIALIZE_ARGS withoutThreads() {
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    return args;
}

std::string trimmed(const CK_UTF8CHAR* field, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

Bytes pattern(std::size_t length, int seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) * 31 + 1);
    return bytes;
}

std::size_t countOfToken(const std::string& message) {
    return countOf(tokenLogMessages(), message);
}

class Pkcs11Module : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (p11)
            return;
        FakeOpener::shared();
        void* module = ::dlopen(testModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << ::dlerror();
        auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(module, "C_GetFunctionList"));
        ASSERT_NE(getFunctionList, nullptr);
        ASSERT_EQ(getFunctionList(&p11), CKR_OK);
        auto args = withoutThreads();
        ASSERT_EQ(p11->C_Initialize(&args), CKR_OK);
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

    CK_STATE state(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO info{};
        EXPECT_EQ(p11->C_GetSessionInfo(session, &info), CKR_OK);
        return info.state;
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

    // C_SignInit and C_Sign with CKM_ECDSA and the session's key; the signature is resized to its length.
    CK_RV sign(CK_SESSION_HANDLE session, Bytes input, Bytes& signature) {
        CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
        CK_RV rv = p11->C_SignInit(session, &ecdsa, find(session, CKO_PRIVATE_KEY).at(0));
        if (rv != CKR_OK)
            return rv;
        signature.assign(132, 0);
        CK_ULONG length = signature.size();
        rv = p11->C_Sign(session, input.data(), input.size(), signature.data(), &length);
        signature.resize(rv == CKR_OK ? length : 0);
        return rv;
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

TEST_F(Pkcs11Module, TokenIsWriteProtectedAndLoginOnlyChangesTheSessionState) {
    auto issued = certificate(testsupport::KeyType::ecP256, "Read only");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-RO", issued.der()));
    CK_SLOT_ID slot = slotOf("CARD-RO");
    CK_TOKEN_INFO info;
    ASSERT_EQ(p11->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_WRITE_PROTECTED);
    EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);
    EXPECT_FALSE(info.flags & CKF_LOGIN_REQUIRED);
    EXPECT_EQ(info.ulMaxRwSessionCount, 0u);
    CK_SESSION_HANDLE rw;
    EXPECT_EQ(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &rw),
              CKR_TOKEN_WRITE_PROTECTED);

    // The login state belongs to the application: every session of the token shows it.
    auto first = open("CARD-RO");
    auto second = open("CARD-RO");
    EXPECT_EQ(state(first), CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(p11->C_Logout(first), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(p11->C_Login(first, CKU_USER, nullptr, 0), CKR_OK);
    EXPECT_EQ(state(first), CKS_RO_USER_FUNCTIONS);
    EXPECT_EQ(state(second), CKS_RO_USER_FUNCTIONS);
    EXPECT_EQ(p11->C_Login(second, CKU_USER, nullptr, 0), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(p11->C_Login(second, CKU_SO, nullptr, 0), CKR_SESSION_READ_ONLY_EXISTS);
    EXPECT_EQ(p11->C_Logout(second), CKR_OK);
    EXPECT_EQ(state(first), CKS_RO_PUBLIC_SESSION);
    // Closing the token's last session logs it out.
    EXPECT_EQ(p11->C_Login(first, CKU_USER, nullptr, 0), CKR_OK);
    EXPECT_EQ(p11->C_CloseAllSessions(slot), CKR_OK);
    EXPECT_EQ(state(open("CARD-RO")), CKS_RO_PUBLIC_SESSION);

    // The one mechanism, as exactly what signing accepts: P-256 and P-384 named-curve keys.
    CK_MECHANISM_INFO mechanism{};
    ASSERT_EQ(p11->C_GetMechanismInfo(slot, CKM_ECDSA, &mechanism), CKR_OK);
    EXPECT_EQ(mechanism.ulMinKeySize, 256u);
    EXPECT_EQ(mechanism.ulMaxKeySize, 384u);
    EXPECT_EQ(mechanism.flags,
              static_cast<CK_FLAGS>(CKF_SIGN | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS));
    EXPECT_EQ(p11->C_GetMechanismInfo(slot, CKM_ECDSA_SHA256, &mechanism), CKR_MECHANISM_INVALID);
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

TEST_F(Pkcs11Module, CertificateWhoseKeyCannotSignGivesNoKey) {
    struct Case {
        testsupport::KeyType type;
        std::string logLine;
    };
    for (const auto& c :
         {Case{
              testsupport::KeyType::ecP521,
              "error: The certificate gives no signing key: the certificate's key is on the curve secp521r1, "
              "which the token does not support"},
          Case{testsupport::KeyType::rsa2048,
               "error: The certificate gives no signing key: the certificate's key is not an EC key"}}) {
        store.removeAllConfigurations();
        store.writeConfiguration(
            TokenConfiguration::forCertificate("CARD-NOKEY", certificate(c.type, "No key").der()));
        auto before = countOfToken(c.logLine);
        auto session = open("CARD-NOKEY");
        EXPECT_EQ(find(session, CKO_CERTIFICATE).size(), 1u);
        EXPECT_TRUE(find(session, CKO_PRIVATE_KEY).empty());
        EXPECT_TRUE(find(session, CKO_PUBLIC_KEY).empty());
        CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
        EXPECT_EQ(p11->C_SignInit(session, &ecdsa, 2), CKR_KEY_HANDLE_INVALID);
        EXPECT_EQ(countOfToken(c.logLine), before + 1) << c.logLine;
        p11->C_CloseSession(session);
    }
}

TEST_F(Pkcs11Module, InputOfAnyLengthIsSignedAsTheNumberThatECDSASigns) {
    BrokelProcess brokel;
    struct Case {
        testsupport::KeyType type;
        std::vector<std::size_t> inputLengths;
        std::size_t digestLength;
    };
    for (const auto& c : {Case{testsupport::KeyType::ecP256, {1, 20, 30, 31, 32, 33, 48, 64, 100}, 32},
                          Case{testsupport::KeyType::ecP384, {20, 32, 47, 48, 49, 64}, 48}}) {
        auto issued = certificate(c.type, "Signer");
        store.writeConfiguration(TokenConfiguration::forCertificate("CARD-S", issued.der()));
        ServingApp app(issued.key);
        auto session = open("CARD-S");
        auto key = find(session, CKO_PRIVATE_KEY).at(0);
        CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
        std::size_t exchanges = 0;
        for (std::size_t length : c.inputLengths) {
            Bytes input = pattern(length, static_cast<int>(length));
            ASSERT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OK);
            EXPECT_EQ(p11->C_SignInit(session, &ecdsa, key), CKR_OPERATION_ACTIVE);

            // The size query and a short buffer are answered from the key, without asking the app.
            CK_ULONG size = 0;
            ASSERT_EQ(p11->C_Sign(session, input.data(), input.size(), nullptr, &size), CKR_OK);
            EXPECT_EQ(size, 2 * c.digestLength);
            Bytes signature(size);
            CK_ULONG shortLength = size - 1;
            ASSERT_EQ(p11->C_Sign(session, input.data(), input.size(), signature.data(), &shortLength),
                      CKR_BUFFER_TOO_SMALL);

            CK_ULONG length_ = size;
            ASSERT_EQ(p11->C_Sign(session, input.data(), input.size(), signature.data(), &length_), CKR_OK)
                << length;
            ++exchanges;
            EXPECT_EQ(length_, 2 * c.digestLength);
            // OpenSSL pads and cuts the input itself, as ECDSA does.
            EXPECT_TRUE(verifies(issued.key.get(), input, signature)) << length;
            ASSERT_EQ(app.requests().size(), exchanges) << length;
            Bytes sent = app.requests().back().hash;
            Bytes expected(c.digestLength, 0);
            std::size_t kept = std::min(length, c.digestLength);
            std::copy(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(kept),
                      expected.end() - static_cast<std::ptrdiff_t>(kept));
            EXPECT_EQ(sent, expected) << length;
            EXPECT_EQ(app.requests().back().instanceID, "CARD-S");
            EXPECT_EQ(p11->C_Sign(session, input.data(), input.size(), signature.data(), &length_),
                      CKR_OPERATION_NOT_INITIALIZED);
        }
        p11->C_CloseSession(session);
    }
}

TEST_F(Pkcs11Module, AnswerThatIsNoValidSignatureOfTheDigestIsAFailure) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Failing");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-F", issued.der()));
    auto session = open("CARD-F");
    Bytes digest = pattern(32, 5);

    // r and s of a good signature over the digest, to spoil one at a time.
    Bytes good = FakeApp::sign(issued.key.get(), digest);
    const unsigned char* p = good.data();
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> parsed(
        d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(good.size())), ECDSA_SIG_free);
    ASSERT_TRUE(parsed);
    Bytes r(32), s(32);
    BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), r.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), s.data(), 32);
    Bytes order(32);
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(
        EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1), EC_GROUP_free);
    BN_bn2binpad(EC_GROUP_get0_order(group.get()), order.data(), 32);
    auto joined = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    Bytes trailing = good;
    trailing.push_back(0);

    struct Case {
        const char* name;
        FakeApp::Answer answer;
        Bytes bytes;
    };
    for (const auto& c :
         {Case{"failure signal", FakeApp::Answer::failure, {}}, Case{"empty", FakeApp::Answer::empty, {}},
          Case{"not a signature", FakeApp::Answer::garbage, {}},
          Case{"over another digest", FakeApp::Answer::custom,
               FakeApp::sign(issued.key.get(), pattern(32, 6))},
          Case{"r = 0", FakeApp::Answer::custom, joined(Bytes(32, 0), s)},
          Case{"s = n", FakeApp::Answer::custom, joined(r, order)},
          Case{"DER with a byte after it", FakeApp::Answer::custom, trailing}}) {
        auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
        app->setAnswer(c.answer, c.bytes);
        app->connectAndRegister();
        Bytes signature;
        EXPECT_EQ(sign(session, digest, signature), CKR_FUNCTION_FAILED) << c.name;
        EXPECT_EQ(app->requests().size(), 1u) << c.name;
    }
    // The same answer in r‖s form is a signature.
    auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    app->setAnswer(FakeApp::Answer::custom, joined(r, s));
    app->connectAndRegister();
    Bytes signature;
    ASSERT_EQ(sign(session, digest, signature), CKR_OK);
    EXPECT_EQ(signature, joined(r, s));

    // Other mechanisms and other objects are refused.
    CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
    auto key = find(session, CKO_PRIVATE_KEY).at(0);
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(p11->C_SignInit(session, &rsa, key), CKR_MECHANISM_INVALID);
    EXPECT_EQ(p11->C_SignInit(session, &ecdsa, find(session, CKO_CERTIFICATE).at(0)), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(p11->C_EncryptInit(session, &ecdsa, key), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(p11->C_SignUpdate(session, digest.data(), digest.size()), CKR_OPERATION_NOT_INITIALIZED);
    p11->C_CloseSession(session);
}

// pkcs11-tool tries the multi-part functions after a C_Sign that failed: they must tell it that no such
// operation is under way, not that they do not exist.
TEST_F(Pkcs11Module, AFailedSignatureLeavesNoOperationForUpdateOrFinal) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Failed");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-X", issued.der()));
    auto session = open("CARD-X");
    auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    app->setAnswer(FakeApp::Answer::failure);
    app->connectAndRegister();
    Bytes digest = pattern(32, 3), signature;
    ASSERT_EQ(sign(session, digest, signature), CKR_FUNCTION_FAILED);
    EXPECT_EQ(p11->C_SignUpdate(session, digest.data(), digest.size()), CKR_OPERATION_NOT_INITIALIZED);
    CK_ULONG length = 64;
    signature.resize(length);
    EXPECT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    // Nor is there one after a new C_SignInit, as pkcs11-tool retries: CKM_ECDSA is single-part.
    CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
    ASSERT_EQ(p11->C_SignInit(session, &ecdsa, find(session, CKO_PRIVATE_KEY).at(0)), CKR_OK);
    EXPECT_EQ(p11->C_SignUpdate(session, digest.data(), digest.size()), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    p11->C_CloseSession(session);
}

namespace {

template <class... Args>
CK_RV callWithZeros(CK_RV (*function)(Args...)) {
    return function(Args{}...);
}

}  // namespace

// Whatever a call throws inside the module, the application gets a C error code. The test build's module
// makes the next call throw at the boundary, before its body runs; every C function is tried with each kind.
TEST_F(Pkcs11Module, NoExceptionLeavesTheModule) {
    void* testModule = ::dlopen(testModulePath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    ASSERT_NE(testModule, nullptr);
    auto throwInNextCall =
        reinterpret_cast<void (*)(int)>(::dlsym(testModule, "pellin_testing_throwInNextCall"));
    ASSERT_NE(throwInNextCall, nullptr);
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(testModule, "C_GetFunctionList"));
    // The shipped module has no such seam.
    void* shipped = ::dlopen(shippedModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(shipped, nullptr) << ::dlerror();
    EXPECT_EQ(::dlsym(shipped, "pellin_testing_throwInNextCall"), nullptr);
    ::dlclose(shipped);

    struct Function {
        const char* name;
        std::function<CK_RV()> call;
    };
#define FUNCTION(name) Function{#name, [] { return callWithZeros(p11->name); }},
    const std::vector<Function> functions = {
        FUNCTION(C_Initialize) FUNCTION(C_Finalize) FUNCTION(C_GetInfo) FUNCTION(C_GetFunctionList) FUNCTION(
            C_GetSlotList) FUNCTION(C_GetSlotInfo) FUNCTION(C_GetTokenInfo) FUNCTION(C_WaitForSlotEvent)
            FUNCTION(C_GetMechanismList) FUNCTION(C_GetMechanismInfo) FUNCTION(C_InitToken) FUNCTION(
                C_InitPIN) FUNCTION(C_SetPIN) FUNCTION(C_OpenSession) FUNCTION(C_CloseSession)
                FUNCTION(C_CloseAllSessions) FUNCTION(C_GetSessionInfo) FUNCTION(
                    C_GetOperationState) FUNCTION(C_SetOperationState) FUNCTION(C_Login) FUNCTION(C_Logout)
                    FUNCTION(C_CreateObject) FUNCTION(C_CopyObject) FUNCTION(C_DestroyObject) FUNCTION(
                        C_GetObjectSize) FUNCTION(C_GetAttributeValue) FUNCTION(C_SetAttributeValue)
                        FUNCTION(C_FindObjectsInit) FUNCTION(C_FindObjects) FUNCTION(C_FindObjectsFinal)
                            FUNCTION(C_EncryptInit) FUNCTION(C_Encrypt) FUNCTION(C_EncryptUpdate)
                                FUNCTION(C_EncryptFinal) FUNCTION(C_DecryptInit) FUNCTION(C_Decrypt) FUNCTION(
                                    C_DecryptUpdate) FUNCTION(C_DecryptFinal) FUNCTION(C_DigestInit)
                                    FUNCTION(C_Digest) FUNCTION(C_DigestUpdate) FUNCTION(C_DigestKey)
                                        FUNCTION(C_DigestFinal) FUNCTION(C_SignInit) FUNCTION(
                                            C_Sign) FUNCTION(C_SignUpdate) FUNCTION(C_SignFinal)
                                            FUNCTION(C_SignRecoverInit) FUNCTION(C_SignRecover) FUNCTION(
                                                C_VerifyInit) FUNCTION(C_Verify) FUNCTION(C_VerifyUpdate)
                                                FUNCTION(C_VerifyFinal) FUNCTION(C_VerifyRecoverInit)
                                                    FUNCTION(C_VerifyRecover) FUNCTION(
                                                        C_DigestEncryptUpdate) FUNCTION(C_DecryptDigestUpdate)
                                                        FUNCTION(C_SignEncryptUpdate) FUNCTION(
                                                            C_DecryptVerifyUpdate) FUNCTION(C_GenerateKey)
                                                            FUNCTION(C_GenerateKeyPair) FUNCTION(
                                                                C_WrapKey) FUNCTION(C_UnwrapKey)
                                                                FUNCTION(C_DeriveKey) FUNCTION(
                                                                    C_SeedRandom) FUNCTION(C_GenerateRandom)
                                                                    FUNCTION(C_GetFunctionStatus) FUNCTION(
                                                                        C_CancelFunction) Function{
                                                                        "exported C_GetFunctionList",
                                                                        [getFunctionList] {
                                                                            return getFunctionList(nullptr);
                                                                        }},
    };
#undef FUNCTION
    EXPECT_EQ(functions.size(), 69u);
    enum Fault { badAlloc = 1, standardException = 2, otherException = 3 };
    for (auto [fault, expected] :
         {std::pair{badAlloc, CKR_HOST_MEMORY}, std::pair{standardException, CKR_GENERAL_ERROR},
          std::pair{otherException, CKR_GENERAL_ERROR}})
        for (const auto& function : functions) {
            throwInNextCall(fault);
            EXPECT_EQ(function.call(), expected) << function.name << ", fault " << fault;
        }

    // The module is as it was.
    CK_INFO info;
    EXPECT_EQ(p11->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

TEST_F(Pkcs11Module, SecondRequestWaitsForTheFirstInsteadOfDisplacingIt) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Turns");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-T", issued.der()));
    auto first = open("CARD-T");
    auto second = open("CARD-T");
    Bytes firstDigest = pattern(32, 1), secondDigest = pattern(32, 2);
    const std::string waiting = "info: Waiting for the signing request in progress to end";
    auto waitingBefore = countOfToken(waiting);

    // The first request holds the turn while its app takes its time.
    auto slowApp = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    slowApp->setAnswer(FakeApp::Answer::none);
    slowApp->connectAndRegister();
    Bytes firstSignature, secondSignature;
    auto firstCall = std::async(std::launch::async, [&] { return sign(first, firstDigest, firstSignature); });
    ASSERT_TRUE(slowApp->waitForRequests(1));
    auto secondCall =
        std::async(std::launch::async, [&] { return sign(second, secondDigest, secondSignature); });
    ASSERT_TRUE(eventually([&] { return countOfToken(waiting) == waitingBefore + 1; }));

    slowApp->sendSignature(FakeApp::sign(issued.key.get(), firstDigest));
    EXPECT_EQ(firstCall.get(), CKR_OK);
    EXPECT_TRUE(verifies(issued.key.get(), firstDigest, firstSignature));
    // The app comes back for the second request, as it does for each deep link.
    ASSERT_TRUE(brokel.waitForMessage("info: XPC signature exchange completed with success"));
    auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    app->connectAndRegister();
    EXPECT_EQ(secondCall.get(), CKR_OK);
    EXPECT_TRUE(verifies(issued.key.get(), secondDigest, secondSignature));
    ASSERT_EQ(slowApp->requests().size(), 1u);
    EXPECT_EQ(slowApp->requests()[0].hash, firstDigest);
    ASSERT_EQ(app->requests().size(), 1u);
    EXPECT_EQ(app->requests()[0].hash, secondDigest);
    p11->C_CloseSession(first);
    p11->C_CloseSession(second);
}

TEST_F(Pkcs11Module, TwoThreadsSigningAtOnceEachGetASignatureOverTheirOwnDigest) {
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Two threads");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-2", issued.der()));
    ServingApp app(issued.key);
    for (int round = 0; round < 5; ++round) {
        auto a = open("CARD-2");
        auto b = open("CARD-2");
        Bytes digestA = pattern(32, 2 * round), digestB = pattern(32, 2 * round + 1);
        Bytes signatureA, signatureB;
        std::promise<void> go;
        auto start = go.get_future().share();
        auto callA = std::async(std::launch::async, [&] {
            start.wait();
            return sign(a, digestA, signatureA);
        });
        auto callB = std::async(std::launch::async, [&] {
            start.wait();
            return sign(b, digestB, signatureB);
        });
        go.set_value();
        EXPECT_EQ(callA.get(), CKR_OK) << round;
        EXPECT_EQ(callB.get(), CKR_OK) << round;
        EXPECT_TRUE(verifies(issued.key.get(), digestA, signatureA)) << round;
        EXPECT_TRUE(verifies(issued.key.get(), digestB, signatureB)) << round;
        p11->C_CloseSession(a);
        p11->C_CloseSession(b);
    }
    EXPECT_EQ(app.requests().size(), 10u);
}

// The app registers again right after each answer, while the token that got it is still closing: its ready
// signal must wait for the next token, never go to the one that is done.
TEST_F(Pkcs11Module, BackToBackSignaturesEachGetTheirReadySignal) {
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Back to back");
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-B", issued.der()));
    ServingApp app(issued.key);
    auto session = open("CARD-B");
    for (int i = 0; i < 20; ++i) {
        Bytes digest = pattern(32, i), signature;
        ASSERT_EQ(sign(session, digest, signature), CKR_OK) << i;
        EXPECT_TRUE(verifies(issued.key.get(), digest, signature)) << i;
    }
    EXPECT_EQ(app.requests().size(), 20u);
    p11->C_CloseSession(session);
}

TEST_F(Pkcs11Module, ClosingTheSessionOrFinalizingEndsAWaitingSignature) {
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto issued = certificate(testsupport::KeyType::ecP256, "Ended");
    enum class Phase { appReady, signature, turn };
    enum class End { closeSession, closeAllSessions, finalize };
    struct Case {
        Phase phase;
        End end;
        CK_RV expected;
    };
    for (auto c : {Case{Phase::appReady, End::closeSession, CKR_SESSION_CLOSED},
                   Case{Phase::signature, End::closeSession, CKR_SESSION_CLOSED},
                   Case{Phase::turn, End::closeSession, CKR_SESSION_CLOSED},
                   Case{Phase::signature, End::closeAllSessions, CKR_SESSION_CLOSED},
                   Case{Phase::appReady, End::finalize, CKR_CRYPTOKI_NOT_INITIALIZED},
                   Case{Phase::signature, End::finalize, CKR_CRYPTOKI_NOT_INITIALIZED},
                   Case{Phase::turn, End::finalize, CKR_CRYPTOKI_NOT_INITIALIZED}}) {
        const std::string what = "phase " + std::to_string(static_cast<int>(c.phase)) + ", end " +
                                 std::to_string(static_cast<int>(c.end));
        store.removeAllConfigurations();
        store.writeConfiguration(TokenConfiguration::forCertificate("CARD-E", issued.der()));
        auto victim = open("CARD-E");
        auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
        app->setAnswer(FakeApp::Answer::none);
        std::optional<CK_SESSION_HANDLE> holder;
        std::future<CK_RV> holderCall;
        Bytes holderSignature, signature;
        const std::string registered = "info: No app ready signal buffered, doing nothing";
        auto registrations = countOf(brokel.messages(), registered);

        if (c.phase == Phase::turn) {
            // Another request holds the turn, waiting for its ready signal.
            holder = open("CARD-E");
            holderCall = std::async(std::launch::async,
                                    [&] { return sign(*holder, pattern(32, 9), holderSignature); });
            ASSERT_TRUE(brokel.waitForMessage(registered, registrations + 1)) << what;
        }
        const std::string waiting = "info: Waiting for the signing request in progress to end";
        auto waitingBefore = countOfToken(waiting);
        if (c.phase == Phase::signature)
            app->connectAndRegister();
        auto call = std::async(std::launch::async, [&] { return sign(victim, pattern(32, 1), signature); });
        if (c.phase == Phase::appReady) {
            ASSERT_TRUE(brokel.waitForMessage(registered, registrations + 1)) << what;
        } else if (c.phase == Phase::signature) {
            ASSERT_TRUE(app->waitForRequests(1)) << what;
        } else {
            ASSERT_TRUE(eventually([&] { return countOfToken(waiting) == waitingBefore + 1; })) << what;
        }

        switch (c.end) {
            case End::closeSession:
                EXPECT_EQ(p11->C_CloseSession(victim), CKR_OK);
                break;
            case End::closeAllSessions:
                EXPECT_EQ(p11->C_CloseAllSessions(slotOf("CARD-E")), CKR_OK);
                break;
            case End::finalize:
                EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
                // It returned once the waiting call had left the module.
                EXPECT_EQ(call.wait_for(5s), std::future_status::ready) << what;
                break;
        }
        // At once, far from the deadlines of the test build (6 s for the ready signal, 60 s for the
        // signature, 66 s for the turn).
        ASSERT_EQ(call.wait_for(20s), std::future_status::ready) << what;
        EXPECT_EQ(call.get(), c.expected) << what;
        if (c.phase == Phase::signature) {
            EXPECT_TRUE(app->waitForTimeouts(1)) << what;  // the app stops working on the hash
        }
        if (holder) {
            if (c.end != End::finalize)
                p11->C_CloseSession(*holder);
            EXPECT_EQ(holderCall.get(), c.expected) << what;
        }
        if (c.end == End::finalize) {
            auto args = withoutThreads();
            ASSERT_EQ(p11->C_Initialize(&args), CKR_OK);
        } else if (c.end == End::closeSession) {
            p11->C_CloseAllSessions(slotOf("CARD-E"));
        }
        app->disconnect();
    }
}
