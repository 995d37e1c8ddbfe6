#!/usr/bin/python3
"""Reports where reading characters by their words changes a tone.

    scripts/word-readings.py CLI [--pairs N]

Runs `CLI analyze --tones --json` over the lyrics in samples/ and the classical
quatrains written in the tests (tests/**/*.cpp), then, where Debian's fortunes-zh is
installed, over its 300 Tang poems and 100 Song lyrics, two lines at a time. For each
collection it counts the sung syllables with a Chinese reading and those whose tone
differs from the customary reading of their character (the first kMandarin reading
of the Unicode Han database). Then it prints the first N (20) different changes, in
that order, as character, word, old reading, new reading, for a Mandarin speaker to
check. A new reading is spelled after the dictionary readings of the character
(kXHC1983, kTGHZ2013) that have its tone.
"""

import argparse
import bz2
import collections
import json
import pathlib
import re
import subprocess
import sys
import tempfile
import unicodedata

ROOT = pathlib.Path(__file__).resolve().parent.parent
UNIHAN = "/usr/share/unicode/Unihan_Readings.txt.bz2"
TONE_MARKS = {"\u0304": 1, "\u0301": 2, "\u030c": 3, "\u0300": 4}
# A quatrain line pair as the tests write them: 5 or 7 characters, a comma,
# 5 or 7 characters, a full stop.
QUATRAIN = re.compile(r"[\u4e00-\u9fff]{5,7}，[\u4e00-\u9fff]{5,7}。")


def tone_of(reading):
    for ch in unicodedata.normalize("NFD", reading):
        if ch in TONE_MARKS:
            return TONE_MARKS[ch]
    return 5


def han_readings():
    """Each character's customary reading and its dictionary readings."""
    customary, readings = {}, collections.defaultdict(list)
    with bz2.open(UNIHAN, "rt", encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 3 or not line.startswith("U+"):
                continue
            ch = chr(int(fields[0][2:], 16))
            if fields[1] == "kMandarin":
                customary[ch] = fields[2].split(" ")[0]
            elif fields[1] in ("kXHC1983", "kTGHZ2013"):
                for item in fields[2].split(" "):
                    for r in item.split(":", 1)[-1].split(","):
                        if r not in readings[ch]:
                            readings[ch].append(r)
    return customary, readings


FORTUNES = pathlib.Path("/usr/share/games/fortunes")
ESCAPE = re.compile(r"\x1b\[[0-9;]*m")


def fortune_lyrics(name):
    """(name, text) of every two lines of the poems of a fortunes-zh file."""
    path = FORTUNES / name
    if not path.exists():
        return []
    texts = []
    for number, poem in enumerate(path.read_text(encoding="utf-8").split("\n%\n"), 1):
        lines = [ESCAPE.sub("", l).strip() for l in poem.split("\n")]
        # The title and the author come first, between escapes of colour.
        body = [l for l in lines[2:] if l]
        for k in range(0, len(body), 2):
            texts.append((f"{name} #{number}", "".join(body[k : k + 2])))
    return texts


def lyrics():
    """(name, text) of every sample and every quatrain of the tests."""
    texts = [(p.name, p.read_text(encoding="utf-8")) for p in sorted((ROOT / "samples").glob("*.txt"))]
    seen = {t for _, t in texts}
    for path in sorted((ROOT / "tests").rglob("*.cpp")):
        found = QUATRAIN.findall(path.read_text(encoding="utf-8", errors="replace"))
        # Two line pairs in a row make a quatrain; a single pair is read too.
        for text in found:
            if text not in seen and not any(text in t for t in seen):
                seen.add(text)
                texts.append((str(path.relative_to(ROOT)), text))
    return texts


def syllables(cli, text):
    with tempfile.NamedTemporaryFile("w", suffix=".txt", encoding="utf-8") as f:
        f.write(text)
        f.flush()
        done = subprocess.run(
            [cli, "analyze", "--tones", "--json", f.name], capture_output=True, text=True
        )
    if done.returncode != 0:
        sys.exit(f"{cli} analyze failed: {done.stderr.strip()}")
    return json.loads(done.stdout)["syllables"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("cli", help="quavella-cli of this tree")
    parser.add_argument("--pairs", type=int, default=20, help="changes to list (20)")
    args = parser.parse_args()

    customary, readings = han_readings()
    collections_ = [
        ("samples and test quatrains", lyrics()),
        ("fortunes-zh tang300", fortune_lyrics("tang300")),
        ("fortunes-zh song100", fortune_lyrics("song100")),
    ]
    pairs = []
    for title, texts in collections_:
        if not texts:
            print(f"{title}: not installed")
            continue
        read = changed = 0
        for name, text in texts:
            for s in syllables(args.cli, text):
                ch = s["text"]
                if s["continuation"] or s["tone"] is None or ch not in customary:
                    continue
                read += 1
                old = customary[ch]
                if s["word"] is None or s["tone"] == tone_of(old):
                    continue
                changed += 1
                new = "/".join(r for r in readings[ch] if tone_of(r) == s["tone"])
                pair = (ch, s["word"], old, new or f"tone {s['tone']}")
                if pair not in [p[:4] for p in pairs]:
                    pairs.append(pair + (name,))
        print(f"{title}: {len(texts)} lyrics, {read} syllables with a reading, {changed} read "
              f"by their word with another tone ({100.0 * changed / max(read, 1):.1f}%)")
    for ch, word, old, new, name in pairs[: args.pairs]:
        print(f"{ch}  {word}  {old} -> {new}  ({name})")


if __name__ == "__main__":
    main()
