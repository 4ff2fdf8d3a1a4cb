#pragma once
// Doubles and fixtures of the shared views' tests and renders: a small generated PDF, releases, the real
// session store on a virtual clock, and a launch-agent service whose status the test sets.
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/EIDVersions.h"
#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "api/Account.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/tokens/TokenStore.h"

namespace testsupport {

// A PDF of A5 pages, each with its number in large type.
inline QByteArray makeSamplePDF(int pages) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        QFont font("DejaVu Sans", 28);
        painter.setFont(font);
        painter.drawText(QRect(0, 40, 400, 60), Qt::AlignCenter,
                         QString("Page %1 of %2").arg(page).arg(pages));
        painter.setFont(QFont("DejaVu Sans", 11));
        painter.drawText(QRect(40, 120, 340, 300), Qt::TextWordWrap,
                         "Subscriber agreement. The holder agrees to the conditions of use of the remote "
                         "signing certificate.");
    }
    painter.end();
    return bytes;
}

inline Release releaseWith(std::string version, std::optional<AutoUpgrade> upgrade = std::nullopt) {
    Release release;
    release.osVersion = {"0.0.0", std::nullopt};
    release.version = std::move(version);
    release.links.default_ = QUrl("https://www.quorvane.example/download");
    release.links.locales =
        std::map<std::string, QUrl>{{"fr", QUrl("https://www.quorvane.example/fr/download")}};
    release.autoUpgrade = std::move(upgrade);
    return release;
}

// The app's session store with a token store of its own, on a virtual clock.
struct SessionStoreRig {
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<TokenDriverConfiguration> tokens = std::make_shared<TokenDriverConfiguration>(
        platform::tokens::TokenStore(makeTempDir("tokens") / platform::tokens::driverClassID), logger);
    std::shared_ptr<SigningSessionDatabase> store = std::make_shared<SigningSessionDatabase>(
        SigningSessionDatabase::always(std::make_shared<AppSettings>()),
        SigningSessionDatabase::always(logger), PindleMock::make(PindleMock::Mode::noCards(), scheduler),
        tokens, scheduler);

    // A session ending after the given time; with holder data when names are given.
    void addSession(const SigningSessionContext& context, std::chrono::seconds lifetime,
                    std::optional<std::vector<std::string>> firstLastNumber = std::nullopt) {
        store->registerSession(context, scheduler->now() + lifetime);
        if (!firstLastNumber)
            return;
        halcyra::AccountStatusDetails details{};
        details.firstName = (*firstLastNumber)[0];
        details.lastName = (*firstLastNumber)[1];
        details.rrnr = (*firstLastNumber)[2];
        store->updateSessionHolder(context, details);
    }
};

// A launch-agent service whose status the test sets; registering takes unless told to fail.
class FakeLaunchAgentService : public LaunchAgentService {
  public:
    explicit FakeLaunchAgentService(bool enabled = false) : enabled(enabled) {}
    bool isServiceEnabled() const override { return enabled; }
    void registerService() override {
        calls.push_back("register");
        if (!registrationFails)
            enabled = true;
    }
    void reregisterService() override { calls.push_back("reregister"); }
    void unregisterService() override {
        calls.push_back("unregister");
        enabled = false;
    }

    bool enabled;
    bool registrationFails = false;
    std::vector<std::string> calls;
};

}  // namespace testsupport
