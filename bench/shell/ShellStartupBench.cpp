// Start-up of `quorvane` to its first turn of the event loop, with the main window not yet shown, and its
// resident memory at that moment, against the baseline program (shell_bench_baseline, next to this one): a
// minimal Qt Widgets program with a status item and menu made the same way. Both are ready when they answer a
// hand-over on their instance socket, which only the running event loop does. Each start gets private XDG
// folders; the platform is offscreen unless QT_QPA_PLATFORM says otherwise.
//
// Goal: quorvane within 1.5 times the baseline's time and 1.3 times its memory.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

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
    std::filesystem::path socketPath() const { return runtime / "quorvane" / "instance"; }

  private:
    static std::filesystem::path makeFolder(const std::filesystem::path& parent) {
        std::string pattern = (parent / "quorvane-bench-XXXXXX").native();
        return ::mkdtemp(pattern.data());
    }
};

pid_t start(const std::filesystem::path& program, const Sandbox& sandbox) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            ::setenv(name, sandbox.folder(name).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM",
                 std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
        const std::string name = program.filename();
        ::execl(program.c_str(), name.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Hands over an empty argument list once the program listens; true when it answered.
bool handOver(const std::filesystem::path& socketPath, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    while (Clock::now() < deadline) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const char frame[] = {0, 0, 0, 2, '[', ']'};
            char answer = 0;
            const bool answered =
                ::write(fd, frame, sizeof frame) == sizeof frame && ::read(fd, &answer, 1) == 1;
            ::close(fd);
            return answered && answer == '1';
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
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

// One start to the first answer; none when the program did not answer.
std::optional<Start> startOnce(const char* programName, const Sandbox& sandbox) {
    const auto started = Clock::now();
    const pid_t pid = start(programFolder() / programName, sandbox);
    const bool ready = handOver(sandbox.socketPath(), started + std::chrono::seconds(30));
    const auto elapsed = Clock::now() - started;
    const long resident = residentKiB(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!ready || resident < 0)
        return std::nullopt;
    return Start{std::chrono::duration<double>(elapsed).count(), resident};
}

// Each iteration starts the baseline, then quorvane, so that both see the same load of the machine. The
// iteration's time is quorvane's; the counters give both programs' means and quorvane's ratios to the
// baseline.
void BM_StartupAgainstBaseline(benchmark::State& state) {
    Sandbox baselineUser, quorvaneUser;
    Start baseline, quorvane;
    for (auto _ : state) {
        const auto first = startOnce("shell_bench_baseline", baselineUser);
        const auto second = startOnce("quorvane", quorvaneUser);
        if (!first || !second) {
            state.SkipWithError(first ? "quorvane did not answer" : "the baseline did not answer");
            return;
        }
        state.SetIterationTime(second->seconds);
        baseline.seconds += first->seconds;
        baseline.rssKiB += first->rssKiB;
        quorvane.seconds += second->seconds;
        quorvane.rssKiB += second->rssKiB;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["baseline_ms"] = 1000 * baseline.seconds / n;
    state.counters["quorvane_ms"] = 1000 * quorvane.seconds / n;
    state.counters["time_ratio"] = quorvane.seconds / baseline.seconds;
    state.counters["baseline_rss_KiB"] = static_cast<double>(baseline.rssKiB) / n;
    state.counters["quorvane_rss_KiB"] = static_cast<double>(quorvane.rssKiB) / n;
    state.counters["rss_ratio"] = static_cast<double>(quorvane.rssKiB) / static_cast<double>(baseline.rssKiB);
}

BENCHMARK(BM_StartupAgainstBaseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
