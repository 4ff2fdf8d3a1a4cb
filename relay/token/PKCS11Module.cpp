// Pellin as a PKCS#11 module: the C functions of the token module (relay/token/TokenModule.h). Each one runs
// its body through the one guard, so that no C++ exception reaches the application that loaded us.
#include <p11-kit/pkcs11.h>

#include <atomic>
#include <new>
#include <stdexcept>

#include "relay/token/EntryGuard.h"
#include "relay/token/TokenModule.h"

namespace {

// The test build's module shortens the relay client's waits and lets its tests make the next call throw at
// the boundary (compile-time definitions of that target only); the shipped module has neither.
#ifdef PELLIN_TEST_TIME_SCALE
constexpr double timeScale = PELLIN_TEST_TIME_SCALE;
#else
constexpr double timeScale = 1.0;
#endif

#ifdef PELLIN_TEST_FAULTS
std::atomic<int> injectedFault{0};

void throwInjectedFault() {
    switch (injectedFault.exchange(0)) {
        case 1:
            throw std::bad_alloc();
        case 2:
            throw std::runtime_error("injected fault");
        case 3:
            throw 3;  // not even a std::exception
        default:
            break;
    }
}
#else
void throwInjectedFault() {}
#endif

pellin::TokenModule& tokenModule() {
    // Never destroyed: the host may call in while it exits.
    static auto* module =
        new pellin::TokenModule(pellin::TokenModule::relayExchanges(pellin::Timeouts::scaled(timeScale)));
    return *module;
}

template <class Body>
CK_RV entry(Body&& body) {
    return pellin::guarded([&] {
        throwInjectedFault();
        return body();
    });
}

// The C function of a TokenModule call.
template <auto Call>
struct Entry;
template <class... Args, CK_RV (pellin::TokenModule::*Call)(Args...)>
struct Entry<Call> {
    static CK_RV call(Args... args) {
        return entry([&] { return (tokenModule().*Call)(args...); });
    }
};

template <class F>
struct NotSupported;
template <class... Args>
struct NotSupported<CK_RV (*)(Args...)> {
    static CK_RV call(Args...) {
        return entry([] { return CKR_FUNCTION_NOT_SUPPORTED; });
    }
};

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

CK_FUNCTION_LIST makeFunctionList() {
    using pellin::TokenModule;
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
    f.C_Initialize = Entry<&TokenModule::initialize>::call;
    f.C_Finalize = Entry<&TokenModule::finalize>::call;
    f.C_GetInfo = Entry<&TokenModule::getInfo>::call;
    f.C_GetFunctionList = getFunctionList;
    f.C_GetSlotList = Entry<&TokenModule::getSlotList>::call;
    f.C_GetSlotInfo = Entry<&TokenModule::getSlotInfo>::call;
    f.C_GetTokenInfo = Entry<&TokenModule::getTokenInfo>::call;
    f.C_GetMechanismList = Entry<&TokenModule::getMechanismList>::call;
    f.C_GetMechanismInfo = Entry<&TokenModule::getMechanismInfo>::call;
    f.C_OpenSession = Entry<&TokenModule::openSession>::call;
    f.C_CloseSession = Entry<&TokenModule::closeSession>::call;
    f.C_CloseAllSessions = Entry<&TokenModule::closeAllSessions>::call;
    f.C_GetSessionInfo = Entry<&TokenModule::getSessionInfo>::call;
    f.C_Login = Entry<&TokenModule::login>::call;
    f.C_Logout = Entry<&TokenModule::logout>::call;
    f.C_GetAttributeValue = Entry<&TokenModule::getAttributeValue>::call;
    f.C_FindObjectsInit = Entry<&TokenModule::findObjectsInit>::call;
    f.C_FindObjects = Entry<&TokenModule::findObjects>::call;
    f.C_FindObjectsFinal = Entry<&TokenModule::findObjectsFinal>::call;
    f.C_SignInit = Entry<&TokenModule::signInit>::call;
    f.C_Sign = Entry<&TokenModule::sign>::call;
    f.C_SignUpdate = Entry<&TokenModule::signUpdate>::call;
    f.C_SignFinal = Entry<&TokenModule::signFinal>::call;
    return f;
}

CK_RV getFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return entry([list] {
        static CK_FUNCTION_LIST functions = makeFunctionList();
        if (!list)
            return CKR_ARGUMENTS_BAD;
        *list = &functions;
        return CKR_OK;
    });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return getFunctionList(list);
}

#ifdef PELLIN_TEST_FAULTS
// The test build's seam: the next call into the module throws, before its body runs: 1 std::bad_alloc, 2 a
// std::runtime_error, 3 an exception of no std type.
extern "C" __attribute__((visibility("default"))) void pellin_testing_throwInNextCall(int fault) {
    injectedFault = fault;
}
#endif
