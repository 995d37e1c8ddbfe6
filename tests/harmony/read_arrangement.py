#!/usr/bin/python3
"""Reads a MIDI file through mido and prints what the arrangement tests compare,
one line each, times in ticks from the start of the track:

    type TYPE TRACKS TICKS_PER_BEAT
    name TRACK NAME
    program TRACK CHANNEL PROGRAM
    note TRACK CHANNEL TICK KEY VELOCITY LENGTH   (a sounding note, its length in ticks)
"""
import sys

import mido


def main():
    midi = mido.MidiFile(sys.argv[1])
    print("type", midi.type, len(midi.tracks), midi.ticks_per_beat)
    for number, track in enumerate(midi.tracks, 1):
        tick = 0
        sounding = {}
        notes = []
        for msg in track:
            tick += msg.time
            if msg.type == "track_name":
                print("name", number, msg.name)
            elif msg.type == "program_change":
                print("program", number, msg.channel, msg.program)
            elif msg.type == "note_on" and msg.velocity > 0:
                sounding.setdefault((msg.channel, msg.note), []).append((tick, msg.velocity))
            elif msg.type in ("note_on", "note_off"):
                start, velocity = sounding[(msg.channel, msg.note)].pop(0)
                notes.append((start, msg.channel, msg.note, velocity, tick - start))
        for start, channel, key, velocity, length in sorted(notes):
            print("note", number, channel, start, key, velocity, length)


if __name__ == "__main__":
    main()
