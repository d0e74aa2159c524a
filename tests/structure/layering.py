#!/usr/bin/env python3
"""Fails when a folder of src/ includes a folder above it in LAYERS, so the subsystems depend on
each other in one direction only and none of them needs the front end."""
import os
import re
import sys

# Lowest first: a folder may include its own headers and those of the folders before it.
LAYERS = ["core", "catalog", "config", "publish", "ffmpeg", "process", "update", "report", "cli"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/', re.M)


def violations(src):
    found = []
    for folder in os.listdir(src):
        if not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in LAYERS:
            found.append(f"src/{folder}/ is not placed in the layer list")
            continue
        for name in sorted(os.listdir(os.path.join(src, folder))):
            with open(os.path.join(src, folder, name), encoding="utf-8") as f:
                for included in INCLUDE.findall(f.read()):
                    if included not in LAYERS or LAYERS.index(included) > LAYERS.index(folder):
                        found.append(f"src/{folder}/{name} includes {included}/")
    return found


if __name__ == "__main__":
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src")
    problems = violations(src)
    print("\n".join(problems) or "every folder includes only the folders below it")
    sys.exit(1 if problems else 0)
