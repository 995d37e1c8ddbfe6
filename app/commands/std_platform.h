// Platform services built on the C++ standard library alone: file copies, the
// wall clock and the current directory. Used by the window and by tests that
// want the real file system.
#pragma once

#include "app/commands/file_copier.h"
#include "app/commands/timing.h"

namespace quavella {

/// Copies files with std::filesystem and writes them through a temporary file.
class FsFileCopier : public FileCopier {
public:
    /// Copies `from` onto `to`; without `replace` an existing target fails the copy.
    std::optional<std::string> copy(const std::string& from, const std::string& to,
                                    bool replace) override;
    /// Writes `to` all or nothing; without `replace` an existing target fails the write.
    std::optional<std::string> write(const std::string& to, std::string_view bytes,
                                     bool replace) override;
};

/// The system clock in nanoseconds since the epoch.
class SystemClock : public Clock {
public:
    std::uint64_t now() override;
};

/// Reads the process's current directory.
/// @return the directory, or nothing when it cannot be read.
std::optional<std::string> read_current_dir();

}  // namespace quavella
