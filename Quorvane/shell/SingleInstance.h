#pragma once
// One app process per user. The first process takes the instance lock and listens on a local socket; a later
// one hands its arguments (deep links) to it over that socket and ends. Lock and socket live in the user's
// private runtime folder "<runtime folder>/quorvane" (mode 0700, the user's own), whatever the length of its
// path: the socket is reached through the folder's open descriptor, never by a path that a socket address
// could not hold.
//
// A hand-over is one frame: a 4-byte big-endian length, then a UTF-8 JSON array of strings. The running
// process answers one byte, "1", once it has handled the arguments. What hand-overs may make it hold is
// bounded, per hand-over and in total; a refused one is closed without an answer and logged.
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
    // What the hand-overs being received at once may announce together, and how many there may be: more are
    // refused until those have ended.
    static constexpr qint64 maxPendingSize = 4 * maxMessageSize;
    static constexpr int maxPendingHandOvers = 16;
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
    // the event loop. False when the socket cannot listen: later starts cannot reach this process, which the
    // user is then told in a warning box, and the log says why.
    bool listen(std::function<void(const QStringList& arguments)> handler);

    // A second process: hands the arguments to the first one; true once it confirmed. It waits up to the
    // limit, also for a first process that holds the lock but does not listen yet.
    bool handOver(const QStringList& arguments, std::chrono::milliseconds limit = std::chrono::seconds(10));

    std::filesystem::path socketPath() const { return folder_ / "instance"; }

    // What the hand-overs being received hold at this moment.
    struct Pending {
        int handOvers = 0;
        qint64 announcedSize = 0;
    };

  private:
    // The socket's name as the process reaches it: through the folder's descriptor, opened on first use.
    QString socketName();

    std::filesystem::path folder_;
    int folderDescriptor_ = -1;
    std::unique_ptr<QLockFile> lock_;
    std::shared_ptr<Pending> pending_;
    std::unique_ptr<QLocalServer> server_;
};
