#!/usr/bin/env python3
"""A stand-in for FFmpeg (give it with --ffmpeg). Asked for its version or a listing, it answers nothing, as a program
that is not an FFmpeg; with $FAKE_FFMPEG_LACKS set (a space-separated list) it answers as an FFmpeg without those
parts, after $FAKE_FFMPEG_ASK_SLEEP seconds, noting each question in $FAKE_FFMPEG_LOG.asked; the questions listed in
$FAKE_FFMPEG_FAILS fail (status 1). A run appends its argument vector as a JSON line to $FAKE_FFMPEG_LOG, sleeps,
and exits. $FAKE_FFMPEG_STATUSES and $FAKE_FFMPEG_SLEEP are comma
lists taken one run at a time, the last repeating; the status "kill" ends it by SIGKILL, and with
$FAKE_FFMPEG_IGNORE_TERM set it ignores SIGTERM. With $FAKE_FFMPEG_FDS set, a run notes which of its standard
descriptors are /dev/null in $FAKE_FFMPEG_LOG.fds; it writes $FAKE_FFMPEG_STDERR to its standard error."""
import json
import os
import signal
import sys
import time

LISTINGS = {"-version": "ffmpeg version 9.9-fake Copyright\n", "-devices": "Devices:\n --\n D  avfoundation x\n",
            "-encoders": "Encoders:\n ------\n V....D h264_videotoolbox x\n A....D aac x\n",
            "-filters": "Filters:\n ... scale V->V x\n ... pad V->V x\n ... drawtext V->V x\n",
            "-muxers": "Formats:\n ---\n  E  tee x\n  E  fifo x\n  E  flv x\n  E  mpegts x\n  E  matroska x\n",
            "-protocols": "Supported file protocols:\nOutput:\n  rtmp\n  rtmps\n  srt\n  file\n"}
log = os.environ["FAKE_FFMPEG_LOG"]
if "-i" not in sys.argv:
    if "FAKE_FFMPEG_LACKS" in os.environ:
        with open(log + ".asked", "a") as f:
            f.write(sys.argv[-1] + "\n")
        time.sleep(float(os.environ.get("FAKE_FFMPEG_ASK_SLEEP", "0")))
        if sys.argv[-1] in os.environ.get("FAKE_FFMPEG_FAILS", "").split():
            sys.exit(1)
        lacks = set(os.environ["FAKE_FFMPEG_LACKS"].split())
        print("".join(line for line in LISTINGS[sys.argv[-1]].splitlines(True) if not lacks & set(line.split())), end="")
    sys.exit(0)


def is_null(fd):
    try:
        return os.path.samestat(os.fstat(fd), os.stat("/dev/null"))
    except OSError:  # closed
        return False


if os.environ.get("FAKE_FFMPEG_FDS"):
    with open(log + ".fds", "a") as f:
        f.write(" ".join(str(fd) for fd in range(3) if is_null(fd)) + "\n")
sys.stderr.write(os.environ.get("FAKE_FFMPEG_STDERR", ""))
if os.environ.get("FAKE_FFMPEG_IGNORE_TERM"):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
runs = sum(1 for _ in open(log)) if os.path.exists(log) else 0
with open(log, "a", encoding="utf-8", errors="surrogateescape") as f:
    f.write(json.dumps(sys.argv) + "\n")
status, pause = (os.environ.get(name, "0").split(",") for name in ("FAKE_FFMPEG_STATUSES", "FAKE_FFMPEG_SLEEP"))
time.sleep(float(pause[min(runs, len(pause) - 1)]))
if status[min(runs, len(status) - 1)] == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
sys.exit(int(status[min(runs, len(status) - 1)]))
