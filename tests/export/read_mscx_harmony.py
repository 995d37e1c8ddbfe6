#!/usr/bin/python3
"""Reads a MuseScore 3 file (.mscx) and prints each chord symbol MuseScore placed, one a
line: TICK ROOT NAME, TICK in 120ths of a beat from the start, ROOT a letter name
(MuseScore stores tonal pitch classes), NAME MuseScore's text after the root ("-" for
none). Positions follow the first staff's first voice: note and rest durations, and
the <location> moves MuseScore writes before elements placed inside a note."""
import sys
import xml.etree.ElementTree as ET
from fractions import Fraction

TPC = {13: "F", 14: "C", 15: "G", 16: "D", 17: "A", 18: "E", 19: "B", 20: "F#", 21: "C#",
       22: "G#", 23: "D#", 24: "A#", 12: "Bb", 11: "Eb", 10: "Ab"}
WHOLE = {"whole": 1, "half": Fraction(1, 2), "quarter": Fraction(1, 4),
         "eighth": Fraction(1, 8), "16th": Fraction(1, 16), "32nd": Fraction(1, 32),
         "64th": Fraction(1, 64)}


def length(element):
    kind = element.findtext("durationType")
    if kind == "measure":
        return Fraction(element.findtext("duration", "4/4"))
    value = WHOLE[kind]
    dots = int(element.findtext("dots", "0"))
    return value * (2 - Fraction(1, 2 ** dots))


def main():
    root = ET.parse(sys.argv[1]).getroot()
    staff = root.find("Score/Staff")
    start = Fraction(0)
    for measure in staff.findall("Measure"):
        at = start
        longest = Fraction(0)
        voice = measure.find("voice")
        for element in voice if voice is not None else []:
            if element.tag == "location":
                at += Fraction(element.findtext("fractions", "0"))
            elif element.tag == "Harmony":
                name = element.findtext("name") or "-"
                print(int(at * 480), TPC.get(int(element.findtext("root")), "?"), name)
            elif element.tag in ("Chord", "Rest"):
                at += length(element)
            longest = max(longest, at - start)
        start += Fraction(measure.get("len", "1")) if measure.get("len") else Fraction(1)


if __name__ == "__main__":
    main()
