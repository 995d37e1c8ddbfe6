// The save-file dialog the window's commands ask.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <optional>
#include <string>

namespace quavella {

/// The modal save-file dialog.
class SaveDialog {
public:
    virtual ~SaveDialog() = default;
    /// @return the chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> ask() = 0;
    /// Told when nothing could be saved under the chosen path, so that the next
    /// ask does not start in that folder again.
    virtual void save_failed() {}
};

}  // namespace quavella
