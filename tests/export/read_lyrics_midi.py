#!/usr/bin/python3
"""Reads a MIDI file with lyrics through mido, decoding texts as UTF-8, and
prints what the export test compares, one event a line, times in ticks from
the start of the track:

    name TRACK HEX       track name (FF 03)
    text TRACK HEX       text event (FF 01)
    program TRACK TICK PROGRAM
    lyric TRACK TICK HEX (FF 05)
    note TRACK TICK KEY  (note-on with a velocity)
"""
import sys

import mido


def main():
    midi = mido.MidiFile(sys.argv[1], charset="utf-8")
    for number, track in enumerate(midi.tracks, 1):
        tick = 0
        for msg in track:
            tick += msg.time
            if msg.type == "track_name":
                print("name", number, msg.name.encode("utf-8").hex() or "-")
            elif msg.type == "text":
                print("text", number, msg.text.encode("utf-8").hex() or "-")
            elif msg.type == "program_change":
                print("program", number, tick, msg.program)
            elif msg.type == "lyrics":
                print("lyric", number, tick, msg.text.encode("utf-8").hex() or "-")
            elif msg.type == "note_on" and msg.velocity > 0:
                print("note", number, tick, msg.note)


if __name__ == "__main__":
    main()
