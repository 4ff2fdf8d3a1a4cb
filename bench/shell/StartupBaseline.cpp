// The baseline of the start-up benchmark: the least a Qt Widgets status-bar program does before its event
// loop turns: a QApplication, a status item with a menu, and a local socket that answers the benchmark once
// the loop runs (as the app's instance socket does, with the same frame).
#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtEndian>
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

    QLocalServer server;
    const QString path = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quorvane/instance";
    QLocalServer::removeServer(path);
    if (!server.listen(path))
        return 1;
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                if (socket->bytesAvailable() < 4)
                    return;
                const QByteArray head = socket->peek(4);
                if (socket->bytesAvailable() < 4 + qFromBigEndian<quint32>(head.constData()))
                    return;
                socket->readAll();
                socket->write("1");
                socket->disconnectFromServer();
            });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return QApplication::exec();
}
