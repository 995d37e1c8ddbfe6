#!/usr/bin/env python3
"""Writes the tones that words give their characters with several readings, as a C++ table.

A character such as 地 (de, dì), 长 (zhǎng, cháng) or 着 (zhe, zháo, zhuó) is read by
the word it stands in: 大地 dà dì, 长城 cháng chéng, 睡着 shuì zháo. The tone table of
single characters holds one tone each, that of the customary reading (the first
kMandarin reading of the Unicode Han database); this table holds the words of 2 to 4
characters in which such a character takes a reading of another tone.

The words and their readings come from the Terra Pinyin dictionary of the Rime input
method (terra_pinyin.dict.yaml, Debian's rime-data-terra-pinyin), whose words are
written in traditional characters and read with tone numbers (5 the neutral tone).
OpenCC's t2s conversion (Debian's opencc) turns each word into simplified characters.

Only the characters whose dictionary readings differ in tone are read by their words:
those whose readings in the kXHC1983 and kTGHZ2013 fields of the Han database and
the first of kMandarin (a second is the reading customary in Taiwan) have more than
one tone, less 一 and 不, whose tone changes are made where the
tones are sung. A word's reading of such a character counts when it is one of those
dictionary readings (so 地上 dì shang gives 地 its fourth tone and leaves 上, whose
dictionary readings have no neutral tone, as it is); a word read in several ways, or
written alike by several traditional words read differently, settles the character
only where all agree.

A word is kept when it gives one of its characters a tone other than the customary
one, or when it reads such a character with its customary tone but would otherwise
lose it to a shorter kept word that overlaps it there (the longest word around a
character reads it): 不相识 (xiāng) keeps 相识 from another reading of 相.

The output has one table per word length: records of the word's GBK bytes followed
by its tones, one nibble per character (the first in the low nibble of the first
byte; 0 where the word leaves the character to its customary reading, else 1..4, 5
for neutral), sorted by their bytes.

Usage: make_word_tone_table.py UNIHAN_READINGS TERRA_PINYIN_DICT OPENCC OUTPUT
"""

import bz2
import collections
import os
import subprocess
import sys
import unicodedata

NEUTRAL = 5
TONE_MARKS = {"\u0304": 1, "\u0301": 2, "\u030c": 3, "\u0300": 4}
DICTIONARY_FIELDS = ("kMandarin", "kXHC1983", "kTGHZ2013")
# Their tone changes are made where the tones are sung; the dictionary writes them
# already changed in its words (一个 yi2 ge4).
CHANGED_WHERE_SUNG = {"一", "不"}
MIN_WORD, MAX_WORD = 2, 4


def marked_reading(reading):
    """(syllable, tone) of a pinyin reading written with tone marks; ü as v."""
    tone = NEUTRAL
    letters = []
    for ch in unicodedata.normalize("NFD", reading):
        if ch in TONE_MARKS:
            tone = TONE_MARKS[ch]
        elif ch == "\u0308" and letters and letters[-1] == "u":
            letters[-1] = "v"
        else:
            letters.append(ch)
    return "".join(letters), tone


def numbered_reading(reading):
    """(syllable, tone) of a pinyin reading written with a tone number."""
    if reading and reading[-1] in "12345":
        return reading[:-1], int(reading[-1])
    return reading, NEUTRAL


def read_han_readings(path):
    """The tone of each character's customary reading, and its dictionary readings."""
    opener = bz2.open if path.endswith(".bz2") else open
    customary = {}
    readings = collections.defaultdict(set)
    with opener(path, "rt", encoding="utf-8") as lines:
        for line in lines:
            if not line.startswith("U+"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 3 or fields[1] not in DICTIONARY_FIELDS:
                continue
            ch = chr(int(fields[0][2:], 16))
            if fields[1] == "kMandarin":
                # A second value is the reading customary in Taiwan (识 shí shì).
                values = fields[2].split(" ")[:1]
                customary[ch] = marked_reading(values[0])[1]
            else:  # "page.position:reading,reading page.position:reading"
                values = [r for item in fields[2].split(" ") for r in item.split(":", 1)[-1].split(",")]
            readings[ch].update(marked_reading(v) for v in values if v)
    if not customary:
        sys.exit(f"{path}: no kMandarin readings found")
    return customary, readings


def read_dictionary(path):
    """(word, readings) of every word of MIN_WORD..MAX_WORD characters, one reading a syllable."""
    words = []
    in_body = False
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            if line.startswith("..."):
                in_body = True
                continue
            if not in_body or line.startswith("#") or "\t" not in line:
                continue
            fields = line.rstrip("\n").split("\t")
            syllables = fields[1].split(" ")
            if MIN_WORD <= len(fields[0]) <= MAX_WORD and len(syllables) == len(fields[0]):
                words.append((fields[0], syllables))
    if not words:
        sys.exit(f"{path}: no words found")
    return words


def simplified(opencc, words):
    """The words in simplified characters, converted one a line by OpenCC's t2s."""
    text = "".join(w + "\n" for w, _ in words)
    done = subprocess.run(
        [opencc, "-c", "t2s.json"], input=text, capture_output=True, text=True, check=True
    )
    lines = done.stdout.split("\n")[: len(words)]
    if len(lines) != len(words):
        sys.exit(f"{opencc}: {len(lines)} lines back for {len(words)} words")
    return lines


def gbk_or_none(text):
    try:
        return text.encode("gbk")
    except UnicodeEncodeError:
        return None


def word_tones(customary, readings, words, converted):
    """Each word (GBK bytes) with the tone it settles for each character, 0 where none."""
    toned = {ch for ch, rs in readings.items() if ch in customary and len({t for _, t in rs}) > 1}
    toned -= CHANGED_WHERE_SUNG
    seen = collections.defaultdict(lambda: collections.defaultdict(set))
    for (_, syllables), word in zip(words, converted):
        if len(word) != len(syllables) or gbk_or_none(word) is None:
            continue
        for place, (ch, syllable) in enumerate(zip(word, syllables)):
            if ch not in toned:
                continue
            reading = numbered_reading(syllable)
            seen[word][place].add(reading[1] if reading in readings[ch] else None)
    settled = {}
    for word, places in seen.items():
        tones = [0] * len(word)
        for place, found in places.items():
            if len(found) == 1 and None not in found:
                tones[place] = next(iter(found))
        if any(tones):
            settled[word] = tones
    return settled


def kept_words(customary, settled):
    """The words the table keeps: those that change a tone, and those that guard one."""
    changing = {
        w: t for w, t in settled.items() if any(t[p] and t[p] != customary[w[p]] for p in range(len(w)))
    }
    # Where each changing word reads each character it settles.
    by_char = collections.defaultdict(list)
    for word, tones in changing.items():
        for place, tone in enumerate(tones):
            if tone:
                by_char[word[place]].append((word, place))
    kept = dict(changing)
    for word, tones in settled.items():
        if word in changing:
            continue
        for place, tone in enumerate(tones):
            if not tone or word in kept:
                continue
            for other, other_place in by_char.get(word[place], ()):
                # The longest word around a character reads it. Of two as long, the
                # first does; no guard is kept for that, since which of the two is
                # the word is as often the one as the other (里长 / 长征 in 万里长征,
                # 为了 / 了解 in 为了解决).
                if len(word) <= len(other) or changing[other][other_place] == tone:
                    continue
                # Align the two at the character and compare what they share.
                shift = place - other_place
                if all(
                    word[i + shift] == other[i]
                    for i in range(len(other))
                    if 0 <= i + shift < len(word)
                ):
                    kept[word] = tones
                    break
    return kept, len(changing)


def write_tables(path, kept, changing, sources):
    by_length = collections.defaultdict(list)
    for word, tones in kept.items():
        nibbles = tones + [0] * (len(tones) % 2)
        packed = bytes(nibbles[i] | (nibbles[i + 1] << 4) for i in range(0, len(nibbles), 2))
        by_length[len(word)].append(gbk_or_none(word) + packed)
    out = [
        "// Generated by tones/make_word_tone_table.py from the word readings of",
        f"// {sources}. Do not edit.",
        f"// {len(kept)} words: {changing} change a tone, {len(kept) - changing} guard one.",
        "// Records: the word's GBK bytes, then one tone nibble per character (the first",
        "// in the low nibble); sorted by their bytes.",
    ]
    total = 0
    for length in range(MIN_WORD, MAX_WORD + 1):
        records = sorted(by_length[length])
        data = b"".join(records)
        total += len(data)
        out.append(f"constexpr std::size_t kWords{length} = {len(records)};")
        out.append(f"constexpr std::uint8_t kWordTones{length}[{max(len(data), 1)}] = {{")
        for i in range(0, len(data), 16):
            out.append("    " + ", ".join(f"0x{b:02x}" for b in data[i : i + 16]) + ",")
        if not data:
            out.append("    0,")
        out.append("};")
    out.append(f"// {total} bytes in all.")
    # All or nothing: a build stopped midway leaves no half table behind.
    staged = path + ".part"
    with open(staged, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    os.replace(staged, path)


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: make_word_tone_table.py UNIHAN_READINGS TERRA_PINYIN_DICT OPENCC OUTPUT")
    unihan, dictionary, opencc, output = sys.argv[1:]
    customary, readings = read_han_readings(unihan)
    words = read_dictionary(dictionary)
    settled = word_tones(customary, readings, words, simplified(opencc, words))
    kept, changing = kept_words(customary, settled)
    sources = f"{os.path.basename(dictionary)} (Rime Terra Pinyin, OpenCC t2s) and Unihan_Readings.txt"
    write_tables(output, kept, changing, sources)


if __name__ == "__main__":
    main()
