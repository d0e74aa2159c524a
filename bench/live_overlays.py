#!/usr/bin/env python3
"""Live overlays, measured: how soon a change reaches the text file FFmpeg's drawtext reads, and what castora's own
process costs while it watches an overlay file and polls a bridge.

    bench/live_overlays.py [--changes N] [--seconds S] CASTORA

Runs castora live with --overlay-file and a local automation bridge on 127.0.0.1, FFmpeg replaced by a stand-in that
only sleeps (the drawtext files are read here instead). Prints, with their targets:
  - from a rewrite of the overlay file (in place, as an editor does) to the new text in the drawtext file: median and
    95th percentile over N changes (target: 95th percentile <= 250 ms);
  - from a bridge answer carrying an overlay_event to the new text in the file (target: 95th percentile <= 100 ms);
  - castora's own CPU time over S seconds live, the bridge answering every poll at once with no actions, so castora
    asks twice a second (target: <= 1% of one core).
Exits 1 when a target is missed. CPU time is read from /proc on Linux and from ps elsewhere.
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


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def cpu_seconds(pid):
    if os.path.exists(f"/proc/{pid}/stat"):
        fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    minutes, seconds = subprocess.run(["ps", "-o", "time=", "-p", str(pid)], capture_output=True,
                                      text=True).stdout.strip().split(":")[-2:]
    return int(minutes) * 60 + float(seconds)


class Bridge:
    """Answers each poll at once: with the queued actions, or with none."""

    def __init__(self):
        self.queue, self.answered, self.lock = [], {}, threading.Lock()
        bridge = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with bridge.lock:
                    actions, bridge.queue = bridge.queue, []
                body = json.dumps({"actions": actions}).encode()
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                for action in actions:
                    bridge.answered[action["id"]] = time.monotonic()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/actions"

    def send(self, action):
        with self.lock:
            self.queue.append(action)


def wait_for_text(path, text, timeout=5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path, "rb") as f:
                if f.read() == text:
                    return time.monotonic()
        except FileNotFoundError:
            pass
        time.sleep(0.0005)
    raise SystemExit(f"live_overlays: {path} never showed {text!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--changes", type=int, default=100)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("castora")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="castora-bench-")
    bridge = Bridge()
    castora = None
    try:
        stand_in = os.path.join(work, "ffmpeg")
        with open(stand_in, "w") as f:
            f.write(STAND_IN)
        os.chmod(stand_in, 0o755)
        overlays = os.path.join(work, "overlays.txt")
        with open(overlays, "w") as f:
            f.write("score_left=0\n")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CACHE_HOME": os.path.join(work, "cache")}
        castora = subprocess.Popen([options.castora, "--skip-update-check", "--no-error-reporting", "--ffmpeg", stand_in,
                                    "--scene", "gift_war_scoreboard", "--target", "rtmp://127.0.0.1:9/live/k",
                                    "--overlay-file", overlays, "--automation-poll-url", bridge.url], cwd=work, env=env,
                                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(stand_in + ".args") and time.monotonic() < deadline:
            time.sleep(0.01)
        chain = open(stand_in + ".args").read().split(" -vf ")[1].split(" ")[0]
        folder = os.path.dirname(chain.split("textfile=")[1].split(":")[0])
        left, right = os.path.join(folder, "score_left.txt"), os.path.join(folder, "score_right.txt")
        wait_for_text(left, b"0")

        file_latency, bridge_latency = [], []
        for n in range(1, options.changes + 1):
            time.sleep(0.05)
            with open(overlays, "w") as f:  # in place, as an editor or `echo >` does
                started = time.monotonic()
                f.write(f"score_left={n}\n")
            file_latency.append(wait_for_text(left, str(n).encode()) - started)
            bridge.send({"id": str(n), "action": "overlay_event", "overlay": "score_right", "text": str(n)})
            shown = wait_for_text(right, str(n).encode())
            bridge_latency.append(shown - bridge.answered[str(n)])

        before = cpu_seconds(castora.pid)
        time.sleep(options.seconds)
        share = (cpu_seconds(castora.pid) - before) / options.seconds
    finally:
        if castora is not None:
            castora.terminate()
            castora.wait(timeout=30)
        bridge.httpd.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    # From the bridge's answer, not from the action's queueing: the poll that carries it may come half a second after
    # an empty one.
    rows = [("overlay file -> drawtext file", file_latency, 0.250), ("bridge answer -> drawtext file", bridge_latency,
                                                                    0.100)]
    missed = False
    print(f"{'live overlays':32} {'median ms':>10} {'p95 ms':>10}  target")
    for name, latencies, target in rows:
        p95 = percentile(latencies, 0.95)
        verdict = "<= %d ms %s" % (target * 1000, "ok" if p95 <= target else "MISSED")
        missed |= p95 > target
        print(f"{name:32} {percentile(latencies, 0.5) * 1000:10.1f} {p95 * 1000:10.1f}  {verdict}")
    print(f"{'castora CPU, %d s live' % options.seconds:32} {share * 100:9.2f}% of one core  "
          f"<= 1% {'ok' if share <= 0.01 else 'MISSED'}")
    return 1 if missed or share > 0.01 else 0


if __name__ == "__main__":
    sys.exit(main())
