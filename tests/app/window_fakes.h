// The main window's services as fakes, for the Qt tests that drive the real window.
#pragma once

#include <memory>

#include "app/windows/window_services.h"
#include "app_fakes.h"

namespace quavella::test {

/// The fakes a window test looks at once the services belong to the window.
struct WindowFakes {
    FakePlayer* player = nullptr;
    FakeSaveDialog* save_dialog = nullptr;
    FakeExportDialogs* export_dialogs = nullptr;
};

/// Every service of the main window as a fake that writes into `log`; the clock
/// reads 4242 and slow work runs in place. The history's confirmer is left to the window (a
/// question box).
inline WindowServices fake_window_services(EventLog& log, WindowFakes& fakes) {
    WindowServices services;
    auto player = std::make_unique<FakePlayer>(log);
    auto save_dialog = std::make_unique<FakeSaveDialog>();
    auto export_dialogs = std::make_unique<FakeExportDialogs>(log);
    fakes = {player.get(), save_dialog.get(), export_dialogs.get()};
    services.player = std::move(player);
    services.save_dialog = std::move(save_dialog);
    services.export_dialogs = std::move(export_dialogs);
    services.box = std::make_unique<FakeBox>(log);
    services.copier = std::make_unique<RecordingCopier>(log);
    services.sleeper = std::make_unique<FakeSleeper>(log);
    services.runner = std::make_unique<InPlaceRunner>();
    services.clock = std::make_unique<FakeClock>(4242);
    services.link_opener = std::make_unique<FakeLinkOpener>(log);
    return services;
}

}  // namespace quavella::test
