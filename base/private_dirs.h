// Folders that hold the user's own files (the history, the window's working files): made
// for their owner alone whatever the umask, and a folder found open to others told.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quavella::files {

/// Creates the missing folders of `dir`, each for its owner alone (0700) whatever the
/// umask; folders already there are left as they are.
/// @return the failure ("cannot create the directory D: REASON"), or nothing
std::optional<std::string> make_private_dirs(const std::filesystem::path& dir);

/// True when users other than the owner of `dir` can write in it (its group or everyone):
/// a folder made by someone else or under another umask, which the program leaves as it
/// is but says.
bool open_to_others(const std::filesystem::path& dir);

}  // namespace quavella::files
