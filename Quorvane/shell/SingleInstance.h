#pragma once
// One app process per user. The first process takes the instance lock and listens on a local socket; a later
// one hands its arguments (deep links) to it over that socket and ends. Lock and socket live in the user's
// private runtime folder "<runtime folder>/quorvane" (mode 0700, the user's own).
//
// A hand-over is one frame: a 4-byte big-endian length, then a UTF-8 JSON array of strings. The running
// process answers one byte, "1", once it has handled the arguments.
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

class SingleInstance {
  public:
    // A hand-over larger than this is refused: a bulk link carries its hashes, not documents.
    static constexpr qint64 maxMessageSize = 4 * 1024 * 1024;
    // How long the running process waits for a connected peer to send its arguments.
    static constexpr std::chrono::milliseconds receiveLimit{10000};

    enum class Claim {
        first,        // this process is the one instance
        second,       // another process is: hand the arguments over
        unavailable,  // the private runtime folder cannot be used
    };

    static std::filesystem::path defaultFolder();

    explicit SingleInstance(std::filesystem::path folder = defaultFolder());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the instance lock when no running process holds it (a lock left by a process that died is taken
    // over).
    Claim claim();

    // The first process: accepts hand-overs from other processes of this user from now on, each handled on
    // the event loop. False when the socket cannot listen.
    bool listen(std::function<void(const QStringList& arguments)> handler);

    // A second process: hands the arguments to the first one; true once it confirmed. It waits up to the
    // limit, also for a first process that holds the lock but does not listen yet.
    bool handOver(const QStringList& arguments, std::chrono::milliseconds limit = std::chrono::seconds(10));

    std::filesystem::path socketPath() const { return folder_ / "instance"; }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};
