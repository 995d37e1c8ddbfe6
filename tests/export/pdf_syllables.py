#!/usr/bin/python3
"""Checks that a PDF shows the given syllables in reading order.

    pdf_syllables.py FILE.pdf SYLLABLES [TITLE]

SYLLABLES is a file with one hex-encoded UTF-8 syllable a line. The words
pdftotext finds (with their boxes) are put into reading order: rows from top
to bottom, words from left to right within a row, page after page. The title,
if given, is taken out first, so that a title repeating the first sentence
cannot stand in for its lyrics. Prints what is missing and exits 1 then.
"""
import html
import re
import subprocess
import sys

WORD = re.compile(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*?)</word>')


def reading_order(page):
    words = sorted((float(y0), float(x0), float(y1), html.unescape(t)) for x0, y0, _, y1, t in WORD.findall(page))
    rows = []
    for y0, x0, y1, text in words:
        middle = (y0 + y1) / 2
        if rows and rows[-1]["top"] <= middle <= rows[-1]["bottom"]:
            rows[-1]["words"].append((x0, text))
        else:
            rows.append({"top": y0, "bottom": y1, "words": [(x0, text)]})
    return "".join("".join(t for _, t in sorted(r["words"])) for r in rows)


def main():
    bbox = subprocess.run(["pdftotext", "-bbox", sys.argv[1], "-"], capture_output=True, check=True,
                          text=True).stdout
    text = "".join(reading_order(p) for p in bbox.split("<page ")[1:])
    if len(sys.argv) > 3 and sys.argv[3]:
        text = text.replace(sys.argv[3], "", 1)
    with open(sys.argv[2], encoding="ascii") as f:
        syllables = [bytes.fromhex(line.strip()).decode("utf-8") for line in f if line.strip()]
    at = 0
    for i, s in enumerate(syllables):
        found = text.find(s, at)
        if found < 0:
            print("syllable %d %r not found after offset %d in %r" % (i, s, at, text))
            return 1
        at = found + len(s)
    return 0


if __name__ == "__main__":
    sys.exit(main())
