// The real adapters of the window's services.
#include "app/windows/window_services.h"

#include <stdexcept>

#include "app/commands/std_platform.h"
#include "app/windows/qt_platform.h"

namespace quavella {

void add_real_adapters(WindowServices& services, QWidget& window) {
    if (!services.player) {
        throw std::invalid_argument("TForm1 needs a media player");
    }
    if (!services.box) services.box = std::make_unique<QtMessageBox>(&window);
    if (!services.copier) services.copier = std::make_unique<FsFileCopier>();
    if (!services.sleeper) services.sleeper = std::make_unique<QtSleeper>();
    if (!services.runner) services.runner = std::make_unique<QtWorkRunner>();
    if (!services.clock) services.clock = std::make_unique<SystemClock>();
    if (!services.save_dialog) services.save_dialog = std::make_unique<QtSaveDialog>(&window);
    if (!services.link_opener) services.link_opener = std::make_unique<DesktopLinkOpener>(&window);
    if (!services.current_dir) services.current_dir = read_current_dir;
}

}  // namespace quavella
