#!/usr/bin/env python3
"""A stand-in for FFmpeg, given to castora with --ffmpeg.

It appends its argument vector as one JSON line to $FAKE_FFMPEG_LOG, optionally sleeps
$FAKE_FFMPEG_SLEEP seconds, then exits with the next status of $FAKE_FFMPEG_STATUSES (a comma
list consumed one run at a time, the last one repeating; default 0). A status of "kill" makes
it end itself with SIGKILL, like a crashed encoder.
"""
import json
import os
import signal
import sys
import time

log = os.environ.get("FAKE_FFMPEG_LOG")
statuses = os.environ.get("FAKE_FFMPEG_STATUSES", "0").split(",")
runs = 0
if log and os.path.exists(log):
    with open(log, encoding="utf-8", errors="surrogateescape") as f:
        runs = sum(1 for _ in f)
status = statuses[min(runs, len(statuses) - 1)].strip()
if log:
    with open(log, "a", encoding="utf-8", errors="surrogateescape") as f:
        f.write(json.dumps(sys.argv) + "\n")
time.sleep(float(os.environ.get("FAKE_FFMPEG_SLEEP", "0")))
if status == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
sys.exit(int(status))
