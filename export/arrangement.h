// The arrangement export: melody and accompaniment in one MIDI file, each on its
// own track and channel, written all or nothing. The command line writes it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/staged_file.h"
#include "harmony/accompaniment.h"
#include "notation/score.h"

namespace quavella::exports {

/// Writes harmony::arrangement_file(melody, chords, settings) to `file`, replacing it.
/// @return the reason, naming the file, when it could not be written completely
std::optional<std::string> write_arrangement(const notation::Melody& melody,
                                             const harmony::Harmony& chords,
                                             const harmony::ArrangementSettings& settings,
                                             const std::filesystem::path& file);
/// The same into a staged file's temporary; the caller commits it (with others).
std::optional<std::string> write_arrangement(const notation::Melody& melody,
                                             const harmony::Harmony& chords,
                                             const harmony::ArrangementSettings& settings,
                                             files::StagedFile& out);

}  // namespace quavella::exports
