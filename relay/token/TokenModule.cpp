#include "relay/token/TokenModule.h"

#include <algorithm>
#include <cstring>

#include "relay/token/QuorvaneToken.h"

namespace pellin {

namespace {

void padded(CK_UTF8CHAR* field, std::size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::size_t length = std::min(size, text.size());
    // Never cut a UTF-8 sequence in two.
    while (length < text.size() && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(field, text.data(), length);
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

// A session's exchange with the app through the relay.
class RelayExchange : public SignatureExchange {
  public:
    explicit RelayExchange(std::shared_ptr<QuorvaneTokenSession> session) : session_(std::move(session)) {}
    platform::Bytes signDigest(const platform::Bytes& digest, const char* algorithm) override {
        return session_->signData(digest, "", algorithm);
    }
    void close() override { session_->close(); }

  private:
    std::shared_ptr<QuorvaneTokenSession> session_;
};

}  // namespace

// A C_Sign call while it is inside the module, so that C_Finalize can wait for it to leave. Made with the
// module locked.
class TokenModule::SignCall {
  public:
    explicit SignCall(TokenModule& module) : module_(module) { ++module_.signCalls_; }
    ~SignCall() {
        std::lock_guard lock(module_.mutex_);
        if (--module_.signCalls_ == 0)
            module_.signCallsEnded_.notify_all();
    }
    SignCall(const SignCall&) = delete;
    SignCall& operator=(const SignCall&) = delete;

  private:
    TokenModule& module_;
};

TokenModule::TokenModule(ExchangeFactory makeExchange) : makeExchange_(std::move(makeExchange)) {}

TokenModule::ExchangeFactory TokenModule::relayExchanges(Timeouts timeouts) {
    auto driver = std::make_shared<QuorvaneTokenDriver>(timeouts);
    return [driver](const platform::tokens::TokenConfiguration& configuration) {
        return std::make_shared<RelayExchange>(driver->tokenForConfiguration(configuration)->createSession());
    };
}

std::vector<platform::tokens::TokenConfiguration> TokenModule::readConfigurations() {
    std::vector<platform::tokens::TokenConfiguration> configurations;
    try {
        configurations = platform::tokens::TokenStore().configurations();
    } catch (const std::exception&) {
    }
    for (const auto& configuration : configurations) {
        if (slotIDs_.contains(configuration.instanceID))
            continue;
        slotIDs_[configuration.instanceID] = nextSlot_;
        instanceIDs_[nextSlot_] = configuration.instanceID;
        ++nextSlot_;
    }
    return configurations;
}

std::optional<platform::tokens::TokenConfiguration> TokenModule::configurationOf(CK_SLOT_ID slot) const {
    auto found = instanceIDs_.find(slot);
    if (found == instanceIDs_.end())
        return std::nullopt;
    try {
        return platform::tokens::TokenStore().configuration(found->second);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void TokenModule::endSession(Sessions::iterator found, CK_RV reason) {
    auto session = found->second;
    sessions_.erase(found);
    session->close(reason);
    if (std::none_of(sessions_.begin(), sessions_.end(),
                     [&](const auto& entry) { return entry.second->slot() == session->slot(); }))
        loggedIn_.erase(session->slot());
}

std::shared_ptr<TokenSession> TokenModule::session(CK_SESSION_HANDLE handle, CK_RV& rv) {
    if (!initialized_) {
        rv = CKR_CRYPTOKI_NOT_INITIALIZED;
        return nullptr;
    }
    auto found = sessions_.find(handle);
    if (found == sessions_.end()) {
        rv = CKR_SESSION_HANDLE_INVALID;
        return nullptr;
    }
    rv = CKR_OK;
    return found->second;
}

template <class Call>
CK_RV TokenModule::withSession(CK_SESSION_HANDLE handle, Call call) {
    CK_RV rv;
    std::shared_ptr<TokenSession> found;
    {
        std::lock_guard lock(mutex_);
        found = session(handle, rv);
    }
    return found ? call(*found) : rv;
}

CK_RV TokenModule::initialize(CK_VOID_PTR args) {
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
    std::lock_guard lock(mutex_);
    if (initialized_)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    initialized_ = true;
    return CKR_OK;
}

CK_RV TokenModule::finalize(CK_VOID_PTR reserved) {
    if (reserved)
        return CKR_ARGUMENTS_BAD;
    std::unique_lock lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    initialized_ = false;
    while (!sessions_.empty())
        endSession(sessions_.begin(), CKR_CRYPTOKI_NOT_INITIALIZED);
    // A signature that was waiting ends at once: let its call leave before the application unloads us.
    signCallsEnded_.wait(lock, [&] { return signCalls_ == 0; });
    return CKR_OK;
}

CK_RV TokenModule::getInfo(CK_INFO_PTR info) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 40};
    padded(info->manufacturerID, sizeof info->manufacturerID, "Quorvane");
    padded(info->libraryDescription, sizeof info->libraryDescription, "Pellin remote signing token");
    info->libraryVersion = {1, 0};
    return CKR_OK;
}

CK_RV TokenModule::getSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> slots;
    for (const auto& configuration : readConfigurations())
        slots.push_back(slotIDs_.at(configuration.instanceID));
    std::sort(slots.begin(), slots.end());
    return copyList(slots, list, count);
}

CK_RV TokenModule::getSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    std::memset(info, 0, sizeof *info);
    padded(info->slotDescription, sizeof info->slotDescription, "Quorvane remote signing");
    padded(info->manufacturerID, sizeof info->manufacturerID, "Quorvane");
    info->flags = CKF_REMOVABLE_DEVICE | (configurationOf(slot) ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    return CKR_OK;
}

CK_RV TokenModule::getTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    if (!configurationOf(slot))
        return CKR_TOKEN_NOT_PRESENT;
    std::memset(info, 0, sizeof *info);
    padded(info->label, sizeof info->label, instanceIDs_.at(slot));
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
}

CK_RV TokenModule::getMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    return copyList(std::vector<CK_MECHANISM_TYPE>{CKM_ECDSA}, list, count);
}

CK_RV TokenModule::getMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    if (type != CKM_ECDSA)
        return CKR_MECHANISM_INVALID;
    info->ulMinKeySize = smallestKeyBits;
    info->ulMaxKeySize = largestKeyBits;
    info->flags = CKF_SIGN | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS;
    return CKR_OK;
}

CK_RV TokenModule::openSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                               CK_SESSION_HANDLE_PTR handle) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!handle)
        return CKR_ARGUMENTS_BAD;
    if (!(flags & CKF_SERIAL_SESSION))
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    readConfigurations();
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    auto configuration = configurationOf(slot);
    if (!configuration)
        return CKR_TOKEN_NOT_PRESENT;
    if (flags & CKF_RW_SESSION)
        return CKR_TOKEN_WRITE_PROTECTED;
    auto session = std::make_shared<TokenSession>(slot, flags, TokenObjects::of(*configuration),
                                                  makeExchange_(*configuration));
    sessions_[nextSession_] = session;
    *handle = nextSession_++;
    return CKR_OK;
}

CK_RV TokenModule::closeSession(CK_SESSION_HANDLE handle) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    auto found = sessions_.find(handle);
    if (found == sessions_.end())
        return CKR_SESSION_HANDLE_INVALID;
    endSession(found, CKR_SESSION_CLOSED);
    return CKR_OK;
}

CK_RV TokenModule::closeAllSessions(CK_SLOT_ID slot) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!instanceIDs_.contains(slot))
        return CKR_SLOT_ID_INVALID;
    for (auto found = sessions_.begin(); found != sessions_.end();) {
        auto next = std::next(found);
        if (found->second->slot() == slot)
            endSession(found, CKR_SESSION_CLOSED);
        found = next;
    }
    return CKR_OK;
}

CK_RV TokenModule::getSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv;
    auto found = session(handle, rv);
    if (!found)
        return rv;
    info->slotID = found->slot();
    info->flags = found->flags();
    info->state = loggedIn_.contains(found->slot()) ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
    info->ulDeviceError = 0;
    return CKR_OK;
}

CK_RV TokenModule::login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR, CK_ULONG) {
    std::lock_guard lock(mutex_);
    CK_RV rv;
    auto found = session(handle, rv);
    if (!found)
        return rv;
    switch (userType) {
        case CKU_USER:
            return loggedIn_.insert(found->slot()).second ? CKR_OK : CKR_USER_ALREADY_LOGGED_IN;
        case CKU_SO:
            return CKR_SESSION_READ_ONLY_EXISTS;
        case CKU_CONTEXT_SPECIFIC:
            return found->isSignInitialized() ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
        default:
            return CKR_USER_TYPE_INVALID;
    }
}

CK_RV TokenModule::logout(CK_SESSION_HANDLE handle) {
    std::lock_guard lock(mutex_);
    CK_RV rv;
    auto found = session(handle, rv);
    if (!found)
        return rv;
    return loggedIn_.erase(found->slot()) ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
}

CK_RV TokenModule::getAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                     CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    return withSession(handle, [&](TokenSession& s) { return s.getAttributeValue(object, templ, count); });
}

CK_RV TokenModule::findObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    return withSession(handle, [&](TokenSession& s) { return s.findObjectsInit(templ, count); });
}

CK_RV TokenModule::findObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                               CK_ULONG_PTR count) {
    return withSession(handle, [&](TokenSession& s) { return s.findObjects(objects, maxCount, count); });
}

CK_RV TokenModule::findObjectsFinal(CK_SESSION_HANDLE handle) {
    return withSession(handle, [&](TokenSession& s) { return s.findObjectsFinal(); });
}

CK_RV TokenModule::signInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return withSession(handle, [&](TokenSession& s) { return s.signInit(mechanism, key); });
}

CK_RV TokenModule::sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength,
                        CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    CK_RV rv;
    std::shared_ptr<TokenSession> found;
    std::optional<SignCall> call;
    {
        std::lock_guard lock(mutex_);
        found = session(handle, rv);
        if (!found)
            return rv;
        call.emplace(*this);
    }
    return found->sign(data, dataLength, signature, signatureLength);
}

CK_RV TokenModule::signUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG) {
    return withSession(handle, [&](TokenSession& s) { return s.signUpdate(); });
}

CK_RV TokenModule::signFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG_PTR) {
    return withSession(handle, [&](TokenSession& s) { return s.signFinal(); });
}

}  // namespace pellin
