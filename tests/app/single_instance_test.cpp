// One window per working folder: a later start brings the first forward, --new-instance
// runs beside it, different folders do not meet, a crashed window's socket is replaced,
// and a folder where no socket can be made leaves the window running alone. Any process
// of the user may connect: floods, endless lines, idle connections and a lost socket
// leave the window answering, and a window that cannot answer is not claimed reached.
#include "app/desktop/single_instance.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

using quavella::SingleInstance;
using Role = SingleInstance::Role;

namespace {

/// The first window, answering on a thread of its own as the real window does on its
/// event loop, while the test thread plays the later starts and the neighbours.
class HostedFirst {
public:
    HostedFirst(const QString& dir, const QString& key) {
        thread_.start();
        instance_ = new SingleInstance(dir, key);
        instance_->moveToThread(&thread_);
        QObject::connect(
            instance_, &SingleInstance::activationRequested, instance_, [this] { ++raised_; },
            Qt::DirectConnection);
        run([this] { role_ = instance_->start(true); });
    }
    ~HostedFirst() {
        run([this] { delete instance_; });
        thread_.quit();
        thread_.wait();
    }

    /// Runs `f` on the window's thread and waits for it.
    template <typename F>
    void run(F f) {
        QMetaObject::invokeMethod(instance_, f, Qt::BlockingQueuedConnection);
    }
    /// Keeps the window's thread busy for `ms` (as the wait after a composition does).
    void busy(int ms) {
        QMetaObject::invokeMethod(
            instance_, [ms] { QThread::msleep(ms); }, Qt::QueuedConnection);
    }

    Role role() const { return role_; }
    int raised() const { return raised_; }
    int connections() {
        int n = 0;
        run([&] { n = instance_->openConnections(); });
        return n;
    }
    bool listening() {
        bool yes = false;
        run([&] { yes = instance_->isListening(); });
        return yes;
    }
    SingleInstance& instance() { return *instance_; }

private:
    QThread thread_;
    SingleInstance* instance_ = nullptr;
    Role role_ = Role::alone;
    std::atomic<int> raised_{0};
};

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir_.isValid()); }

    void laterStartBringsTheFirstForward() {
        HostedFirst first(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
        QCOMPARE(first.role(), Role::first);
        QVERIFY(QFileInfo::exists(first.instance().socketPath()));

        // The first's thread runs no events for a while when the later start asks (as
        // in the wait after a composition): the request waits for it, and so does the start.
        first.busy(1500);
        {
            SingleInstance later(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
            QCOMPARE(later.start(true), Role::forwarded);
        }
        QCOMPARE(first.raised(), 1);

        SingleInstance again(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
        QCOMPARE(again.start(true), Role::forwarded);
        QCOMPARE(first.raised(), 2);
    }

    void stoppedFirstIsNotClaimedReached() {
        // The first never runs its events while the later start waits: a stopped window.
        SingleInstance first(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(first.start(true), Role::first);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::unanswered);
        QVERIFY(later.lastError().contains(QStringLiteral("does not answer")));
    }

    // What neighbours of the same user may send: each row leaves the window answering.
    void hostileRequests_data() {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("raisedAtMost");
        QTest::newRow("a megabyte without a newline") << QByteArray(4096, 'x') << 256 << 0;
        QTest::newRow("a hundred thousand requests on one connection")
            << QByteArray("activate\n") << 100000 << 1;
        QTest::newRow("an overlong line") << QByteArray(200, 'a') + '\n' << 1 << 0;
        QTest::newRow("nothing at all") << QByteArray() << 0 << 0;
    }
    void hostileRequests() {
        QFETCH(QByteArray, chunk);
        QFETCH(int, repeat);
        QFETCH(int, raisedAtMost);
        HostedFirst first(dir_.path(), QStringLiteral("/w"));
        QLocalSocket neighbour;
        neighbour.connectToServer(first.instance().socketPath());
        QVERIFY(neighbour.waitForConnected(1000));
        for (int i = 0; i < repeat && neighbour.state() == QLocalSocket::ConnectedState; ++i) {
            neighbour.write(chunk);
            neighbour.waitForBytesWritten(100);
        }
        // Cut off once the request is read, too long, or late (two seconds at most).
        QTRY_COMPARE_WITH_TIMEOUT(neighbour.state(), QLocalSocket::UnconnectedState,
                                  SingleInstance::kRequestMs + 3000);
        QVERIFY(first.raised() <= raisedAtMost);
        QTRY_COMPARE(first.connections(), 0);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
    }

    void floodOfIdleConnections() {
        // More connections than a process may have files by default: the window serves a
        // few, the socket's queue holds some more and refuses the rest, so the window never
        // runs out of file descriptors.
        rlimit files{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &files), 0);
        const rlimit saved = files;
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &files), 0);
        {
            HostedFirst first(dir_.path(), QStringLiteral("/w"));
            const QByteArray path = QFile::encodeName(first.instance().socketPath());
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
            std::vector<int> flood;
            for (int i = 0; i < 1100; ++i) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                QVERIFY(fd >= 0);
                flood.push_back(fd);
                (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            }
            QTest::qWait(200);
            QVERIFY(first.connections() <= SingleInstance::kMaxConnections);
            QVERIFY(first.listening());
            for (const int fd : flood) ::close(fd);
            SingleInstance later(dir_.path(), QStringLiteral("/w"));
            QCOMPARE(later.start(true), Role::forwarded);
        }
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    }

    void aStartWaitsItsTurnBehindIdleConnections() {
        // As many idle connections as the window serves at once: a start waits in the
        // socket's queue until they are closed as late (two seconds), and is answered
        // within the five seconds it gives a busy window; it is not told "does not answer".
        HostedFirst first(dir_.path(), QStringLiteral("/w"));
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < SingleInstance::kMaxConnections; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(first.instance().socketPath());
            QVERIFY(idle.back()->waitForConnected(1000));
        }
        QTRY_COMPARE(first.connections(), SingleInstance::kMaxConnections);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
        QCOMPARE(first.raised(), 1);
    }

    void floodUnderALowFileLimitKeepsTheSocket() {
        // A window with few descriptors to spare (ulimit -n) meets a flood of connections:
        // an accept then fails for want of a descriptor. The window drops what it cannot
        // take and keeps listening; its socket file is never removed, so a later start
        // reaches it instead of opening a second window on the folder.
        HostedFirst first(dir_.path(), QStringLiteral("/w"));
        const QByteArray path = QFile::encodeName(first.instance().socketPath());
        rlimit files{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &files), 0);
        const rlimit saved = files;
        const auto open_descriptors = [] {
            int n = 0;
            for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
                (void)entry;
                ++n;
            }
            return n;
        };
        int go[2];
        QCOMPARE(::pipe(go), 0);
        const pid_t flooder = ::fork();
        QVERIFY(flooder >= 0);
        if (flooder == 0) {
            // No Qt here: plain connections, held until the parent has looked.
            ::close(go[1]);
            char byte = 0;
            if (::read(go[0], &byte, 1) != 1) ::_exit(1);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
            for (int i = 0; i < 200; ++i) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
                if (fd < 0) break;
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
                    ::close(fd);
            }
            (void)!::read(go[0], &byte, 1);  // until the parent closes its end
            ::_exit(0);
        }
        ::close(go[0]);
        files.rlim_cur = static_cast<rlim_t>(open_descriptors() + 3);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &files), 0);
        QCOMPARE(::write(go[1], "g", 1), 1);
        QTest::qWait(1000);  // shorter than the watchdog's period: nothing listens again
        struct stat info {};
        const bool kept = ::lstat(path.constData(), &info) == 0 && S_ISSOCK(info.st_mode);
        const bool listening = first.listening();
        ::close(go[1]);
        int status = 0;
        ::waitpid(flooder, &status, 0);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(kept);
        QVERIFY(listening);
        QTRY_COMPARE(first.connections(), 0);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
    }

    void lostSocketIsTakenBack() {
        // A cleaner of the runtime folder removes the socket file: the window makes it anew.
        HostedFirst first(dir_.path(), QStringLiteral("/w"));
        const QString path = first.instance().socketPath();
        QVERIFY(QFile::remove(path));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).exists(), 5000);
        QVERIFY(first.listening());
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
        QCOMPARE(first.raised(), 1);
    }

    void newInstanceRunsBesideTheFirst() {
        SingleInstance first(dir_.path(), QStringLiteral("/w"));
        QSignalSpy raised(&first, &SingleInstance::activationRequested);
        QCOMPARE(first.start(true), Role::first);
        SingleInstance second(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(second.start(false), Role::alone);
        QVERIFY(second.lastError().isEmpty());
        QTest::qWait(50);
        QCOMPARE(raised.count(), 0);
    }

    void firstGoneNextStartIsFirst() {
        {
            SingleInstance first(dir_.path(), QStringLiteral("/w"));
            QCOMPARE(first.start(true), Role::first);
        }
        SingleInstance next(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(next.start(true), Role::first);
    }

    void otherFoldersDoNotMeet() {
        SingleInstance a(dir_.path(), QStringLiteral("/home/ann/a"));
        SingleInstance b(dir_.path(), QStringLiteral("/home/ann/b"));
        QCOMPARE(a.start(true), Role::first);
        QCOMPARE(b.start(true), Role::first);
        QVERIFY(a.socketPath() != b.socketPath());
    }

    void socketOfACrashedWindowIsReplaced() {
        const SingleInstance crashed(dir_.path(), QStringLiteral("/w"));
        // What a killed window leaves: a bound socket file that nobody listens on.
        const QByteArray path = crashed.socketPath().toLocal8Bit();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(crashed.socketPath()));

        // A window starting now replaces it, and later starts reach that window.
        HostedFirst replacing(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(replacing.role(), Role::first);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
        QCOMPARE(replacing.raised(), 1);
    }

    void noSocketFolderRunsAlone() {
        SingleInstance lone(dir_.filePath(QStringLiteral("missing/folder")), QStringLiteral("/w"));
        QCOMPARE(lone.start(true), Role::alone);
        QVERIFY(!lone.lastError().isEmpty());

        // No runtime folder at all: nothing is made in the current directory.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_.path()));
        SingleInstance unplaced(QString(), QStringLiteral("/w"));
        QCOMPARE(unplaced.start(true), Role::alone);
        QVERIFY(!unplaced.lastError().isEmpty());
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
