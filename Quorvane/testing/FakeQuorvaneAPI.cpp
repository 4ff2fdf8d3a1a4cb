#include "FakeQuorvaneAPI.h"

namespace testsupport {

platform::AsyncStream<AuthenticateFlowEvent> FakeQuorvaneAPI::runAuthentication(SigningSessionContext context,
                                                                                bool retrieveCertificate) {
    log->add("runAuthentication " + context.tokenIdentifier() + " " + context.sessionId() +
             (retrieveCertificate ? " retrieving" : ""));
    auto [stream, continuation] = platform::AsyncStream<AuthenticateFlowEvent>::make();
    if (script) {
        for (const auto& event : *script)
            continuation.yield(event);
        if (keepOpen)
            open = continuation;
        else
            continuation.finish();
        return stream;
    }
    continuation.yield(AuthenticateFlowEvent::ongoing());
    auto session = store->registerSession(context, platform::Date(std::chrono::seconds(1'800'003'600)));
    const auto completed = AuthenticateFlowEvent::completed(session, newCertificateRetrieved);
    if (context.kind() == SigningSessionContext::Kind::card) {
        continuation.yield(AuthenticateFlowEvent::signingEvent(
            pindle::CardSigningEvent::pinRequested([continuation, completed](const std::string&) mutable {
                continuation.yield(completed);
                continuation.finish();
            })));
    } else {
        continuation.yield(completed);
        continuation.finish();
    }
    return stream;
}

}  // namespace testsupport
