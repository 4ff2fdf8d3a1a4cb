// The hand-over between the running app and a later start, in one process over the real socket: folders of
// any path length, a socket that cannot listen, and what a flood of hand-overs may make the app hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocalSocket>
#include <QMessageBox>
#include <QtEndian>
#include <atomic>
#include <optional>
#include <thread>

#include "Quorvane/shell/SingleInstance.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using namespace std::chrono_literals;
using testsupport::eventually;

// A later start's hand-over, made from another thread while this one serves the running app's side.
bool handOverWhileServing(SingleInstance& later, const QStringList& arguments) {
    std::atomic<bool> done = false;
    bool handed = false;
    std::thread thread([&] {
        handed = later.handOver(arguments, 10s);
        done = true;
    });
    eventually([&] { return done.load(); }, 15s);
    thread.join();
    return handed;
}

std::size_t countContaining(const std::vector<std::string>& lines, const std::string& text) {
    return std::size_t(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

// A socket address holds 107 bytes of path: a runtime folder under a long home folder is longer than that.
TEST(SingleInstance, HandsOverThroughAFolderOfAnyPathLength) {
    for (std::size_t length : {8u, 200u}) {
        SCOPED_TRACE(length);
        const auto folder = testsupport::makeTempDir("instance") / std::string(length, 'r') / "quorvane";
        SingleInstance running(folder);
        ASSERT_EQ(running.claim(), SingleInstance::Claim::first);
        QStringList received;
        ASSERT_TRUE(running.listen([&](const QStringList& arguments) { received = arguments; }));

        SingleInstance later(folder);
        ASSERT_EQ(later.claim(), SingleInstance::Claim::second);
        EXPECT_TRUE(handOverWhileServing(later, {"quorvane://sign"}));
        EXPECT_EQ(received, QStringList{"quorvane://sign"});
    }
}

TEST(SingleInstance, ASocketThatCannotListenIsShownToTheUser) {
    const auto folder = testsupport::makeTempDir("instance") / "quorvane";
    SingleInstance running(folder);
    ASSERT_EQ(running.claim(), SingleInstance::Claim::first);
    std::filesystem::create_directory(running.socketPath());  // the socket's name is taken
    LogCapture logs;

    EXPECT_FALSE(running.listen([](const QStringList&) {}));

    QMessageBox* shown = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            shown = box;
    ASSERT_TRUE(shown) << "no message box on screen";
    EXPECT_EQ(shown->icon(), QMessageBox::Warning);
    EXPECT_THAT(shown->text().toStdString(), ::testing::HasSubstr("cannot reach"));
    EXPECT_THAT(shown->informativeText().toStdString(), ::testing::HasSubstr(running.socketPath().string()));
    EXPECT_EQ(countContaining(logs.messages(),
                              "Cannot listen for later starts at " + running.socketPath().string()),
              1u);
    shown->close();
}

// Hand-overs announce their size first. Each may hold up to its limit, and those being received together up
// to theirs; more are refused at once, with a line in the log, and the app stays reachable once they end.
TEST(SingleInstance, BoundsWhatHandOversHoldAtOnce) {
    const auto folder = testsupport::makeTempDir("instance") / "quorvane";
    SingleInstance running(folder);
    ASSERT_EQ(running.claim(), SingleInstance::Claim::first);
    int handled = 0;
    ASSERT_TRUE(running.listen([&](const QStringList&) { ++handled; }));
    LogCapture logs;

    std::vector<std::unique_ptr<QLocalSocket>> peers;
    // A peer that connects and announces the size of its frame, or nothing yet.
    auto connectPeer = [&](std::optional<quint32> size) {
        auto peer = std::make_unique<QLocalSocket>();
        peer->connectToServer(QString::fromStdString(running.socketPath().string()));
        if (size) {
            QByteArray header(4, '\0');
            qToBigEndian(*size, header.data());
            peer->write(header);
        }
        peers.push_back(std::move(peer));
    };
    auto refused = [&](const std::string& reason) { return countContaining(logs.messages(), reason); };
    auto connected = [&] {
        return std::count_if(peers.begin(), peers.end(),
                             [](const auto& peer) { return peer->state() == QLocalSocket::ConnectedState; });
    };

    connectPeer(SingleInstance::maxMessageSize + 1);
    ASSERT_TRUE(eventually([&] { return refused("bytes, more than the limit of") == 1; }));

    // Twice as many full-size hand-overs as the total allows: the second half is refused.
    constexpr int fullSize = int(SingleInstance::maxPendingSize / SingleInstance::maxMessageSize);
    for (int i = 0; i < 2 * fullSize; ++i)
        connectPeer(SingleInstance::maxMessageSize);
    ASSERT_TRUE(eventually(
        [&] { return refused("while the hand-overs being received hold") == std::size_t(fullSize); }));

    // Peers that have sent nothing yet count as well: beyond the number allowed at once, they are refused.
    constexpr int extra = 5;
    for (int i = fullSize; i < SingleInstance::maxPendingHandOvers + extra; ++i)
        connectPeer(std::nullopt);
    ASSERT_TRUE(eventually([&] { return refused("others are being received") == std::size_t(extra); }));
    EXPECT_TRUE(eventually([&] { return connected() == SingleInstance::maxPendingHandOvers; }))
        << connected() << " peers held";
    EXPECT_EQ(handled, 0);

    // Once they have gone, a later start gets through.
    peers.clear();
    SingleInstance later(folder);
    EXPECT_TRUE(handOverWhileServing(later, {"quorvane://sign"}));
    EXPECT_EQ(handled, 1);
}

}  // namespace
