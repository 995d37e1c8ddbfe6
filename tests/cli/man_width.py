#!/usr/bin/python3
"""Renders a manual page as man shows it on an 80-column terminal and fails on
any line wider than that (Chinese characters take two columns), or on what
troff could not render.

    man_width.py PAGE
"""
import os
import shutil
import subprocess
import sys
import unicodedata

WIDTH = 80


def columns(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def main():
    if shutil.which("man") is None:
        print("man is not installed")
        return 77
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8",
           "MANWIDTH": str(WIDTH)}
    shown = subprocess.run(["man", "-l", sys.argv[1]], env=env, capture_output=True,
                           text=True, check=True)
    bad = 0
    if shown.stderr:
        print("troff says:", shown.stderr)
        bad += 1
    for number, line in enumerate(shown.stdout.splitlines(), 1):
        if columns(line) > WIDTH:
            print("line %d is %d columns wide: %s" % (number, columns(line), line))
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
