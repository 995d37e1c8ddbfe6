#!/usr/bin/python3
"""Reads back what MuseScore 3 made of one MusicXML export: its MIDI export
(mido), its own MusicXML export and its own score file (xml.etree).

    musescore_instruments.py OUT.mid OUT.musicxml OUT.mscx

Prints one line: "program=P velocities=V,.. keys=K,K,.. clef=SIGN LINE CHANGE
transpose=OCTAVES interval=D,C",
P the 0-based program of the track that holds the notes, V the distinct
note-on velocities, K the sounding keys in order, D and C the transposition
MuseScore took for the part, in steps and semitones (0,0 for none).
"""
import sys
import xml.etree.ElementTree as ET

import mido


def main():
    midi = mido.MidiFile(sys.argv[1])
    program, keys, velocities = None, [], set()
    for track in midi.tracks:
        track_program, track_keys = None, []
        for msg in track:
            if msg.type == "program_change":
                track_program = msg.program
            elif msg.type == "note_on" and msg.velocity > 0:
                track_keys.append(msg.note)
                velocities.add(msg.velocity)
        if track_keys:
            program, keys = track_program, track_keys
    clef = ET.parse(sys.argv[2]).getroot().find(".//attributes/clef")
    change = clef.find("clef-octave-change")
    octave = ET.parse(sys.argv[2]).getroot().find(".//attributes/transpose/octave-change")
    instrument = ET.parse(sys.argv[3]).getroot().find(".//Part/Instrument")
    steps = instrument.find("transposeDiatonic")
    semitones = instrument.find("transposeChromatic")
    print("program=%s velocities=%s keys=%s clef=%s %s %s transpose=%s interval=%s,%s" % (
        program, ",".join(str(v) for v in sorted(velocities)), ",".join(str(k) for k in keys),
        clef.find("sign").text, clef.find("line").text,
        change.text if change is not None else "0", octave.text if octave is not None else "0",
        steps.text if steps is not None else "0",
        semitones.text if semitones is not None else "0"))


if __name__ == "__main__":
    sys.exit(main())
