#!/usr/bin/env python3
"""The status view, measured: what castora's own process costs while it keeps the view on a terminal, and how often
it redraws it.
    bench/status_view.py [--seconds S] CASTORA
Runs castora live on a pseudo-terminal, FFmpeg replaced by a stand-in that writes a progress line twice a second (as
FFmpeg does) and a log line a second. Prints castora's own CPU time over S seconds (target: <= 1% of one core) and the
view's redraws a second (target: at least 1, at most 2). Exits 1 when a target is missed. CPU time is read from /proc
on Linux and from ps elsewhere.
"""
import argparse
import os
import pty
import re
import select
import shutil
import tempfile
import time

from live_overlays import cpu_seconds

STAND_IN = """#!/bin/sh
case " $* " in *" -i "*) ;; *) exit 0;; esac
n=0
while :; do
    n=$((n + 15))
    printf 'frame=%5d fps= 30 q=28.0 size=N/A time=00:00:01.00 bitrate=N/A speed=1.00x    \\r' "$n" >&2
    sleep 0.5
    printf '[libx264 @ 0x1] a line of the log\\n' >&2
    sleep 0.5
done
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("castora")
    options = parser.parse_args()
    castora = os.path.abspath(options.castora)
    work = tempfile.mkdtemp(prefix="castora-bench-")
    try:
        stand_in = os.path.join(work, "ffmpeg")
        with open(stand_in, "w") as f:
            f.write(STAND_IN)
        os.chmod(stand_in, 0o755)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work, "TERM": "xterm-256color"}
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(work)
            os.execve(castora, [castora, "--skip-update-check", "--no-error-reporting", "--ffmpeg",
                                        stand_in, "--scene", "gift_war_scoreboard", "--target",
                                        "rtmp://127.0.0.1:9/live/k", "--record-file", "rec.mkv"], env)
        screen, started = b"", time.monotonic()
        while time.monotonic() - started < 3:  # live, and past the start
            if select.select([fd], [], [], 0.2)[0]:
                screen += os.read(fd, 65536)
        before, drawn_before, measured_from = cpu_seconds(pid), len(re.findall(rb"\x1b\[\d+A", screen)), time.monotonic()
        while time.monotonic() - measured_from < options.seconds:
            if select.select([fd], [], [], 0.2)[0]:
                screen += os.read(fd, 65536)
        elapsed = time.monotonic() - measured_from
        share = (cpu_seconds(pid) - before) / elapsed * 100
        redraws = (len(re.findall(rb"\x1b\[\d+A", screen)) - drawn_before) / elapsed
        os.kill(pid, 2)
        os.waitpid(pid, 0)
        missed = share > 1 or not 1 <= redraws <= 2.5
        print(f"{'status view':<34}{'value':>10}  target")
        print(f"{f'castora CPU, {options.seconds} s live':<34}{share:>9.2f}%  <= 1% of one core "
              f"{'MISSED' if share > 1 else 'ok'}")
        print(f"{'redraws a second':<34}{redraws:>10.2f}  1 to 2 (with the lines above it) "
              f"{'MISSED' if not 1 <= redraws <= 2.5 else 'ok'}")
        return 1 if missed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    raise SystemExit(main())
