#pragma once
// The entry glue: the entry the host calls first, the setup with the tables the plug-in needs, and the
// process-wide values they keep. Helpers to call the host's functions by table and selector live here too.
#include <array>
#include <map>
#include <string>

#include "acrobat/AcroHost.h"

namespace acrobat {

inline constexpr HostVersion handshakeVersion = 0x20000;

struct RequestedTable {
    const char* name;
    HostVersion version;
};

// Asked for by the setup after "AcroSupport", in this order; the plug-in is not loaded without any of them.
inline constexpr std::array<RequestedTable, 14> requiredTables{{
    {"Core", 0x50000},
    {"Cos", 0x60000},
    {"PDModel", 0x60000},
    {"PDFEditWrite", 0x60000},
    {"PDFEditRead", 0x60000},
    {"PDSysFont", 0x40000},
    {"PagePDEContent", 0x60000},
    {"AcroView", 0x60000},
    {"PDSWrite", 0x60000},
    {"PDSRead", 0x60000},
    {"Macintosh", 0x20002},
    {"ASExtra", 0x60000},
    {"PDMetadata", 0x60000},
    {"AcroColorHFT", 0x60000},
}};

// Tried in this order when the host cannot tell a table's version.
inline constexpr std::array<HostVersion, 7> fallbackVersions{0x50001, 0x50000, 0x40005, 0x40000,
                                                             0x20003, 0x20002, 0x20001};

struct ObtainedTable {
    HFT table = nullptr;
    HostVersion version = 0;  // 0: not obtained
};

// What the plug-in keeps while it is loaded.
struct PluginGlobals {
    std::array<HostHandle, 2> handles{};
    HostExtensionID extensionID = nullptr;
    HFT core = nullptr;
    HostVersion coreVersion = 0;
    std::map<std::string, ObtainedTable, std::less<>> tables;  // by name, as the setup obtained them
    HFT digSig = nullptr;
};

PluginGlobals& globals();

// The table the setup obtained under that name, or null.
HFT obtainedTable(const std::string& name);

// The host's function at the selector of the table, or null when there is no table or no such function.
template <class Proc>
Proc hostFunction(HFT table, int selector) {
    return table ? reinterpret_cast<Proc>(table[selector]) : nullptr;
}

// Core 5, 8 and 10 on the kept Core table; 0 or null when the host does not offer them.
HostAtom atomOf(const char* name);
HostCallback makeCallback(HostFunction function);
HFT tableOf(HostAtom name, HostVersion version);

// Shows the message through AcroView; nothing when the host offers no alert.
void alert(const char* message);

}  // namespace acrobat

extern "C" {
HostBool PISetupSDK(HostVersion handshakeVersion, HostSetupData* setup);
HostBool GetRequestedHFT(const char* name, HostVersion version, HostVersion* obtainedVersion, HFT* table);
// VexoCertificateHelperInit.cpp
HostBool PIHandshake(HostVersion handshakeVersion, HostHandshakeData* handshake);
HostAtom GetExtensionName(void);
}
