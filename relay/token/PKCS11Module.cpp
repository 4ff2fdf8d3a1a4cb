// Pellin as a PKCS#11 module: every token configuration of the store is a slot with a token holding the
// certificate and its EC key (paired by CKA_ID), and signing with the key (CKM_ECDSA over input of any
// length) asks the app for the signature through the relay. A signature is returned only once it verifies
// with the certificate's key. No PIN; the token is write-protected. The module creates no threads: a
// signature's exchange runs on the calling thread.
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "outside/Logger/LoggerClient.h"
#include "platform/tokens/TokenStore.h"
#include "relay/token/ECKey.h"
#include "relay/token/QuorvaneToken.h"

namespace {

using platform::Bytes;

// The test build's module shortens the relay client's waits (a compile-time definition of that target only);
// the shipped module reads no setting of the kind.
#ifdef PELLIN_TEST_TIME_SCALE
constexpr double timeScale = PELLIN_TEST_TIME_SCALE;
#else
constexpr double timeScale = 1.0;
#endif

// Object handles within a session.
constexpr CK_OBJECT_HANDLE certificateHandle = 1;
constexpr CK_OBJECT_HANDLE privateKeyHandle = 2;
constexpr CK_OBJECT_HANDLE publicKeyHandle = 3;

struct Object {
    CK_OBJECT_HANDLE handle;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;
    std::vector<CK_ATTRIBUTE_TYPE> sensitive;  // exist, but are never revealed
};

Bytes ulongValue(CK_ULONG value) {
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}
Bytes boolValue(bool value) {
    return Bytes{static_cast<std::uint8_t>(value ? CK_TRUE : CK_FALSE)};
}

struct Session {
    CK_SLOT_ID slot;
    CK_FLAGS flags;
    bool closed = false;  // guarded by the module's lock
    std::shared_ptr<pellin::QuorvaneTokenSession> tokenSession;
    std::vector<Object> objects;
    std::optional<pellin::ECKeyInfo> key;

    std::mutex mutex;  // guards the operation state below
    bool findActive = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t foundIndex = 0;
    bool signActive = false;
    bool signRunning = false;
};

struct Module {
    std::mutex mutex;
    bool initialized = false;
    std::uint64_t generation = 0;               // counts C_Finalize calls
    std::map<std::string, CK_SLOT_ID> slotIDs;  // instance id -> slot, stable while the module is loaded
    std::map<CK_SLOT_ID, std::string> instanceIDs;
    CK_SLOT_ID nextSlot = 1;
    std::map<CK_SESSION_HANDLE, std::shared_ptr<Session>> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    std::set<CK_SLOT_ID> loggedIn;  // the application's login state, per token
    int signCalls = 0;              // C_Sign calls inside the module
    std::condition_variable signCallsEnded;
    pellin::QuorvaneTokenDriver driver{pellin::Timeouts::scaled(timeScale)};

    static Module& shared() {
        static Module* module = new Module;  // never destroyed: the host may call in while it exits
        return *module;
    }

    // The store is read afresh each time: configurations come and go while applications keep the module
    // loaded.
    std::vector<platform::tokens::TokenConfiguration> readConfigurations() {
        std::vector<platform::tokens::TokenConfiguration> configurations;
        try {
            configurations = platform::tokens::TokenStore().configurations();
        } catch (const std::exception&) {
        }
        for (const auto& configuration : configurations) {
            if (slotIDs.contains(configuration.instanceID))
                continue;
            slotIDs[configuration.instanceID] = nextSlot;
            instanceIDs[nextSlot] = configuration.instanceID;
            ++nextSlot;
        }
        return configurations;
    }

    std::optional<platform::tokens::TokenConfiguration> configurationOf(CK_SLOT_ID slot) {
        auto found = instanceIDs.find(slot);
        if (found == instanceIDs.end())
            return std::nullopt;
        try {
            return platform::tokens::TokenStore().configuration(found->second);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    std::shared_ptr<Session> session(CK_SESSION_HANDLE handle) {
        auto found = sessions.find(handle);
        return found == sessions.end() ? nullptr : found->second;
    }

    // A signature of the session that is waiting ends at once; the last session of a token logs it out.
    void closeSession(std::map<CK_SESSION_HANDLE, std::shared_ptr<Session>>::iterator found) {
        auto session = found->second;
        session->closed = true;
        session->tokenSession->close();
        sessions.erase(found);
        if (std::none_of(sessions.begin(), sessions.end(),
                         [&](const auto& entry) { return entry.second->slot == session->slot; }))
            loggedIn.erase(session->slot);
    }
};

// A C_Sign call while it is inside the module, so that C_Finalize can wait for it to leave. Made with the
// module locked.
class SignCall {
  public:
    explicit SignCall(Module& module) : module_(module) { ++module_.signCalls; }
    ~SignCall() {
        std::lock_guard lock(module_.mutex);
        if (--module_.signCalls == 0)
            module_.signCallsEnded.notify_all();
    }
    SignCall(const SignCall&) = delete;
    SignCall& operator=(const SignCall&) = delete;

  private:
    Module& module_;
};

void padded(CK_UTF8CHAR* field, std::size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::size_t length = std::min(size, text.size());
    // Never cut a UTF-8 sequence in two.
    while (length < text.size() && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(field, text.data(), length);
}

// What every object of the token has: it lives on the token, is public and read-only, and is labelled and
// paired by CKA_ID.
Object tokenObject(CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS objectClass, const std::string& label,
                   const Bytes& id, const Bytes& subject) {
    Object object{handle, {}, {}};
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
Object ecKeyObject(CK_OBJECT_HANDLE handle, CK_OBJECT_CLASS objectClass, const std::string& label,
                   const Bytes& id, const Bytes& subject, const pellin::ECKeyInfo& key) {
    auto object = tokenObject(handle, objectClass, label, id, subject);
    auto& a = object.attributes;
    a[CKA_KEY_TYPE] = ulongValue(CKK_EC);
    a[CKA_DERIVE] = boolValue(false);
    a[CKA_LOCAL] = boolValue(false);
    a[CKA_EC_PARAMS] = key.ecParameters;
    return object;
}

std::vector<Object> objectsFor(const platform::tokens::TokenConfiguration& configuration,
                               std::optional<pellin::ECKeyInfo>& key) {
    std::vector<Object> objects;
    auto certificate = configuration.certificateData();
    if (!certificate)
        return objects;
    auto fields = pellin::certificateFields(*certificate);
    if (!fields)
        return objects;
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
    objects.push_back(std::move(cert));

    key = fields->ecKey;
    if (!key)
        return objects;  // only an EC key can sign here

    auto privateKey = ecKeyObject(privateKeyHandle, CKO_PRIVATE_KEY, keyLabel, id, fields->subject, *key);
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
    objects.push_back(std::move(privateKey));

    auto publicKey = ecKeyObject(publicKeyHandle, CKO_PUBLIC_KEY, keyLabel, id, fields->subject, *key);
    auto& q = publicKey.attributes;
    q[CKA_VERIFY] = boolValue(true);
    q[CKA_VERIFY_RECOVER] = boolValue(false);
    q[CKA_ENCRYPT] = boolValue(false);
    q[CKA_WRAP] = boolValue(false);
    q[CKA_EC_POINT] = key->ecPoint;
    objects.push_back(std::move(publicKey));
    return objects;
}

const Object* objectOf(const Session& session, CK_OBJECT_HANDLE handle) {
    for (const auto& object : session.objects)
        if (object.handle == handle)
            return &object;
    return nullptr;
}

bool matches(const Object& object, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        auto found = object.attributes.find(templ[i].type);
        if (found == object.attributes.end())
            return false;
        if (templ[i].ulValueLen != found->second.size())
            return false;
        if (templ[i].ulValueLen && (!templ[i].pValue || std::memcmp(templ[i].pValue, found->second.data(),
                                                                    found->second.size()) != 0))
            return false;
    }
    return true;
}

// The digest algorithm that a digest of this length stands for.
const char* algorithmForDigestLength(std::size_t length) {
    switch (length) {
        case 32:
            return pellin::algorithms::ecdsaSignatureDigestX962SHA256;
        case 48:
            return pellin::algorithms::ecdsaSignatureDigestX962SHA384;
        default:
            return pellin::algorithms::ecdsaSignatureDigestX962SHA512;
    }
}

// Runs the call with the module locked, once it is initialized.
template <class Body>
CK_RV withModule(Body body) {
    auto& module = Module::shared();
    std::lock_guard lock(module.mutex);
    if (!module.initialized)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    return body(module);
}

// Runs the call on an open session. The module's lock is released first: signing waits for the app.
template <class Body>
CK_RV withSession(CK_SESSION_HANDLE handle, Body body) {
    std::shared_ptr<Session> session;
    CK_RV rv = withModule([&](Module& module) -> CK_RV {
        session = module.session(handle);
        return session ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
    });
    return session ? body(session) : rv;
}

// The convention for lists: without a buffer the call gives the length; a short buffer is an error that gives
// the length too.
template <class T>
CK_RV copyList(const std::vector<T>& items, T* list, CK_ULONG_PTR count) {
    if (!list) {
        *count = items.size();
        return CKR_OK;
    }
    if (*count < items.size()) {
        *count = items.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(items.begin(), items.end(), list);
    *count = items.size();
    return CKR_OK;
}

CK_RV initialize(void* args) {
    if (args) {
        auto* init = static_cast<CK_C_INITIALIZE_ARGS*>(args);
        if (init->pReserved)
            return CKR_ARGUMENTS_BAD;
        bool someMutexFunctions =
            init->CreateMutex || init->DestroyMutex || init->LockMutex || init->UnlockMutex;
        bool allMutexFunctions =
            init->CreateMutex && init->DestroyMutex && init->LockMutex && init->UnlockMutex;
        if (someMutexFunctions && !allMutexFunctions)
            return CKR_ARGUMENTS_BAD;
        // We lock with the system's primitives; only those are acceptable. The module never creates threads,
        // so CKF_LIBRARY_CANT_CREATE_OS_THREADS asks nothing of it.
        if (allMutexFunctions && !(init->flags & CKF_OS_LOCKING_OK))
            return CKR_CANT_LOCK;
    }
    auto& module = Module::shared();
    std::lock_guard lock(module.mutex);
    if (module.initialized)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    module.initialized = true;
    return CKR_OK;
}

CK_RV finalize(void* reserved) {
    if (reserved)
        return CKR_ARGUMENTS_BAD;
    auto& module = Module::shared();
    std::unique_lock lock(module.mutex);
    if (!module.initialized)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    module.initialized = false;
    ++module.generation;
    while (!module.sessions.empty())
        module.closeSession(module.sessions.begin());
    // A signature that was waiting ends at once: let its call leave before the application unloads us.
    module.signCallsEnded.wait(lock, [&] { return module.signCalls == 0; });
    return CKR_OK;
}

CK_RV getInfo(CK_INFO_PTR info) {
    return withModule([&](Module&) -> CK_RV {
        if (!info)
            return CKR_ARGUMENTS_BAD;
        std::memset(info, 0, sizeof *info);
        info->cryptokiVersion = {2, 40};
        padded(info->manufacturerID, sizeof info->manufacturerID, "Quorvane");
        padded(info->libraryDescription, sizeof info->libraryDescription, "Pellin remote signing token");
        info->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

CK_RV getSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    return withModule([&](Module& module) -> CK_RV {
        if (!count)
            return CKR_ARGUMENTS_BAD;
        std::vector<CK_SLOT_ID> slots;
        for (const auto& configuration : module.readConfigurations())
            slots.push_back(module.slotIDs.at(configuration.instanceID));
        std::sort(slots.begin(), slots.end());
        return copyList(slots, list, count);
    });
}

CK_RV getSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
    return withModule([&](Module& module) -> CK_RV {
        if (!info)
            return CKR_ARGUMENTS_BAD;
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        std::memset(info, 0, sizeof *info);
        padded(info->slotDescription, sizeof info->slotDescription, "Quorvane remote signing");
        padded(info->manufacturerID, sizeof info->manufacturerID, "Quorvane");
        info->flags = CKF_REMOVABLE_DEVICE | (module.configurationOf(slot) ? CKF_TOKEN_PRESENT : 0);
        info->hardwareVersion = {1, 0};
        info->firmwareVersion = {1, 0};
        return CKR_OK;
    });
}

CK_RV getTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    return withModule([&](Module& module) -> CK_RV {
        if (!info)
            return CKR_ARGUMENTS_BAD;
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        if (!module.configurationOf(slot))
            return CKR_TOKEN_NOT_PRESENT;
        std::memset(info, 0, sizeof *info);
        padded(info->label, sizeof info->label, module.instanceIDs.at(slot));
        padded(info->manufacturerID, sizeof info->manufacturerID, "Quorvane");
        padded(info->model, sizeof info->model, "Pellin");
        padded(info->serialNumber, sizeof info->serialNumber, std::to_string(slot));
        info->flags = CKF_TOKEN_INITIALIZED | CKF_WRITE_PROTECTED;
        info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
        info->ulSessionCount = CK_UNAVAILABLE_INFORMATION;
        info->ulMaxRwSessionCount = 0;
        info->ulRwSessionCount = 0;
        info->ulMaxPinLen = 0;
        info->ulMinPinLen = 0;
        info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
        info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
        info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
        info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
        info->hardwareVersion = {1, 0};
        info->firmwareVersion = {1, 0};
        return CKR_OK;
    });
}

CK_RV getMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    return withModule([&](Module& module) -> CK_RV {
        if (!count)
            return CKR_ARGUMENTS_BAD;
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        return copyList(std::vector<CK_MECHANISM_TYPE>{CKM_ECDSA}, list, count);
    });
}

CK_RV getMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    return withModule([&](Module& module) -> CK_RV {
        if (!info)
            return CKR_ARGUMENTS_BAD;
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        if (type != CKM_ECDSA)
            return CKR_MECHANISM_INVALID;
        info->ulMinKeySize = pellin::smallestKeyBits;
        info->ulMaxKeySize = pellin::largestKeyBits;
        info->flags = CKF_SIGN | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS;
        return CKR_OK;
    });
}

CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE_PTR handle) {
    return withModule([&](Module& module) -> CK_RV {
        if (!handle)
            return CKR_ARGUMENTS_BAD;
        if (!(flags & CKF_SERIAL_SESSION))
            return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
        module.readConfigurations();
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        auto configuration = module.configurationOf(slot);
        if (!configuration)
            return CKR_TOKEN_NOT_PRESENT;
        if (flags & CKF_RW_SESSION)
            return CKR_TOKEN_WRITE_PROTECTED;
        auto session = std::make_shared<Session>();
        session->slot = slot;
        session->flags = flags;
        session->tokenSession = module.driver.tokenForConfiguration(configuration)->createSession();
        session->objects = objectsFor(*configuration, session->key);
        *handle = module.nextSession++;
        module.sessions[*handle] = session;
        return CKR_OK;
    });
}

CK_RV closeSession(CK_SESSION_HANDLE handle) {
    return withModule([&](Module& module) -> CK_RV {
        auto found = module.sessions.find(handle);
        if (found == module.sessions.end())
            return CKR_SESSION_HANDLE_INVALID;
        module.closeSession(found);
        return CKR_OK;
    });
}

CK_RV closeAllSessions(CK_SLOT_ID slot) {
    return withModule([&](Module& module) -> CK_RV {
        if (!module.instanceIDs.contains(slot))
            return CKR_SLOT_ID_INVALID;
        for (auto found = module.sessions.begin(); found != module.sessions.end();) {
            auto next = std::next(found);
            if (found->second->slot == slot)
                module.closeSession(found);
            found = next;
        }
        return CKR_OK;
    });
}

CK_RV getSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
    return withModule([&](Module& module) -> CK_RV {
        if (!info)
            return CKR_ARGUMENTS_BAD;
        auto session = module.session(handle);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        info->slotID = session->slot;
        info->flags = session->flags;
        info->state = module.loggedIn.contains(session->slot) ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
        info->ulDeviceError = 0;
        return CKR_OK;
    });
}

// The token has no PIN and every session is read-only: logging in as the user only changes the state that
// the sessions report.
CK_RV login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR, CK_ULONG) {
    return withModule([&](Module& module) -> CK_RV {
        auto session = module.session(handle);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        switch (userType) {
            case CKU_USER:
                return module.loggedIn.insert(session->slot).second ? CKR_OK : CKR_USER_ALREADY_LOGGED_IN;
            case CKU_SO:
                return CKR_SESSION_READ_ONLY_EXISTS;
            case CKU_CONTEXT_SPECIFIC: {
                std::lock_guard lock(session->mutex);
                return session->signActive ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
            }
            default:
                return CKR_USER_TYPE_INVALID;
        }
    });
}

CK_RV logout(CK_SESSION_HANDLE handle) {
    return withModule([&](Module& module) -> CK_RV {
        auto session = module.session(handle);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        return module.loggedIn.erase(session->slot) ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
    });
}

CK_RV getAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE_PTR templ,
                        CK_ULONG count) {
    return withSession(handle, [&](const std::shared_ptr<Session>& session) -> CK_RV {
        if (!templ && count)
            return CKR_ARGUMENTS_BAD;
        const Object* object = objectOf(*session, objectHandle);
        if (!object)
            return CKR_OBJECT_HANDLE_INVALID;
        CK_RV rv = CKR_OK;
        for (CK_ULONG i = 0; i < count; ++i) {
            auto& attribute = templ[i];
            if (std::find(object->sensitive.begin(), object->sensitive.end(), attribute.type) !=
                object->sensitive.end()) {
                attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                rv = CKR_ATTRIBUTE_SENSITIVE;
                continue;
            }
            auto found = object->attributes.find(attribute.type);
            if (found == object->attributes.end()) {
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
    });
}

CK_RV findObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    return withSession(handle, [&](const std::shared_ptr<Session>& session) -> CK_RV {
        if (!templ && count)
            return CKR_ARGUMENTS_BAD;
        std::lock_guard lock(session->mutex);
        if (session->findActive)
            return CKR_OPERATION_ACTIVE;
        session->found.clear();
        for (const auto& object : session->objects)
            if (matches(object, templ, count))
                session->found.push_back(object.handle);
        session->foundIndex = 0;
        session->findActive = true;
        return CKR_OK;
    });
}

CK_RV findObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                  CK_ULONG_PTR count) {
    return withSession(handle, [&](const std::shared_ptr<Session>& session) -> CK_RV {
        if (!objects || !count)
            return CKR_ARGUMENTS_BAD;
        std::lock_guard lock(session->mutex);
        if (!session->findActive)
            return CKR_OPERATION_NOT_INITIALIZED;
        CK_ULONG n = 0;
        while (n < maxCount && session->foundIndex < session->found.size())
            objects[n++] = session->found[session->foundIndex++];
        *count = n;
        return CKR_OK;
    });
}

CK_RV findObjectsFinal(CK_SESSION_HANDLE handle) {
    return withSession(handle, [&](const std::shared_ptr<Session>& session) -> CK_RV {
        std::lock_guard lock(session->mutex);
        if (!session->findActive)
            return CKR_OPERATION_NOT_INITIALIZED;
        session->findActive = false;
        session->found.clear();
        return CKR_OK;
    });
}

CK_RV signInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return withSession(handle, [&](const std::shared_ptr<Session>& session) -> CK_RV {
        if (!mechanism)
            return CKR_ARGUMENTS_BAD;
        std::lock_guard lock(session->mutex);
        if (session->signActive || session->signRunning)
            return CKR_OPERATION_ACTIVE;
        if (mechanism->mechanism != CKM_ECDSA)
            return CKR_MECHANISM_INVALID;
        if (mechanism->ulParameterLen != 0)
            return CKR_MECHANISM_PARAM_INVALID;
        if (key != privateKeyHandle || !objectOf(*session, privateKeyHandle))
            return CKR_KEY_HANDLE_INVALID;
        session->signActive = true;
        return CKR_OK;
    });
}

// One exchange with the app per signature. The session's module lock is not held meanwhile: C_CloseSession
// and C_Finalize end a signature that is waiting.
CK_RV sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLength) {
    auto& module = Module::shared();
    std::shared_ptr<Session> session;
    std::optional<SignCall> call;
    std::uint64_t generation;
    {
        std::lock_guard lock(module.mutex);
        if (!module.initialized)
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        session = module.session(handle);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        call.emplace(module);
        generation = module.generation;
    }
    Bytes digest;
    const char* algorithm;
    {
        std::lock_guard lock(session->mutex);
        if (!session->signActive)
            return CKR_OPERATION_NOT_INITIALIZED;
        if (!signatureLength || (!data && dataLength)) {
            session->signActive = false;
            return CKR_ARGUMENTS_BAD;
        }
        std::size_t size = session->key->signatureSize();
        // The size query is answered from the key alone: it must never start an exchange with the app.
        if (!signature) {
            *signatureLength = size;
            return CKR_OK;
        }
        if (*signatureLength < size) {
            *signatureLength = size;
            return CKR_BUFFER_TOO_SMALL;
        }
        session->signActive = false;
        // The request carries the number that ECDSA signs as a digest of the key's size.
        digest = session->key->digestFor(data, dataLength);
        algorithm = algorithmForDigestLength(digest.size());
        session->signRunning = true;
    }
    std::optional<Bytes> raw;
    try {
        Bytes answer = session->tokenSession->signData(digest, "", algorithm);
        raw = session->key->verifiedSignature(answer, digest);
        if (!raw)
            LoggerClient("token").error(
                "The signature from the app does not verify with the certificate's key");
    } catch (const std::exception& error) {
        LoggerClient("token").error(error.what());
    }
    {
        std::lock_guard lock(session->mutex);
        session->signRunning = false;
    }
    std::lock_guard lock(module.mutex);
    if (module.generation != generation)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (session->closed)
        return CKR_SESSION_CLOSED;
    if (!raw)
        return CKR_FUNCTION_FAILED;
    std::memcpy(signature, raw->data(), raw->size());
    *signatureLength = raw->size();
    return CKR_OK;
}

template <class F>
struct NotSupported;
template <class... Args>
struct NotSupported<CK_RV (*)(Args...)> {
    static CK_RV call(Args...) { return CKR_FUNCTION_NOT_SUPPORTED; }
};

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

CK_FUNCTION_LIST makeFunctionList() {
    CK_FUNCTION_LIST f{};
    f.version = {2, 40};
#define NOT_SUPPORTED(name) f.name = NotSupported<decltype(f.name)>::call;
    NOT_SUPPORTED(C_WaitForSlotEvent)
    NOT_SUPPORTED(C_InitToken)
    NOT_SUPPORTED(C_InitPIN)
    NOT_SUPPORTED(C_SetPIN)
    NOT_SUPPORTED(C_GetOperationState)
    NOT_SUPPORTED(C_SetOperationState)
    NOT_SUPPORTED(C_CreateObject)
    NOT_SUPPORTED(C_CopyObject)
    NOT_SUPPORTED(C_DestroyObject)
    NOT_SUPPORTED(C_GetObjectSize)
    NOT_SUPPORTED(C_SetAttributeValue)
    NOT_SUPPORTED(C_EncryptInit)
    NOT_SUPPORTED(C_Encrypt)
    NOT_SUPPORTED(C_EncryptUpdate)
    NOT_SUPPORTED(C_EncryptFinal)
    NOT_SUPPORTED(C_DecryptInit)
    NOT_SUPPORTED(C_Decrypt)
    NOT_SUPPORTED(C_DecryptUpdate)
    NOT_SUPPORTED(C_DecryptFinal)
    NOT_SUPPORTED(C_DigestInit)
    NOT_SUPPORTED(C_Digest)
    NOT_SUPPORTED(C_DigestUpdate)
    NOT_SUPPORTED(C_DigestKey)
    NOT_SUPPORTED(C_DigestFinal)
    NOT_SUPPORTED(C_SignUpdate)
    NOT_SUPPORTED(C_SignFinal)
    NOT_SUPPORTED(C_SignRecoverInit)
    NOT_SUPPORTED(C_SignRecover)
    NOT_SUPPORTED(C_VerifyInit)
    NOT_SUPPORTED(C_Verify)
    NOT_SUPPORTED(C_VerifyUpdate)
    NOT_SUPPORTED(C_VerifyFinal)
    NOT_SUPPORTED(C_VerifyRecoverInit)
    NOT_SUPPORTED(C_VerifyRecover)
    NOT_SUPPORTED(C_DigestEncryptUpdate)
    NOT_SUPPORTED(C_DecryptDigestUpdate)
    NOT_SUPPORTED(C_SignEncryptUpdate)
    NOT_SUPPORTED(C_DecryptVerifyUpdate)
    NOT_SUPPORTED(C_GenerateKey)
    NOT_SUPPORTED(C_GenerateKeyPair)
    NOT_SUPPORTED(C_WrapKey)
    NOT_SUPPORTED(C_UnwrapKey)
    NOT_SUPPORTED(C_DeriveKey)
    NOT_SUPPORTED(C_SeedRandom)
    NOT_SUPPORTED(C_GenerateRandom)
    NOT_SUPPORTED(C_GetFunctionStatus)
    NOT_SUPPORTED(C_CancelFunction)
#undef NOT_SUPPORTED
    f.C_Initialize = initialize;
    f.C_Finalize = finalize;
    f.C_GetInfo = getInfo;
    f.C_GetFunctionList = getFunctionList;
    f.C_GetSlotList = getSlotList;
    f.C_GetSlotInfo = getSlotInfo;
    f.C_GetTokenInfo = getTokenInfo;
    f.C_GetMechanismList = getMechanismList;
    f.C_GetMechanismInfo = getMechanismInfo;
    f.C_OpenSession = openSession;
    f.C_CloseSession = closeSession;
    f.C_CloseAllSessions = closeAllSessions;
    f.C_GetSessionInfo = getSessionInfo;
    f.C_Login = login;
    f.C_Logout = logout;
    f.C_GetAttributeValue = getAttributeValue;
    f.C_FindObjectsInit = findObjectsInit;
    f.C_FindObjects = findObjects;
    f.C_FindObjectsFinal = findObjectsFinal;
    f.C_SignInit = signInit;
    f.C_Sign = sign;
    return f;
}

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    static CK_FUNCTION_LIST functions = makeFunctionList();
    if (!list)
        return CKR_ARGUMENTS_BAD;
    *list = &functions;
    return CKR_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return getFunctionList(list);
}
