// The program `quorvane` as real processes: one instance per user, later starts handing over their links,
// endings by signal, and what it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "Quorvane/core/AppSettings.h"
#include "ShellTestSupport.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using namespace shelltest;
using namespace std::chrono_literals;

// A user of the app: a private home with the XDG folders, the tests' session bus, no display unless given
// one.
class User {
  public:
    explicit User(const QString& display = {}) : home_(testsupport::makeTempDir("user")) {
        environment_ = busEnvironment();
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            auto folder = home_ / name;
            std::filesystem::create_directories(folder);
            ::chmod(folder.c_str(), 0700);
            environment_.insert(name, QString::fromStdString(folder.string()));
        }
        if (display.isEmpty()) {
            environment_.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            environment_.insert("QT_QPA_PLATFORM", "xcb");
            environment_.insert("DISPLAY", display);
        }
    }

    // The app starts the relay on demand, detached: it goes with the user, whatever the test's outcome.
    ~User() { testsupport::killProgramsOfRuntimeFolder((home_ / "XDG_RUNTIME_DIR").string()); }
    User(const User&) = delete;
    User& operator=(const User&) = delete;

    static QString program() {
        return QString::fromStdString((testsupport::binaryDir() / "quorvane").string());
    }

    // Starts the app as the user's first instance and waits until it has launched.
    void startFirst(QProcess& process) const {
        process.setProcessEnvironment(environment_);
        process.start(program(), {});
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(testsupport::eventually(
            [this] { return log().find("Application launched") != std::string::npos; }, 20s))
            << "the app did not launch";
    }

    // Runs a later start to its end: its exit status (-1 for a crash or a hang) and what it wrote on stderr.
    std::pair<int, std::string> run(const QStringList& arguments) const {
        QProcess process;
        process.setProcessEnvironment(environment_);
        process.start(program(), arguments);
        const bool ended = process.waitForFinished(30000);
        const int status = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return {status, process.readAllStandardError().toStdString()};
    }

    std::string log() const {
        std::ifstream file(home_ / "XDG_STATE_HOME" / "quorvane" / "logs" / "ui.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool logged(const std::string& line) const { return log().find(line) != std::string::npos; }

    platform::UserDefaults defaults() const {
        return platform::UserDefaults(home_ / "XDG_CONFIG_HOME" / "quorvane" / "defaults.ini");
    }
    std::filesystem::path runtimeFolder() const { return home_ / "XDG_RUNTIME_DIR" / "quorvane"; }
    const QProcessEnvironment& environment() const { return environment_; }
    void removeVariable(const QString& name) { environment_.remove(name); }

  private:
    std::filesystem::path home_;
    QProcessEnvironment environment_;
};

// Ends the process with the signal and answers its exit status (-1 for a crash or a hang).
int endWith(QProcess& process, int signal) {
    ::kill(static_cast<pid_t>(process.processId()), signal);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

TEST(ProgramTest, ASecondStartHandsItsLinkToTheFirstAndEnds) {
    User user;
    user.defaults().setBoolean(AppSettings::externalCertificateRetrievalDisabledKey, true);
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(user.startFirst(first));
    testsupport::NotifyObserverProcess plugin(
        user.environment(),
        {"--until", QString::fromStdString(retrieved), QString::fromStdString(requested)});
    ASSERT_TRUE(plugin.waitUntilReady());

    auto [status, errors] = user.run({"quorvane://certificate"});
    EXPECT_EQ(status, 0) << errors;
    // The first process has handled the link by the time the second one ends.
    EXPECT_TRUE(user.logged("Received deeplink quorvane://certificate"));
    auto [observerStatus, heard] = plugin.finish();
    EXPECT_EQ(observerStatus, 0) << "the plug-in never heard that retrieval is over";
    EXPECT_EQ(heard, Lines{requested});  // "requested" came first

    // A start without links only activates the running app; what is not a link of the app is left out.
    std::tie(status, errors) =
        user.run({"hello", "https://example.org/", "quorvane://sign\nforged log line"});
    EXPECT_EQ(status, 0);
    EXPECT_THAT(errors, ::testing::HasSubstr("ignoring \"hello\""));
    EXPECT_THAT(errors, ::testing::HasSubstr("ignoring \"https://example.org/\""));
    EXPECT_FALSE(user.logged("forged"));
    EXPECT_EQ(first.state(), QProcess::Running);

    EXPECT_EQ(endWith(first, SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(user.runtimeFolder() / "instance"));
}

TEST(ProgramTest, AStartWithoutALinkBringsBackTheMenuWindow) {
    User user;
    user.defaults().setBoolean(AppSettings::externalCertificateRetrievalDisabledKey, true);
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(user.startFirst(first));
    const std::string menu = "UI requested with mode: menu";
    ASSERT_TRUE(testsupport::eventually([&] { return user.logged(menu); }, 10s));
    // The certificate link closes the window; the app keeps running without one.
    EXPECT_EQ(user.run({"quorvane://certificate"}).first, 0);
    ASSERT_TRUE(testsupport::eventually([&] { return user.logged("UI closing"); }));

    EXPECT_EQ(user.run({}).first, 0);
    // Shown by the time the later start ends, not after a delay.
    const std::string log = user.log();
    EXPECT_GT(log.rfind(menu), log.find("UI closing")) << log;
    EXPECT_EQ(endWith(first, SIGTERM), 0);
}

// The app on an X display with a window manager (Xvfb and openbox), with or without a status area (trayer),
// driven and looked at with xdotool and wmctrl. Skipped where these programs are not installed.
class Desktop {
  public:
    explicit Desktop(bool withStatusArea) {
        QStringList programs = {"Xvfb", "openbox", "xdotool", "wmctrl"};
        if (withStatusArea)
            programs.append("trayer");
        for (const QString& program : programs) {
            if (QStandardPaths::findExecutable(program).isEmpty()) {
                missing_ = program;
                return;
            }
        }
        // Without -noreset the server starts afresh whenever its last client leaves: a window manager that
        // connects just then is turned away.
        server_.start("Xvfb",
                      {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "1280x800x24"});
        if (!server_.waitForStarted(10000) ||
            !testsupport::eventually([this] { return server_.canReadLine(); }, 20s)) {
            problem_ = "Xvfb gave no display: " + server_.readAllStandardError();
            return;
        }
        display_ = ":" + QString::fromUtf8(server_.readLine()).trimmed();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display_);
        environment.insert("HOME", QString::fromStdString(testsupport::makeTempDir("desktop").string()));
        for (QProcess* process : {&windowManager_, &statusArea_})
            process->setProcessEnvironment(environment);
        windowManager_.start("openbox", {});
        ready_ = testsupport::eventually(
            [this] {
                return !xdotool({"search", "--classname", "openbox"}).isEmpty();
            },
            20s);
        if (!ready_)
            problem_ =
                "openbox did not come up on " + display_ + ": " + windowManager_.readAllStandardError();
        if (ready_ && withStatusArea) {
            statusArea_.start("trayer", {"--edge", "top", "--align", "right"});
            ready_ = testsupport::eventually(
                [this] {
                    return !xdotool({"search", "--classname", "trayer"}).isEmpty();
                },
                20s);
            if (!ready_)
                problem_ = "trayer did not come up: " + statusArea_.readAllStandardError();
        }
    }
    ~Desktop() {
        for (QProcess* process : {&statusArea_, &windowManager_, &server_}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    // The program that is missing, if any.
    const QString& missing() const { return missing_; }
    bool ready() const { return ready_; }
    const QString& problem() const { return problem_; }
    const QString& display() const { return display_; }

    // What the X client prints, trimmed; empty when it fails.
    QString client(const QString& program, const QStringList& arguments) const {
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display_);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(10000) || process.exitCode() != 0)
            return {};
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList& arguments) const { return client("xdotool", arguments); }
    // As the title bar's close button does: the window manager asks the window to close. (Alt+F4 pressed
    // just after the window showed was now and then lost on its way through the window manager.)
    void closeWindow(const QString& title) const { client("wmctrl", {"-F", "-c", title}); }
    QString activeWindowTitle() const { return xdotool({"getactivewindow", "getwindowname"}); }
    bool windowShown(const QString& title) const {
        return !xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).isEmpty();
    }

  private:
    QString missing_;
    bool ready_ = false;
    QString problem_;
    QString display_;
    QProcess server_, windowManager_, statusArea_;
};

class DesktopTest : public ::testing::TestWithParam<bool> {};

TEST_P(DesktopTest, ALaterStartBringsTheWindowBackTitledAsItsOwn) {
    Desktop desktop(GetParam());
    if (!desktop.missing().isEmpty())
        GTEST_SKIP() << desktop.missing().toStdString() << " is not installed";
    ASSERT_TRUE(desktop.ready()) << desktop.problem().toStdString();
    User user(desktop.display());
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(user.startFirst(first));
    EXPECT_EQ(user.logged("No system tray available"), !GetParam());
    // The title as the window manager gets it: Qt appends the application's display name, if it has one.
    ASSERT_TRUE(testsupport::eventually([&] { return desktop.activeWindowTitle() == "Quorvane App"; }, 10s))
        << desktop.activeWindowTitle().toStdString();

    desktop.closeWindow("Quorvane App");
    ASSERT_TRUE(testsupport::eventually([&] { return !desktop.windowShown("Quorvane App"); })) << user.log();
    EXPECT_EQ(user.run({}).first, 0);
    EXPECT_TRUE(testsupport::eventually([&] { return desktop.activeWindowTitle() == "Quorvane App"; }))
        << desktop.activeWindowTitle().toStdString();
    EXPECT_EQ(endWith(first, SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(StatusArea, DesktopTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithATray" : "WithoutATray"; });

TEST(ProgramTest, AFirstStartWithALinkActsOnItAfterLaunching) {
    User user;
    QProcess first;
    first.setProcessEnvironment(user.environment());
    first.start(User::program(), {"quorvane://sign"});
    ASSERT_TRUE(testsupport::eventually(
        [&] { return user.logged("UI requested with mode: sign(overXPC(hash: none))"); }, 20s));
    const std::string log = user.log();
    EXPECT_LT(log.find("Application launched"), log.find("Received deeplink quorvane://sign"));
    // The link came with the launch's activation: the menu window is not opened over it.
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(user.logged("UI requested with mode: menu"));
    EXPECT_EQ(endWith(first, SIGINT), 0);
}

TEST(ProgramTest, AStartAfterTheFirstDiedBecomesTheFirst) {
    User user;
    QProcess dead;
    ASSERT_NO_FATAL_FAILURE(user.startFirst(dead));
    EXPECT_EQ(endWith(dead, SIGKILL), -1);  // lock file and socket are left behind
    ASSERT_TRUE(std::filesystem::exists(user.runtimeFolder() / "instance.lock"));

    QProcess next;
    next.setProcessEnvironment(user.environment());
    next.start(User::program(), {});
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const std::string log = user.log();
            return log.find("Application launched") != log.rfind("Application launched");
        },
        20s))
        << "the new start did not launch";
    auto [status, errors] = user.run({"quorvane://sign"});
    EXPECT_EQ(status, 0) << errors;
    EXPECT_TRUE(testsupport::eventually([&] { return user.logged("Received deeplink quorvane://sign"); }));
    EXPECT_EQ(endWith(next, SIGTERM), 0);
}

TEST(ProgramTest, MalformedHandOversAreDroppedAndTheAppGoesOn) {
    User user;
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(user.startFirst(first));
    const auto socketPath = QString::fromStdString((user.runtimeFolder() / "instance").string());
    auto send = [&](const QByteArray& bytes) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        EXPECT_TRUE(socket.waitForConnected(5000));
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
        // The app hangs up without an answer.
        EXPECT_TRUE(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(10000));
        EXPECT_EQ(socket.readAll(), QByteArray());
    };
    QByteArray huge(4, '\0');
    qToBigEndian<quint32>(0xFFFFFFF0u, huge.data());
    send(huge);
    QByteArray notStrings(4, '\0');
    const QByteArray body = R"(["quorvane://sign", 7])";
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), notStrings.data());
    send(notStrings + body);

    auto [status, errors] = user.run({"quorvane://sign"});
    EXPECT_EQ(status, 0) << errors;
    EXPECT_TRUE(user.logged("Received deeplink quorvane://sign"));
    EXPECT_EQ(user.log().find("Received deeplink quorvane://sign"),
              user.log().rfind("Received deeplink quorvane://sign"));
    EXPECT_EQ(endWith(first, SIGTERM), 0);
}

// The folder it names is where the running app holds its lock, with or without XDG_RUNTIME_DIR.
TEST(ProgramTest, NamesTheFolderOfTheLockTheRunningAppHolds) {
    for (bool withRuntimeVariable : {true, false}) {
        SCOPED_TRACE(withRuntimeVariable ? "XDG_RUNTIME_DIR set" : "XDG_RUNTIME_DIR unset");
        // Without the variable a login session's folder would be the user's real one, where an app may run.
        if (!withRuntimeVariable && std::filesystem::exists("/run/user/" + std::to_string(::geteuid())))
            continue;
        User user;
        if (!withRuntimeVariable)
            user.removeVariable("XDG_RUNTIME_DIR");
        QProcess first;
        ASSERT_NO_FATAL_FAILURE(user.startFirst(first));
        QProcess query;
        query.setProcessEnvironment(user.environment());
        query.start(User::program(), {"--instance-folder"});
        ASSERT_TRUE(query.waitForFinished(10000));
        EXPECT_EQ(query.exitCode(), 0);
        const std::filesystem::path folder = query.readAllStandardOutput().trimmed().toStdString();
        if (withRuntimeVariable) {
            EXPECT_EQ(folder, user.runtimeFolder());
        }
        std::ifstream lock(folder / "instance.lock");
        std::string holder;
        std::getline(lock, holder);
        EXPECT_EQ(holder, std::to_string(first.processId()));
        EXPECT_EQ(endWith(first, SIGTERM), 0);
    }
}

TEST(ProgramTest, ARuntimeFolderPlantedAsALinkIsRefused) {
    User user;
    auto elsewhere = user.runtimeFolder().parent_path() / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, user.runtimeFolder());
    auto [status, errors] = user.run({});
    EXPECT_EQ(status, 1);
    EXPECT_THAT(errors, ::testing::HasSubstr("cannot be used"));
}

}  // namespace
