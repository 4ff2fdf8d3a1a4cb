#pragma once
// The signing model's world for its tests and renders: the server clients, the authentication facade, a card
// and the relay link as doubles that record what is asked of them, the app's real session store, and a
// virtual clock. The rig puts them into the dependency keys; models made next read them.
#include <QCoreApplication>
#include <QEvent>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/signing/SigningViewModel.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "Quorvane/testing/FakeQuorvaneAPI.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/RecordingXPCClient.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"

namespace signingtest {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;

// The doubles in the dependency keys, the real session store on the virtual clock, a card "card-1" in its
// reader, and what the model opens and reports.
struct Rig {
    Rig() {
        DependencyValues::shared().reset();
        card->keepOpen = true;
        // Its standard Base64 "MIL7/z4=" holds a "/": it tells the two Base64 alphabets apart.
        card->certificate = {0x30, 0x82, 0xFB, 0xFF, 0x3E};
        authenticate->sessionPrefix = "auth-";
        reader->cards = {card};
        Dependency<LoggerClientKey>().set(std::make_shared<LoggerClient>("ui"));
        Dependency<AuthenticateAPIClientKey>().set(authenticate);
        Dependency<RemoteSigningAPIClientKey>().set(remote);
        Dependency<QuorvaneAPIKey>().set(facade);
        Dependency<SigningSessionDatabaseKey>().set(sessions.store);
        Dependency<PindleClientKey>().set(reader);
        Dependency<LaunchAgentServiceKey>().set(launchAgent);
        Dependency<XPCClientKey>().set(xpc);
    }
    ~Rig() {
        settle();
        DependencyValues::shared().reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    std::shared_ptr<SigningViewModel> make(SigningRequestType request) {
        auto model = std::make_shared<SigningViewModel>(
            std::move(request),
            [completions = completions](std::optional<AppError> error) {
                completions->push_back(std::move(error));
            },
            scheduler, [opened = opened](const std::string& url) { opened->push_back(url); });
        return model;
    }
    // Runs posted work and the event loop (stream events) until nothing is left.
    void settle() {
        for (int round = 0; round < 30; ++round) {
            scheduler->runPending();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    // A session for the context that lasts the given time.
    SigningSession addSession(const SigningSessionContext& context, std::chrono::seconds lifetime) {
        return sessions.store->registerSession(context, scheduler->now() + lifetime);
    }

    testsupport::SessionStoreRig sessions;
    std::shared_ptr<platform::VirtualScheduler> scheduler = sessions.scheduler;
    // Asks for the PIN "1234"; a script set by a test stays open after its last event.
    std::shared_ptr<testsupport::FakeCard> card = std::make_shared<testsupport::FakeCard>("card-1");
    std::shared_ptr<testsupport::FakePindleClient> reader = std::make_shared<testsupport::FakePindleClient>();
    // Opens a new login session "auth-<n>" for each request.
    std::shared_ptr<testsupport::FakeAuthenticateClient> authenticate =
        std::make_shared<testsupport::FakeAuthenticateClient>();
    std::shared_ptr<testsupport::FakeRemoteSigningClient> remote =
        std::make_shared<testsupport::FakeRemoteSigningClient>();
    std::shared_ptr<testsupport::FakeQuorvaneAPI> facade =
        std::make_shared<testsupport::FakeQuorvaneAPI>(sessions.store);
    std::shared_ptr<testsupport::FakeLaunchAgentService> launchAgent =
        std::make_shared<testsupport::FakeLaunchAgentService>(true);
    std::shared_ptr<testsupport::RecordingXPCClient> xpc =
        std::make_shared<testsupport::RecordingXPCClient>();
    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<std::vector<std::string>> opened = std::make_shared<std::vector<std::string>>();
};

// A bulk request for the token with documents of the given Base64 hashes, answered at the callback.
inline SigningRequestType bulk(std::string tokenId, std::vector<std::string> hashes,
                               std::string callback = "https://example.org/cb") {
    BulkSigningRequest request{"1.0", std::move(tokenId), {}};
    int number = 0;
    for (auto& hash : hashes)
        request.signData.push_back({std::move(hash), "document-" + std::to_string(++number) + ".pdf"});
    return SigningRequestType::bulk(std::move(request), std::move(callback));
}

}  // namespace signingtest
