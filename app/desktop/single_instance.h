// One window per working folder: a later start on the same folder asks the open window to
// come to the front and ends, so two windows never write over each other's working files.
// A local socket in the user's private runtime folder carries the request; a lock file
// beside it keeps two simultaneous starts from both becoming the first.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace quavella {

/// The rendezvous of the windows open on one working folder.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        first,      ///< No window was open on the key: this one answers later starts.
        forwarded,  ///< The open window was asked to come to the front; this start ends.
        alone,      ///< Runs without answering later starts (see lastError() when unexpected).
    };

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

signals:
    /// A later start asked for the window to come to the front.
    void activationRequested();

private:
    void acceptConnection();
    void readRequest(QLocalSocket* socket);

    QString socket_path_;
    QString lock_path_;
    QString error_;
    bool has_dir_;
    QLocalServer* server_ = nullptr;
};

}  // namespace quavella
