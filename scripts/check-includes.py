#!/usr/bin/env python3
"""Fails when a file of the module includes a folder it may not use.

Folders are floors: each may include itself and the folders listed for it, which all lie below it. Hosts,
tools, tests, benchmarks and fuzz targets sit outside the floors and may include anything.
"""
import pathlib
import re
import subprocess
import sys

BASE = {"platform", "text", "log", "security"}
SUBSYSTEMS_BELOW_SETTINGS = {"html", "i18n", "directory"}
ALLOWED = {
    "platform": set(),
    "text": {"platform"},
    "log": {"platform", "text"},
    "security": {"platform", "text", "log"},
    "abi": {"platform", "text"},
    "html": BASE | {"abi"},
    "i18n": BASE | {"abi", "html"},
    "directory": BASE | {"abi", "html", "i18n"},
    "settings": BASE | {"abi"} | SUBSYSTEMS_BELOW_SETTINGS,
    # What every handler stands on: the settings object, request values, answers through the host.
    "request": BASE | {"abi", "settings"} | SUBSYSTEMS_BELOW_SETTINGS,
    # The request handlers sit side by side and never include each other.
    "screening": BASE | {"abi", "settings", "request"} | SUBSYSTEMS_BELOW_SETTINGS,
    "guard": BASE | {"abi", "settings", "request"} | SUBSYSTEMS_BELOW_SETTINGS,
    "filter": BASE | {"abi", "settings", "request", "screening", "guard"} | SUBSYSTEMS_BELOW_SETTINGS,
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=root, capture_output=True,
                            text=True, check=True).stdout.split()
    faults = []
    for name in listed:
        path = pathlib.PurePosixPath(name)
        floor = path.parts[0]
        if floor not in ALLOWED or path.suffix not in {".h", ".hpp", ".cpp", ".cc", ".in"}:
            continue
        allowed = ALLOWED[floor] | {floor}
        for number, line in enumerate((root / name).read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = match.group(1).split("/")[0]
            if target not in allowed:
                faults.append(f"{name}:{number}: {floor}/ may not include {match.group(1)}")
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"{len(faults)} include(s) run up a floor or into a sibling (see README, Layout).", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
