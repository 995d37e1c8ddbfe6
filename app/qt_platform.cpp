// Qt adapters of the platform services.
#include "app/qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <thread>

namespace quavella {

namespace {

void show_box(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
              const std::string& caption) {
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.exec();
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
    auto* box = new QMessageBox(QMessageBox::Information, QCoreApplication::applicationName(),
                                QStringLiteral("无法打开浏览器。请在浏览器中访问：\n") + address,
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("linkFailure"));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
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
    // Let the cursor change reach the screen; user input waits until after the sleep.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    QApplication::restoreOverrideCursor();
}

std::optional<std::string> QtSaveDialog::ask() {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Qt's own dialog, so that its folder listing goes through the icon provider below.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::DontUseCustomDirectoryIcons);
    // Types and icons from names alone: the default provider reads a file's first
    // bytes to guess its type, and a read of /proc/kmsg never returns.
    NameOnlyIconProvider icons;
    dialog.setIconProvider(&icons);
    // One filter labelled "mid" that hides nothing: Qt would take a bare "mid" as a
    // file-name pattern and list only files named exactly "mid".
    dialog.setNameFilter(QStringLiteral("mid (*)"));
    // Always a folder of our choosing: the one of the last name chosen, else the
    // current directory. Qt's own memory would reopen wherever the user last went,
    // even a folder where the dialog was cancelled or saving failed.
    const QFileInfo last(last_name_);
    dialog.setDirectory(last.isAbsolute() ? last.absolutePath() : QDir::currentPath());
    if (!last_name_.isEmpty()) {
        dialog.selectFile(last.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString name = dialog.selectedFiles().constFirst();
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

void centreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        window.move(centredPosition(window.frameGeometry().size(), screen->availableGeometry()));
    }
}

}  // namespace quavella
