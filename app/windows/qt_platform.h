// Platform services over Qt: message boxes, the wait with its wait cursor, the
// save dialog and the browser. The main window creates these for itself.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include "app/commands/export_dialogs.h"
#include "app/commands/link_opener.h"
#include "app/commands/message_box.h"
#include "app/commands/save_dialog.h"
#include "app/commands/timing.h"
#include "app/commands/work_runner.h"

class QWidget;

namespace quavella {

/// Modal QMessageBox with one OK button.
class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    /// A plain message without an icon.
    void show(const std::string& text, const std::string& caption) override;
    /// The standard error box, with the error icon.
    void error(const std::string& text, const std::string& caption) override;

private:
    QWidget* parent_;
};

/// Waits with the wait cursor shown. The window's thread runs its event loop meanwhile
/// (painting, timers, queued calls) but leaves user input queued until the wait is over.
class QtSleeper : public Sleeper {
public:
    void sleep_ms(int ms) override;
};

/// Runs work on a thread of its own, joined before run() returns, while the window's
/// thread runs its event loop without user input, the wait cursor shown.
class QtWorkRunner : public WorkRunner {
public:
    void run(const std::function<void()>& work) override;
};

/// Qt's own save dialog with the "mid" filter; offers the last chosen name again
/// and never asks before overwriting (the copy refuses instead). It lists folders
/// from names and file types alone, never reading a file: a file whose reads
/// block (a pipe, a device, a kernel file under /proc) cannot hang it.
class QtSaveDialog : public SaveDialog {
public:
    explicit QtSaveDialog(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> ask() override;
    /// The next dialog starts in the current directory, not the failed folder.
    void save_failed() override;

private:
    QWidget* parent_;
    QString last_name_;
};

/// Opens addresses with the desktop's opener (xdg-open). When it cannot (no
/// browser, no opener), a message gives the address as selectable text.
class DesktopLinkOpener : public LinkOpener {
public:
    explicit DesktopLinkOpener(QWidget* parent) : parent_(parent) {}
    void open_url(const std::string& url) override;

private:
    QWidget* parent_;
};

/// The export questions as Qt dialogs: a save dialog that leaves the question of
/// replacing to confirm_replace, a Yes/No question, a warning box.
class QtExportDialogs : public ExportDialogs {
public:
    explicit QtExportDialogs(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> ask_file(const std::string& suggested,
                                        const std::string& filter) override;
    bool confirm_replace(const std::string& path) override;
    void tell_failure(const std::string& text) override;

private:
    QWidget* parent_;
    QString last_dir_;
};

/// Where a window's frame goes: centred in the screen's available area, but its
/// top-left corner never off that area (a window larger than the area starts at
/// its top-left).
QPoint centredPosition(const QSize& frame, const QRect& available);

/// Places a top-level window at centredPosition on its screen; windows call it
/// when first shown.
void centreOnScreen(QWidget& window);

}  // namespace quavella
