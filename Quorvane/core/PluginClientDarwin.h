#pragma once
// The plug-in client on the session-wide notifications of platform/DarwinNotify: each signal is one
// notification without data, delivered at once to every observer.
#include "PluginClient.h"

class PluginClientDarwin : public PluginClient {
  public:
    void signalCertificateRequested() override;
    void signalCertificateRetrieved() override;
};
