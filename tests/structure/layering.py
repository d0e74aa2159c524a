#!/usr/bin/env python3
"""Fails when a folder of src/ includes a folder above it in LAYERS, so the subsystems depend on each other in one
direction only and none of them needs the front end."""
import os
import re
import sys

# Lowest first: a folder may include its own headers and those of the folders before it.
LAYERS = ["core", "process", "files", "catalog", "config", "publish", "ffmpeg", "ffmpeg_check", "automation", "plan",
          "live", "update", "report", "cli"]
src = sys.argv[1]
problems = []
for folder in sorted(name for name in os.listdir(src) if os.path.isdir(os.path.join(src, name))):
    for name in sorted(os.listdir(os.path.join(src, folder))):
        with open(os.path.join(src, folder, name), encoding="utf-8") as f:
            for included in re.findall(r'^\s*#\s*include\s+"([^/"]+)/', f.read(), re.M):
                if folder not in LAYERS or included not in LAYERS or LAYERS.index(included) > LAYERS.index(folder):
                    problems.append(f"src/{folder}/{name} includes {included}/")
print("\n".join(problems) or "every folder includes only the folders below it")
sys.exit(1 if problems else 0)
