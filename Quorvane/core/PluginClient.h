#pragma once
// Tells the signing plug-in, a separate process, where the certificate road stands: a certificate was asked
// for, and the asking is over (the certificate is installed, or it will not come). The plug-in waits between
// the two.
class PluginClient {
  public:
    static constexpr const char* certificateRequestedNotification =
        "com.tovik.pc-signing.certificate-requested";
    static constexpr const char* certificateRetrievedNotification =
        "com.tovik.pc-signing.certificate-retrieved";

    virtual ~PluginClient() = default;

    virtual void signalCertificateRequested() = 0;
    virtual void signalCertificateRetrieved() = 0;
};
