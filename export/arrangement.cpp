// The arrangement file, made in memory by the chord module, written in one piece.
#include "export/arrangement.h"

#include "export/export_file.h"

namespace quavella::exports {

std::optional<std::string> write_arrangement(const notation::Melody& melody,
                                             const harmony::Harmony& chords,
                                             const harmony::ArrangementSettings& settings,
                                             files::StagedFile& staged) {
    if (staged.error()) return staged.error();
    const harmony::ArrangementFile made = harmony::arrangement_file(melody, chords, settings);
    if (!made.error.empty()) return write_failure(staged.target(), made.error);
    ExportFile out(staged);
    out.write(made.bytes.data(), made.bytes.size());
    return out.finish();
}

std::optional<std::string> write_arrangement(const notation::Melody& melody,
                                             const harmony::Harmony& chords,
                                             const harmony::ArrangementSettings& settings,
                                             const std::filesystem::path& file) {
    return write_staged(file, [&](files::StagedFile& staged) {
        return write_arrangement(melody, chords, settings, staged);
    });
}

}  // namespace quavella::exports
