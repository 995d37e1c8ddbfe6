// The error box of a failed contract check.
#include "app/windows/assertion_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

namespace quavella {

namespace {

/// How long a thread whose check failed waits for the window's thread to show the box.
constexpr std::chrono::seconds kBoxTaken{10};

void show_box(const std::string& report) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    // The report may quote a file name or a lyric: plain text, never markup.
    QMessageBox box(QMessageBox::Critical, program, QString::fromStdString(report),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void print(const std::string& report) {
    std::fprintf(stderr, "%s\n", report.c_str());
    std::fflush(stderr);
}

}  // namespace

void show_assertion_box(const std::string& report) {
    QCoreApplication* const app = QCoreApplication::instance();
    if (app == nullptr) {
        print(report);
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        show_box(report);
        return;
    }
    // Widgets live on the window's thread only: the box is shown there, and this thread
    // waits until the user has closed it (the program then ends).
    struct Shown {
        std::mutex mutex;
        std::condition_variable changed;
        bool taken = false;
        bool closed = false;
    };
    const auto shown = std::make_shared<Shown>();
    QMetaObject::invokeMethod(
        app,
        [shown, report] {
            {
                const std::lock_guard lock(shown->mutex);
                shown->taken = true;
            }
            shown->changed.notify_all();
            show_box(report);
            {
                const std::lock_guard lock(shown->mutex);
                shown->closed = true;
            }
            shown->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shown->mutex);
    if (!shown->changed.wait_for(lock, kBoxTaken, [&] { return shown->taken; })) {
        print(report);
        return;
    }
    shown->changed.wait(lock, [&] { return shown->closed; });
}

}  // namespace quavella
