// The program's entry: the application object, the desktop start (command line, working
// folder, one window per folder), the main window with its FluidSynth player, the message
// loop, and the last-resort error box.
#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/desktop/desktop_start.h"
#include "app/player/fluid_player.h"
#include "app/windows/assertion_box.h"
#include "app/windows/main_window.h"
#include "app/windows/qt_translations.h"
#include "base/owned_threads.h"
#include "base/qassert.h"

namespace {

/// How long the end of the program waits for work on threads of its own.
constexpr std::chrono::milliseconds kThreadsEndMs{3000};

void showError(const QString& text) {
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), text);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const auto status = quavella::DesktopStart::answerWithoutWindow(argc, argv)) {
        return *status;
    }
    QApplication app(argc, argv);
    // Message box buttons, file dialogs and their filters read in Chinese, as the window does.
    quavella::install_qt_translations(app);
    quavella::set_assert_handler(quavella::show_assertion_box);
    // Before the window reads the current directory.
    quavella::DesktopStart start(argc, argv);
    if (const auto status = start.exitStatus()) {
        return *status;
    }
    try {
        quavella::WindowServices services;
        // The soundfont loads in the background while the window comes up.
        auto player = std::make_unique<quavella::FluidPlayer>();
        player->preload();
        services.player = std::move(player);
        if (const auto& dir = start.menuWorkDir()) services.own_folders.push_back(*dir);
        quavella::TForm1 form1(std::move(services));
        form1.show();
        start.raiseOnRequest(form1);
        QApplication::exec();
    } catch (const std::exception& error) {
        showError(QString::fromUtf8(error.what()));
    } catch (...) {
        showError(QString());
    }
    // The work still running on threads of its own (a soundfont still loading, an export
    // told to stop) ends within moments; work stuck in the system (a soundfont that is a
    // pipe nobody writes) is left to the end of the process, without running the program's
    // destructors under it.
    if (!quavella::join_owned_threads(kThreadsEndMs)) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
