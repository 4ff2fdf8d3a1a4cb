#include "acrobat/PIMain.h"

#include "acrobat/EntryGuard.h"

namespace acrobat {

namespace {

constexpr HostVersion setupRecordVersion = 0x20000;
constexpr HostVersion acroSupportProbeVersion = 0x60000;
constexpr HostVersion acroSupportVersion = 0x80000;
// From this version of AcroSupport on, the host tells each table's version.
constexpr HostVersion versionReportingAcroSupport = 0x60000;

HostVersion versionOf(HFT table) {
    auto version =
        hostFunction<AcroSupportTableVersionProc>(obtainedTable("AcroSupport"), AcroSupportSelTableVersion);
    return version ? version(table) : 0;
}

}  // namespace

PluginGlobals& globals() {
    static PluginGlobals* values = new PluginGlobals;  // never destroyed: the host may call in while it exits
    return *values;
}

HFT obtainedTable(const std::string& name) {
    const auto& tables = globals().tables;
    auto found = tables.find(name);
    return found == tables.end() ? nullptr : found->second.table;
}

HostAtom atomOf(const char* name) {
    auto atom = hostFunction<CoreAtomFromNameProc>(globals().core, CoreSelAtomFromName);
    return atom ? atom(name) : 0;
}

HostCallback makeCallback(HostFunction function) {
    auto make = hostFunction<CoreMakeCallbackProc>(globals().core, CoreSelMakeCallback);
    return make ? make(globals().extensionID, function) : nullptr;
}

HFT tableOf(HostAtom name, HostVersion version) {
    auto table = hostFunction<CoreTableOfAtomProc>(globals().core, CoreSelTableOfAtom);
    return table ? table(name, version) : nullptr;
}

void alert(const char* message) {
    if (auto show = hostFunction<AcroViewAlertProc>(obtainedTable("AcroView"), AcroViewSelAlert))
        show(message);
}

}  // namespace acrobat

using namespace acrobat;

extern "C" __attribute__((visibility("default"))) HostBool AcroPluginMain(HostVersion hostHandshakeVersion,
                                                                          HostVersion* pluginHandshakeVersion,
                                                                          PISetupSDKProc* setup,
                                                                          HostData* hostData) {
    return guarded([&]() -> HostBool {
        if (!pluginHandshakeVersion || !setup)
            return false;
        if (hostData && hostData->retain) {
            auto& handles = globals().handles;
            handles[0] = hostData->retain(hostData->handle1);
            handles[1] = hostData->retain(hostData->handle2);
        }
        *pluginHandshakeVersion =
            hostHandshakeVersion < handshakeVersion ? hostHandshakeVersion : handshakeVersion;
        *setup = PISetupSDK;
        return true;
    });
}

HostBool PISetupSDK(HostVersion version, HostSetupData* setup) {
    return guarded([&]() -> HostBool {
        if (version != handshakeVersion || !setup || setup->version != setupRecordVersion || !setup->coreHFT)
            return false;
        auto& values = globals();
        // A host that loads the plug-in again starts from nothing of the earlier load.
        values.tables.clear();
        values.digSig = nullptr;
        values.extensionID = setup->extensionID;
        values.core = setup->coreHFT;
        values.coreVersion = 0x20000;

        if (HFT support = tableOf(atomOf("AcroSupport"), acroSupportProbeVersion)) {
            auto& kept = values.tables["AcroSupport"];
            kept.table = support;
            kept.version = versionOf(support);
        }
        HostVersion obtained = 0;
        HFT table = nullptr;
        if (!GetRequestedHFT("AcroSupport", acroSupportVersion, &obtained, &table))
            return false;
        for (const auto& required : requiredTables) {
            if (!GetRequestedHFT(required.name, required.version, &obtained, &table))
                return false;
        }

        setup->handshakeCallback = makeCallback(reinterpret_cast<HostFunction>(&PIHandshake));
        return setup->handshakeCallback != nullptr;
    });
}

HostBool GetRequestedHFT(const char* name, HostVersion version, HostVersion* obtainedVersion, HFT* table) {
    return guarded([&]() -> HostBool {
        if (!name)
            return false;
        auto& values = globals();
        const HostAtom atom = atomOf(name);
        ObtainedTable obtained;
        auto support = values.tables.find("AcroSupport");
        if (support != values.tables.end() && support->second.version >= versionReportingAcroSupport) {
            obtained.table = tableOf(atom, version);
            if (obtained.table)
                obtained.version = versionOf(obtained.table);
        }
        if (!obtained.table) {
            for (HostVersion fallback : fallbackVersions) {
                if (fallback < version)
                    break;
                if ((obtained.table = tableOf(atom, fallback))) {
                    obtained.version = fallback;
                    break;
                }
            }
        }
        values.tables[name] = obtained;
        if (obtainedVersion)
            *obtainedVersion = obtained.version;
        if (table)
            *table = obtained.table;
        return obtained.version != 0;
    });
}
