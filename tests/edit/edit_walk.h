// What the property tests of edit sequences check after each sequence: the edit list,
// printed and read back, makes the same bytes again, and undo and redo walk through
// every state the sequence passed. Called under ASSERT_NO_FATAL_FAILURE.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "edit/editable_melody.h"
#include "edit/edits.h"

namespace quavella::edit::edit_walk {

/// `melody`'s edit list, printed and read back, replayed on a melody composed from
/// `source`, gives the bytes `last`.
inline void expect_replayed(const EditableMelody& melody, const Source& source,
                            const std::string& last, const std::string& context) {
    const ParsedEdits parsed = parse_edits(edits_text(melody.edits()));
    ASSERT_EQ(parsed.error, "") << context;
    EditableMelody replayed(source);
    ASSERT_EQ(replayed.apply_all(parsed.edits), std::nullopt) << context;
    EXPECT_EQ(replayed.file().bytes, last) << context;
}

/// Undo gives back the bytes of each earlier state in `states` (the composed melody's
/// first, then one a applied edit), down to the first.
inline void expect_undone_to_first(EditableMelody& melody, const std::vector<std::string>& states,
                                   const std::string& context) {
    for (std::size_t k = states.size() - 1; k-- > 0;) {
        ASSERT_NE(melody.undo(), nullptr) << context << " undo " << k;
        ASSERT_EQ(melody.file().bytes, states[k]) << context << " undo " << k;
    }
}

/// Redo, from the first state, gives back the bytes of each later state in `states`.
inline void expect_redone_to_last(EditableMelody& melody, const std::vector<std::string>& states,
                                  const std::string& context) {
    for (std::size_t k = 1; k < states.size(); ++k) {
        ASSERT_NE(melody.redo(), nullptr) << context << " redo " << k;
        ASSERT_EQ(melody.file().bytes, states[k]) << context << " redo " << k;
    }
}

}  // namespace quavella::edit::edit_walk
