#pragma once
// The token as a PKCS#11 module, behind its C functions: every token configuration of the store is a slot
// with a token, sessions are opened on them, and the module's lock guards the slots, the sessions and the
// login state. Each call answers as its C function does (same arguments, a CK_RV); none throws on purpose,
// and the C entry points guard against what may (pellin::guarded).
//
// The token is write-protected and has no PIN: logging in as the user only changes the state that the
// sessions report. The module creates no threads: a signature's exchange runs on the calling thread, and
// C_CloseSession, C_CloseAllSessions and C_Finalize end one that is waiting.
#include <p11-kit/pkcs11.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/tokens/TokenStore.h"
#include "relay/token/TokenSession.h"
#include "relay/token/XPCClientLive.h"

namespace pellin {

class TokenModule {
  public:
    // Makes the exchange through which a new session of the configuration's token signs.
    using ExchangeFactory =
        std::function<std::shared_ptr<SignatureExchange>(const platform::tokens::TokenConfiguration&)>;

    explicit TokenModule(ExchangeFactory makeExchange);
    // Signatures come from the app through the relay, with the relay client's waits.
    static ExchangeFactory relayExchanges(Timeouts timeouts);

    CK_RV initialize(CK_VOID_PTR args);
    // Ends every session (and a signature waiting in one), then returns once no C_Sign is left in the module.
    CK_RV finalize(CK_VOID_PTR reserved);
    CK_RV getInfo(CK_INFO_PTR info);
    CK_RV getSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count);
    CK_RV getSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info);
    CK_RV getTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info);
    CK_RV getMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count);
    CK_RV getMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info);
    CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                      CK_SESSION_HANDLE_PTR handle);
    CK_RV closeSession(CK_SESSION_HANDLE handle);
    CK_RV closeAllSessions(CK_SLOT_ID slot);
    CK_RV getSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info);
    CK_RV login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength);
    CK_RV logout(CK_SESSION_HANDLE handle);

    CK_RV getAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ,
                            CK_ULONG count);
    CK_RV findObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    CK_RV findObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                      CK_ULONG_PTR count);
    CK_RV findObjectsFinal(CK_SESSION_HANDLE handle);
    CK_RV signInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
    CK_RV sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
               CK_ULONG_PTR signatureLength);
    CK_RV signUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG partLength);
    CK_RV signFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength);

  private:
    using Sessions = std::map<CK_SESSION_HANDLE, std::shared_ptr<TokenSession>>;
    class SignCall;

    // The store is read afresh each time: configurations come and go while applications keep the module
    // loaded. Slot ids stay stable while the module is loaded. Called with the lock held.
    std::vector<platform::tokens::TokenConfiguration> readConfigurations();
    std::optional<platform::tokens::TokenConfiguration> configurationOf(CK_SLOT_ID slot) const;
    // Ends the session (and a signature waiting in it); the last session of a token logs it out. Called with
    // the lock held.
    void endSession(Sessions::iterator found, CK_RV reason);
    // The open session; nothing once the module is not initialized or the handle is unknown, with the
    // reason in `rv`.
    std::shared_ptr<TokenSession> session(CK_SESSION_HANDLE handle, CK_RV& rv);
    // Runs the call on an open session, without the module's lock (signing waits for the app).
    template <class Call>
    CK_RV withSession(CK_SESSION_HANDLE handle, Call call);

    const ExchangeFactory makeExchange_;
    std::mutex mutex_;
    bool initialized_ = false;
    std::map<std::string, CK_SLOT_ID> slotIDs_;  // instance id -> slot
    std::map<CK_SLOT_ID, std::string> instanceIDs_;
    CK_SLOT_ID nextSlot_ = 1;
    Sessions sessions_;
    CK_SESSION_HANDLE nextSession_ = 1;
    std::set<CK_SLOT_ID> loggedIn_;  // the application's login state, per token
    int signCalls_ = 0;              // C_Sign calls inside the module
    std::condition_variable signCallsEnded_;
};

}  // namespace pellin
