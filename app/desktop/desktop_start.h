// What the window program does before its window opens: reads its command line, moves
// to the working folder when started from the desktop menu, and meets a window already
// open on that folder. Used by main.cpp alone.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

class QWidget;

namespace quavella {

class SingleInstance;

/// The program's start as a desktop application.
class DesktopStart {
public:
    /// Answers --help and --version, which need no display: call before QApplication.
    /// @return the exit status when the program ends here.
    static std::optional<int> answerWithoutWindow(int argc, char** argv);

    /// Reads the arguments (QApplication has taken out its own), enters the working
    /// folder and asks an open window to come forward. Needs the QApplication.
    DesktopStart(int argc, char** argv);
    ~DesktopStart();

    /// The exit status when the program ends before opening a window: a bad command
    /// line, or an open window brought to the front.
    std::optional<int> exitStatus() const { return exit_status_; }

    /// Brings `window` to the front whenever a later start asks for it.
    void raiseOnRequest(QWidget& window);

    /// The working folder a start from the menu entered; nothing for a start elsewhere.
    const std::optional<std::filesystem::path>& menuWorkDir() const { return menu_work_dir_; }

private:
    std::optional<int> exit_status_;
    std::optional<std::filesystem::path> menu_work_dir_;
    std::unique_ptr<SingleInstance> instance_;
};

}  // namespace quavella
