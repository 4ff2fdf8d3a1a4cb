#pragma once
// A host for the plug-in without a reader. It loads the plug-in the way the reader does (dlopen, the entry,
// the setup, the handshake, then the plug-in's import and init callbacks), serves the tables the plug-in asks
// for (any of them can be withheld), records every call the plug-in makes into it and every alert, and fires
// the digital-signature event. Plain C++: the tests and the program quorvane-acrobat-host share it.
//
// The host's functions are plain C functions without a context: one host at a time per process.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acrobat/AcroHost.h"

namespace acrobathost {

struct HostOptions {
    // Offered to the entry.
    HostVersion handshakeVersion = 0x20000;
    // Of the setup record.
    HostVersion setupRecordVersion = 0x20000;
    // The tables offered, each at one version: asked for at that version or an older one, the host hands it
    // out. The default offers every table the plug-in asks for at the version it asks, AcroSupport at
    // 0x80000 and "DigSigHFT" at 1.
    std::map<std::string, HostVersion> tables = allTables();
    // Whether AcroSupport can tell a table's version (its selector 102).
    bool reportsVersions = true;

    static std::map<std::string, HostVersion> allTables();
};

// How far loading got: each step refused ends it there.
enum class Stage {
    notOpened,     // dlopen failed, or the library has no entry
    entryRefused,  // the entry returned false
    setupRefused,  // the setup returned false
    handshakeRefused,
    importRefused,  // the import/replace/register callback returned false
    initRefused,
    loaded,
};
std::string describe(Stage stage);

// A request of the Core table's selector 10.
struct TableRequest {
    std::string name;
    HostVersion version;
    bool served;
    bool operator==(const TableRequest&) const = default;
};

// A registration through the digital-signature table's selector 44.
struct ObserverRegistration {
    std::int32_t event;
    DigSigObserverProc observer;
    void* reserved1;
    void* reserved2;
};

struct Firing {
    int observersCalled = 0;
    std::chrono::steady_clock::duration elapsed{};
    std::chrono::nanoseconds processorTime{};  // of the whole process while the observers ran
    std::vector<std::string> alerts;           // shown while the observers ran
};

class AcrobatHost {
  public:
    explicit AcrobatHost(HostOptions options = {});
    // Calls the plug-in's unload callback when it was loaded, then lets the library go.
    ~AcrobatHost();
    AcrobatHost(const AcrobatHost&) = delete;
    AcrobatHost& operator=(const AcrobatHost&) = delete;

    Stage load(const std::filesystem::path& plugin);
    // Calls every observer registered for the event, on this thread, as the reader does before it signs.
    Firing fire(std::int32_t event = DigSigEventBeforeSigning);

    // What the plug-in answered and did.
    HostVersion pluginHandshakeVersion() const;
    int retainedHandles() const;        // retains of the two handles the entry was handed
    std::string extensionName() const;  // the name behind the handshake's atom
    int handshakeCallbacks() const;     // of the four, those the plug-in filled in
    std::vector<TableRequest> tableRequests() const;
    std::vector<ObserverRegistration> registrations() const;
    std::vector<std::string> alerts() const;
    // Every call into the host, one line each, in order (for a reviewer: quorvane-acrobat-host --trace).
    std::vector<std::string> trace() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

std::string hexVersion(HostVersion version);

}  // namespace acrobathost
