#!/usr/bin/python3
"""Reads quavella-cli's --json output on standard input, one JSON object a line,
checks each against the fields the manual page documents for KIND (names,
types, nothing missing, nothing more), and prints "ok N" for N objects, or the
problems and exits 1.

    json_fields.py analyze|analyze-tones|compose|compose-tones-best|compose-record|
                   compose-shaped|compose-chords|compose-shaped-chords|history-list|
                   history-show
"""
import json
import sys

INT, STR, BOOL, LIST, DICT, NULL = int, str, bool, list, dict, type(None)

EXPORTS = {"musicxml": (STR, NULL), "lyrics_midi": (STR, NULL), "karaoke": (STR, NULL),
           "audio": (STR, NULL), "arrangement": (STR, NULL)}
CHORD = {"tick": (INT,), "root": (STR,), "kind": (STR,), "degree": (INT,)}
SYLLABLE = {"text": (STR,), "continuation": (BOOL,), "sentence": (INT,), "tone": (INT, NULL),
            "sung_tone": (INT, NULL), "word": (STR, NULL)}
PAIR = {"first": (INT,), "second": (INT,), "interval": (INT,), "grade": (STR,)}
TONES = {"percent": (INT,), "agreeing": (INT,), "graded": (INT,), "pairs": (LIST, PAIR)}
BEATS = {"percent": (INT,), "aligned": (INT,), "lines": (INT,), "off": (LIST, INT)}
CANDIDATE = {"state": (STR,), "percent": (INT,), "agreeing": (INT,), "graded": (INT,)}
ANALYZE = {"layout": (LIST, INT), "stc_cnt": (INT,), "pause_cnt": (INT,), "val_sum": (INT,),
           "val_avg": (INT,)}
COMPOSE = {"seed": (INT, NULL), "start_state": (STR,), "state": (STR,), "speed_pos": (INT,),
           "mode_pos": (INT,), "timbre_pos": (INT,), "tempo": (INT,), "mode": (INT,),
           "program": (INT,), "notes": (INT,), "file": (STR,), "exports": (DICT, EXPORTS),
           "keys": (LIST, INT), "ticks": (LIST, INT), "syllables": (LIST, STR)}
SETTINGS = {"speed_pos": (INT,), "speed_item": (STR,), "mode_pos": (INT,), "mode_item": (STR,),
            "timbre_pos": (INT,), "timbre_item": (STR,)}
LIST_ENTRY = dict(SETTINGS, id=(INT,), time_ms=(INT,), time=(STR,), tempo=(INT,), notes=(INT,),
                  tone_percent=(INT, NULL), lyrics_start=(STR,), edited=(BOOL,),
                  origin=(INT, NULL), chosen=(INT, NULL), candidates=(INT,))
SHOW_ENTRY = dict(SETTINGS, id=(INT,), time_ms=(INT,), time=(STR,), lyrics=(STR,), tempo=(INT,),
                  mode=(INT,), program=(INT,), state=(STR,), notes=(INT,), keys=(LIST, INT),
                  ticks=(LIST, INT), syllables=(LIST, STR), tone_percent=(INT, NULL),
                  edits=(STR,), origin=(INT, NULL), chosen=(INT, NULL), command=(STR,))

KINDS = {
    "analyze": ANALYZE,
    "analyze-tones": dict(ANALYZE, syllables=(LIST, SYLLABLE)),
    "compose": COMPOSE,
    "compose-tones-best": dict(COMPOSE, tones=(DICT, TONES), beats=(DICT, BEATS),
                               candidates=(LIST, CANDIDATE), chosen=(INT,)),
    "compose-record": dict(COMPOSE, history_id=(INT,)),
    "compose-shaped": dict(COMPOSE, edits=(STR,), tones=(DICT, TONES), beats=(DICT, BEATS)),
    "compose-chords": dict(COMPOSE, chords=(LIST, CHORD)),
    "compose-shaped-chords": dict(COMPOSE, edits=(STR,), tones=(DICT, TONES), beats=(DICT, BEATS),
                                  chords=(LIST, CHORD)),
    "history-list": LIST_ENTRY,
    "history-show": SHOW_ENTRY,
}


def check(value, expected, where, problems):
    kind = expected[0]
    if kind is LIST:
        if not isinstance(value, list):
            problems.append("%s: not a list" % where)
            return
        for i, item in enumerate(value):
            check(item, (expected[1],) if not isinstance(expected[1], dict) else (DICT, expected[1]),
                  "%s[%d]" % (where, i), problems)
    elif kind is DICT:
        fields = expected[1]
        if not isinstance(value, dict):
            problems.append("%s: not an object" % where)
            return
        if set(value) != set(fields):
            problems.append("%s: fields %s, documented %s" % (where, sorted(value), sorted(fields)))
        for name, sub in fields.items():
            if name in value:
                check(value[name], sub, where + "." + name, problems)
    else:
        # bool is an int in Python: tell them apart.
        ok = any(type(value) is t for t in expected)
        if not ok:
            problems.append("%s: %r is not %s" % (where, value, [t.__name__ for t in expected]))


def main():
    fields = KINDS[sys.argv[1]]
    problems, count = [], 0
    for number, line in enumerate(sys.stdin.buffer.read().decode("utf-8").splitlines(), 1):
        check(json.loads(line), (DICT, fields), "object %d" % number, problems)
        count += 1
    for p in problems:
        print(p)
    if not problems:
        print("ok", count)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
