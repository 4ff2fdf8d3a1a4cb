#include "acrobat/harness/AcrobatHost.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <stdexcept>

struct HostExtensionRec {
    int unused;
};
struct HostHandleRec {
    const char* name;
};
struct HostCallbackRec {
    HostExtensionID extension;
    HostFunction function;
};

namespace acrobathost {

namespace {

// Large enough for every selector the host serves.
constexpr std::size_t tableSize = 128;

std::chrono::nanoseconds processorTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

struct AcrobatHost::State {
    explicit State(HostOptions options) : options(std::move(options)) {}

    HostOptions options;
    mutable std::mutex mutex;
    void* library = nullptr;
    Stage stage = Stage::notOpened;

    HostExtensionRec extension{};
    HostHandleRec handle1{"first"};
    HostHandleRec handle2{"second"};
    std::map<std::string, std::vector<HostFunction>> tables;  // the offered ones, by name
    std::vector<std::string> atoms{""};                       // atom 0 is no name
    std::deque<HostCallbackRec> callbacks;
    HostSetupData setup{};
    HostHandshakeData handshake{};

    HostVersion pluginVersion = 0;
    int retains = 0;
    std::vector<TableRequest> requests;
    std::vector<ObserverRegistration> registrations;
    std::vector<std::string> alerts;
    std::vector<std::string> trace;

    void record(std::string line) {
        std::lock_guard lock(mutex);
        trace.push_back(std::move(line));
    }
    std::string nameOf(HostAtom atom) const {
        std::lock_guard lock(mutex);
        return atom < atoms.size() ? atoms[atom] : "";
    }
    std::string nameOf(HFT table) const {
        for (const auto& [name, functions] : tables)
            if (functions.data() == table)
                return name;
        return "";
    }
    HostFunction functionOf(HostCallback callback) const {
        for (const auto& made : callbacks)
            if (&made == callback)
                return made.function;
        return nullptr;
    }
};

namespace {

std::shared_ptr<AcrobatHost::State> current;  // the host whose functions the plug-in calls

AcrobatHost::State& host() {
    if (!current)
        std::abort();  // a plug-in calling into a host that is gone
    return *current;
}

extern "C" HostHandle retainHandle(HostHandle handle) {
    auto& state = host();
    state.record(std::string("retain ") + (handle ? handle->name : "null"));
    if (handle == &state.handle1 || handle == &state.handle2) {
        std::lock_guard lock(state.mutex);
        ++state.retains;
    }
    return handle;
}

extern "C" HostAtom atomFromName(const char* name) {
    auto& state = host();
    const std::string text = name ? name : "";
    state.record("Core 5 \"" + text + "\"");
    std::lock_guard lock(state.mutex);
    for (std::size_t i = 1; i < state.atoms.size(); ++i)
        if (state.atoms[i] == text)
            return static_cast<HostAtom>(i);
    state.atoms.push_back(text);
    return static_cast<HostAtom>(state.atoms.size() - 1);
}

extern "C" HostCallback makeCallback(HostExtensionID extension, HostFunction function) {
    auto& state = host();
    state.record("Core 8");
    if (extension != &state.extension || !function)
        return nullptr;
    std::lock_guard lock(state.mutex);
    state.callbacks.push_back({extension, function});
    return &state.callbacks.back();
}

extern "C" HFT tableOfAtom(HostAtom atom, HostVersion version) {
    auto& state = host();
    const std::string name = state.nameOf(atom);
    auto offered = state.options.tables.find(name);
    const bool served = offered != state.options.tables.end() && version <= offered->second;
    state.record("Core 10 \"" + name + "\" " + hexVersion(version) + (served ? " -> table" : " -> none"));
    {
        std::lock_guard lock(state.mutex);
        state.requests.push_back({name, version, served});
    }
    return served ? state.tables.at(name).data() : nullptr;
}

extern "C" HostVersion tableVersion(HFT table) {
    auto& state = host();
    const std::string name = state.nameOf(table);
    auto offered = state.options.tables.find(name);
    const HostVersion version = offered == state.options.tables.end() ? 0 : offered->second;
    state.record("AcroSupport 102 \"" + name + "\" -> " + hexVersion(version));
    return version;
}

extern "C" void showAlert(const char* message) {
    auto& state = host();
    const std::string text = message ? message : "";
    state.record("AcroView 5 \"" + text + "\"");
    std::lock_guard lock(state.mutex);
    state.alerts.push_back(text);
}

extern "C" void registerObserver(std::int32_t event, DigSigObserverProc observer, void* reserved1,
                                 void* reserved2) {
    auto& state = host();
    state.record("DigSigHFT 44 event " + std::to_string(event));
    std::lock_guard lock(state.mutex);
    state.registrations.push_back({event, observer, reserved1, reserved2});
}

template <class Proc>
HostFunction entry(Proc proc) {
    return reinterpret_cast<HostFunction>(proc);
}

}  // namespace

std::map<std::string, HostVersion> HostOptions::allTables() {
    return {
        {"AcroSupport", 0x80000}, {"Core", 0x50000},           {"Cos", 0x60000},
        {"PDModel", 0x60000},     {"PDFEditWrite", 0x60000},   {"PDFEditRead", 0x60000},
        {"PDSysFont", 0x40000},   {"PagePDEContent", 0x60000}, {"AcroView", 0x60000},
        {"PDSWrite", 0x60000},    {"PDSRead", 0x60000},        {"Macintosh", 0x20002},
        {"ASExtra", 0x60000},     {"PDMetadata", 0x60000},     {"AcroColorHFT", 0x60000},
        {"DigSigHFT", 1},
    };
}

std::string describe(Stage stage) {
    switch (stage) {
        case Stage::notOpened:
            return "not opened";
        case Stage::entryRefused:
            return "entry refused";
        case Stage::setupRefused:
            return "setup refused";
        case Stage::handshakeRefused:
            return "handshake refused";
        case Stage::importRefused:
            return "import refused";
        case Stage::initRefused:
            return "init refused";
        case Stage::loaded:
            return "loaded";
    }
    return "?";
}

std::string hexVersion(HostVersion version) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", version);
    return text;
}

AcrobatHost::AcrobatHost(HostOptions options) : state_(std::make_shared<State>(std::move(options))) {
    if (current)
        throw std::logic_error("one host at a time");
    // Every table exists; the options say which of them the host hands out.
    auto& tables = state_->tables;
    for (const auto& [name, version] : HostOptions::allTables())
        tables[name].resize(tableSize);
    for (const auto& [name, version] : state_->options.tables)
        tables[name].resize(tableSize);
    tables["Core"][CoreSelAtomFromName] = entry(&atomFromName);
    tables["Core"][CoreSelMakeCallback] = entry(&makeCallback);
    tables["Core"][CoreSelTableOfAtom] = entry(&tableOfAtom);
    if (state_->options.reportsVersions)
        tables["AcroSupport"][AcroSupportSelTableVersion] = entry(&tableVersion);
    tables["AcroView"][AcroViewSelAlert] = entry(&showAlert);
    tables["DigSigHFT"][DigSigSelRegisterObserver] = entry(&registerObserver);
    current = state_;
}

AcrobatHost::~AcrobatHost() {
    if (state_->stage == Stage::loaded) {
        if (auto unload =
                reinterpret_cast<PluginCallbackProc>(state_->functionOf(state_->handshake.unloadCallback)))
            unload();
    }
    if (state_->library)
        ::dlclose(state_->library);
    current.reset();
}

Stage AcrobatHost::load(const std::filesystem::path& plugin) {
    auto& state = *state_;
    // Once loaded, the library stays until the process ends, as with a reader that keeps its plug-ins: a
    // later host of the same process loads it again through the entry and the setup.
    state.library = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!state.library) {
        state.record(std::string("dlopen: ") + ::dlerror());
        return state.stage = Stage::notOpened;
    }
    auto main = reinterpret_cast<AcroPluginMainProc>(::dlsym(state.library, ACRO_PLUGIN_MAIN));
    if (!main) {
        state.record("no " ACRO_PLUGIN_MAIN);
        return state.stage = Stage::notOpened;
    }

    HostData data{sizeof(HostData), &state.handle1, &state.handle2, &retainHandle};
    PISetupSDKProc setup = nullptr;
    state.record("entry " + hexVersion(state.options.handshakeVersion));
    if (!main(state.options.handshakeVersion, &state.pluginVersion, &setup, &data) || !setup)
        return state.stage = Stage::entryRefused;
    state.record("plug-in's handshake version " + hexVersion(state.pluginVersion));

    state.setup = {state.options.setupRecordVersion, &state.extension, state.tables["Core"].data(), nullptr};
    state.record("setup");
    if (!setup(state.pluginVersion, &state.setup))
        return state.stage = Stage::setupRefused;

    auto handshake = reinterpret_cast<PIHandshakeProc>(state.functionOf(state.setup.handshakeCallback));
    state.record("handshake");
    if (!handshake || !handshake(state.pluginVersion, &state.handshake))
        return state.stage = Stage::handshakeRefused;

    auto call = [&](HostCallback callback, const char* what) {
        state.record(what);
        auto function = reinterpret_cast<PluginCallbackProc>(state.functionOf(callback));
        return function && function();
    };
    if (!call(state.handshake.exportHFTsCallback, "export callback"))
        return state.stage = Stage::handshakeRefused;
    if (!call(state.handshake.importReplaceAndRegisterCallback, "import/replace/register callback"))
        return state.stage = Stage::importRefused;
    if (!call(state.handshake.initCallback, "init callback"))
        return state.stage = Stage::initRefused;
    return state.stage = Stage::loaded;
}

Firing AcrobatHost::fire(std::int32_t event) {
    auto& state = *state_;
    std::vector<DigSigObserverProc> observers;
    std::size_t alertsBefore = 0;
    {
        std::lock_guard lock(state.mutex);
        for (const auto& registration : state.registrations)
            if (registration.event == event && registration.observer)
                observers.push_back(registration.observer);
        alertsBefore = state.alerts.size();
    }
    state.record("fire event " + std::to_string(event));
    Firing firing;
    const auto start = std::chrono::steady_clock::now();
    const auto processorStart = processorTime();
    for (auto observer : observers) {
        observer(nullptr, nullptr);
        ++firing.observersCalled;
    }
    firing.processorTime = processorTime() - processorStart;
    firing.elapsed = std::chrono::steady_clock::now() - start;
    std::lock_guard lock(state.mutex);
    firing.alerts.assign(state.alerts.begin() + static_cast<std::ptrdiff_t>(alertsBefore),
                         state.alerts.end());
    return firing;
}

HostVersion AcrobatHost::pluginHandshakeVersion() const {
    return state_->pluginVersion;
}

int AcrobatHost::retainedHandles() const {
    std::lock_guard lock(state_->mutex);
    return state_->retains;
}

std::string AcrobatHost::extensionName() const {
    return state_->nameOf(state_->handshake.extensionName);
}

int AcrobatHost::handshakeCallbacks() const {
    const auto& h = state_->handshake;
    int count = 0;
    for (auto callback :
         {h.exportHFTsCallback, h.importReplaceAndRegisterCallback, h.initCallback, h.unloadCallback})
        count += state_->functionOf(callback) != nullptr;
    return count;
}

std::vector<TableRequest> AcrobatHost::tableRequests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::vector<ObserverRegistration> AcrobatHost::registrations() const {
    std::lock_guard lock(state_->mutex);
    return state_->registrations;
}

std::vector<std::string> AcrobatHost::alerts() const {
    std::lock_guard lock(state_->mutex);
    return state_->alerts;
}

std::vector<std::string> AcrobatHost::trace() const {
    std::lock_guard lock(state_->mutex);
    return state_->trace;
}

}  // namespace acrobathost
