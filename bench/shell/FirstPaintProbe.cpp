// Loaded with LD_PRELOAD into each program the start-up benchmark starts, the app and the baseline alike:
// once the first top-level window has been painted, writes one byte to the file descriptor that
// BENCH_FIRST_PAINT_FD names. The byte goes on the event loop's next turn after the window's first paint
// event, when the whole frame has been painted and flushed.
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace {

class FirstPaint : public QObject {
  public:
    FirstPaint(int fd, QObject* parent) : QObject(parent), fd_(fd) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || seen_)
            return false;
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->isWindow() && widget->windowType() != Qt::Popup &&
            widget->windowType() != Qt::ToolTip) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] {
                const char byte = 'p';
                [[maybe_unused]] auto written = ::write(fd_, &byte, 1);
                ::close(fd_);
                deleteLater();
            });
        }
        return false;
    }

  private:
    int fd_;
    bool seen_ = false;
};

void install() {
    const char* fd = std::getenv("BENCH_FIRST_PAINT_FD");
    if (!fd || !QCoreApplication::instance()->inherits("QApplication"))
        return;
    qApp->installEventFilter(new FirstPaint(std::atoi(fd), qApp));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
