#include "platform/linux/qt/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace larkspire::linux_desktop {
namespace {

constexpr int kTimeoutMs = 1500;

QString socketPath(const QString& name) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir + "/" + name + ".socket";
}

bool sendTo(const QString& path, const QStringList& arguments) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kTimeoutMs)) {
        return false;
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << arguments;
    socket.write(bytes);
    socket.waitForBytesWritten(kTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

}  // namespace

SingleInstance::SingleInstance(QString name) : name_(std::move(name)) {}
SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(const QStringList& arguments) {
    const QString path = socketPath(name_);
    if (sendTo(path, arguments)) {
        return false;
    }
    // Nobody answered: a socket file left by a crashed agent is stale.
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        // Another agent won a race to the socket: hand over to it instead.
        return !sendTo(path, arguments);
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket] {
                QDataStream in(socket->readAll());
                QStringList received;
                in >> received;
                if (handler_) {
                    handler_(received);
                }
                socket->deleteLater();
            });
        }
    });
    return true;
}

}  // namespace larkspire::linux_desktop
