#pragma once
// The authentication facade: turns a card or wallet login, already prepared by the screens, into a session
// registered in the session store and, when asked, the signing certificate installed in the token.
#include "AuthenticateFlowEvent.h"
#include "SigningSessionContext.h"
#include "platform/qt/AsyncStream.h"

class QuorvaneAPIClient {
  public:
    virtual ~QuorvaneAPIClient() = default;

    // Returns at once; the work behind the stream is already scheduled on the main thread and runs to its
    // end whether or not the stream is read. The stream buffers every event.
    virtual platform::AsyncStream<AuthenticateFlowEvent> runAuthentication(SigningSessionContext context,
                                                                           bool retrieveCertificate) = 0;
};
