#!/usr/bin/env python3
"""A stand-in for FFmpeg, given to castora with --ffmpeg. It appends its argument vector as one JSON line to
$FAKE_FFMPEG_LOG, sleeps, then exits with a status. $FAKE_FFMPEG_STATUSES and $FAKE_FFMPEG_SLEEP are comma lists
consumed one run at a time, the last item repeating (defaults 0 and 0). A status of "kill" makes it end itself
with SIGKILL, like a crashed encoder; with $FAKE_FFMPEG_IGNORE_TERM set it ignores SIGTERM."""
import json
import os
import signal
import sys
import time


def nth(name, default, run):
    items = os.environ.get(name, default).split(",")
    return items[min(run, len(items) - 1)].strip()


if os.environ.get("FAKE_FFMPEG_IGNORE_TERM"):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
log = os.environ.get("FAKE_FFMPEG_LOG")
runs = 0
if log and os.path.exists(log):
    with open(log, encoding="utf-8", errors="surrogateescape") as f:
        runs = sum(1 for _ in f)
if log:
    with open(log, "a", encoding="utf-8", errors="surrogateescape") as f:
        f.write(json.dumps(sys.argv) + "\n")
time.sleep(float(nth("FAKE_FFMPEG_SLEEP", "0", runs)))
status = nth("FAKE_FFMPEG_STATUSES", "0", runs)
if status == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
sys.exit(int(status))
