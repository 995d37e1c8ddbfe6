// The questions and reports of an export.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <optional>
#include <string>

namespace quavella {

/// The questions and reports of an export: where to write, whether an existing
/// file may be replaced, and what went wrong. Texts are UTF-8.
class ExportDialogs {
public:
    virtual ~ExportDialogs() = default;
    /// Asks for the file to write.
    /// @param suggested a proposed file name
    /// @param filter the dialog's file filter, e.g. "PDF (*.pdf)"
    /// @return the chosen path, or nothing when the user cancelled
    virtual std::optional<std::string> ask_file(const std::string& suggested,
                                                const std::string& filter) = 0;
    /// Asks whether the existing file `path` may be replaced.
    /// @return true to replace it
    virtual bool confirm_replace(const std::string& path) = 0;
    /// Tells the user that an export failed and why.
    virtual void tell_failure(const std::string& text) = 0;
};

}  // namespace quavella
