// One window per working folder: a later start on the same folder asks the open window to
// come to the front and ends, so two windows never write over each other's working files.
// A local socket in the user's private runtime folder carries the request; a lock file
// beside it keeps two simultaneous starts from both becoming the first. Any process of
// the user can connect, so the window reads one short line per connection, with a
// deadline, from a few connections at a time, and listens again if its socket is lost.
// The window listens on a socket of its own making: a connection it cannot take (no file
// descriptor left) is dropped, and the socket stays, where QLocalServer would close it
// and remove its file.
#pragma once

#include <QObject>
#include <QString>

class QLocalSocket;
class QSocketNotifier;
class QTimer;

namespace quavella {

/// The rendezvous of the windows open on one working folder.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        first,       ///< No window was open on the key: this one answers later starts.
        forwarded,   ///< The open window came to the front (it said so); this start ends.
        unanswered,  ///< A window holds the socket but did not answer in time (stopped,
                     ///< hung): this start must not claim it forwarded.
        alone,       ///< Runs without answering later starts (see lastError() when unexpected).
    };

    /// Most connections served at once; more wait in the socket's queue for their turn.
    static constexpr int kMaxConnections = 8;
    /// Longest request line, newline included; a longer one closes the connection.
    static constexpr int kMaxRequest = 64;
    /// How long a connection may take to send its request.
    static constexpr int kRequestMs = 2000;
    /// How long a later start waits for the open window's answer. Longer than the
    /// two-second wait after a composition, during which the window reads nothing.
    static constexpr int kAnswerMs = 5000;

    /// @param dir a private folder of the user that holds the socket and its lock; when
    ///        empty, start() runs alone
    /// @param key what makes two starts the same: the working folder
    SingleInstance(const QString& dir, const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// With `forward`, asks a window open on the same key to come to the front.
    /// When no window answers, listens for later starts (a socket left by a window
    /// that crashed is replaced).
    Role start(bool forward);

    /// Where the socket lives.
    QString socketPath() const { return socket_path_; }
    /// Why the socket could not be set up; empty when it was.
    QString lastError() const { return error_; }

    /// The user's private runtime folder ($XDG_RUNTIME_DIR, or Qt's fallback).
    static QString runtimeDir();

    /// Connections being served now.
    int openConnections() const { return open_connections_; }
    /// Whether the socket is listening.
    bool isListening() const;

    /// Removes the listening socket's file when the program is ended by SIGTERM, SIGINT
    /// or SIGHUP, then ends it as the signal would have. For the window's socket only.
    void removeSocketOnTermination() const;

signals:
    /// A later start asked for the window to come to the front.
    void activationRequested();

private:
    bool listen();
    /// Stops listening; with `remove_file`, also removes the socket file if it is still ours.
    void closeListener(bool remove_file);
    /// Whether the socket file is still the one this window listens on.
    bool socketFileIsOurs() const;
    void acceptConnection();
    void readRequest(QLocalSocket* socket);
    void listenAgainIfLost();

    QString socket_path_;
    QString lock_path_;
    QString error_;
    bool has_dir_;
    int listen_fd_ = -1;
    int spare_fd_ = -1;  ///< given up to take a connection when no descriptor is left
    QSocketNotifier* notifier_ = nullptr;
    unsigned long long socket_inode_ = 0;
    QTimer* watchdog_ = nullptr;
    int open_connections_ = 0;
};

}  // namespace quavella
