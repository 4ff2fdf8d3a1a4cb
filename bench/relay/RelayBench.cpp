// The relay's speed: one signature exchange (token registration, ready signal, token -> relay -> app
// answering at once -> relay -> token) against a raw Unix-socket ping-pong between two threads, and the CPU
// time a token spends waiting 30 s for an app that never answers. What a signature through the token module
// costs the application that loaded it: from a small host and from a host with 4 GiB touched (a browser, an
// office suite), whose size must not show, and the detached start of the app's link opener alone from each.
// Runs the real relay (brokel, next to this program) with private XDG folders.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <p11-kit/pkcs11.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "outside/Logger/LoggerClient.h"
#include "platform/DetachedProgram.h"
#include "platform/Workspace.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"
#include "relay/common/XPCProtocols.h"
#include "relay/token/XPCClientLive.h"

namespace {

using namespace std::chrono_literals;
using platform::Bytes;

std::filesystem::path programFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// Private XDG folders and a do-nothing xdg-open, so that the benchmark touches nothing of the user's.
struct Sandbox {
    std::filesystem::path root;
    Sandbox() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").native();
        root = ::mkdtemp(pattern.data());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            auto folder = root / name;
            std::filesystem::create_directories(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
            ::setenv(name, folder.c_str(), 1);
        }
        auto bin = root / "bin";
        std::filesystem::create_directories(bin);
        std::ofstream(bin / "xdg-open") << "#!/bin/sh\nexit 0\n";
        std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
        ::setenv("PATH", (bin.native() + ":" + std::getenv("PATH")).c_str(), 1);
        ::setenv("QUORVANE_BROKEL_LOG_PATH", (root / "brokel_std.txt").c_str(), 1);
        platform::Workspace::setOpener([](const std::string&) {});
    }
    ~Sandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

class Brokel {
  public:
    explicit Brokel(const Sandbox& sandbox) {
        auto log = (sandbox.root / "brokel_std.txt").native();
        auto program = (programFolder() / "brokel").native();
        pid_ = ::fork();
        if (pid_ == 0) {
            int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(out, 1);
            ::execl(program.c_str(), "brokel", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        auto socket = sandbox.root / "XDG_RUNTIME_DIR" / "quorvane-xpc" / relay::machServiceName;
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(10ms);
    }
    ~Brokel() {
        ::kill(pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
    }

  private:
    pid_t pid_;
};

// Waits on a counter that the XPC thread raises.
struct Signal {
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
    void raise() {
        {
            std::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    bool waitFor(long value, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return count >= value; });
    }
};

// A peer registered with the relay under a role, exporting `object`.
template <class Exported>
struct Peer {
    std::shared_ptr<xpc::Connection> connection;
    std::shared_ptr<xpc::Listener> listener;

    Peer(xpc::Reactor& reactor, std::shared_ptr<Exported> object, relay::XPCClientRole role) {
        connection = xpc::Connection::toService(reactor, relay::machServiceName);
        connection->setRemoteInterface(relay::xpcServiceInterface());
        connection->resume();
        listener = xpc::Listener::anonymous(reactor);
        std::weak_ptr<Exported> weak = object;
        listener->setDelegate([weak](const std::shared_ptr<xpc::Connection>& accepted) {
            relay::exportObject(*accepted, weak);
            accepted->resume();
            return true;
        });
        listener->resume();
        proxy().registerFor(listener->endpoint(), static_cast<std::int64_t>(role));
    }
    relay::XPCServiceProxy proxy() { return *relay::XPCServiceProxy::remoteObjectProxy(connection); }
};

// The app: answers each hash at once with a signature made by its key.
struct InstantApp : relay::XPCClientApp {
    explicit InstantApp(std::shared_ptr<EVP_PKEY> signingKey = {EVP_EC_gen("P-256"), EVP_PKEY_free})
        : key(std::move(signingKey)) {}
    std::shared_ptr<EVP_PKEY> key;
    Peer<relay::XPCClientApp>* peer = nullptr;
    bool answer = true;

    void signWithHash(const Bytes& hash, const std::string&) override {
        if (!answer)
            return;
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
        EVP_PKEY_sign_init(context.get());
        std::size_t length = 80;
        Bytes signature(length);
        EVP_PKEY_sign(context.get(), signature.data(), &length, hash.data(), hash.size());
        signature.resize(length);
        peer->proxy().sendSignatureReadySignal(signature);
    }
    void signRequestTimeout() override {}
};

struct CountingToken : relay::XPCClientToken {
    Signal ready;
    Signal signatures;
    void appIsReady() override { ready.raise(); }
    void signatureReadyWithSignature(const Bytes&) override { signatures.raise(); }
    void signatureFailed() override {}
};

// Baseline: 64 bytes to another thread and back over a Unix stream socket pair.
void BM_RawUnixSocketPingPong(benchmark::State& state) {
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    std::thread echo([fd = fds[1]] {
        char buffer[64];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            if (::write(fd, buffer, static_cast<std::size_t>(n)) != n)
                return;
        }
    });
    char message[64] = {};
    for (auto _ : state) {
        if (::write(fds[0], message, sizeof message) != static_cast<ssize_t>(sizeof message))
            break;
        std::size_t got = 0;
        while (got < sizeof message)
            got += static_cast<std::size_t>(::read(fds[0], message + got, sizeof message - got));
    }
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
}
BENCHMARK(BM_RawUnixSocketPingPong)->UseRealTime();

// One exchange through the relay: the token registers (as it does for each request) and gets the app's ready
// signal, the hash goes token -> relay -> app, which signs at once, and the signature comes back app -> relay
// -> token, which the relay then lets go.
void BM_SignatureExchange(benchmark::State& state) {
    Sandbox sandbox;
    Brokel brokel(sandbox);
    xpc::ReactorThread appThread;
    xpc::ReactorThread tokenThread;
    auto app = std::make_shared<InstantApp>();
    auto token = std::make_shared<CountingToken>();
    Peer<relay::XPCClientApp> appPeer(appThread.reactor(), app, relay::XPCClientRole::app);
    app->peer = &appPeer;
    Bytes hash(32, 0x5A);
    long done = 0;
    for (auto _ : state) {
        Peer<relay::XPCClientToken> tokenPeer(tokenThread.reactor(), token, relay::XPCClientRole::token);
        appPeer.proxy().sendAppIsReadySignal();
        ++done;
        if (!token->ready.waitFor(done)) {
            state.SkipWithError("the relay did not pair the peers");
            return;
        }
        tokenPeer.proxy().sendSignHashRequest(hash, "BENCH");
        if (!token->signatures.waitFor(done)) {
            state.SkipWithError("no signature");
            return;
        }
    }
}
BENCHMARK(BM_SignatureExchange)->UseRealTime();

// A whole request of the token's relay client: deep link, connection and its 0.1 s validation, registration,
// ready signal, hash and signature.
void BM_TokenRequestSignature(benchmark::State& state) {
    Sandbox sandbox;
    Brokel brokel(sandbox);
    xpc::ReactorThread appThread;
    Bytes hash(32, 0x6B);
    for (auto _ : state) {
        auto app = std::make_shared<InstantApp>();
        Peer<relay::XPCClientApp> appPeer(appThread.reactor(), app, relay::XPCClientRole::app);
        app->peer = &appPeer;
        appPeer.proxy().sendAppIsReadySignal();
        pellin::XPCClientLive client(LoggerClient("token"));
        if (!client.requestSignature(hash, "BENCH")) {
            state.SkipWithError("no signature");
            return;
        }
        appThread.runSync([] {});
    }
}
BENCHMARK(BM_TokenRequestSignature)->UseRealTime()->Unit(benchmark::kMillisecond);

// A host that has touched this much memory, page by page: what fork() would copy the page tables of.
class TouchedMemory {
  public:
    explicit TouchedMemory(std::size_t bytes) : bytes_(bytes) {
        if (bytes_ == 0)
            return;
        memory_ = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory_ == MAP_FAILED) {
            memory_ = nullptr;
            return;
        }
        auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        for (std::size_t offset = 0; offset < bytes_; offset += page)
            static_cast<volatile char*>(memory_)[offset] = 1;
    }
    ~TouchedMemory() {
        if (memory_)
            ::munmap(memory_, bytes_);
    }
    bool failed() const { return bytes_ != 0 && !memory_; }

  private:
    std::size_t bytes_;
    void* memory_ = nullptr;
};

// The shipped token module as an application loads it, with one token for a P-256 certificate.
class LoadedToken {
  public:
    LoadedToken() : issued(testsupport::makeSelfSigned(testsupport::CertificateRequest{})) {
        platform::tokens::TokenStore store;
        store.installDriver();
        store.writeConfiguration(platform::tokens::TokenConfiguration::forCertificate("BENCH", issued.der()));
        handle_ = ::dlopen((programFolder().parent_path() / "lib" / "libpellin-pkcs11.so").c_str(), RTLD_NOW);
        if (!handle_)
            return;
        auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle_, "C_GetFunctionList"));
        CK_SLOT_ID slot;
        CK_ULONG count = 1;
        if (!getFunctionList || getFunctionList(&p11) != CKR_OK || p11->C_Initialize(nullptr) != CKR_OK ||
            p11->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1 ||
            p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
            p11 = nullptr;
    }
    ~LoadedToken() {
        if (p11)
            p11->C_Finalize(nullptr);
        if (handle_)
            ::dlclose(handle_);
    }
    bool loaded() const { return p11; }

    // C_SignInit and C_Sign with the token's key (its handle is 2).
    bool sign(Bytes digest) {
        CK_MECHANISM ecdsa{CKM_ECDSA, nullptr, 0};
        Bytes signature(64);
        CK_ULONG length = signature.size();
        return p11->C_SignInit(session, &ecdsa, 2) == CKR_OK &&
               p11->C_Sign(session, digest.data(), digest.size(), signature.data(), &length) == CKR_OK;
    }

    testsupport::Issued issued;

  private:
    void* handle_ = nullptr;
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    CK_SESSION_HANDLE session = 0;
};

// A signature through the token module from a host of the given size: the module starts the app's link
// opener (a do-nothing xdg-open here), connects to the relay and waits for the app, which answers at once.
// The 0.1 s in which the module's connection proves valid is part of every signature.
void BM_TokenSignatureFromHost(benchmark::State& state) {
    Sandbox sandbox;
    Brokel brokel(sandbox);
    TouchedMemory host(static_cast<std::size_t>(state.range(0)) << 20);
    LoadedToken token;
    if (host.failed() || !token.loaded()) {
        state.SkipWithError("no host memory or no token module");
        return;
    }
    xpc::ReactorThread appThread;
    Bytes digest(32, 0x3C);
    for (auto _ : state) {
        auto app = std::make_shared<InstantApp>(token.issued.key);
        Peer<relay::XPCClientApp> appPeer(appThread.reactor(), app, relay::XPCClientRole::app);
        app->peer = &appPeer;
        appPeer.proxy().sendAppIsReadySignal();
        if (!token.sign(digest)) {
            state.SkipWithError("no signature");
            return;
        }
        appThread.runSync([] {});
    }
}
BENCHMARK(BM_TokenSignatureFromHost)
    ->ArgName("host_mib")
    ->Arg(0)
    ->Arg(4096)
    ->Iterations(30)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The detached start alone, as the module starts the link opener: from a small host and from one with 4 GiB
// touched. Five repetitions of each, taken in turns (scripts/bench interleaves them), and their medians:
// single runs one after the other varied from run to run by more than the goal's margin.
void BM_DetachedStartFromHost(benchmark::State& state) {
    TouchedMemory host(static_cast<std::size_t>(state.range(0)) << 20);
    if (host.failed()) {
        state.SkipWithError("no host memory");
        return;
    }
    for (auto _ : state)
        if (!platform::spawnDetached(platform::DetachedProgram{"/bin/true", {"true"}, {}, {}, false})) {
            state.SkipWithError("not started");
            return;
        }
}
BENCHMARK(BM_DetachedStartFromHost)
    ->ArgName("host_mib")
    ->Arg(0)
    ->Arg(4096)
    ->Iterations(200)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

double processCPUSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The token waits its full 30 s for a ready signal that never comes; the counter is the CPU time of the whole
// process (every thread) during that wait.
void BM_TokenWaitingCPU(benchmark::State& state) {
    Sandbox sandbox;
    Brokel brokel(sandbox);
    Bytes hash(32, 0x7C);
    for (auto _ : state) {
        pellin::XPCClientLive client(LoggerClient("token"));
        double before = processCPUSeconds();
        auto signature = client.requestSignature(hash, "BENCH");
        state.counters["cpu_ms"] = (processCPUSeconds() - before) * 1000.0;
        if (signature)
            state.SkipWithError("a signature without an app");
    }
}
BENCHMARK(BM_TokenWaitingCPU)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
