#!/usr/bin/env python3
"""A stand-in for FFmpeg (give it with --ffmpeg): it appends its argument vector as a JSON line to $FAKE_FFMPEG_LOG,
sleeps, and exits. $FAKE_FFMPEG_STATUSES and $FAKE_FFMPEG_SLEEP are comma lists taken one run at a time, the last
repeating; the status "kill" ends it by SIGKILL, and with $FAKE_FFMPEG_IGNORE_TERM set it ignores SIGTERM."""
import json
import os
import signal
import sys
import time

if os.environ.get("FAKE_FFMPEG_IGNORE_TERM"):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
log = os.environ["FAKE_FFMPEG_LOG"]
runs = sum(1 for _ in open(log)) if os.path.exists(log) else 0
with open(log, "a", encoding="utf-8", errors="surrogateescape") as f:
    f.write(json.dumps(sys.argv) + "\n")
status, pause = (os.environ.get(name, "0").split(",") for name in ("FAKE_FFMPEG_STATUSES", "FAKE_FFMPEG_SLEEP"))
time.sleep(float(pause[min(runs, len(pause) - 1)]))
if status[min(runs, len(status) - 1)] == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
sys.exit(int(status[min(runs, len(status) - 1)]))
