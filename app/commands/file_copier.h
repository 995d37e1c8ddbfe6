// Copying and writing files, for the window's commands.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quavella {

/// Copies and writes files. Texts are UTF-8 paths.
class FileCopier {
public:
    virtual ~FileCopier() = default;
    /// Copies `from` onto `to`. With `replace` false an existing target is
    /// never touched and the copy fails.
    /// @return empty on success, otherwise why the copy failed.
    virtual std::optional<std::string> copy(const std::string& from, const std::string& to,
                                            bool replace) = 0;
    /// Writes `bytes` as the file `to`, all or nothing. With `replace` false an
    /// existing target is never touched and the write fails.
    /// @return empty on success, otherwise why the write failed.
    virtual std::optional<std::string> write(const std::string& to, std::string_view bytes,
                                             bool replace) = 0;
};

}  // namespace quavella
