#pragma once
// What the relay's tests share: the real Brokel as a child process, fake app and token peers on the real
// protocol, a fake xdg-open that records the URLs it is asked to open, and small waiting helpers.
#include <openssl/evp.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Bytes.h"
#include "platform/testing/Eventually.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"
#include "relay/common/XPCProtocols.h"

namespace relaytest {

using namespace std::chrono_literals;
using platform::Bytes;

using testsupport::eventually;

std::string readFile(const std::filesystem::path& path);

// The messages of Brokel's log lines, each as "info: <message>" or "error: <message>".
std::vector<std::string> logMessages(const std::string& log);
// True when `expected` occurs in `lines` in this order (other lines may come between).
bool containsInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected);
std::size_t countOf(const std::vector<std::string>& lines, const std::string& line);

// The token module as it ships, and the test build's one whose relay client waits a fifth of the real times.
std::filesystem::path shippedModulePath();
std::filesystem::path testModulePath();

// The token module's log lines in this process's private state folder, each as "info: <message>" or
// "error: <message>".
std::vector<std::string> tokenLogMessages();

// A fake xdg-open first on PATH (for this process and its children) that appends each URL to a file.
class FakeOpener {
  public:
    static FakeOpener& shared();
    std::vector<std::string> urls() const;
    void clear() const;

  private:
    FakeOpener();
    std::filesystem::path record_;
};

// While it lives, this process is the reaper of the programs it starts detached (the relay started on demand
// and what that starts); on destruction it reaps every child that has ended and stops being a reaper.
class SubreaperScope {
  public:
    SubreaperScope();
    ~SubreaperScope();
};

// Runs a program to its end (killed after the limit) with extra environment variables, optionally as another
// user; its exit status (-1 when killed) and its standard output and error together.
struct ProgramResult {
    int status = -1;
    std::string output;
};
ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         std::optional<uid_t> user = std::nullopt, std::chrono::milliseconds limit = 60s);

// Lets other users pass through the folder and every folder above it, so that a program run as another user
// reaches what lies below.
void letOtherUsersPass(const std::filesystem::path& folder);
// Gives the folder and everything in it to the user, as if that user had made them.
void giveToUser(const std::filesystem::path& folder, uid_t user);

// A program running in the background until it ends or this object goes (then it is killed); reaped either
// way.
class BackgroundProgram {
  public:
    BackgroundProgram(const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& environment = {},
                      std::optional<uid_t> user = std::nullopt);
    ~BackgroundProgram();
    // Its exit status once it has ended within the limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = 10s);

  private:
    pid_t pid_ = -1;
};

// Brokel, run from the build's bin folder with its standard output appended to its own log file.
class BrokelProcess {
  public:
    struct Options {
        double timeScale = 0.2;     // the ready signal's 10 s become 2 s, ample on a loaded machine
        std::filesystem::path log;  // a fresh file when empty
        bool waitUntilListening = true;
        std::vector<std::pair<std::string, std::string>> environment = {};
        std::optional<uid_t> user = std::nullopt;  // run as this user (the log file is opened before)
        std::filesystem::path program = {};        // the build's brokel when empty
    };
    BrokelProcess();
    explicit BrokelProcess(Options options);
    ~BrokelProcess();

    pid_t pid() const { return pid_; }
    const std::filesystem::path& logPath() const { return log_; }
    std::vector<std::string> messages() const { return logMessages(readFile(log_)); }
    bool waitForMessage(const std::string& message, std::size_t count = 1,
                        std::chrono::milliseconds limit = 5s) const;
    // Waits until the process has ended; its exit status.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = 5s);

  private:
    pid_t pid_ = -1;
    std::filesystem::path log_;
};

// The app's side of the protocol, answering sign requests as configured.
class FakeApp : public relay::XPCClientApp, public std::enable_shared_from_this<FakeApp> {
  public:
    // `custom` answers with the bytes given to setAnswer.
    enum class Answer { none, signature, failure, empty, garbage, custom };
    struct Request {
        Bytes hash;
        std::string instanceID;
    };

    FakeApp(xpc::Reactor& reactor, std::shared_ptr<EVP_PKEY> key = nullptr);
    ~FakeApp() override;

    void setAnswer(Answer answer, Bytes custom = {});
    // As the app does it: connect to the relay, open a listener, register with role app, then (optionally)
    // ready.
    void connectAndRegister(bool sendReady = true, std::int64_t role = 0);
    void sendReady();
    void sendSignature(const Bytes& signature);
    void sendFailure();
    void disconnect();

    std::vector<Request> requests() const;
    int timeouts() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit = 5s) const;
    bool waitForTimeouts(int count, std::chrono::milliseconds limit = 5s) const;
    // The relay's process id, seen on the service connection.
    std::optional<pid_t> relayPID() const;

    void signWithHash(const Bytes& hash, const std::string& instanceID) override;
    void signRequestTimeout() override;

    // A DER ECDSA signature of the digest with the key.
    static Bytes sign(EVP_PKEY* key, const Bytes& digest);

  private:
    xpc::Reactor& reactor_;
    std::shared_ptr<EVP_PKEY> key_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Answer answer_ = Answer::signature;
    Bytes custom_;
    std::vector<Request> requests_;
    int timeouts_ = 0;
    std::shared_ptr<xpc::Connection> connection_;
    std::shared_ptr<xpc::Listener> listener_;
};

// An app that serves one sign request after another with signatures of its key: it registers and sends its
// ready signal, answers the request, drops its connection and registers again at once (before the token of
// the answered request has gone).
class ServingApp {
  public:
    explicit ServingApp(std::shared_ptr<EVP_PKEY> key);
    ~ServingApp();
    ServingApp(const ServingApp&) = delete;
    ServingApp& operator=(const ServingApp&) = delete;

    // Every request received so far, the one being answered included.
    std::vector<FakeApp::Request> requests() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit = 10s) const;

  private:
    void serve();
    std::shared_ptr<EVP_PKEY> key_;
    xpc::ReactorThread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<FakeApp::Request> requests_;  // of the apps that are done
    std::shared_ptr<FakeApp> current_;
    std::thread server_;
};

// The token's side of the protocol, driven step by step by the test.
class FakeToken : public relay::XPCClientToken, public std::enable_shared_from_this<FakeToken> {
  public:
    explicit FakeToken(xpc::Reactor& reactor);
    ~FakeToken() override;

    void connectAndRegister();
    // Connects without registering (a peer that only sends).
    void connect();
    void sendHash(const Bytes& hash, const std::string& instanceID);
    void sendTimeout();
    void sendSignature(const Bytes& signature);
    void sendFailure();
    void disconnect();

    int readySignals() const;
    std::vector<Bytes> signatures() const;
    int failures() const;
    bool waitForReady(int count, std::chrono::milliseconds limit = 5s) const;
    bool waitForSignatures(std::size_t count, std::chrono::milliseconds limit = 5s) const;
    bool waitForFailures(int count, std::chrono::milliseconds limit = 5s) const;

    void appIsReady() override;
    void signatureReadyWithSignature(const Bytes& signature) override;
    void signatureFailed() override;

  private:
    bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds limit) const;
    xpc::Reactor& reactor_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int ready_ = 0;
    std::vector<Bytes> signatures_;
    int failures_ = 0;
    std::shared_ptr<xpc::Connection> connection_;
    std::shared_ptr<xpc::Listener> listener_;
};

// Why the system's programs that load PKCS#11 modules through p11-kit (p11-kit itself, GnuTLS's and NSS's
// tools) cannot run in this build, or nothing when they can. Under ThreadSanitizer a program of the system
// gets the sanitizer's runtime preloaded to host the instrumented module; the system's own modules that
// p11-kit loads beside it then hang in glibc's locale lock while they load.
std::optional<std::string> p11KitProgramsUnavailable();

// Copies of the build's relay, a token module (the shipped one unless given) and the test app peer in
// `folder`, which other users may read and run (the build folder may be private to root).
struct OtherUserPrograms {
    std::filesystem::path module, brokel, app;
};
OtherUserPrograms copyProgramsForOtherUsers(const std::filesystem::path& folder,
                                            const std::filesystem::path& module = shippedModulePath());

// Lower-case hexadecimal of the bytes of the text.
std::string toHex(std::string_view text);

// Verifies a raw r‖s or DER ECDSA signature of the digest with the public key (OpenSSL).
bool verifies(EVP_PKEY* key, const Bytes& digest, const Bytes& signature);

}  // namespace relaytest
