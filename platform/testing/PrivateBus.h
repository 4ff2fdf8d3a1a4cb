#pragma once
// A private session bus for tests of cross-process notifications, and quorvane-notify-observer (built with
// the platform tests) as a child process on it.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/TestEnvironment.h"

namespace testsupport {

// A session bus of the test's own, so that nothing else posts where a test checks that nothing else arrives.
class PrivateBus {
  public:
    PrivateBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        while (daemon_.waitForStarted(10000) && !daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
        }
        address_ = daemon_.readLine().trimmed();
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isUp() const { return address_.startsWith("unix:"); }
    void stop() {
        if (daemon_.state() == QProcess::NotRunning)
            return;
        daemon_.kill();
        daemon_.waitForFinished(10000);
    }
    // This process's environment with the private bus as the session bus.
    QProcessEnvironment environment() const {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        return environment;
    }

  private:
    QProcess daemon_;
    QString address_;
};

inline QString notifyObserverProgram() {
    return QString::fromStdString((binaryDir() / "quorvane-notify-observer").string());
}

// quorvane-notify-observer in a process of its own. Killed and reaped when it goes.
class NotifyObserverProcess {
  public:
    NotifyObserverProcess(const QProcessEnvironment& environment, const QStringList& arguments) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(notifyObserverProgram(), arguments);
    }
    ~NotifyObserverProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }
    NotifyObserverProcess(const NotifyObserverProcess&) = delete;
    NotifyObserverProcess& operator=(const NotifyObserverProcess&) = delete;

    // True once the observer said it observes.
    bool waitUntilReady() {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(30000))
                return false;
        }
        return process_.readLine() == "ready\n";
    }

    // The exit status (-1 for a crash or a hang) and the lines printed after "ready".
    std::pair<int, std::vector<std::string>> finish(int limitMs = 30000) {
        const bool ended = process_.waitForFinished(limitMs);
        std::vector<std::string> lines;
        for (const auto& line :
             QString::fromUtf8(process_.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            lines.push_back(line.toStdString());
        const int status = ended && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        return {status, lines};
    }

  private:
    QProcess process_;
};

}  // namespace testsupport
