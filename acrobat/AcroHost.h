/* The PDF reader's plug-in interface, as far as VexoCertificateHelper uses it: the entry the reader calls,
 * the records of the setup and the handshake, host function tables asked for by name and version, the few
 * functions of theirs that the plug-in calls (addressed by selector number), the digital-signature event and
 * alerts. Plain C, so that a host written in anything can serve it; the test host (harness/) serves it too.
 *
 * Versions are 32-bit, the major number in the upper 16 bits: 0x20000 is 2.0, 0x20002 is 2.2. */
#ifndef QUORVANE_ACROBAT_ACROHOST_H
#define QUORVANE_ACROBAT_ACROHOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t HostBool; /* 0 is false */
typedef uint32_t HostVersion;
typedef uint32_t HostAtom; /* a name interned by the host */

/* A host function table: the host's functions by selector number. A null table is no table; a null entry is
 * a function the host does not offer. */
typedef void (*HostFunction)(void);
typedef HostFunction* HFT;

typedef struct HostExtensionRec* HostExtensionID; /* the plug-in, as the host knows it */
typedef struct HostCallbackRec* HostCallback;     /* a plug-in function the host has wrapped (Core 8) */
typedef struct HostHandleRec* HostHandle;         /* a reference-counted object of the host's */

/* Selectors of the functions the plug-in calls. */
enum HostSelector {
    /* Core: HostAtom (const char* name): the atom of a name. */
    CoreSelAtomFromName = 5,
    /* Core: HostCallback (HostExtensionID, HostFunction): a callback the host can call. */
    CoreSelMakeCallback = 8,
    /* Core: HFT (HostAtom name, HostVersion): the named table at that version, or null. */
    CoreSelTableOfAtom = 10,
    /* AcroSupport: HostVersion (HFT): the version of a table the host handed out. */
    AcroSupportSelTableVersion = 102,
    /* AcroView: void (const char* message): shows the message to the user. */
    AcroViewSelAlert = 5,
    /* DigSigHFT: void (int32_t event, DigSigObserverProc, void*, void*): calls the observer on the event. */
    DigSigSelRegisterObserver = 44
};

typedef HostAtom (*CoreAtomFromNameProc)(const char* name);
typedef HostCallback (*CoreMakeCallbackProc)(HostExtensionID extension, HostFunction function);
typedef HFT (*CoreTableOfAtomProc)(HostAtom name, HostVersion version);
typedef HostVersion (*AcroSupportTableVersionProc)(HFT table);
typedef void (*AcroViewAlertProc)(const char* message);
/* The observer's two arguments belong to the host's signature layer; the plug-in does not use them. */
typedef void (*DigSigObserverProc)(void* first, void* second);
typedef void (*DigSigRegisterObserverProc)(int32_t event, DigSigObserverProc observer, void* reserved1,
                                           void* reserved2);

/* The digital-signature event the plug-in observes: the reader is about to sign. */
enum { DigSigEventBeforeSigning = 2 };

/* What the host hands to the entry. The plug-in keeps both handles for as long as it is loaded, taking a
 * reference with `retain` (the host's reference counting; it returns its argument). */
typedef struct HostData {
    uint32_t size; /* sizeof(HostData) */
    HostHandle handle1;
    HostHandle handle2;
    HostHandle (*retain)(HostHandle handle);
} HostData;

/* The setup's record. The setup stores its handshake in `handshakeCallback`. */
typedef struct HostSetupData {
    HostVersion version; /* of the record */
    HostExtensionID extensionID;
    HFT coreHFT;
    HostCallback handshakeCallback;
} HostSetupData;

/* The handshake's record: the plug-in's name and its four callbacks, each a PluginCallbackProc. */
typedef struct HostHandshakeData {
    HostAtom extensionName;
    HostCallback exportHFTsCallback;
    HostCallback importReplaceAndRegisterCallback;
    HostCallback initCallback;
    HostCallback unloadCallback;
} HostHandshakeData;

typedef HostBool (*PISetupSDKProc)(HostVersion handshakeVersion, HostSetupData* setup);
typedef HostBool (*PIHandshakeProc)(HostVersion handshakeVersion, HostHandshakeData* handshake);
typedef HostBool (*PluginCallbackProc)(void);

/* The plug-in's one export. The host offers its handshake version, receives the plug-in's and its setup
 * function, then calls the setup, then the handshake the setup stored, then the callbacks the handshake
 * named: export, import-replace-register, init; unload before it lets the plug-in go. A false result drops
 * the plug-in. */
#define ACRO_PLUGIN_MAIN "AcroPluginMain"
typedef HostBool (*AcroPluginMainProc)(HostVersion hostHandshakeVersion, HostVersion* pluginHandshakeVersion,
                                       PISetupSDKProc* setup, HostData* hostData);

#ifdef __cplusplus
}
#endif

#endif
