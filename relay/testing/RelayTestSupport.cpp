#include "relay/testing/RelayTestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "outside/Logger/LoggerClient.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestEnvironment.h"

namespace relaytest {

std::filesystem::path shippedModulePath() {
    return testsupport::binaryDir().parent_path() / "lib" / "libpellin-pkcs11.so";
}

std::filesystem::path testModulePath() {
    return testsupport::binaryDir().parent_path() / "lib" / "libpellin-pkcs11-testing.so";
}

namespace {

// The messages of a log's lines as "info: <message>" or "error: <message>"; a line's level shows as the
// marker (of the log's format) in front of its message.
std::vector<std::string> messagesOf(const std::string& log, const std::string& infoMarker,
                                    const std::string& errorMarker) {
    std::vector<std::string> messages;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        for (const auto& [marker, level] :
             {std::pair{&infoMarker, "info: "}, std::pair{&errorMarker, "error: "}}) {
            auto at = line.find(*marker);
            if (at == std::string::npos)
                continue;
            messages.push_back(level + line.substr(at + marker->size()));
            break;
        }
    }
    return messages;
}

}  // namespace

std::vector<std::string> tokenLogMessages() {
    return messagesOf(readFile(LoggerClient::logFolder() / "token.log"), " INFO ", " ERROR ");
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> logMessages(const std::string& log) {
    return messagesOf(log, " - info: ", " - error: ");
}

bool containsInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    std::size_t next = 0;
    for (const auto& line : lines)
        if (next < expected.size() && line == expected[next])
            ++next;
    return next == expected.size();
}

std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

FakeOpener& FakeOpener::shared() {
    static FakeOpener* opener = new FakeOpener;
    return *opener;
}

FakeOpener::FakeOpener() {
    auto folder = testsupport::makeTempDir("fake-xdg-open");
    record_ = folder / "opened.txt";
    auto script = folder / "xdg-open";
    // Started from inside programs of the system, which a ThreadSanitizer build preloads with its runtime: a
    // shell would crash under it, so the script's shell starts without it.
    std::ofstream(script) << "#!/usr/bin/env -S -u LD_PRELOAD sh\nprintf '%s\\n' \"$1\" >> '"
                          << record_.native() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::string path = folder.native() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    ::setenv("PATH", path.c_str(), 1);
}

std::vector<std::string> FakeOpener::urls() const {
    std::vector<std::string> urls;
    std::istringstream lines(readFile(record_));
    std::string line;
    while (std::getline(lines, line))
        urls.push_back(line);
    return urls;
}

void FakeOpener::clear() const {
    std::ofstream(record_, std::ios::trunc);
}

SubreaperScope::SubreaperScope() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

namespace {

// Every program that the tests start detached (the relay on demand, the fake xdg-open of the relay and of the
// module) ends up a child of this process, which reaps them all when the tests are done.
class ReapDetachedPrograms : public ::testing::Environment {
  public:
    void SetUp() override { scope_ = std::make_unique<SubreaperScope>(); }
    void TearDown() override { scope_.reset(); }

  private:
    std::unique_ptr<SubreaperScope> scope_;
};

[[maybe_unused]] auto* const reaper = ::testing::AddGlobalTestEnvironment(new ReapDetachedPrograms);

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_init();
#endif

using Environment = std::vector<std::pair<std::string, std::string>>;

// In the child that runs the program: adds the environment and becomes the user; false when the user cannot
// be taken on.
bool prepareChild([[maybe_unused]] const char* program, const Environment& environment,
                  std::optional<uid_t> user) {
    for (const auto& [name, value] : environment)
        ::setenv(name.c_str(), value.c_str(), 1);
#if defined(QUORVANE_SANITIZED) && defined(__SANITIZE_THREAD__)
    // A program of the system (named without a path) is not instrumented, yet may load our module, which is.
    // ThreadSanitizer's runtime cannot come with the module (its thread-local state is set up at start): it
    // is preloaded.
    if (!std::strchr(program, '/')) {
        Dl_info runtime{};
        if (::dladdr(reinterpret_cast<void*>(&__tsan_init), &runtime) && runtime.dli_fname)
            ::setenv("LD_PRELOAD", runtime.dli_fname, 1);
    }
#elif defined(QUORVANE_SANITIZED)
    // A program of the system (named without a path) is not instrumented, yet may load our module, which is:
    // the sanitizer's runtime then comes with the module, not first. Preloading it instead hangs every
    // program linked with libp11-kit (p11-kit, p11tool) in glibc's locale lock. The program's own leaks are
    // not ours.
    if (!std::strchr(program, '/'))
        ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
#endif
    return !user || (::setresgid(*user, *user, *user) == 0 && ::setresuid(*user, *user, *user) == 0);
}

}  // namespace

std::optional<std::string> p11KitProgramsUnavailable() {
#if defined(__SANITIZE_THREAD__)
    return "under ThreadSanitizer, p11-kit's own modules hang in glibc's locale lock while they load";
#else
    return std::nullopt;
#endif
}

namespace {

// Reaps the child once it has ended within the limit (it is then forgotten): its exit status.
std::optional<int> reapChild(pid_t& pid, std::chrono::milliseconds limit) {
    auto status = testsupport::reapWithin(pid, limit);
    if (status)
        pid = -1;
    return status;
}

}  // namespace

SubreaperScope::~SubreaperScope() {
    int status;
    // Give the detached helpers (the fake xdg-open) a moment to finish, then reap them.
    eventually([&] { return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD; }, 2s);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

void letOtherUsersPass(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    // Only the folders that need it: an ordinary user may not change /tmp, which lets everyone pass already.
    for (auto path = folder; path != path.root_path(); path = path.parent_path())
        if ((fs::status(path).permissions() & fs::perms::others_exec) == fs::perms::none)
            fs::permissions(path, fs::perms::others_exec, fs::perm_options::add);
}

void giveToUser(const std::filesystem::path& folder, uid_t user) {
    ASSERT_EQ(::lchown(folder.c_str(), user, user), 0) << folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        ASSERT_EQ(::lchown(entry.path().c_str(), user, user), 0) << entry.path();
}

ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         std::optional<uid_t> user, std::chrono::milliseconds limit) {
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return {};
    int out = output[1];
    const char* program = argv.front().c_str();
    pid_t child = testsupport::spawnTiedToParent(argv, [&] {
        return ::dup2(out, 1) >= 0 && ::dup2(out, 2) >= 0 && prepareChild(program, environment, user);
    });
    ::close(output[1]);
    ProgramResult result;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!done && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(10ms);
        if (!done)
            ::kill(child, SIGKILL);
    });
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(output[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    done = true;
    watchdog.join();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const std::vector<std::pair<std::string, std::string>>& environment,
                                     std::optional<uid_t> user) {
    const char* program = argv.front().c_str();
    pid_ = testsupport::spawnTiedToParent(argv, [&] { return prepareChild(program, environment, user); });
}

BackgroundProgram::~BackgroundProgram() {
    testsupport::killAndReap(pid_);
}

std::optional<int> BackgroundProgram::waitForExit(std::chrono::milliseconds limit) {
    return reapChild(pid_, limit);
}

BrokelProcess::BrokelProcess() : BrokelProcess(Options{}) {}

BrokelProcess::BrokelProcess(Options options) {
    FakeOpener::shared();
    log_ = options.log.empty() ? testsupport::makeTempDir("brokel") / "brokel_std.txt" : options.log;
    std::string program =
        (options.program.empty() ? testsupport::binaryDir() / "brokel" : options.program).native();
    std::string scale = std::to_string(options.timeScale);
    std::string logPath = log_.native();
    pid_ = testsupport::spawnTiedToParent({program}, [&] {
        // Opened before the user is taken on: the test's folders may be closed to that user.
        int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out < 0 || ::dup2(out, 1) < 0)
            return false;
        ::setenv("QUORVANE_TIME_SCALE", scale.c_str(), 1);
        ::setenv("QUORVANE_BROKEL_LOG_PATH", logPath.c_str(), 1);
        ::setenv("LC_ALL", "C", 1);
        return prepareChild(program.c_str(), options.environment, options.user);
    });
    if (options.waitUntilListening)
        waitForMessage("info: Listener resumed");
}

BrokelProcess::~BrokelProcess() {
    testsupport::killAndReap(pid_);
}

bool BrokelProcess::waitForMessage(const std::string& message, std::size_t count,
                                   std::chrono::milliseconds limit) const {
    return eventually([&] { return countOf(messages(), message) >= count; }, limit);
}

std::optional<int> BrokelProcess::waitForExit(std::chrono::milliseconds limit) {
    return reapChild(pid_, limit);
}

// --- FakeApp

FakeApp::FakeApp(xpc::Reactor& reactor, std::shared_ptr<EVP_PKEY> key)
    : reactor_(reactor), key_(std::move(key)) {}

FakeApp::~FakeApp() {
    disconnect();
}

void FakeApp::setAnswer(Answer answer, Bytes custom) {
    std::lock_guard lock(mutex_);
    answer_ = answer;
    custom_ = std::move(custom);
}

void FakeApp::connectAndRegister(bool sendReadySignal, std::int64_t role) {
    auto connection = xpc::Connection::toService(reactor_, relay::machServiceName);
    connection->setRemoteInterface(relay::xpcServiceInterface());
    connection->resume();
    auto listener = xpc::Listener::anonymous(reactor_);
    std::weak_ptr<relay::XPCClientApp> self = shared_from_this();
    listener->setDelegate([self](const std::shared_ptr<xpc::Connection>& accepted) {
        relay::exportObject(*accepted, self);
        accepted->setPeerRequirement(relay::peerRequirement());
        accepted->resume();
        return true;
    });
    listener->resume();
    relay::XPCServiceProxy::remoteObjectProxy(connection)->registerFor(listener->endpoint(), role);
    {
        std::lock_guard lock(mutex_);
        connection_ = connection;
        listener_ = listener;
    }
    if (sendReadySignal)
        sendReady();
}

void FakeApp::sendReady() {
    std::lock_guard lock(mutex_);
    if (auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection_))
        proxy->sendAppIsReadySignal();
}

void FakeApp::sendSignature(const Bytes& signature) {
    std::lock_guard lock(mutex_);
    if (auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection_))
        proxy->sendSignatureReadySignal(signature);
}

void FakeApp::sendFailure() {
    std::lock_guard lock(mutex_);
    if (auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection_))
        proxy->sendSignatureFailureSignal();
}

void FakeApp::disconnect() {
    std::lock_guard lock(mutex_);
    if (listener_)
        listener_->invalidate();
    listener_.reset();
    connection_.reset();
}

std::vector<FakeApp::Request> FakeApp::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int FakeApp::timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

bool FakeApp::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

bool FakeApp::waitForTimeouts(int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return timeouts_ >= count; });
}

std::optional<pid_t> FakeApp::relayPID() const {
    std::lock_guard lock(mutex_);
    if (!connection_)
        return std::nullopt;
    auto peer = connection_->peer();
    if (!peer)
        return std::nullopt;
    return peer->pid;
}

Bytes FakeApp::sign(EVP_PKEY* key, const Bytes& digest) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key, nullptr),
                                                                        EVP_PKEY_CTX_free);
    EVP_PKEY_sign_init(context.get());
    std::size_t length = 0;
    EVP_PKEY_sign(context.get(), nullptr, &length, digest.data(), digest.size());
    Bytes signature(length);
    EVP_PKEY_sign(context.get(), signature.data(), &length, digest.data(), digest.size());
    signature.resize(length);
    return signature;
}

void FakeApp::signWithHash(const Bytes& hash, const std::string& instanceID) {
    Answer answer;
    Bytes custom;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({hash, instanceID});
        answer = answer_;
        custom = custom_;
    }
    changed_.notify_all();
    // As the app does: answer once, then drop the connection and the listener.
    switch (answer) {
        case Answer::none:
            return;
        case Answer::signature:
            sendSignature(sign(key_.get(), hash));
            break;
        case Answer::failure:
            sendFailure();
            break;
        case Answer::empty:
            sendSignature({});
            break;
        case Answer::garbage:
            sendSignature({1, 2, 3});
            break;
        case Answer::custom:
            sendSignature(custom);
            break;
    }
    disconnect();
}

void FakeApp::signRequestTimeout() {
    {
        std::lock_guard lock(mutex_);
        ++timeouts_;
    }
    changed_.notify_all();
}

// --- ServingApp

ServingApp::ServingApp(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)), server_([this] { serve(); }) {}

ServingApp::~ServingApp() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_.join();
}

void ServingApp::serve() {
    for (;;) {
        auto app = std::make_shared<FakeApp>(thread_.reactor(), key_);
        {
            std::lock_guard lock(mutex_);
            current_ = app;
        }
        app->connectAndRegister();
        while (!app->waitForRequests(1, 20ms)) {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        // The answer is written before the next registration goes out.
        thread_.runSync([] {});
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(app->requests().front());
            current_.reset();
        }
        changed_.notify_all();
    }
}

std::vector<FakeApp::Request> ServingApp::requests() const {
    std::lock_guard lock(mutex_);
    auto requests = requests_;
    if (current_)
        for (const auto& request : current_->requests())
            requests.push_back(request);
    return requests;
}

bool ServingApp::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

// --- FakeToken

FakeToken::FakeToken(xpc::Reactor& reactor) : reactor_(reactor) {}

FakeToken::~FakeToken() {
    disconnect();
}

void FakeToken::connect() {
    auto connection = xpc::Connection::toService(reactor_, relay::machServiceName);
    connection->setRemoteInterface(relay::xpcServiceInterface());
    connection->resume();
    std::lock_guard lock(mutex_);
    connection_ = connection;
}

void FakeToken::connectAndRegister() {
    connect();
    auto listener = xpc::Listener::anonymous(reactor_);
    std::weak_ptr<relay::XPCClientToken> self = shared_from_this();
    listener->setDelegate([self](const std::shared_ptr<xpc::Connection>& accepted) {
        relay::exportObject(*accepted, self);
        accepted->resume();
        return true;
    });
    listener->resume();
    std::lock_guard lock(mutex_);
    listener_ = listener;
    relay::XPCServiceProxy::remoteObjectProxy(connection_)->registerFor(listener->endpoint(), 1);
}

void FakeToken::sendHash(const Bytes& hash, const std::string& instanceID) {
    std::lock_guard lock(mutex_);
    relay::XPCServiceProxy::remoteObjectProxy(connection_)->sendSignHashRequest(hash, instanceID);
}

void FakeToken::sendTimeout() {
    std::lock_guard lock(mutex_);
    relay::XPCServiceProxy::remoteObjectProxy(connection_)->sendSignRequestTimeout();
}

void FakeToken::sendSignature(const Bytes& signature) {
    std::lock_guard lock(mutex_);
    relay::XPCServiceProxy::remoteObjectProxy(connection_)->sendSignatureReadySignal(signature);
}

void FakeToken::sendFailure() {
    std::lock_guard lock(mutex_);
    relay::XPCServiceProxy::remoteObjectProxy(connection_)->sendSignatureFailureSignal();
}

void FakeToken::disconnect() {
    std::lock_guard lock(mutex_);
    if (listener_)
        listener_->invalidate();
    listener_.reset();
    connection_.reset();
}

int FakeToken::readySignals() const {
    std::lock_guard lock(mutex_);
    return ready_;
}

std::vector<Bytes> FakeToken::signatures() const {
    std::lock_guard lock(mutex_);
    return signatures_;
}

int FakeToken::failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

bool FakeToken::waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, predicate);
}

bool FakeToken::waitForReady(int count, std::chrono::milliseconds limit) const {
    return waitFor([&] { return ready_ >= count; }, limit);
}

bool FakeToken::waitForSignatures(std::size_t count, std::chrono::milliseconds limit) const {
    return waitFor([&] { return signatures_.size() >= count; }, limit);
}

bool FakeToken::waitForFailures(int count, std::chrono::milliseconds limit) const {
    return waitFor([&] { return failures_ >= count; }, limit);
}

void FakeToken::appIsReady() {
    {
        std::lock_guard lock(mutex_);
        ++ready_;
    }
    changed_.notify_all();
}

void FakeToken::signatureReadyWithSignature(const Bytes& signature) {
    {
        std::lock_guard lock(mutex_);
        signatures_.push_back(signature);
    }
    changed_.notify_all();
}

void FakeToken::signatureFailed() {
    {
        std::lock_guard lock(mutex_);
        ++failures_;
    }
    changed_.notify_all();
}

OtherUserPrograms copyProgramsForOtherUsers(const std::filesystem::path& folder,
                                            const std::filesystem::path& module) {
    namespace fs = std::filesystem;
    fs::create_directories(folder);
    auto bin = testsupport::binaryDir();
    OtherUserPrograms copies{folder / module.filename(), folder / "brokel", folder / "relay_test_app"};
    fs::copy_file(module, copies.module);
    fs::copy_file(bin / "brokel", copies.brokel);
    fs::copy_file(bin / "relay_test_app", copies.app);
    for (const auto& path : {folder, copies.module, copies.brokel, copies.app})
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    return copies;
}

std::string toHex(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool verifies(EVP_PKEY* key, const Bytes& digest, const Bytes& signature) {
    Bytes der = signature;
    std::size_t half = static_cast<std::size_t>((EVP_PKEY_get_bits(key) + 7) / 8);
    if (signature.size() == 2 * half) {  // raw r‖s (a DER signature is never exactly that long in practice)
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), static_cast<int>(half), nullptr),
                       BN_bin2bn(signature.data() + half, static_cast<int>(half), nullptr));
        int length = i2d_ECDSA_SIG(sig, nullptr);
        der.resize(static_cast<std::size_t>(length));
        unsigned char* p = der.data();
        i2d_ECDSA_SIG(sig, &p);
        ECDSA_SIG_free(sig);
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key, nullptr),
                                                                        EVP_PKEY_CTX_free);
    EVP_PKEY_verify_init(context.get());
    return EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

}  // namespace relaytest
