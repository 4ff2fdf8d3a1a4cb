#include "cardbridge/VexoConnectInvoker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <coroutine>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/DeploymentConfiguration.h"

namespace pindle {
namespace {

std::mutex overrideMutex;
std::optional<std::filesystem::path> locationOverride;
std::atomic<std::size_t> liveProcesses{0};

// How long a terminated bridge may take to exit before it is killed.
constexpr int terminateGraceMilliseconds = 5000;

constexpr const char* timedOutText = "The card reader did not answer in time.";
constexpr const char* cancelledText = "The bridge exchange was cancelled.";

// Ends a bridge process: a terminate request, then (without the caller waiting) reaping once it has exited,
// or a kill when it ignores the request. The process object goes away only after its child was reaped.
void terminateAndReap(QProcess* process) {
    QObject::disconnect(process, nullptr, process, nullptr);
    // Whatever it still writes until it exits is dropped, not buffered.
    process->closeReadChannel(QProcess::StandardOutput);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    auto* grace = new QTimer(process);
    grace->setSingleShot(true);
    QObject::connect(grace, &QTimer::timeout, process, [process] {
        if (process->state() != QProcess::NotRunning)
            process->kill();
    });
    grace->start(terminateGraceMilliseconds);
    process->terminate();
}

}  // namespace

// One run of the bridge: waits for its reader's turn, starts the process, writes the frame, collects the
// reply frame and settles on the first outcome. Every signal is handled on the main thread; the awaiting
// coroutine is resumed through the event loop, never from inside a QProcess signal.
class VexoConnectInvoker::Run : public std::enable_shared_from_this<Run> {
  public:
    enum class Outcome { pending, reply, endOfOutput, launchFailed, readFailed, timedOut, cancelled };

    Run(std::filesystem::path program, QByteArray frame,
        std::optional<platform::Scheduler::Duration> timeLimit,
        std::shared_ptr<platform::Scheduler> scheduler, std::string reader)
        : program_(std::move(program)),
          frame_(std::move(frame)),
          timeLimit_(timeLimit),
          scheduler_(std::move(scheduler)),
          reader_(std::move(reader)) {}

    ~Run() {
        *alive_ = false;
        if (limit_)
            limit_->invalidate();
        if (process_)
            terminateAndReap(process_);
    }

    // Starts the bridge now, or once the bridge of the reader's exchange before has exited.
    void start() {
        if (!reader_.empty()) {
            auto [lane, idle] = lanes().try_emplace(reader_);
            if (!idle) {
                lane->second.push_back(weak_from_this());
                return;
            }
        }
        launch();
    }

    // Ends the run from outside: its bridge is terminated, or never started when it still waits for its turn.
    void cancel() { settle(Outcome::cancelled, QString::fromUtf8(cancelledText)); }

    bool settled() const { return outcome_ != Outcome::pending; }
    Outcome outcome() const { return outcome_; }
    const QString& errorText() const { return errorText_; }
    QByteArray payload() const { return buffer_.mid(4, static_cast<qsizetype>(*length_)); }

    struct Awaiter {
        Run* run;
        bool await_ready() const noexcept { return run->settled(); }
        void await_suspend(std::coroutine_handle<> handle) noexcept { run->waiter_ = handle; }
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() { return Awaiter{this}; }

  private:
    // The readers whose turn is taken (by a bridge not yet reaped), each with the runs waiting for it.
    static std::map<std::string, std::deque<std::weak_ptr<Run>>>& lanes() {
        static std::map<std::string, std::deque<std::weak_ptr<Run>>> lanes;
        return lanes;
    }

    // The reader's bridge is gone: the next run still waiting takes the turn, or the reader is free.
    static void passTurn(const std::string& reader) {
        auto lane = lanes().find(reader);
        if (lane == lanes().end())
            return;
        while (!lane->second.empty()) {
            auto next = lane->second.front().lock();
            lane->second.pop_front();
            if (next && !next->settled()) {
                next->launch();
                return;
            }
        }
        lanes().erase(lane);
    }

    // The frame goes into the input pipe's buffer at once, without waiting for the start to be confirmed; the
    // input is closed once it has been written.
    void launch() {
        // Owned by the application object, so a bridge still running when the app quits is killed with it.
        process_ = new QProcess(QCoreApplication::instance());
        ++liveProcesses;
        QObject::connect(process_, &QObject::destroyed, QCoreApplication::instance(),
                         [] { --liveProcesses; });
        if (!reader_.empty()) {
            // The turn passes once the bridge has exited and was reaped, or could not start.
            auto passOnce = [reader = reader_, passed = std::make_shared<bool>(false)] {
                if (!std::exchange(*passed, true))
                    passTurn(reader);
            };
            auto* context = QCoreApplication::instance();
            QObject::connect(process_, &QProcess::finished, context, passOnce);
            QObject::connect(process_, &QProcess::errorOccurred, context,
                             [passOnce](QProcess::ProcessError error) {
                                 if (error == QProcess::FailedToStart)
                                     passOnce();
                             });
            QObject::connect(process_, &QObject::destroyed, context, passOnce);
        }
        process_->setProgram(QString::fromStdString(program_.string()));
        process_->setArguments({});
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(process_, &QProcess::readyReadStandardOutput, process_, [this] { consume(); });
        QObject::connect(process_, &QProcess::readChannelFinished, process_, [this] { consumeToEnd(); });
        QObject::connect(process_, &QProcess::finished, process_, [this] { consumeToEnd(); });
        QObject::connect(process_, &QProcess::errorOccurred, process_, [this](QProcess::ProcessError error) {
            switch (error) {
                case QProcess::FailedToStart:
                    settle(Outcome::launchFailed, process_->errorString());
                    break;
                case QProcess::ReadError:
                    settle(Outcome::readFailed, process_->errorString());
                    break;
                case QProcess::WriteError:
                    // The bridge stopped taking its input before it had the whole request.
                    settle(Outcome::endOfOutput);
                    break;
                default:
                    break;  // a crash or exit shows as the end of the output
            }
        });
        if (timeLimit_) {
            limit_ = scheduler_->scheduleOnce(*timeLimit_, [weak = weak_from_this()] {
                if (auto run = weak.lock())
                    run->settle(Outcome::timedOut, QString::fromUtf8(timedOutText));
            });
        }
        process_->start(QIODevice::ReadWrite);
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->write(frame_);
            process_->closeWriteChannel();
        }
    }

    void consume() {
        if (settled())
            return;
        buffer_.append(process_->readAllStandardOutput());
        if (!length_ && buffer_.size() >= 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(buffer_.constData());
            length_ = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                      static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
            if (*length_ > maxReplyLength) {
                settle(Outcome::endOfOutput);
                return;
            }
            buffer_.reserve(4 + static_cast<qsizetype>(*length_));
        }
        if (length_ && buffer_.size() >= 4 + static_cast<qsizetype>(*length_))
            settle(Outcome::reply);
    }

    void consumeToEnd() {
        consume();
        if (!settled())
            settle(Outcome::endOfOutput);
    }

    void settle(Outcome outcome, QString errorText = {}) {
        if (settled())
            return;
        outcome_ = outcome;
        errorText_ = std::move(errorText);
        if (limit_)
            limit_->invalidate();
        if (QProcess* process = std::exchange(process_, nullptr))
            terminateAndReap(process);
        if (auto waiter = std::exchange(waiter_, nullptr)) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [waiter, alive = alive_] {
                    if (*alive)
                        waiter.resume();
                },
                Qt::QueuedConnection);
        }
    }

    std::filesystem::path program_;
    QByteArray frame_;
    std::optional<platform::Scheduler::Duration> timeLimit_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::string reader_;
    QProcess* process_ = nullptr;
    std::shared_ptr<platform::Timer> limit_;
    QByteArray buffer_;
    std::optional<std::uint32_t> length_;
    Outcome outcome_ = Outcome::pending;
    QString errorText_;
    std::coroutine_handle<> waiter_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

bool isValidUTF8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        std::uint32_t value;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            value = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            value = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            value = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            value = value << 6 | (p[i] & 0x3F);
        }
        if ((extra == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (extra == 3 && (value < 0x10000 || value > 0x10FFFF)))
            return false;
        p += extra + 1;
    }
    return true;
}

std::optional<std::filesystem::path> VexoConnectInvoker::executableLocation() {
    std::optional<std::filesystem::path> location;
    {
        std::lock_guard lock(overrideMutex);
        location = locationOverride;
    }
    if (!location)
        location = platform::DeploymentConfiguration::load().bridgeProgram;
    if (!location) {
        std::error_code error;
        auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error)
            return std::nullopt;
        location = self.parent_path() / bridgeResourceName;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(*location, error))
        return std::nullopt;
    return location;
}

VexoConnectInvoker::VexoConnectInvoker(std::optional<platform::Scheduler::Duration> timeLimit,
                                       std::shared_ptr<platform::Scheduler> scheduler, std::string reader)
    : timeLimit_(timeLimit), scheduler_(std::move(scheduler)), reader_(std::move(reader)) {}

void VexoConnectInvoker::cancel() {
    cancelled_ = true;
    if (auto run = run_.lock())
        run->cancel();
}

std::size_t VexoConnectInvoker::liveProcessCount() {
    return liveProcesses;
}

void VexoConnectInvoker::setExecutableLocationOverride(std::optional<std::filesystem::path> location) {
    std::lock_guard lock(overrideMutex);
    locationOverride = std::move(location);
}

QCoro::Task<std::string> VexoConnectInvoker::exchange(std::string json) {
    auto program = executableLocation();
    if (!program)
        throw VexoConnectError::executableNotFound();
    if (json.size() > UINT32_MAX)
        throw VexoConnectError::encodingFailed();

    const auto length = static_cast<std::uint32_t>(json.size());
    QByteArray frame;
    frame.reserve(4 + static_cast<qsizetype>(json.size()));
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>((length >> shift) & 0xFF));
    frame.append(json.data(), static_cast<qsizetype>(json.size()));

    if (cancelled_)
        throw ProcessError(ProcessError::Kind::cancelled, cancelledText);
    auto run = std::make_shared<Run>(*program, std::move(frame), timeLimit_, scheduler_, reader_);
    run_ = run;
    run->start();
    co_await *run;

    switch (run->outcome()) {
        case Run::Outcome::launchFailed:
            throw ProcessError(ProcessError::Kind::launchFailed, run->errorText().toStdString());
        case Run::Outcome::readFailed:
            throw ProcessError(ProcessError::Kind::readFailed, run->errorText().toStdString());
        case Run::Outcome::timedOut:
            throw ProcessError(ProcessError::Kind::timedOut, run->errorText().toStdString());
        case Run::Outcome::cancelled:
            throw ProcessError(ProcessError::Kind::cancelled, run->errorText().toStdString());
        case Run::Outcome::endOfOutput:
        case Run::Outcome::pending:
            throw VexoConnectError::unexpectedEOF();
        case Run::Outcome::reply:
            break;
    }
    QByteArray payload = run->payload();
    std::string text(payload.constData(), static_cast<std::size_t>(payload.size()));
    if (!isValidUTF8(text))
        throw VexoConnectError::invalidReplyEncoding();
    co_return text;
}

}  // namespace pindle
