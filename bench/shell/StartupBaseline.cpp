// The baseline of the start-up benchmark: a bare Qt Widgets status-bar program that, as the app does, shows a
// window of the app's main window size 0.5 s after its event loop first turns: a QApplication, a status
// item with a menu, and an empty window.
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdlib>

int main(int argc, char** argv) {
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QMenu menu;
    for (const char* title : {"Retrieve remote sign certificate", "Account info", "Settings"})
        menu.addAction(title);
    menu.addSeparator();
    menu.addAction("Quit", &app, &QApplication::quit);
    QSystemTrayIcon statusItem(QIcon::fromTheme("applications-office"));
    statusItem.setContextMenu(&menu);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        statusItem.show();

    QWidget window;
    window.setWindowTitle("Quorvane App");
    window.resize(800, 550);
    QTimer::singleShot(500, &window, &QWidget::show);
    return QApplication::exec();
}
