// One bridge exchange as the card reader client runs it (start the stand-in bridge, write the framed request,
// read the framed reply, terminate and reap the process), against the least any exchange costs: starting a
// trivial program (cat) with pipes, writing the same frame, reading it back and reaping the process.
// The machine's load moves both; compare the medians of one run, e.g. with
// --benchmark_enable_random_interleaving.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QCoroTask>
#include <QProcess>
#include <cstdlib>

#include "cardbridge/BridgeMessages.h"
#include "cardbridge/VexoConnectInvoker.h"

namespace {

std::string requestText() {
    pindle::UserCertsRequest request;
    request.correlationId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    pindle::Json json;
    to_json(json, request);
    return *platform::json::dump(json);
}

QCoro::Task<bool> exchangeOnce(std::string request) {
    try {
        pindle::VexoConnectInvoker invoker;
        co_await invoker.exchange(std::move(request));
        co_return true;
    } catch (const std::exception&) {
        co_return false;
    }
}

// The exchange hands the terminated process to the event loop, which reaps it and then deletes its object.
void waitUntilReaped() {
    while (pindle::VexoConnectInvoker::liveProcessCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void BM_BridgeExchange(benchmark::State& state) {
    const std::string request = requestText();
    for (auto _ : state) {
        if (!QCoro::waitFor(exchangeOnce(request))) {
            state.SkipWithError("the bridge exchange failed");
            return;
        }
        waitUntilReaped();
    }
}

void BM_TrivialProgramThroughAPipe(benchmark::State& state) {
    const std::string request = requestText();
    QByteArray frame;
    const auto length = static_cast<std::uint32_t>(request.size());
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>((length >> shift) & 0xFF));
    frame.append(request.data(), static_cast<qsizetype>(request.size()));
    for (auto _ : state) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("cat", {});
        process.write(frame);
        process.closeWriteChannel();
        if (!process.waitForFinished(10000) || process.readAllStandardOutput().size() != frame.size()) {
            state.SkipWithError("cat failed");
            return;
        }
    }
}

BENCHMARK(BM_BridgeExchange)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.3)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TrivialProgramThroughAPipe)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.3)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    // The stand-in bridge without a setup: no readers, no state file.
    unsetenv("QUORVANE_BRIDGE_SETUP");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
