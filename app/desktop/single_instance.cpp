// The window rendezvous over QLocalServer and QLocalSocket.
#include "app/desktop/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace quavella {

namespace {

/// The one request a later start sends.
constexpr char kActivate[] = "activate\n";
/// How long a start waits for the open window's socket. The window's thread may be
/// blocked in the two-second wait after a composition; the kernel accepts the
/// connection and keeps the request meanwhile, so a short wait suffices.
constexpr int kConnectMs = 1000;
constexpr int kLockMs = 3000;

}  // namespace

SingleInstance::SingleInstance(const QString& dir, const QString& key, QObject* parent)
    : QObject(parent), has_dir_(!dir.isEmpty()) {
    // A hash keeps the socket path short (sockaddr_un holds 108 bytes) whatever the key.
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    const QString base = QDir(dir).filePath(QStringLiteral("quavella-") + id);
    socket_path_ = base + QStringLiteral(".socket");
    lock_path_ = base + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::start(bool forward) {
    if (!has_dir_) {
        // Never a socket in the working folder: without a private folder, no rendezvous.
        error_ = QStringLiteral("no private runtime folder");
        return Role::alone;
    }
    // Held until this start knows its role: a start that finds no window and one
    // that is about to listen must not both listen.
    QLockFile lock(lock_path_);
    // A lock that cannot be had in time (a start hung while holding it) is passed by:
    // at worst two windows open, as before.
    lock.tryLock(kLockMs);

    QLocalSocket socket;
    socket.connectToServer(socket_path_);
    if (socket.waitForConnected(kConnectMs)) {
        if (!forward) {
            return Role::alone;
        }
        socket.write(kActivate, sizeof kActivate - 1);
        socket.waitForBytesWritten(kConnectMs);
        socket.disconnectFromServer();
        return Role::forwarded;
    }

    // Nobody answers: a socket file still there was left by a window that crashed.
    QLocalServer::removeServer(socket_path_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socket_path_)) {
        error_ = server_->errorString();
        delete server_;
        server_ = nullptr;
        return Role::alone;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    return Role::first;
}

QString SingleInstance::runtimeDir() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void SingleInstance::acceptConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // The request may have arrived, and its sender gone, before the connection
        // was taken: read what is there now.
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        if (socket->readLine() == kActivate) {
            emit activationRequested();
        }
    }
}

}  // namespace quavella
