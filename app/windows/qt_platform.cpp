// Qt adapters of the platform services.
#include "app/windows/qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

namespace quavella {

namespace {

/// Shows a box and returns the button pressed. Its text quotes file names, lyrics and
/// history rows: it is plain text, never markup (Qt would read a first line holding a
/// tag as rich text).
QMessageBox::StandardButton ask_box(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton preferred = QMessageBox::NoButton) {
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    if (preferred != QMessageBox::NoButton) box.setDefaultButton(preferred);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void show_box(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
              const std::string& caption) {
    ask_box(parent, icon, QString::fromStdString(caption), QString::fromStdString(text));
}

/// Types and icons of a folder's entries from their names and file types alone.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    QIcon icon(const QFileInfo& info) const override {
        return QFileIconProvider::icon(info.isDir() ? QFileIconProvider::Folder
                                                    : QFileIconProvider::File);
    }
    using QFileIconProvider::icon;
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) {
            return QStringLiteral("Folder");
        }
        return mimes_.mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
    }

private:
    QMimeDatabase mimes_;
};

/// The desktop could not open the address: say so, with the address selectable.
void showLinkFailure(QWidget* parent, const QString& address) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("提示"),
                                QStringLiteral("无法打开浏览器。请在浏览器中访问：\n") + address,
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("linkFailure"));
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

/// Asks for a file name to save under with Qt's own dialog, which never asks
/// before overwriting.
/// @return the chosen path; empty when the user cancelled
QString askSaveName(QWidget* parent, const QString& caption, const QString& folder,
                    const QString& name, const QString& filter) {
    QFileDialog dialog(parent, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Qt's own dialog, so that its folder listing goes through the icon provider below.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::DontUseCustomDirectoryIcons);
    // Types and icons from names alone: the default provider reads a file's first
    // bytes to guess its type, and a read of /proc/kmsg never returns.
    NameOnlyIconProvider icons;
    dialog.setIconProvider(&icons);
    dialog.setNameFilter(filter);
    dialog.setDirectory(folder);
    if (!name.isEmpty()) {
        dialog.selectFile(name);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

void QtMessageBox::show(const std::string& text, const std::string& caption) {
    show_box(parent_, QMessageBox::NoIcon, text, caption);
}

void QtMessageBox::error(const std::string& text, const std::string& caption) {
    show_box(parent_, QMessageBox::Critical, text, caption);
}

void QtSleeper::sleep_ms(int ms) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The event loop runs until the time has passed: the window paints and its timers and
    // queued calls run, but clicks and keys wait in the queue until after the wait, as they
    // would behind a blocking one.
    using Steady = std::chrono::steady_clock;
    const Steady::time_point until = Steady::now() + std::chrono::milliseconds(ms);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    bool timed_out = false;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timed_out = true;
        loop.quit();
    });
    for (Steady::time_point now = Steady::now(); now < until; now = Steady::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        timed_out = false;
        timer.start(static_cast<int>(left.count()));
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!timed_out) {
            // The program is ending (its event loops were told to): no loop runs any more,
            // and the rest of the wait is a plain one.
            timer.stop();
            std::this_thread::sleep_until(until);
        }
    }
    QApplication::restoreOverrideCursor();
}

void QtWorkRunner::run(const std::function<void()>& work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    {
        // Joined when this block ends, before the loop it tells is gone.
        const std::jthread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // A loop ended early (the program is ending) leaves the rest to the join.
        if (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    QApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

std::optional<std::string> QtSaveDialog::ask() {
    // Always a folder of our choosing: the one of the last name chosen, else the
    // current directory. Qt's own memory would reopen wherever the user last went,
    // even a folder where the dialog was cancelled or saving failed.
    const QFileInfo last(last_name_);
    // One filter labelled "mid" that hides nothing: Qt would take a bare "mid" as a
    // file-name pattern and list only files named exactly "mid".
    const QString name = askSaveName(
        parent_, QString(), last.isAbsolute() ? last.absolutePath() : QDir::currentPath(),
        last_name_.isEmpty() ? QString() : last.fileName(), QStringLiteral("mid (*)"));
    if (name.isEmpty()) {
        return std::nullopt;
    }
    last_name_ = name;
    return name.toStdString();
}

void QtSaveDialog::save_failed() {
    // Keep the name the user typed, not its folder.
    last_name_ = QFileInfo(last_name_).fileName();
}

void DesktopLinkOpener::open_url(const std::string& url) {
    const QString address = QString::fromStdString(url);
    // xdg-open's exit status says whether the desktop could open the address. It
    // runs in the background of a shell, so a browser it starts in the foreground
    // outlives this process object when the program ends first.
    auto* opener = new QProcess(parent_);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    const QPointer<QWidget> parent(parent_);
    auto report = [opener, parent, address](bool failed) {
        opener->deleteLater();
        if (failed) {
            showLinkFailure(parent, address);
        }
    };
    QObject::connect(opener, &QProcess::finished, opener,
                     [report](int code, QProcess::ExitStatus status) {
                         report(status != QProcess::NormalExit || code != 0);
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [report](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) report(true);
                     });
    opener->start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("xdg-open \"$1\" & wait $!"),
                   QStringLiteral("sh"), address});
}

QPoint centredPosition(const QSize& frame, const QRect& available) {
    QRect placed(QPoint(0, 0), frame);
    placed.moveCenter(available.center());
    return {std::max(placed.left(), available.left()), std::max(placed.top(), available.top())};
}

std::optional<std::string> QtExportDialogs::ask_file(const std::string& suggested,
                                                     const std::string& filter) {
    const QString name = askSaveName(
        parent_, QStringLiteral("导出乐谱"), last_dir_.isEmpty() ? QDir::currentPath() : last_dir_,
        QString::fromStdString(suggested), QString::fromStdString(filter));
    if (name.isEmpty()) return std::nullopt;
    last_dir_ = QFileInfo(name).absolutePath();
    return name.toStdString();
}

bool QtExportDialogs::confirm_replace(const std::string& path) {
    const auto answer =
        ask_box(parent_, QMessageBox::Question, QStringLiteral("导出乐谱"),
                QStringLiteral("%1 已存在。要替换它吗？").arg(QString::fromStdString(path)),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void QtExportDialogs::tell_failure(const std::string& text) {
    ask_box(parent_, QMessageBox::Warning, QStringLiteral("导出乐谱"),
            QString::fromStdString(text));
}

void centreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        window.move(centredPosition(window.frameGeometry().size(), screen->availableGeometry()));
    }
}

}  // namespace quavella
