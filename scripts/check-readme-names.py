#!/usr/bin/env python3
"""Checks that every name of code README.md quotes exists in the program's sources.

A quoted name is a span in backticks made of one identifier, qualified or not (`a::b`),
with or without a call (`f(x, y)`), that reads as code: a call, a qualified name, a
name with an underscore or a capital (`record_of`, `Composed`); a plain lower-case word
(`midi`, `jack`) may be a field or a value of another program and is left alone. Each
part of a name must occur as a whole word in the sources of the program and its build
(not its tests, whose helpers are not the program's). Usage: python3 scripts/check-readme-names.py [README]
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Every folder of the project but the tests: a module added later is read without a change here.
SOURCE_DIRS = sorted(p.name for p in ROOT.iterdir()
                     if p.is_dir() and not p.name.startswith((".", "build")) and p.name != "tests")
SUFFIXES = {".h", ".cpp", ".py", ".sh", ".txt", ".cmake", ".1", ".in"}
NAME = re.compile(r"^([A-Za-z_]\w*(?:::[A-Za-z_]\w*)*)(\(.*\))?$")


def source_words():
    words = set()
    files = [ROOT / "CMakeLists.txt"]
    for d in SOURCE_DIRS:
        files += [p for p in (ROOT / d).rglob("*") if p.is_file() and
                  (p.suffix in SUFFIXES or p.name == "CMakeLists.txt")]
    for path in files:
        if path.name == "check-readme-names.py":
            continue
        words.update(re.findall(r"[A-Za-z_]\w*", path.read_text(errors="replace")))
    return words


def main():
    readme = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "README.md"
    words = source_words()
    missing = []
    for number, line in enumerate(readme.read_text().splitlines(), 1):
        for span in re.findall(r"`([^`\n]+)`", line):
            m = NAME.match(span.strip())
            if not m or not (m.group(2) or re.search(r"::|_|[A-Z]", m.group(1))):
                continue
            for part in m.group(1).split("::"):
                if part not in words:
                    missing.append(f"{readme.name}:{number}: `{span}` ({part} is not in the sources)")
    for m in missing:
        print(m)
    if missing:
        print(f"{len(missing)} name(s) in {readme.name} that the sources do not have")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
