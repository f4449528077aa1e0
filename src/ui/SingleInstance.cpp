#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace quillon::ui {

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    // Socket names are short: derive one from the folder, so separate configurations (tests)
    // do not meet.
    serverName_ =
        QStringLiteral("quillon-") +
        QString::fromLatin1(
            QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    lock_ = std::make_unique<QLockFile>(folder + QStringLiteral("/quillon.lock"));
    lock_->setStaleLockTime(0);  // a lock of a dead process is stale, however recent
    primary_ = lock_->tryLock(0);
    if (!primary_) {
        return;
    }
    QLocalServer::removeServer(serverName_);  // a leftover socket of a crashed run
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(serverName_);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (socket->readAll().startsWith("activate")) {
                    emit activationRequested();
                }
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool SingleInstance::activatePrimary() const {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write("activate\n");
    socket.flush();
    return socket.waitForReadyRead(1000);
}

}  // namespace quillon::ui
