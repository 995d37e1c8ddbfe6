#!/usr/bin/python3
"""Second reader of the MusicXML export, independent of the C++ writer and of
pugixml: parses a file with xml.etree (expat) and checks it against the melody
it was made from (sounding pitches: the part's transposition applied).

    read_musicxml.py FILE.musicxml EXPECTED

EXPECTED has one line per note of the melody: "<midi key> <ticks> <hex of the
UTF-8 syllable, or - for none>". Ticks are 120 to the quarter note. Tied notes
are joined into one before comparing. Prints every problem and exits 1 if any.
"""
import sys
import xml.etree.ElementTree as ET

STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def main():
    path, expected_path = sys.argv[1], sys.argv[2]
    expected = []
    with open(expected_path, encoding="ascii") as f:
        for line in f:
            key, ticks, text = line.split()
            expected.append((int(key), int(ticks), "" if text == "-" else bytes.fromhex(text).decode("utf-8")))

    root = ET.parse(path).getroot()
    problems = []
    if root.tag != "score-partwise" or root.get("version") != "4.0":
        problems.append("root is %s version %s" % (root.tag, root.get("version")))
    if len(root.findall(".//clef")) != 1:
        problems.append("%d clefs, expected one" % len(root.findall(".//clef")))
    divisions = int(root.find(".//attributes/divisions").text)
    # Written pitch + transposition = sounding pitch, which the melody holds.
    transpose = 0
    t = root.find(".//attributes/transpose")
    if t is not None:
        transpose = int(t.find("chromatic").text)
        if t.find("octave-change") is not None:
            transpose += 12 * int(t.find("octave-change").text)
    if root.find(".//key/fifths").text != "0":
        problems.append("key is not C major")

    notes = []  # [key, ticks, lyric]
    tied = False
    for number, measure in enumerate(root.iter("measure"), 1):
        total = 0
        for note in measure.iter("note"):
            duration = int(note.find("duration").text)
            total += duration
            ticks = duration * 120 // divisions
            if duration * 120 % divisions:
                problems.append("measure %d: duration %d not whole ticks" % (number, duration))
            if note.find("rest") is not None:
                tied = False
                continue
            pitch = note.find("pitch")
            alter = pitch.find("alter")
            key = (int(pitch.find("octave").text) + 1) * 12 + STEPS[pitch.find("step").text]
            key += int(alter.text) if alter is not None else 0
            key += transpose
            ties = {t.get("type") for t in note.findall("tie")}
            text = note.find("lyric/text")
            if tied:
                if "stop" not in ties or key != notes[-1][0] or text is not None:
                    problems.append("measure %d: broken tie" % number)
                notes[-1][1] += ticks
            else:
                if "stop" in ties:
                    problems.append("measure %d: tie stop without start" % number)
                notes.append([key, ticks, text.text if text is not None else ""])
            tied = "start" in ties
        if total != 4 * divisions:
            problems.append("measure %d lasts %d divisions, not %d" % (number, total, 4 * divisions))

    if len(notes) != len(expected):
        problems.append("%d notes, expected %d" % (len(notes), len(expected)))
    for i, (got, want) in enumerate(zip(notes, expected)):
        if tuple(got) != want:
            problems.append("note %d: got %r, expected %r" % (i, tuple(got), want))
            if len(problems) > 20:
                break
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
