#!/usr/bin/python3
# Fails when a source of one subsystem includes a header of a subsystem above it, in the
# order ARCHITECTURE.md gives: each folder may include only folders on lower levels. Prints
# every upward include and the count of includes per pair of folders.
# Usage: check_includes.py [SOURCE_ROOT]

import collections
import os
import re
import sys

# Lowest first; folders on one level stand side by side and include neither of each other.
LEVELS = [
    ["foundation"],
    ["ui", "updater"],
    ["editor"],
    ["terminal"],
    ["listers"],
    ["compiler/core"],
    ["compiler/parser"],
    ["compiler/bytecode"],
    ["compiler/amd64"],
    # The pipeline drives every stage of a compile; quarnc, the compiler's developer tool,
    # stands beside it and is linked into nothing.
    ["compiler/pipeline", "compiler/quarnc"],
    ["runtime"],
    ["shell"],
]
LEVEL = {folder: level for level, folders in enumerate(LEVELS) for folder in folders}

def folder_of(path):
    for folder in sorted(LEVEL, key=len, reverse=True):
        if path.startswith(folder + "/"):
            return folder
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    counts = collections.Counter()
    upward = []
    for folder in LEVEL:
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.relpath(os.path.join(directory, name), root)
                source = folder_of(path)
                with open(os.path.join(directory, name), errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                        target = folder_of(m.group(1)) if m else None
                        if not target or target == source:
                            continue
                        counts[(source, target)] += 1
                        if LEVEL[target] >= LEVEL[source]:
                            upward.append(f"{path}:{number}: {source} includes {m.group(1)}")
    for (source, target), n in sorted(counts.items()):
        mark = "" if LEVEL[target] < LEVEL[source] else "  (upward)"
        print(f"{source:20} -> {target:20} {n}{mark}")
    for line in upward:
        print("upward include: " + line)
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())
