// The history database's schema by version.
#include "history/schema.h"

namespace quavella::history {

namespace {

// Version 1. One row per composition in `composition`: the columns a list
// shows come first and the file bytes last, so a list never reads them.
// Notes and ticks are decimal numbers separated by single spaces. The main
// generator's 64-bit state is kept as the signed integer with the same bits.
// `syllable` holds the text sung on each note, when the composer gave it.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE composition (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    composed_at INTEGER NOT NULL,  -- milliseconds since 1970-01-01 UTC
    lyrics      TEXT    NOT NULL,  -- the lyric box's lines as typed, joined by a line feed
    speed_pos   INTEGER NOT NULL,
    mode_pos    INTEGER NOT NULL,
    timbre_pos  INTEGER NOT NULL,
    speed_item  TEXT    NOT NULL,
    mode_item   TEXT    NOT NULL,
    timbre_item TEXT    NOT NULL,
    tempo       INTEGER NOT NULL,
    mode        INTEGER NOT NULL,
    program     INTEGER NOT NULL,
    note_count  INTEGER NOT NULL,
    tone_score  REAL,
    state_s     INTEGER NOT NULL,
    state_t     INTEGER NOT NULL,
    notes       TEXT    NOT NULL,
    ticks       TEXT    NOT NULL,
    gbk_text    BLOB    NOT NULL,
    midi        BLOB    NOT NULL
);
-- Small beside the rows, so counting the entries need not read their files.
CREATE INDEX composition_time ON composition (composed_at);
CREATE TABLE syllable (
    composition_id INTEGER NOT NULL REFERENCES composition (id) ON DELETE CASCADE,
    idx            INTEGER NOT NULL,
    text           TEXT    NOT NULL,
    continuation   INTEGER NOT NULL,
    pause_after    INTEGER NOT NULL,
    sentence_end   INTEGER NOT NULL,
    sentence       INTEGER NOT NULL,
    PRIMARY KEY (composition_id, idx)
) WITHOUT ROWID;
)sql";

// Version 2. A melody shaped from a composition keeps its edit list (the form
// `quavella-cli compose --edits` takes; '' as composed) and the entry of the
// composition it was shaped from (NULL when there is none, or it was not recorded).
constexpr const char* kVersion2 = R"sql(
ALTER TABLE composition ADD COLUMN edits TEXT NOT NULL DEFAULT '';
ALTER TABLE composition ADD COLUMN origin INTEGER;
)sql";

// Version 3. The candidates of one best-of press are tied to the melody chosen from
// them: `chosen` holds the chosen entry's id on every entry of the press, the chosen
// one's included (NULL for a composition made alone). The first index lists the
// history one press at a time without reading the candidates' rows; the second finds
// the candidates of a press. The presses recorded before are found again: entries
// recorded together (consecutive, with one time stamp, the same lyrics and settings,
// none shaped) are the candidates of one press, the last of them the chosen one.
constexpr const char* kVersion3 = R"sql(
ALTER TABLE composition ADD COLUMN chosen INTEGER;
CREATE INDEX composition_press ON composition (id, chosen);
CREATE INDEX composition_chosen ON composition (chosen, id);
WITH marked AS (
    SELECT id,
        CASE WHEN edits = '' AND lag(edits) OVER w = '' AND composed_at = lag(composed_at) OVER w
            AND lyrics = lag(lyrics) OVER w AND speed_pos = lag(speed_pos) OVER w
            AND mode_pos = lag(mode_pos) OVER w AND timbre_pos = lag(timbre_pos) OVER w
        THEN 0 ELSE 1 END AS starts
    FROM composition WINDOW w AS (ORDER BY id)
), runs AS (
    SELECT id, sum(starts) OVER (ORDER BY id) AS run FROM marked
), presses AS (
    SELECT id, max(id) OVER (PARTITION BY run) AS last, count(*) OVER (PARTITION BY run) AS n
    FROM runs
)
UPDATE composition SET chosen = presses.last FROM presses
WHERE presses.id = composition.id AND presses.n > 1;
)sql";

// Version 4. Each item of the mode list composes with the scale its name describes;
// until now position P composed with the table that now belongs to position 3 - P. An
// entry keeps its melody, its file and its scale table (`mode`) and now names the item
// whose table made it: its position and item text are mirrored, so that the command line
// it prints makes its file again. Positions outside the list stay as they are (they
// composed with the seven tones, as they still do).
constexpr const char* kVersion4 = R"sql(
UPDATE composition SET
    mode_pos = 3 - mode_pos,
    mode_item = CASE mode_item
        WHEN '七声调式' THEN '五声调式'
        WHEN '六声调式1' THEN '六声调式2'
        WHEN '六声调式2' THEN '六声调式1'
        WHEN '五声调式' THEN '七声调式'
        ELSE mode_item END
WHERE mode_pos BETWEEN 0 AND 3;
)sql";

constexpr const char* kSteps[] = {kVersion1, kVersion2, kVersion3, kVersion4};

}  // namespace

std::span<const char* const> migrations() { return kSteps; }

}  // namespace quavella::history
