// The plug-in's handshake: its name and its four callbacks. It exports no tables of its own; its work is the
// certificate request hook.
#include "acrobat/CertificateRequestHook.h"
#include "acrobat/EntryGuard.h"
#include "acrobat/PIMain.h"

namespace {

constexpr const char* extensionName = "ADBE:QuorvanePlugin";

extern "C" HostBool exportTables(void) {
    return true;
}

extern "C" HostBool unloadPlugin(void) {
    return true;
}

}  // namespace

HostAtom GetExtensionName(void) {
    return acrobat::guarded([] { return acrobat::atomOf(extensionName); });
}

HostBool PIHandshake(HostVersion version, HostHandshakeData* handshake) {
    using acrobat::makeCallback;
    return acrobat::guarded([&]() -> HostBool {
        if (version != acrobat::handshakeVersion || !handshake)
            return false;
        handshake->extensionName = GetExtensionName();
        handshake->exportHFTsCallback = makeCallback(reinterpret_cast<HostFunction>(&exportTables));
        handshake->importReplaceAndRegisterCallback =
            makeCallback(reinterpret_cast<HostFunction>(&PluginImportReplaceAndRegister));
        handshake->initCallback = makeCallback(reinterpret_cast<HostFunction>(&PluginInit));
        handshake->unloadCallback = makeCallback(reinterpret_cast<HostFunction>(&unloadPlugin));
        return true;
    });
}
