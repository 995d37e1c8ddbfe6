// The window rendezvous over QLocalServer and QLocalSocket.
#include "app/desktop/single_instance.h"

#include <signal.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <climits>
#include <cstring>

namespace quavella {

namespace {

/// The one request a later start sends, and the open window's answer.
constexpr char kActivate[] = "activate\n";
constexpr char kAnswer[] = "ok\n";
/// How long a start waits for the open window's socket to accept. The kernel accepts
/// the connection even while the window's thread is busy, so a short wait suffices.
constexpr int kConnectMs = 1000;
constexpr int kLockMs = 3000;
/// How often the window checks that its socket still listens: the server closes
/// itself for good when an accept fails (no file descriptor left).
constexpr int kWatchdogMs = 2000;

/// The socket file to remove when a signal ends the program; written once, before
/// the handlers are installed, and read only by them.
char g_socket_file[PATH_MAX];

extern "C" void removeSocketAndEnd(int sig) {
    ::unlink(g_socket_file);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

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
        // The window answers once it has taken the request; a stopped or hung window
        // never does, and then nothing was forwarded.
        socket.write(kActivate, sizeof kActivate - 1);
        QByteArray answer;
        QDeadlineTimer deadline(kAnswerMs);
        while (!deadline.hasExpired() && !answer.endsWith('\n') && answer.size() < kMaxRequest) {
            if (socket.bytesAvailable() == 0 &&
                !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                break;
            }
            answer += socket.read(kMaxRequest - answer.size());
        }
        socket.abort();
        if (answer == kAnswer) return Role::forwarded;
        error_ = QStringLiteral("the window open on this folder does not answer");
        return Role::unanswered;
    }

    // Nobody answers: a socket file still there was left by a window that crashed.
    if (!listen()) return Role::alone;
    watchdog_ = new QTimer(this);
    connect(watchdog_, &QTimer::timeout, this, &SingleInstance::listenAgainIfLost);
    watchdog_->start(kWatchdogMs);
    return Role::first;
}

bool SingleInstance::listen() {
    QLocalServer::removeServer(socket_path_);
    delete server_;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socket_path_)) {
        error_ = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    return true;
}

void SingleInstance::listenAgainIfLost() {
    if (server_ != nullptr && server_->isListening()) return;
    // Later starts would open a second window on this folder: take the socket back.
    if (listen()) error_.clear();
}

bool SingleInstance::isListening() const { return server_ != nullptr && server_->isListening(); }

QString SingleInstance::runtimeDir() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void SingleInstance::removeSocketOnTermination() const {
    const QByteArray file = QFile::encodeName(socket_path_);
    if (server_ == nullptr || file.size() >= static_cast<int>(sizeof g_socket_file)) return;
    std::memcpy(g_socket_file, file.constData(), static_cast<std::size_t>(file.size()) + 1);
    struct sigaction action {};
    action.sa_handler = removeSocketAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void SingleInstance::acceptConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (open_connections_ >= kMaxConnections) {
            // A flood of idle connections must not use up the window's file descriptors.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++open_connections_;
        connect(socket, &QObject::destroyed, this, [this] { --open_connections_; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A connection that sends nothing in time is closed.
        QTimer::singleShot(kRequestMs, socket, [socket] { socket->abort(); });
        // The request may have arrived, and its sender gone, before the connection
        // was taken: read what is there now.
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket* socket) {
    if (socket->state() != QLocalSocket::ConnectedState && socket->bytesAvailable() == 0) return;
    if (!socket->canReadLine()) {
        // No line yet: a stream without a newline is not kept past the longest request.
        if (socket->bytesAvailable() >= kMaxRequest) socket->abort();
        return;
    }
    // One request per connection: the answer, then the connection is closed.
    const QByteArray request = socket->readLine(kMaxRequest + 1);
    if (request == kActivate) {
        emit activationRequested();
        socket->write(kAnswer, sizeof kAnswer - 1);
        socket->flush();
    }
    socket->disconnectFromServer();
}

}  // namespace quavella
