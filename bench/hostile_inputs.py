#!/usr/bin/env python3
"""Live inputs under pressure, measured: castora's memory while a bridge floods it, and how often a busily rewritten
overlay file reaches the text file FFmpeg's drawtext reads.

    bench/hostile_inputs.py [--seconds S] CASTORA

Runs castora live with FFmpeg replaced by a stand-in that only sleeps (the drawtext files are read here instead):
  - a local bridge on 127.0.0.1 answering every poll at once with the same 2,400 actions (a bridge that repeats its
    actions until they are acknowledged, and never takes the acknowledgements): castora's resident memory every
    second over S seconds (default 60), with the polls and acknowledgements it made; target: the last reading no
    more than 1 MiB above the reading after 5 seconds (flat);
  - a counter rewriting the overlay file in place every 50 ms, then 1,000 times a second, for 5 seconds each: how
    many new texts reach the drawtext file a second, and how old the newest text is when it does (from its write);
    target: at least 4 a second, each at most 250 ms old at the 95th percentile.
Exits 1 when a target is missed. Memory is read from /proc on Linux and from ps elsewhere.
"""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

STAND_IN = """#!/bin/sh
case " $* " in *" -i "*) echo "$@" > "$0.args"; exec sleep 3600;; esac
"""
FLOOD = json.dumps({"actions": [{"id": str(n), "action": "x"} for n in range(2400)]},
                   separators=(",", ":")).encode()


def rss_kib(pid):
    if os.path.exists(f"/proc/{pid}/status"):
        for line in open(f"/proc/{pid}/status"):
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return int(subprocess.run(["ps", "-o", "rss=", "-p", str(pid)], capture_output=True, text=True).stdout)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


class FloodingBridge:
    def __init__(self):
        self.polls = self.acks = 0
        bridge = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                bridge.polls += 1
                self.answer(FLOOD)

            def do_POST(self):
                bridge.acks += 1
                self.rfile.read(int(self.headers.get("Content-Length") or 0))
                self.answer(b"")

            def answer(self, body):
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    self.wfile.write(body)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}"


def start(castora, work, args):
    stand_in = os.path.join(work, "ffmpeg")
    with open(stand_in, "w") as f:
        f.write(STAND_IN)
    os.chmod(stand_in, 0o755)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CACHE_HOME": os.path.join(work, "cache"),
           "HOME": work, "TMPDIR": work}
    process = subprocess.Popen([castora, "--skip-update-check", "--no-error-reporting", "--ffmpeg", stand_in,
                                "--scene", "gift_war_scoreboard", "--target", "rtmp://127.0.0.1:9/live/k", *args],
                               cwd=work, env=env, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines = []
    threading.Thread(target=lambda: lines.extend(process.stderr), daemon=True).start()
    deadline = time.monotonic() + 10
    while not os.path.exists(stand_in + ".args") and time.monotonic() < deadline:
        time.sleep(0.01)
    chain = open(stand_in + ".args").read().split(" -vf ")[1].split(" ")[0]
    return process, os.path.dirname(chain.split("textfile=")[1].split(":")[0]), lines


def stop(process):
    process.terminate()
    process.wait(timeout=30)


def flood(castora, seconds):
    work = tempfile.mkdtemp(prefix="castora-bench-")
    bridge = FloodingBridge()
    try:
        process, _, lines = start(castora, work, ["--live-overlays", "--automation-poll-url", bridge.url + "/poll",
                                                  "--automation-ack-url", bridge.url + "/ack"])
        readings = []
        for _ in range(seconds):
            time.sleep(1)
            readings.append(rss_kib(process.pid))
        stop(process)
    finally:
        bridge.httpd.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    said = sum(1 for line in lines if line.startswith(b"Live: ") and b"automation" in line)
    return readings, bridge.polls, bridge.acks, said


def busy_writer(castora, interval, seconds=5.0):
    work = tempfile.mkdtemp(prefix="castora-bench-")
    overlays = os.path.join(work, "overlays.txt")
    with open(overlays, "w") as f:
        f.write("score_left=0\n")
    try:
        process, folder, _ = start(castora, work, ["--overlay-file", overlays])
        shown_file = os.path.join(folder, "score_left.txt")
        written, stop_writing = {}, threading.Event()

        def write():
            n = 0
            while not stop_writing.is_set():
                n += 1
                with open(overlays, "w") as f:  # in place, as a counter or `echo >` does
                    f.write(f"score_left={n}\n")
                written[str(n)] = time.monotonic()
                time.sleep(interval)

        writer = threading.Thread(target=write)
        writer.start()
        started, last, ages = time.monotonic(), None, []
        while time.monotonic() - started < seconds:
            try:
                with open(shown_file) as f:
                    text = f.read()
            except FileNotFoundError:
                text = last
            if text != last and text in written:
                ages.append(time.monotonic() - written[text])
            last = text
            time.sleep(0.002)
        stop_writing.set()
        writer.join()
        stop(process)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return len(ages) / seconds, ages


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("castora")
    options = parser.parse_args()
    options.castora = os.path.abspath(options.castora)
    missed = False

    readings, polls, acks, said = flood(options.castora, options.seconds)
    growth = readings[-1] - readings[min(4, len(readings) - 1)]
    flat = growth <= 1024
    missed |= not flat
    print(f"bridge flood, 2,400 actions a poll, {options.seconds} s: RSS {readings[0]} KiB after 1 s, "
          f"{readings[min(4, len(readings) - 1)]} KiB after 5 s, {max(readings)} KiB at most, {readings[-1]} KiB at "
          f"the end ({growth:+d} KiB since 5 s: {'flat, ok' if flat else 'GROWS, MISSED'}); {polls} polls, "
          f"{acks} acknowledgements, {said} bridge lines")
    for name, interval in (("every 50 ms", 0.05), ("1,000 times a second", 0.001)):
        rate, ages = busy_writer(options.castora, interval)
        ok = rate >= 4 and ages and percentile(ages, 0.95) <= 0.250
        missed |= not ok
        age = "newest text {:.0f} ms old (median), {:.0f} ms (95th percentile) when shown".format(
            percentile(ages, 0.5) * 1000, percentile(ages, 0.95) * 1000) if ages else "none shown"
        print(f"overlay file rewritten {name}: {rate:.1f} new texts shown a second, {age}: {'ok' if ok else 'MISSED'}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
