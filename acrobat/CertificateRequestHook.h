#pragma once
// The certificate request hook: when the reader is about to sign, the plug-in asks the app to make sure that
// the signing certificate is in the token ("quorvane://certificate") and holds the reader until the app has
// said that it received the request (within 10 s) and that it is done (within 300 s more), or alerts.
#include "acrobat/AcroHost.h"

extern "C" {
// The import/replace/register callback: keeps the digital-signature table, or alerts and drops the plug-in.
HostBool PluginImportReplaceAndRegister(void);
// The initialization callback: registers MyDigSigObserver for the event before signing.
HostBool PluginInit(void);
// The observer the host calls on that event (on its own thread, which it holds while waiting).
void MyDigSigObserver(void* first, void* second);
}
