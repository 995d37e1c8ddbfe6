// Qt adapters of the platform services.
#include "app/qt_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWidget>
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
    // One filter labelled "mid" that hides nothing: Qt would take a bare "mid" as a
    // file-name pattern and list only files named exactly "mid".
    const QString name =
        QFileDialog::getSaveFileName(parent_, QString(), last_name_, QStringLiteral("mid (*)"),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) {
        return std::nullopt;
    }
    last_name_ = name;
    return name.toStdString();
}

void DesktopLinkOpener::open_url(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

std::optional<std::string> QtExportDialogs::ask_file(const std::string& suggested,
                                                     const std::string& filter) {
    const QString start = last_dir_.isEmpty()
                              ? QString::fromStdString(suggested)
                              : last_dir_ + QLatin1Char('/') + QString::fromStdString(suggested);
    const QString name = QFileDialog::getSaveFileName(parent_, QStringLiteral("导出乐谱"), start,
                                                      QString::fromStdString(filter), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return std::nullopt;
    last_dir_ = QFileInfo(name).absolutePath();
    return name.toStdString();
}

bool QtExportDialogs::confirm_replace(const std::string& path) {
    const auto answer = QMessageBox::question(
        parent_, QStringLiteral("导出乐谱"),
        QStringLiteral("%1 已存在。要替换它吗？").arg(QString::fromStdString(path)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void QtExportDialogs::tell_failure(const std::string& text) {
    QMessageBox::warning(parent_, QStringLiteral("导出乐谱"), QString::fromStdString(text));
}

void centreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.geometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

}  // namespace quavella
