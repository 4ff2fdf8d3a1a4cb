// The program `quorvane`: the status-bar agent with its main window. A second start hands its deep links to
// the running process and ends.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "AppNavigationView.h"
#include "KelvPCSigningSceneDelegate.h"
#include "MainWindow.h"
#include "SharedApplicationQt.h"
#include "SingleInstance.h"
#include "platform/qt/Localizable.h"
#include "platform/qt/TlsTrust.h"
#include "platform/qt/WorkspaceQt.h"

namespace {

// The app is only ever handed links of its own scheme, as the desktop hands it what its desktop entry
// declares; anything else among the arguments (Qt's own options, a stray word, text that is no URL at all) is
// left out.
std::vector<std::string> deepLinks(const QStringList& arguments) {
    std::vector<std::string> links;
    for (const QString& argument : arguments) {
        const QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && url.scheme() == "quorvane")
            links.push_back(argument.toStdString());
        else if (!argument.startsWith('-'))
            std::fprintf(stderr, "quorvane: ignoring \"%s\": not a quorvane: link\n", qPrintable(argument));
    }
    return links;
}

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the app as Quit does, on the event loop.
void handleTerminationSignals(std::function<void()> quit) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit = std::move(quit)] {
        char byte;
        [[maybe_unused]] auto read = ::read(signalPipe[0], &byte, 1);
        quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // Where the instance lock is, for scripts that look for a running app (scripts/demo): one rule for both.
    if (argc == 2 && std::string_view(argv[1]) == "--instance-folder") {
        std::printf("%s\n", SingleInstance::defaultFolder().c_str());
        return 0;
    }
    SingleInstance instance;
    switch (instance.claim()) {
        case SingleInstance::Claim::unavailable:
            std::fprintf(stderr, "quorvane: the private runtime folder %s cannot be used\n",
                         SingleInstance::defaultFolder().c_str());
            return 1;
        case SingleInstance::Claim::second: {
            QCoreApplication core(argc, argv);
            QStringList arguments = QCoreApplication::arguments();
            arguments.removeFirst();
            QStringList links;
            for (const auto& link : deepLinks(arguments))
                links.append(QString::fromStdString(link));
            if (instance.handOver(links))
                return 0;
            std::fprintf(stderr, "quorvane: the running quorvane did not take the request\n");
            return 1;
        }
        case SingleInstance::Claim::first:
            break;
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // No display name: Qt would append it to every window title ("Quorvane App — Quorvane").
    QApplication::setDesktopFileName("quorvane");
    platform::installTranslations();
    platform::installExtraTrustFromDeploymentConfiguration();
    platform::installQtWorkspaceOpener();

    auto application = std::make_shared<SharedApplicationQt>();
    auto& controller = MainWindowController::shared();
    controller.application = application;
    // Every showing gets a new navigation, with a new model for the mode.
    controller.makeWindow = [] {
        return std::make_shared<MainWindow>([](const AppOpenMode& mode) {
            return new AppNavigationView(AppNavigationViewModel::make(mode));
        });
    };

    auto delegate = std::make_shared<KelvPCSigningSceneDelegate>(application);
    std::weak_ptr<KelvPCSigningSceneDelegate> weakDelegate = delegate;
    application->didBecomeActive = [weakDelegate] {
        if (auto delegate = weakDelegate.lock())
            delegate->applicationDidBecomeActive();
    };
    application->willTerminate = [weakDelegate] {
        if (auto delegate = weakDelegate.lock())
            delegate->applicationWillTerminate();
    };
    handleTerminationSignals([weakDelegate] {
        if (auto delegate = weakDelegate.lock())
            delegate->quitItemUsed();
    });

    // A later start hands over its links, which activate the app; one without links reopens the app.
    const bool listening = instance.listen([application, weakDelegate](const QStringList& arguments) {
        auto delegate = weakDelegate.lock();
        if (!delegate)
            return;
        const auto links = deepLinks(arguments);
        if (links.empty()) {
            delegate->applicationShouldHandleReopen();
            return;
        }
        application->activate(false);
        delegate->openURLs(links);
    });
    if (!listening)
        std::fprintf(stderr, "quorvane: cannot listen for later starts at %s\n",
                     instance.socketPath().c_str());

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const auto links = deepLinks(arguments);
    // The launch runs on the first turn of the event loop, as the platform's launch callbacks do.
    QMetaObject::invokeMethod(
        &app,
        [delegate, application, links] {
            delegate->applicationDidFinishLaunching();
            application->activate(false);
            if (!links.empty())
                delegate->openURLs(links);
        },
        Qt::QueuedConnection);

    const int status = QApplication::exec();
    // The window and the status item go while the application object still exists.
    controller.window.reset();
    delegate.reset();
    return status;
}
