#!/usr/bin/env python3
"""Fails when a module includes a header of a module above it.

The core stands in layers: each folder may include its own headers and those of
the folders listed for it below, nothing else. The window's folders (app/...) and
the programs sit on top. A folder that is not listed is an error too, so a new
module is placed in the layers when it is added."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Each module and what it may include besides itself.
CORE = {
    "base": set(),
    "lyrics": {"base"},
    "midi": {"base"},
    "composer": {"base", "lyrics", "midi"},
    "notation": {"base", "lyrics", "midi", "composer"},
    "tones": {"base", "lyrics", "midi", "composer", "notation"},
    "harmony": {"base", "lyrics", "midi", "composer", "notation", "tones"},
    "composition": {"base", "lyrics", "midi", "composer", "notation", "tones", "harmony"},
    "edit": {"base", "lyrics", "midi", "composer", "notation", "tones", "harmony", "composition"},
    "song": {"base", "lyrics", "midi", "composer", "notation", "tones", "harmony", "composition",
             "edit"},
    "history": {"base", "lyrics", "midi", "composer", "notation", "tones", "harmony",
                "composition", "edit", "song"},
    "export": {"base", "lyrics", "midi", "composer", "notation", "tones", "harmony",
               "composition", "edit", "song"},
}
CORE_ALL = set(CORE)
APP = {
    "app/commands": set(),
    "app/player": {"app/commands"},
    "app/score": {"app/commands"},
    "app/history": {"app/commands", "app/score"},
    "app/desktop": set(),
    "app/windows": {"app/commands", "app/player", "app/score", "app/history", "app/desktop"},
}
TOP = {"cli": CORE_ALL, "app": CORE_ALL | set(APP)}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def module_of(path):
    """The module a project header belongs to: 'app/score' or 'notation'."""
    parts = pathlib.PurePosixPath(path).parts
    if parts[0] == "app" and len(parts) > 2:
        return "app/" + parts[1]
    return parts[0]


def main():
    allowed = dict(CORE)
    for name, below in APP.items():
        allowed[name] = below | CORE_ALL
    allowed.update(TOP)
    faults = []
    for src in sorted(ROOT.rglob("*")):
        if src.suffix not in (".cpp", ".h") or not src.is_file():
            continue
        rel = src.relative_to(ROOT).as_posix()
        if rel.split("/")[0] in ("tests", "fuzz", ".git") or rel.startswith("build"):
            continue
        mine = module_of(rel)
        if mine not in allowed:
            faults.append(f"{rel}: module '{mine}' has no place in scripts/check-layers.py")
            continue
        for inc in INCLUDE.findall(src.read_text(encoding="utf-8")):
            if "/" not in inc:
                continue
            theirs = module_of(inc)
            if theirs != mine and theirs not in allowed[mine]:
                faults.append(f"{rel}: includes {inc} ({theirs} is not below {mine})")
    for fault in faults:
        print("layers:", fault, file=sys.stderr)
    if faults:
        return 1
    print("layers: no include from a lower layer to a higher one")
    return 0


if __name__ == "__main__":
    sys.exit(main())
