// The CPU time the app spends while the wallet sheet polls the stand-in server for 60 s (a poll at each of
// the server's retryAfter of 1000 ms, the countdown redrawn each second), from the moment the sheet is on
// screen, against the same app idle for 60 s:
// the main window shown, nothing else to do. Both run in this one process, on the live scheduler and the real
// network, offscreen unless QT_QPA_PLATFORM says otherwise; the stand-in server runs as a child process, so
// its CPU time is not counted. cpu_time is the process's (every thread's) CPU time over the 60 s.
//
// Goal: the polling sheet costs less than 100 ms of CPU more than the idle app.
//
// `--seconds=N` measures N seconds in place of 60 (a shorter run under a profiler); the goal is for 60.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "Quorvane/auth/WalletTrackingView.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/testing/LiveRig.h"
#include "api/Clients.h"
#include "outside/Dependencies/Dependencies.h"
#include "platform/qt/Localizable.h"
#include "platform/testing/TestEnvironment.h"

namespace {

std::chrono::seconds measured{60};

testsupport::LiveRig* live = nullptr;

void runEventLoopFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The main window's stand-in: a shown window of the main window's size.
struct App {
    QWidget window;
    App() {
        window.resize(800, 550);
        window.show();
        QApplication::processEvents();
    }
};

void BM_AppIdle(benchmark::State& state) {
    App app;
    for (auto _ : state)
        runEventLoopFor(measured);
}

void BM_WalletSheetPolling(benchmark::State& state) {
    App app;
    auto auth = live->auth;
    DependencyValues::shared().setCurrentValue<AuthenticateAPIClientKey>(auth);
    DependencyValues::shared().setCurrentValue<WalletAPIClientKey>(live->wallet);
    live->server.clearRequests();
    for (auto _ : state) {
        state.PauseTiming();
        std::string session;
        bool ready = false;
        [](std::shared_ptr<halcyra::AuthenticateAPIClient> client, std::string* into,
           bool* done) -> QCoro::Task<> {
            *into = (co_await client->getAuthenticationMethods("bench", halcyra::LevelOfAssurance::high))
                        .sessionId;
            *done = true;
        }(auth, &session, &ready);
        while (!ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        auto model = WalletTrackingViewModel::make(
            session, "", 300, SigningReason::of(SigningReason::Kind::signingAuthentication), {});
        auto* view = new WalletTrackingView(model);
        auto* sheet = new Sheet(view, &app.window, [view] { view->cancel(); });
        PaintCounter clockPaints;
        view->clock()->installEventFilter(&clockPaints);
        // The sheet's opening (its first layout and paint) is not what is measured: only its 60 s on screen.
        PaintCounter sheetPaints;
        view->installEventFilter(&sheetPaints);
        sheet->show();
        while (sheetPaints.paints == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        view->removeEventFilter(&sheetPaints);
        state.ResumeTiming();

        model->startTracking();
        runEventLoopFor(measured);

        state.PauseTiming();
        if (model->pollingState().kind() != WalletPollingState::Kind::scanAllowed)
            state.SkipWithError("the sheet did not stay on the code to scan");
        int polls = 0;
        for (const auto& request : live->server.requests())
            polls += request.path.ends_with("/wallet/poll");
        state.counters["polls"] = polls;
        state.counters["clock_paints"] = clockPaints.paints;
        model->cancel();
        delete sheet;
        state.ResumeTiming();
    }
    DependencyValues::shared().reset();
}

BENCHMARK(BM_AppIdle)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(1);
BENCHMARK(BM_WalletSheetPolling)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    testsupport::preparePrivateHome();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication::setStyle("Fusion");
    QApplication app(argc, argv);
    platform::installTranslations();
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        int seconds = 0;
        if (!argument.starts_with("--seconds=") ||
            std::from_chars(argument.data() + 10, argument.data() + argument.size(), seconds).ptr !=
                argument.data() + argument.size() ||
            seconds <= 0) {
            std::fprintf(stderr, "Unknown argument %s (only --seconds=N, N > 0, besides the benchmark's)\n",
                         argv[i]);
            return 2;
        }
        measured = std::chrono::seconds(seconds);
    }
    // Wallet logins stay on the code to scan for the whole run: only a control call would move them.
    live = new testsupport::LiveRig(
        {"--wallet-polls", "0", "--wallet-seconds", "600", "--retry-after-ms", "1000"});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete live;
    std::error_code ignored;
    std::filesystem::remove_all(testsupport::testRoot(), ignored);
    return 0;
}
