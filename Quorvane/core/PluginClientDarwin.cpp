#include "PluginClientDarwin.h"

#include "platform/DarwinNotify.h"

// A notification that cannot be posted (no session bus) has no one to reach: the plug-in, if any, then ends
// its wait by its own time-out, so there is nothing for the caller to do about it.

void PluginClientDarwin::signalCertificateRequested() {
    platform::DarwinNotify::post(certificateRequestedNotification);
}

void PluginClientDarwin::signalCertificateRetrieved() {
    platform::DarwinNotify::post(certificateRetrievedNotification);
}
