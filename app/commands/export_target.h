// Choosing the file an export writes: the name asked for, its extension, and
// never replacing an existing file without the user's consent. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands/export_dialogs.h"

namespace quavella {

/// `chosen` with `extension` (".pdf") appended unless it already ends in it, in any case.
std::string with_extension(std::string_view chosen, std::string_view extension);

/// Asks for the file an export writes. An existing file is taken only when the user
/// agrees to replace it; declining cancels the export.
/// @param suggested the name the dialog proposes
/// @param extension added to a chosen name without it, e.g. ".png"
/// @param filter the dialog's file filter
/// @return the path to write, or nothing when the user cancelled or declined
std::optional<std::string> choose_export_file(ExportDialogs& dialogs, const std::string& suggested,
                                              std::string_view extension,
                                              const std::string& filter);

/// As above for exports that write one of several formats, chosen by the name's
/// extension (audio: ".wav", ".flac", ".ogg"). A chosen name ending in one of
/// `extensions` (any case) keeps it; any other gets the first.
/// @param extensions the extensions written, lower case, the default first; not empty
std::optional<std::string> choose_export_file(ExportDialogs& dialogs, const std::string& suggested,
                                              const std::vector<std::string>& extensions,
                                              const std::string& filter);

/// A file name made from a title: characters that file systems refuse or that
/// separate folders become "_", and an empty or unusable title gives `fallback`.
std::string file_name_from_title(std::string_view title, std::string_view fallback);

}  // namespace quavella
