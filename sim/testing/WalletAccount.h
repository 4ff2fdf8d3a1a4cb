#pragma once
// A holder with an account on the stand-in server, made through the remote-signing API as the app would make
// it.
#include "platform/Bytes.h"
#include "sim/testing/SimServerProcess.h"

namespace simtest {

// The holder that the stand-in's wallet logs in (its --wallet-identity) logs in and signs the subscriber
// agreement, each wallet step confirmed by the control call: the account exists. Its signing certificate
// (DER), as the server issued it. The server's CA must be trusted already; runs the event loop until done.
platform::Bytes walletAccount(const SimServerProcess& server);

}  // namespace simtest
