// The window rendezvous over a listening socket of its own and QLocalSocket.
#include "app/desktop/single_instance.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/staged_file.h"

namespace quavella {

namespace {

/// The one request a later start sends, and the open window's answer.
constexpr char kActivate[] = "activate\n";
constexpr char kAnswer[] = "ok\n";
/// How long a start waits for the open window's socket to accept. The kernel accepts
/// the connection even while the window's thread is busy, so a short wait suffices.
constexpr int kConnectMs = 1000;
constexpr int kLockMs = 3000;
/// How often the window checks that its socket file is still there (a cleaner of the
/// runtime folder may remove it) and listens again if not.
constexpr int kWatchdogMs = 2000;
/// Pending connections the kernel holds for the window.
constexpr int kBacklog = 50;
/// How long accepting pauses when no descriptor is left even to drop a connection.
constexpr int kStarvedMs = 200;

/// The socket file to remove when a signal ends the program; written once, before
/// the handlers are installed, and read only by them.
char g_socket_file[PATH_MAX];

extern "C" void removeSocketAndEnd(int sig) {
    ::unlink(g_socket_file);
    // This handler takes the place of the staged writer's: what is staged goes too.
    files::remove_staged_temporaries();
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

SingleInstance::~SingleInstance() {
    closeListener(true);
    if (spare_fd_ >= 0) ::close(spare_fd_);
}

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
    closeListener(false);
    const QByteArray file = QFile::encodeName(socket_path_);
    sockaddr_un address{};
    if (static_cast<std::size_t>(file.size()) >= sizeof address.sun_path) {
        error_ = QStringLiteral("the socket path is too long");
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, file.constData(), static_cast<std::size_t>(file.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A socket file left by a window that crashed (or lost) gives way; only the user may
    // connect to the new one.
    ::unlink(file.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(file.constData(), S_IRWXU) != 0 || ::listen(fd, kBacklog) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    struct stat info {};
    socket_inode_ = ::lstat(file.constData(), &info) == 0 ? info.st_ino : 0;
    listen_fd_ = fd;
    notifier_ = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptConnection);
    if (spare_fd_ < 0) spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return true;
}

void SingleInstance::closeListener(bool remove_file) {
    if (listen_fd_ < 0) return;
    if (remove_file && socketFileIsOurs()) ::unlink(QFile::encodeName(socket_path_).constData());
    delete notifier_;
    notifier_ = nullptr;
    ::close(listen_fd_);
    listen_fd_ = -1;
}

bool SingleInstance::socketFileIsOurs() const {
    struct stat info {};
    return ::lstat(QFile::encodeName(socket_path_).constData(), &info) == 0 &&
           S_ISSOCK(info.st_mode) && info.st_ino == socket_inode_;
}

void SingleInstance::listenAgainIfLost() {
    if (listen_fd_ >= 0 && socketFileIsOurs()) return;
    // Later starts would open a second window on this folder: take the socket back.
    if (listen()) error_.clear();
}

bool SingleInstance::isListening() const { return listen_fd_ >= 0; }

QString SingleInstance::runtimeDir() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void SingleInstance::removeSocketOnTermination() const {
    const QByteArray file = QFile::encodeName(socket_path_);
    if (listen_fd_ < 0 || file.size() >= static_cast<int>(sizeof g_socket_file)) return;
    std::memcpy(g_socket_file, file.constData(), static_cast<std::size_t>(file.size()) + 1);
    struct sigaction action {};
    action.sa_handler = removeSocketAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void SingleInstance::acceptConnection() {
    while (listen_fd_ >= 0) {
        if (open_connections_ >= kMaxConnections) {
            // A flood of idle connections must not use up the window's file descriptors:
            // the next waits in the socket's queue for one of these to end, as a start
            // waits for a window that is busy, instead of being closed unanswered.
            notifier_->setEnabled(false);
            return;
        }
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED) continue;
            if (error != EMFILE && error != ENFILE) return;  // EAGAIN: none is waiting
            // No descriptor left for it: the spare one takes the connection only to close
            // it, so that the socket keeps listening.
            if (spare_fd_ >= 0) {
                ::close(spare_fd_);
                const int dropped = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
                const int why = errno;
                if (dropped >= 0) ::close(dropped);
                spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (dropped >= 0) continue;
                if (why == EAGAIN || why == EWOULDBLOCK) return;
            }
            // Not even that: accepting pauses a moment rather than spin on the waiting one.
            notifier_->setEnabled(false);
            QTimer::singleShot(kStarvedMs, this, [this] {
                if (notifier_ != nullptr) notifier_->setEnabled(true);
            });
            return;
        }
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
            ::close(fd);
            delete socket;
            continue;
        }
        ++open_connections_;
        connect(socket, &QObject::destroyed, this, [this] {
            // A place is free: the connections waiting in the queue are taken again.
            if (open_connections_-- >= kMaxConnections && notifier_ != nullptr)
                notifier_->setEnabled(true);
        });
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
