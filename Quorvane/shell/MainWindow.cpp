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
    // The old screen may be the one whose button asked for this (the main menu does): it goes once its event
    // has returned.
    if (QWidget* old = takeCentralWidget()) {
        old->hide();
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
