// The desktop start: command line, working folder, one window per folder.
#include "app/desktop/desktop_start.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QWidget>
#include <iostream>
#include <string>
#include <vector>

#include "app/desktop/launch_options.h"
#include "app/desktop/single_instance.h"
#include "app/desktop/work_dir.h"
#include "base/terminal_text.h"

namespace quavella {

namespace {

/// The application's id: the name of its menu entry, icon and metadata files.
constexpr char kAppId[] = "org.example.quavella";

std::vector<std::string> arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

/// Enters the folder for the working files of a start from the menu. Where that
/// fails, the window stays in the current directory, as a start from a terminal does.
/// @return the folder entered
std::optional<std::filesystem::path> enterMenuWorkDir() {
    const auto dir = menu_work_dir(process_env);
    if (!dir) {
        std::cerr << "quavella: no home folder is set; working files stay in the current "
                     "directory\n";
        return std::nullopt;
    }
    if (const auto failure = enter_work_dir(*dir)) {
        std::cerr << "quavella: " << terminal_text(*failure)
                  << "; working files stay in the current directory\n";
        return std::nullopt;
    }
    return dir;
}

}  // namespace

std::optional<int> DesktopStart::answerWithoutWindow(int argc, char** argv) {
    const LaunchOptions options = parse_launch_options(arguments(argc, argv));
    if (options.help) {
        std::cout << launch_usage();
        return kLaunchExitOk;
    }
    if (options.version) {
        std::cout << "quavella " << QUAVELLA_VERSION << "\n";
        return kLaunchExitOk;
    }
    return std::nullopt;
}

DesktopStart::DesktopStart(int argc, char** argv) {
    const LaunchOptions options = parse_launch_options(arguments(argc, argv));
    if (!options.error.empty()) {
        std::cerr << "quavella: " << terminal_text(options.error) << "; try --help\n";
        exit_status_ = kLaunchExitUsage;
        return;
    }
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kAppId)));

    if (options.from_menu) {
        menu_work_dir_ = enterMenuWorkDir();
    }
    instance_ = std::make_unique<SingleInstance>(SingleInstance::runtimeDir(), QDir::currentPath());
    switch (instance_->start(!options.new_instance)) {
        case SingleInstance::Role::forwarded:
            exit_status_ = kLaunchExitOk;
            break;
        case SingleInstance::Role::unanswered:
            std::cerr << "quavella: " << instance_->lastError().toStdString()
                      << "; start with --new-instance to open another window there\n";
            exit_status_ = kLaunchExitNoAnswer;
            break;
        case SingleInstance::Role::alone:
            if (!instance_->lastError().isEmpty()) {
                std::cerr << "quavella: later starts cannot reach this window: "
                          << instance_->lastError().toStdString() << "\n";
            }
            break;
        case SingleInstance::Role::first:
            // Ended by a signal, the window leaves no socket behind for later starts.
            instance_->removeSocketOnTermination();
            break;
    }
}

DesktopStart::~DesktopStart() = default;

void DesktopStart::raiseOnRequest(QWidget& window) {
    if (!instance_) {
        return;
    }
    QObject::connect(instance_.get(), &SingleInstance::activationRequested, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
}

}  // namespace quavella
