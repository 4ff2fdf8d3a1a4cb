// The token module's C++ types in process, without loading the module and without the relay: attribute
// answers and matching, the find and sign operations of a session, sessions ended while a signature waits,
// and the guard of the C boundary. Signatures come from a scripted exchange that signs with the certificate's
// key.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>

#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"
#include "relay/token/EntryGuard.h"
#include "relay/token/QuorvaneToken.h"
#include "relay/token/TokenModule.h"

using namespace relaytest;
using pellin::TokenModule;
using pellin::TokenObjects;
using pellin::TokenSession;
using platform::tokens::TokenConfiguration;

namespace {

// Answers as told: a signature of the key over the digest, a failure, or nothing until it is closed.
class ScriptedExchange : public pellin::SignatureExchange {
  public:
    enum class Answer { signature, failure, waitUntilClosed };

    explicit ScriptedExchange(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)) {}

    void answer(Answer answer) {
        std::lock_guard lock(mutex_);
        answer_ = answer;
    }
    std::vector<std::pair<Bytes, std::string>> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }
    bool waitForRequests(std::size_t count) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return requests_.size() >= count; });
    }

    Bytes signDigest(const Bytes& digest, const char* algorithm) override {
        std::unique_lock lock(mutex_);
        requests_.emplace_back(digest, algorithm);
        changed_.notify_all();
        if (answer_ == Answer::waitUntilClosed)
            changed_.wait(lock, [&] { return closed_; });
        if (closed_ || answer_ != Answer::signature) {
            ++failed_;
            throw pellin::TokenError();
        }
        return FakeApp::sign(key_.get(), digest);
    }
    void close() override {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

  private:
    std::shared_ptr<EVP_PKEY> key_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Answer answer_ = Answer::signature;
    bool closed_ = false;
    int failed_ = 0;
    std::vector<std::pair<Bytes, std::string>> requests_;
};

testsupport::Issued certificate(testsupport::KeyType type) {
    testsupport::CertificateRequest request;
    request.commonName = "Unit";
    request.keyType = type;
    return testsupport::makeSelfSigned(request);
}

CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length) {
    return CK_ATTRIBUTE{type, value, length};
}

Bytes valueOf(const pellin::TokenObject& object, CK_ATTRIBUTE_TYPE type) {
    return object.attributes.at(type);
}

CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};

struct Session {
    explicit Session(testsupport::KeyType type = testsupport::KeyType::ecP256)
        : issued(certificate(type)),
          exchange(std::make_shared<ScriptedExchange>(issued.key)),
          session(7, CKF_SERIAL_SESSION,
                  TokenObjects::of(TokenConfiguration::forCertificate("CARD-U", issued.der())), exchange) {}

    CK_RV sign(const Bytes& input, Bytes& signature) {
        signature.assign(96, 0);
        CK_ULONG length = signature.size();
        auto data = input;
        CK_RV rv = session.sign(data.data(), data.size(), signature.data(), &length);
        signature.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    testsupport::Issued issued;
    std::shared_ptr<ScriptedExchange> exchange;
    TokenSession session;
};

}  // namespace

TEST(TokenObject, AttributesAreAnsweredAsCGetAttributeValueDoes) {
    auto issued = certificate(testsupport::KeyType::ecP256);
    auto objects = TokenObjects::of(TokenConfiguration::forCertificate("CARD-O", issued.der()));
    ASSERT_EQ(objects.objects.size(), 3u);
    const auto& key = *objects.find(pellin::privateKeyHandle);
    Bytes label = valueOf(key, CKA_LABEL);

    std::uint8_t small[2], large[256];
    CK_OBJECT_CLASS objectClass = 0;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> templ;
        CK_RV expected;
        std::vector<CK_ULONG> lengths;
    };
    for (auto& c : std::vector<Case>{
             {"length query", {attribute(CKA_LABEL, nullptr, 0)}, CKR_OK, {label.size()}},
             {"value",
              {attribute(CKA_CLASS, &objectClass, sizeof objectClass)},
              CKR_OK,
              {sizeof objectClass}},
             {"short buffer",
              {attribute(CKA_LABEL, small, sizeof small)},
              CKR_BUFFER_TOO_SMALL,
              {CK_UNAVAILABLE_INFORMATION}},
             {"unknown type",
              {attribute(CKA_MODULUS, large, sizeof large)},
              CKR_ATTRIBUTE_TYPE_INVALID,
              {CK_UNAVAILABLE_INFORMATION}},
             // Every attribute is answered; the sensitive one decides the result whatever its place.
             {"all together",
              {attribute(CKA_MODULUS, large, sizeof large), attribute(CKA_LABEL, small, sizeof small),
               attribute(CKA_VALUE, large, sizeof large), attribute(CKA_LABEL, large, sizeof large)},
              CKR_ATTRIBUTE_SENSITIVE,
              {CK_UNAVAILABLE_INFORMATION, CK_UNAVAILABLE_INFORMATION, CK_UNAVAILABLE_INFORMATION,
               label.size()}},
             {"too small before unknown",
              {attribute(CKA_LABEL, small, sizeof small), attribute(CKA_MODULUS, large, sizeof large)},
              CKR_BUFFER_TOO_SMALL,
              {CK_UNAVAILABLE_INFORMATION, CK_UNAVAILABLE_INFORMATION}},
         }) {
        EXPECT_EQ(key.copyAttributes(c.templ.data(), c.templ.size()), c.expected) << c.name;
        for (std::size_t i = 0; i < c.templ.size(); ++i)
            EXPECT_EQ(c.templ[i].ulValueLen, c.lengths[i]) << c.name << " " << i;
    }
    EXPECT_EQ(objectClass, static_cast<CK_OBJECT_CLASS>(CKO_PRIVATE_KEY));
    EXPECT_EQ(Bytes(large, large + label.size()), label);
}

TEST(TokenObject, TemplateMatchesOnlyTheSameTypesWithTheSameValues) {
    auto issued = certificate(testsupport::KeyType::ecP256);
    auto objects = TokenObjects::of(TokenConfiguration::forCertificate("CARD-M", issued.der()));
    Bytes id = valueOf(objects.objects.at(0), CKA_ID);
    Bytes longer = id;
    longer.push_back('x');
    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> templ;
        std::vector<CK_OBJECT_HANDLE> matching;
    };
    for (auto& c : std::vector<Case>{
             {"empty template", {}, {1, 2, 3}},
             {"by id", {attribute(CKA_ID, id.data(), id.size())}, {1, 2, 3}},
             {"by class and id",
              {attribute(CKA_CLASS, &privateKey, sizeof privateKey), attribute(CKA_ID, id.data(), id.size())},
              {2}},
             {"a longer value", {attribute(CKA_ID, longer.data(), longer.size())}, {}},
             {"a shorter length", {attribute(CKA_ID, id.data(), id.size() - 1)}, {}},
             {"no value for a length", {attribute(CKA_ID, nullptr, id.size())}, {}},
             {"an attribute of other objects", {attribute(CKA_SIGN, &yes, sizeof yes)}, {2}},
         }) {
        std::vector<CK_OBJECT_HANDLE> matching;
        for (const auto& object : objects.objects)
            if (object.matches(c.templ.data(), c.templ.size()))
                matching.push_back(object.handle);
        EXPECT_EQ(matching, c.matching) << c.name;
    }
}

TEST(TokenSessionOperations, FindRunsOnceAtATimeAndHandsOutEachObjectOnce) {
    Session s;
    CK_OBJECT_HANDLE handles[2];
    CK_ULONG count = 9;
    EXPECT_EQ(s.session.findObjects(handles, 2, &count), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(s.session.findObjectsFinal(), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(s.session.findObjectsInit(nullptr, 1), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(s.session.findObjectsInit(nullptr, 0), CKR_OK);
    EXPECT_EQ(s.session.findObjectsInit(nullptr, 0), CKR_OPERATION_ACTIVE);
    std::vector<CK_OBJECT_HANDLE> all;
    for (CK_ULONG expected : {2ul, 1ul, 0ul}) {
        ASSERT_EQ(s.session.findObjects(handles, 2, &count), CKR_OK);
        EXPECT_EQ(count, expected);
        all.insert(all.end(), handles, handles + count);
    }
    EXPECT_EQ(all, (std::vector<CK_OBJECT_HANDLE>{1, 2, 3}));
    EXPECT_EQ(s.session.findObjects(nullptr, 2, &count), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(s.session.findObjectsFinal(), CKR_OK);
    EXPECT_EQ(s.session.findObjectsInit(nullptr, 0), CKR_OK);
}

TEST(TokenSessionOperations, SignatureIsTheAppsOverTheDigestOfTheKeysSizeAndEndsTheOperation) {
    for (auto [type, digestLength, algorithm] :
         {std::tuple{testsupport::KeyType::ecP256, 32u, pellin::algorithms::ecdsaSignatureDigestX962SHA256},
          std::tuple{testsupport::KeyType::ecP384, 48u,
                     pellin::algorithms::ecdsaSignatureDigestX962SHA384}}) {
        Session s(type);
        Bytes input(20, 0x42), signature;
        EXPECT_EQ(s.sign(input, signature), CKR_OPERATION_NOT_INITIALIZED);
        ASSERT_EQ(s.session.signInit(&ecdsa, pellin::privateKeyHandle), CKR_OK);
        EXPECT_TRUE(s.session.isSignInitialized());
        // The size query and a short buffer keep the operation and never reach the app.
        CK_ULONG size = 0;
        ASSERT_EQ(s.session.sign(input.data(), input.size(), nullptr, &size), CKR_OK);
        EXPECT_EQ(size, 2 * digestLength);
        Bytes buffer(size - 1);
        CK_ULONG shortLength = buffer.size();
        EXPECT_EQ(s.session.sign(input.data(), input.size(), buffer.data(), &shortLength),
                  CKR_BUFFER_TOO_SMALL);
        EXPECT_TRUE(s.exchange->requests().empty());

        ASSERT_EQ(s.sign(input, signature), CKR_OK);
        ASSERT_EQ(s.exchange->requests().size(), 1u);
        Bytes digest(digestLength - input.size(), 0);
        digest.insert(digest.end(), input.begin(), input.end());
        EXPECT_EQ(s.exchange->requests()[0].first, digest);
        EXPECT_EQ(s.exchange->requests()[0].second, algorithm);
        EXPECT_EQ(signature.size(), 2 * digestLength);
        EXPECT_TRUE(verifies(s.issued.key.get(), digest, signature));
        EXPECT_FALSE(s.session.isSignInitialized());
        EXPECT_EQ(s.sign(input, signature), CKR_OPERATION_NOT_INITIALIZED);
    }
}

// CKM_ECDSA has no multi-part form. An application that tries it after a failed C_Sign (pkcs11-tool calls
// C_SignInit again, then C_SignUpdate) learns that no such operation is under way, not that the functions do
// not exist.
TEST(TokenSessionOperations, AfterAFailedSignatureNoOperationIsLeftForUpdateOrFinal) {
    Session s;
    Bytes input(32, 1), signature;
    struct Case {
        const char* name;
        std::function<CK_RV()> fail;
        CK_RV expected;
    };
    for (const auto& c : std::vector<Case>{
             {"no signature from the app",
              [&] {
                  s.exchange->answer(ScriptedExchange::Answer::failure);
                  return s.sign(input, signature);
              },
              CKR_FUNCTION_FAILED},
             {"bad arguments",
              [&] { return s.session.sign(input.data(), input.size(), signature.data(), nullptr); },
              CKR_ARGUMENTS_BAD},
             {"an update of the single-part operation", [&] { return s.session.signUpdate(); },
              CKR_OPERATION_NOT_INITIALIZED},
             {"a final of the single-part operation", [&] { return s.session.signFinal(); },
              CKR_OPERATION_NOT_INITIALIZED},
         }) {
        ASSERT_EQ(s.session.signInit(&ecdsa, pellin::privateKeyHandle), CKR_OK) << c.name;
        EXPECT_EQ(c.fail(), c.expected) << c.name;
        EXPECT_FALSE(s.session.isSignInitialized()) << c.name;
        EXPECT_EQ(s.session.signUpdate(), CKR_OPERATION_NOT_INITIALIZED) << c.name;
        EXPECT_EQ(s.session.signFinal(), CKR_OPERATION_NOT_INITIALIZED) << c.name;
    }
    // A new operation works as ever.
    s.exchange->answer(ScriptedExchange::Answer::signature);
    ASSERT_EQ(s.session.signInit(&ecdsa, pellin::privateKeyHandle), CKR_OK);
    EXPECT_EQ(s.sign(input, signature), CKR_OK);
}

TEST(TokenSessionOperations, SignInitRefusesOtherMechanismsKeysAndASecondOperation) {
    Session s;
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    std::uint8_t parameter = 0;
    CK_MECHANISM withParameter{CKM_ECDSA, &parameter, 1};
    EXPECT_EQ(s.session.signInit(nullptr, pellin::privateKeyHandle), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(s.session.signInit(&rsa, pellin::privateKeyHandle), CKR_MECHANISM_INVALID);
    EXPECT_EQ(s.session.signInit(&withParameter, pellin::privateKeyHandle), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(s.session.signInit(&ecdsa, pellin::certificateHandle), CKR_KEY_HANDLE_INVALID);
    EXPECT_FALSE(s.session.isSignInitialized());

    // Nor while a signature waits for the app.
    s.exchange->answer(ScriptedExchange::Answer::waitUntilClosed);
    ASSERT_EQ(s.session.signInit(&ecdsa, pellin::privateKeyHandle), CKR_OK);
    Bytes signature;
    auto call = std::async(std::launch::async, [&] { return s.sign(Bytes(32, 3), signature); });
    ASSERT_TRUE(s.exchange->waitForRequests(1));
    EXPECT_EQ(s.session.signInit(&ecdsa, pellin::privateKeyHandle), CKR_OPERATION_ACTIVE);
    s.session.close(CKR_SESSION_CLOSED);
    EXPECT_EQ(call.get(), CKR_SESSION_CLOSED);
}

class TokenModuleInProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        store.installDriver();
        store.removeAllConfigurations();
        store.writeConfiguration(TokenConfiguration::forCertificate("CARD-I", issued.der()));
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(module.initialize(&args), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(module.getSlotList(CK_TRUE, &slot, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
    }

    CK_SESSION_HANDLE open() {
        CK_SESSION_HANDLE handle = 0;
        EXPECT_EQ(module.openSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle), CKR_OK);
        return handle;
    }

    // C_SignInit, then C_Sign on another thread.
    std::future<CK_RV> signInBackground(CK_SESSION_HANDLE handle) {
        EXPECT_EQ(module.signInit(handle, &ecdsa, pellin::privateKeyHandle), CKR_OK);
        return std::async(std::launch::async, [this, handle] {
            Bytes input(32, 9), signature(64);
            CK_ULONG length = signature.size();
            return module.sign(handle, input.data(), input.size(), signature.data(), &length);
        });
    }

    platform::tokens::TokenStore store;
    testsupport::Issued issued = certificate(testsupport::KeyType::ecP256);
    std::vector<std::shared_ptr<ScriptedExchange>> exchanges;
    std::mutex exchangesMutex;
    TokenModule module{[this](const TokenConfiguration&) {
        auto exchange = std::make_shared<ScriptedExchange>(issued.key);
        exchange->answer(ScriptedExchange::Answer::waitUntilClosed);
        std::lock_guard lock(exchangesMutex);
        exchanges.push_back(exchange);
        return exchange;
    }};
    CK_SLOT_ID slot = 0;
};

TEST_F(TokenModuleInProcess, ClosingOrFinalizingEndsAWaitingSignatureWithItsReason) {
    auto first = open(), second = open(), third = open();
    auto closed = signInBackground(first);
    auto closedWithTheSlot = signInBackground(second);
    ASSERT_TRUE(exchanges.at(0)->waitForRequests(1));
    ASSERT_TRUE(exchanges.at(1)->waitForRequests(1));
    ASSERT_EQ(module.closeSession(first), CKR_OK);
    EXPECT_EQ(closed.get(), CKR_SESSION_CLOSED);
    ASSERT_EQ(module.closeAllSessions(slot), CKR_OK);
    EXPECT_EQ(closedWithTheSlot.get(), CKR_SESSION_CLOSED);
    EXPECT_EQ(module.signInit(third, &ecdsa, pellin::privateKeyHandle), CKR_SESSION_HANDLE_INVALID);

    auto finalized = signInBackground(open());
    ASSERT_TRUE(exchanges.at(3)->waitForRequests(1));
    ASSERT_EQ(module.finalize(nullptr), CKR_OK);
    // C_Finalize returned once the waiting call had given up on its exchange and left the module.
    EXPECT_EQ(exchanges.at(3)->failed(), 1);
    EXPECT_EQ(finalized.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_SESSION_HANDLE handle;
    EXPECT_EQ(module.openSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle),
              CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module.finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(TokenModuleInProcess, SessionCallsAnswerForUnknownSessionsAndAnUninitializedModule) {
    auto handle = open();
    CK_BYTE byte = 0;
    CK_ULONG length = 1;
    for (CK_SESSION_HANDLE unknown : {handle + 1, CK_SESSION_HANDLE{0}}) {
        EXPECT_EQ(module.signUpdate(unknown, &byte, 1), CKR_SESSION_HANDLE_INVALID);
        EXPECT_EQ(module.signFinal(unknown, &byte, &length), CKR_SESSION_HANDLE_INVALID);
        EXPECT_EQ(module.findObjectsFinal(unknown), CKR_SESSION_HANDLE_INVALID);
    }
    EXPECT_EQ(module.signUpdate(handle, &byte, 1), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(module.signFinal(handle, &byte, &length), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(module.finalize(nullptr), CKR_OK);
    EXPECT_EQ(module.signUpdate(handle, &byte, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module.sign(handle, &byte, 1, &byte, &length), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_INFO info;
    EXPECT_EQ(module.getInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST(EntryGuard, AnExceptionBecomesTheCErrorCode) {
    EXPECT_EQ(pellin::guarded([] { return CKR_SLOT_ID_INVALID; }), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(pellin::guarded([]() -> CK_RV { throw std::bad_alloc(); }), CKR_HOST_MEMORY);
    EXPECT_EQ(pellin::guarded([]() -> CK_RV { throw std::length_error("vector"); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(pellin::guarded([]() -> CK_RV { throw 42; }), CKR_GENERAL_ERROR);
}
