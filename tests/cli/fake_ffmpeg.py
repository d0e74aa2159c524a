#!/usr/bin/env python3
"""A stand-in for FFmpeg (give it with --ffmpeg). Asked for its version or a listing, it answers nothing, as a program
that is not an FFmpeg; with $FAKE_FFMPEG_LACKS set (a space-separated list) it answers as an FFmpeg without those
parts, after $FAKE_FFMPEG_ASK_SLEEP seconds, noting each question in $FAKE_FFMPEG_LOG.asked; the questions listed in
$FAKE_FFMPEG_FAILS fail (status 1). A run appends its argument vector as a JSON line to $FAKE_FFMPEG_LOG, sleeps,
and exits. $FAKE_FFMPEG_STATUSES and $FAKE_FFMPEG_SLEEP are comma
lists taken one run at a time, the last repeating; the status "kill" ends it by SIGKILL, and with
$FAKE_FFMPEG_IGNORE_TERM set it ignores SIGTERM. With $FAKE_FFMPEG_FDS set, a run notes which of its standard
descriptors are /dev/null in $FAKE_FFMPEG_LOG.fds; it writes $FAKE_FFMPEG_STDERR to its standard error, then
$FAKE_FFMPEG_FLOOD numbered lines. With $FAKE_FFMPEG_SIGNALS set, a run notes in $FAKE_FFMPEG_LOG.signals the signals
it started with blocked ("mask") and ignored ("ignored"), then each signal it gets with the time (SIGCONT: it had been
stopped), and "flooded" once its lines are written; like FFmpeg, it ends with status 255 once asked to finish."""
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
def note(line):
    if os.environ.get("FAKE_FFMPEG_SIGNALS"):
        with open(log + ".signals", "a") as f:
            f.write(line + "\n")


asked_to_finish = []
if os.environ.get("FAKE_FFMPEG_SIGNALS"):
    names = {number: signal.Signals(number).name[3:] for number in (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT,
                                                                     signal.SIGTERM, signal.SIGCONT)}
    note("mask " + " ".join(sorted(signal.Signals(n).name[3:] for n in signal.pthread_sigmask(signal.SIG_BLOCK, []))))
    ignored = [number for number in names if signal.getsignal(number) == signal.SIG_IGN]
    note("ignored " + " ".join(names[number] for number in ignored))

    def received(number, frame):
        note(f"{names[number]} {time.monotonic():.3f}")
        if number != signal.SIGCONT and not (number == signal.SIGTERM and os.environ.get("FAKE_FFMPEG_IGNORE_TERM")):
            asked_to_finish.append(number)  # acted on once every pending signal is noted

    for number in names:
        if number not in ignored:
            signal.signal(number, received)
elif os.environ.get("FAKE_FFMPEG_IGNORE_TERM"):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
sys.stderr.write(os.environ.get("FAKE_FFMPEG_STDERR", ""))
for n in range(int(os.environ.get("FAKE_FFMPEG_FLOOD", "0"))):
    sys.stderr.write(f"flood line {n:06}\n")
sys.stderr.flush()
if os.environ.get("FAKE_FFMPEG_RECORDS"):  # "PATH,BYTES": the recording grows once live
    recording, size = os.environ["FAKE_FFMPEG_RECORDS"].split(",")
    time.sleep(0.3)
    with open(recording, "ab") as f:
        f.write(b"\0" * int(size))
note("flooded")
runs = sum(1 for _ in open(log)) if os.path.exists(log) else 0
with open(log, "a", encoding="utf-8", errors="surrogateescape") as f:
    f.write(json.dumps(sys.argv) + "\n")
status, pause = (os.environ.get(name, "0").split(",") for name in ("FAKE_FFMPEG_STATUSES", "FAKE_FFMPEG_SLEEP"))
end = time.monotonic() + float(pause[min(runs, len(pause) - 1)])
while time.monotonic() < end and not asked_to_finish:
    time.sleep(min(0.05, max(0, end - time.monotonic())))
if asked_to_finish:
    sys.exit(255)
if status[min(runs, len(status) - 1)] == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
sys.exit(int(status[min(runs, len(status) - 1)]))
