// One window per working folder: a later start brings the first forward, --new-instance
// runs beside it, different folders do not meet, a crashed window's socket is replaced,
// and a folder where no socket can be made leaves the window running alone.
#include "app/desktop/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using quavella::SingleInstance;
using Role = SingleInstance::Role;

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir_.isValid()); }

    void laterStartBringsTheFirstForward() {
        SingleInstance first(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
        QSignalSpy raised(&first, &SingleInstance::activationRequested);
        QCOMPARE(first.start(true), Role::first);
        QVERIFY(QFileInfo::exists(first.socketPath()));

        // The first's thread runs no events while the later start asks (as when it
        // sits in the wait after a composition): the request waits for it.
        {
            SingleInstance later(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
            QCOMPARE(later.start(true), Role::forwarded);
        }
        QTRY_COMPARE(raised.count(), 1);

        SingleInstance again(dir_.path(), QStringLiteral("/home/ann/Music/Quavella"));
        QCOMPARE(again.start(true), Role::forwarded);
        QTRY_COMPARE(raised.count(), 2);
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
        SingleInstance first(dir_.path(), QStringLiteral("/w"));
        // What a killed window leaves: a bound socket file that nobody listens on.
        const QByteArray path = first.socketPath().toLocal8Bit();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(first.socketPath()));

        QSignalSpy raised(&first, &SingleInstance::activationRequested);
        QCOMPARE(first.start(true), Role::first);
        SingleInstance later(dir_.path(), QStringLiteral("/w"));
        QCOMPARE(later.start(true), Role::forwarded);
        QTRY_COMPARE(raised.count(), 1);
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
