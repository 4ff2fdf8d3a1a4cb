#include "MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

MainWindow::MainWindow(ContentFactory contentFactory) : contentFactory_(std::move(contentFactory)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setWindowTitle("Quorvane App");
    // Made with the window, not at start-up: the icon's renderer costs start-up time and memory.
    setWindowIcon(QIcon(":/images/AppIcon.svg"));
    setMinimumSize(minimumWidth, minimumHeight);
    resize(minimumWidth, minimumHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void MainWindow::makeKeyAndOrderFront() {
    show();
    raise();
    activateWindow();
}

bool MainWindow::isVisible() const {
    return QMainWindow::isVisible();
}

void MainWindow::setContent(const AppOpenMode& mode) {
    if (QWidget* old = centralWidget()) {
        // The old screen is done now: its close event is where it lets its model go, so that what the model
        // queued before (a flow's completion that closes the window) finds it gone and leaves the new
        // screen alone. The widget itself may be the one whose button asked for this (the main menu's): it is
        // deleted once its event has returned.
        old->close();
        takeCentralWidget();
        old->deleteLater();
    }
    if (contentFactory_)
        setCentralWidget(contentFactory_(mode));
}

void MainWindow::close() {
    QMainWindow::close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Qt also sends close events to a window that is not on screen; it has nothing to announce.
    if (QMainWindow::isVisible() && willClose)
        willClose();
    event->accept();
}
