// The platform services of the main window, and the one place where the real
// adapters are wired in: the window fills what a caller left empty, so the
// program passes only its player and tests pass fakes for the rest.
#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/commands/confirmer.h"
#include "app/commands/export_dialogs.h"
#include "app/commands/file_copier.h"
#include "app/commands/link_opener.h"
#include "app/commands/media_player.h"
#include "app/commands/message_box.h"
#include "app/commands/save_dialog.h"
#include "app/commands/timing.h"
#include "app/commands/work_runner.h"

namespace quavella {

/// The platform services of the main window. Empty members get the real
/// adapters; the player must be given (FluidSynth stays out of the window's
/// library, so its tests build without it).
struct WindowServices {
    std::unique_ptr<MediaPlayer> player;
    std::unique_ptr<MessageBox> box;
    std::unique_ptr<FileCopier> copier;
    std::unique_ptr<Sleeper> sleeper;
    /// Runs best of N off the window's thread; empty: a thread of its own each time.
    std::unique_ptr<WorkRunner> runner;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<SaveDialog> save_dialog;
    std::unique_ptr<LinkOpener> link_opener;
    /// The score window's export questions; empty: Qt dialogs over the score window.
    std::unique_ptr<ExportDialogs> export_dialogs;
    /// Asks before a history entry is deleted; empty: a Qt question box.
    std::unique_ptr<Confirmer> confirmer;
    /// Reads the current directory at start-up; empty: the real one.
    std::function<std::optional<std::string>()> current_dir;
    /// Folders of the user's own files besides the history's (the working folder of a
    /// start from the menu): one that other users can write in is told once, with the
    /// history's, as the command line tells it.
    std::vector<std::filesystem::path> own_folders;
};

/// Gives every empty service its real adapter: Qt message boxes, save dialog and
/// link opener parented to `window`, the wait with a wait cursor, file copies,
/// the clock and the current directory from the standard library.
/// @throw std::invalid_argument when no player was given
void add_real_adapters(WindowServices& services, QWidget& window);

}  // namespace quavella
