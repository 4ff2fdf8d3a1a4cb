#include "acrobat/CertificateRequestHook.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "acrobat/EntryGuard.h"
#include "acrobat/PIMain.h"
#include "platform/DarwinNotify.h"
#include "platform/Workspace.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The test build's twin of the plug-in waits a fraction of the real times (a compile-time definition of that
// target only); the plug-in as it ships reads no setting of the kind.
#ifdef VEXO_TEST_TIME_SCALE
constexpr double timeScale = VEXO_TEST_TIME_SCALE;
#else
constexpr double timeScale = 1.0;
#endif

constexpr Clock::duration scaled(std::chrono::duration<double> duration) {
    return std::chrono::duration_cast<Clock::duration>(duration * timeScale);
}

constexpr const char* certificateLink = "quorvane://certificate";
constexpr const char* requestedName = "com.tovik.pc-signing.certificate-requested";
constexpr const char* retrievedName = "com.tovik.pc-signing.certificate-retrieved";
constexpr Clock::duration requestedWait = scaled(10s);
constexpr Clock::duration retrievedWait = scaled(300s);
constexpr Clock::duration waitStep = scaled(250ms);
constexpr const char* noReplyAlert = "QuorvaneApp hasnt't replied. Please check that you have it installed.";

// The app's two answers to one request, observed from before the request goes out until they are in or the
// time is up. Each call of the observer has its own: a second call starts with both cleared.
class AppReplies {
  public:
    AppReplies()
        : flags_(std::make_shared<Flags>()),
          observer_({requestedName, retrievedName}, [flags = flags_](const std::string& name) {
              {
                  std::lock_guard lock(flags->mutex);
                  if (name == requestedName)
                      flags->requested = true;
                  else if (name == retrievedName)
                      flags->retrieved = true;
                  ++flags->deliveries;
              }
              flags->delivered.notify_all();
          }) {}

    bool waitForRequested(Clock::duration limit) { return waitFor(&Flags::requested, limit); }
    bool waitForRetrieved(Clock::duration limit) { return waitFor(&Flags::retrieved, limit); }

    void stopObserving() { observer_.stop(); }

  private:
    struct Flags {
        std::mutex mutex;
        std::condition_variable delivered;
        bool requested = false;
        bool retrieved = false;
        std::uint64_t deliveries = 0;
    };

    // Steps of at most waitStep, each ended early by any delivery; the flag is looked at after each step, so
    // a wait takes at least one. Fails once more than the limit has passed since the start.
    bool waitFor(bool Flags::*flag, Clock::duration limit) {
        const auto start = Clock::now();
        std::unique_lock lock(flags_->mutex);
        while (true) {
            const auto seen = flags_->deliveries;
            flags_->delivered.wait_until(lock, Clock::now() + waitStep,
                                         [&] { return flags_->deliveries != seen; });
            if ((*flags_).*flag)
                return true;
            if (Clock::now() - start > limit)
                return false;
        }
    }

    std::shared_ptr<Flags> flags_;
    platform::DarwinNotifyObserver observer_;
};

// True once the app has answered both.
bool requestCertificate() {
    AppReplies replies;
    platform::Workspace::open(certificateLink);
    const bool answered = replies.waitForRequested(requestedWait) && replies.waitForRetrieved(retrievedWait);
    replies.stopObserving();
    return answered;
}

}  // namespace

using namespace acrobat;

HostBool PluginImportReplaceAndRegister(void) {
    return guarded([]() -> HostBool {
        globals().digSig = tableOf(atomOf("DigSigHFT"), 1);
        if (globals().digSig)
            return true;
        alert("Could not load DigSigHFT");
        return false;
    });
}

HostBool PluginInit(void) {
    return guarded([]() -> HostBool {
        auto registerObserver =
            hostFunction<DigSigRegisterObserverProc>(globals().digSig, DigSigSelRegisterObserver);
        if (!registerObserver)
            return false;
        registerObserver(DigSigEventBeforeSigning, &MyDigSigObserver, nullptr, nullptr);
        return true;
    });
}

void MyDigSigObserver(void*, void*) {
    if (!guarded(requestCertificate))
        guarded([] { alert(noReplyAlert); });
}
