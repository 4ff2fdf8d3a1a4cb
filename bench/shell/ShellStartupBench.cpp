// Start-up of `quorvane` to its first painted window (the main window, shown 0.5 s after the event loop first
// turns), and its resident memory once idle (0.5 s after that paint), against the baseline program
// (shell_bench_baseline, next to this one): a bare Qt Widgets status-bar program that shows a window after
// the same delay. A probe loaded into both with LD_PRELOAD reports the first paint of a top-level window.
// Each start gets private XDG folders; the platform is offscreen unless QT_QPA_PLATFORM says otherwise.
//
// Goal: quorvane within 1.5 times the baseline's time and 1.3 times its memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path programFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// Private XDG folders, kept from one start to the next as a user's are. The runtime folder is on tmpfs where
// there is one, as $XDG_RUNTIME_DIR is on a desktop.
struct Sandbox {
    std::filesystem::path root;
    std::filesystem::path runtime;
    Sandbox() {
        root = makeFolder(std::filesystem::temp_directory_path());
        runtime = makeFolder(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : root);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
            auto folder = root / name;
            std::filesystem::create_directories(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        }
        std::filesystem::create_directories(runtime / "quorvane");
        std::filesystem::permissions(runtime / "quorvane", std::filesystem::perms::owner_all);
    }
    ~Sandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
        std::filesystem::remove_all(runtime, ignored);
    }
    std::filesystem::path folder(const std::string& name) const {
        return name == "XDG_RUNTIME_DIR" ? runtime : root / name;
    }

  private:
    static std::filesystem::path makeFolder(const std::filesystem::path& parent) {
        std::string pattern = (parent / "quorvane-bench-XXXXXX").native();
        return ::mkdtemp(pattern.data());
    }
};

// Starts the program with the first-paint probe, which writes to `paintFd`.
pid_t start(const std::filesystem::path& program, const Sandbox& sandbox, int paintFd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            ::setenv(name, sandbox.folder(name).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM",
                 std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
        ::setenv("LD_PRELOAD", FIRST_PAINT_PROBE, 1);
        const int inherited = ::dup(paintFd);
        ::setenv("BENCH_FIRST_PAINT_FD", std::to_string(inherited).c_str(), 1);
        const std::string name = program.filename();
        ::execl(program.c_str(), name.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

struct Start {
    double seconds = 0;
    long rssKiB = 0;
};

// One start to the first painted window; none when the program painted nothing within 30 s.
std::optional<Start> startOnce(const char* programName, const Sandbox& sandbox) {
    int paint[2];
    if (::pipe2(paint, O_CLOEXEC) != 0)
        return std::nullopt;
    const auto started = Clock::now();
    const pid_t pid = start(programFolder() / programName, sandbox, paint[1]);
    ::close(paint[1]);
    pollfd painted{paint[0], POLLIN, 0};
    char byte = 0;
    const bool ready = ::poll(&painted, 1, 30'000) == 1 && ::read(paint[0], &byte, 1) == 1;
    const auto elapsed = Clock::now() - started;
    ::close(paint[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long resident = residentKiB(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!ready || resident < 0)
        return std::nullopt;
    return Start{std::chrono::duration<double>(elapsed).count(), resident};
}

template <class T>
double median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? double(values[n / 2]) : (double(values[n / 2 - 1]) + double(values[n / 2])) / 2;
}

// Each iteration starts the baseline, then quorvane, so that both see the same load of the machine. The
// iteration's time is quorvane's; the counters give both programs' medians and quorvane's ratios to the
// baseline.
void BM_StartupAgainstBaseline(benchmark::State& state) {
    Sandbox baselineUser, quorvaneUser;
    std::vector<double> baselineSeconds, quorvaneSeconds;
    std::vector<long> baselineKiB, quorvaneKiB;
    for (auto _ : state) {
        const auto first = startOnce("shell_bench_baseline", baselineUser);
        const auto second = startOnce("quorvane", quorvaneUser);
        if (!first || !second) {
            state.SkipWithError(first ? "quorvane painted no window" : "the baseline painted no window");
            return;
        }
        state.SetIterationTime(second->seconds);
        baselineSeconds.push_back(first->seconds);
        baselineKiB.push_back(first->rssKiB);
        quorvaneSeconds.push_back(second->seconds);
        quorvaneKiB.push_back(second->rssKiB);
    }
    state.counters["baseline_ms"] = 1000 * median(baselineSeconds);
    state.counters["quorvane_ms"] = 1000 * median(quorvaneSeconds);
    state.counters["time_ratio"] = median(quorvaneSeconds) / median(baselineSeconds);
    state.counters["baseline_rss_KiB"] = median(baselineKiB);
    state.counters["quorvane_rss_KiB"] = median(quorvaneKiB);
    state.counters["rss_ratio"] = median(quorvaneKiB) / median(baselineKiB);
}

BENCHMARK(BM_StartupAgainstBaseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
