"""Error and crash reports posted over the real curl to a local HTTPS report service, and the
short-lived report file under /tmp."""
import itertools
import json
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import Answer, FakeFfmpeg, ServiceServer, start_castora

BASE = {"event_type": "configuration_error", "severity": "error", "app_version": "0.2.1",
        "app_platform": "macos", "architecture": "universal", "exit_code": 2, "signal_name": "",
        "phase": "", "profile_key": "balanced_480p", "scene_key": "", "message": ""}
UNKNOWN_PROFILE = "Unknown ingest profile."
STREAM_FAILED = "FFmpeg stream process exited with a non-zero code."
server = None


def setUpModule():
    global server
    server = ServiceServer()


def tearDownModule():
    server.stop()


def report(**members):
    return {**BASE, **members}


def crash(number):
    return report(event_type="crash", severity="fatal", exit_code=128 + number, signal_name="signal",
                  phase="signal_handler", message="Castora process received signal %d." % number)


def report_file(pid):
    return "/tmp/brevalo-studio-report-%d.json" % pid


def children_of(pid):
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % entry) as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return found


class Reports(unittest.TestCase):
    def setUp(self):
        server.reset()
        server.answer("/castora/report", Answer(200, b"{}"))
        self.dir = tempfile.mkdtemp(prefix="castora-reports-")
        self.processes = []
        self.children = []

    def tearDown(self):
        # A failed test may leave a launcher waiting on a sleeping fake FFmpeg: end both.
        for process in self.processes:
            if process.poll() is None:
                self.children += children_of(process.pid)
                process.kill()
                process.wait(timeout=30)
        for child in self.children:
            if os.path.exists("/proc/%d" % child):
                os.kill(child, signal.SIGKILL)
        for process in self.processes:
            process.communicate(timeout=30)
        shutil.rmtree(self.dir, ignore_errors=True)
        left = [report_file(p.pid) for p in self.processes if os.path.lexists(report_file(p.pid))]
        for path in left:
            os.remove(path)
        self.assertEqual(left, [], "report files left under /tmp")

    def start(self, args, env=None):
        process = start_castora(["--skip-update-check", "--report-url", server.url("/castora/report"), *args],
                                env={**server.env, **(env or {})}, cwd=self.dir)
        self.processes.append(process)
        return process

    def run_castora(self, args, env=None):
        process = self.start(args, env)
        _, err = process.communicate(timeout=60)
        return process.returncode, err

    def start_sleeping_ffmpeg(self, extra=(), sleep=30, statuses="0"):
        fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses=statuses, sleep=sleep)
        return self.start(["--ffmpeg", fake.path, "--target", "rtmp://a/x", *extra], env=fake.env), fake

    def wait_for_ffmpeg(self, process, fake):
        deadline = time.monotonic() + 20
        while not fake.runs() and time.monotonic() < deadline:
            time.sleep(0.05)
        children = children_of(process.pid)
        self.children += children
        self.assertEqual(len(children), 1, "the fake FFmpeg did not start")
        return children[0]

    def finish(self, process):
        """Waits for castora itself: an FFmpeg it left behind would hold its output pipes open."""
        process.wait(timeout=30)
        for child in self.children:
            if os.path.exists("/proc/%d" % child):
                os.kill(child, signal.SIGKILL)
        process.communicate(timeout=30)

    def posted(self):
        """The delivered reports, after checking how each was sent."""
        bodies = []
        for request in server.requests_to("/castora/report"):
            self.assertEqual(request.method, "POST")
            self.assertEqual(request.headers["content-type"], "application/json")
            self.assertTrue(request.body.endswith(b"}\n"), request.body)
            self.assertEqual(request.body.count(b"\n"), 1)
            bodies.append(json.loads(request.body.decode("utf-8"), object_pairs_hook=list))
        return bodies

    def assert_reports(self, *expected):
        self.assertEqual(self.posted(), [list(r.items()) for r in expected])

    def test_launch_failures_send_one_exact_report(self):
        fake = FakeFfmpeg(self.dir, statuses="5")
        missing = os.path.join(self.dir, "missing-targets.txt")
        cases = [(["--profile", "nope", "--target", "rtmp://a/x"], {}, 2,
                  report(phase="profile", profile_key="nope", message=UNKNOWN_PROFILE)),
                 (["--scene", "nope", "--target", "rtmp://a/x"], {}, 2,
                  report(phase="scene", scene_key="nope", message="Unknown scene preset.")),
                 (["--scene", "gift_war_scoreboard", "--target-file", missing], {}, 2,
                  report(phase="target_file", scene_key="gift_war_scoreboard",
                         message="Target file could not be loaded.")),
                 (["--profile", "low_power_360p"], {}, 2,
                  report(phase="targets", profile_key="low_power_360p",
                         message="No ingest or stream target was provided.")),
                 (["--automation-poll-url", "http://192.168.1.5/q", "--target", "rtmp://a/x"], {}, 2,
                  report(phase="automation", message="Automation poll URL was rejected.")),
                 (["--ffmpeg", fake.path, "--target", "rtmp://a/x"], fake.env, 5,
                  report(event_type="ffmpeg_error", exit_code=5, phase="stream", message=STREAM_FAILED))]
        for args, env, status, expected in cases:
            with self.subTest(args=args):
                server.requests.clear()
                self.assertEqual(self.run_castora(args, env)[0], status)
                self.assert_reports(expected)

    def test_profile_key_is_escaped_cut_and_kept_valid_utf8(self):
        cases = [("p" * 130, "p" * 119), ('a"b\\c', 'a"b\\c'),
                 ("p" * 118 + '"x', "p" * 118), ("p" * 117 + '"x', "p" * 117 + '"'),
                 ("a\tb\nc\x7fd\x1b", "abcd"), ("é" * 70, "é" * 59), ("x" + "é" * 70, "x" + "é" * 59),
                 ("€" * 50, "€" * 39), (b"ab\xffcd\xe2\x82", "abcd"), (b"\xc3(\xed\xa0\x80z", "(z")]
        for key, sent in cases:
            with self.subTest(key=key):
                server.requests.clear()
                raw = key if isinstance(key, bytes) else key.encode()
                self.assertEqual(self.run_castora(["--profile", raw, "--target", "rtmp://a/x"])[0], 2)
                self.assert_reports(report(phase="profile", profile_key=sent, message=UNKNOWN_PROFILE))

    def test_disabled_or_refused_reporting_sends_nothing(self):
        def config(text):
            path = os.path.join(self.dir, "c%d.conf" % len(os.listdir(self.dir)))
            with open(path, "w") as f:
                f.write(text)
            return path

        # A curl that notes every start, so "nothing sent" also means "no process started".
        logging_bin = os.path.join(self.dir, "bin")
        os.mkdir(logging_bin)
        curl_log = os.path.join(self.dir, "curl.log")
        with open(os.path.join(logging_bin, "curl"), "w") as f:
            f.write('#!/bin/sh\necho "$@" >> %s\nexec %s "$@"\n' % (curl_log, shutil.which("curl")))
        os.chmod(os.path.join(logging_bin, "curl"), 0o755)
        logged = {"PATH": logging_bin + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")}
        host = "127.0.0.1:%d" % server.port
        cases = [(["--no-error-reporting"], logged),
                 (["--config", config("disable_error_reporting=1\n")], logged),
                 (["--report-url", ""], logged), (["--config", config("report_url=\n")], logged)]
        cases += [(["--report-url", url % host], logged) for url in
                  ("http://%s/castora/report", "HTTPS://%s/castora/report", "https://user@%s/castora/report")]
        # Without curl at all the shell's complaint is discarded with the rest of the delivery.
        cases += [([], {"PATH": os.path.join(self.dir, "bin-without-curl")})]
        for extra, env in cases:
            with self.subTest(extra=extra, env=env):
                server.requests.clear()
                status, err = self.run_castora([*extra, "--profile", "nope", "--target", "rtmp://a/x"], env)
                self.assertEqual((status, err), (2, b"Unknown profile: nope\n\n"))
                self.assertEqual(server.requests, [])
                self.assertFalse(os.path.exists(curl_log))

    def test_fatal_signals_end_with_a_crash_report(self):
        cases = [(signal.SIGSEGV, [], True), (signal.SIGABRT, ["--scene", "gift_war_scoreboard"], True),
                 (signal.SIGTERM, [], True), (signal.SIGTERM, ["--no-error-reporting"], False)]
        for number, extra, sent in cases:
            with self.subTest(signal=number.name, extra=extra):
                server.requests.clear()
                process, fake = self.start_sleeping_ffmpeg(extra)
                child = self.wait_for_ffmpeg(process, fake)
                process.send_signal(number)
                process.wait(timeout=30)
                self.assertEqual(process.returncode, 128 + number)
                expected = crash(number)
                if extra:
                    expected["scene_key"] = "gift_war_scoreboard"
                self.assert_reports(*([expected] if sent else []))
                if number == signal.SIGTERM:
                    # The encoder is stopped with the launcher, never left streaming on its own.
                    self.assertFalse(os.path.exists("/proc/%d" % child), "FFmpeg outlived castora")
                self.finish(process)

    def test_a_planted_symlink_is_never_followed(self):
        victim = os.path.join(self.dir, "victim.txt")
        for content, crashing in itertools.product(("keep me\n", None), (True, False)):
            with self.subTest(victim=content, crash=crashing):
                server.requests.clear()
                if content:
                    with open(victim, "w") as f:
                        f.write(content)
                # A crash comes while FFmpeg runs; the error comes when it fails after a second.
                process, fake = self.start_sleeping_ffmpeg(sleep=30 if crashing else 1,
                                                           statuses="0" if crashing else "7")
                link = report_file(process.pid)
                os.symlink(victim, link)
                if crashing:
                    self.wait_for_ffmpeg(process, fake)
                    process.send_signal(signal.SIGTERM)
                self.finish(process)
                self.assertEqual(process.returncode, 143 if crashing else 7)
                failed = report(event_type="ffmpeg_error", exit_code=7, phase="stream", message=STREAM_FAILED)
                self.assert_reports(crash(signal.SIGTERM) if crashing else failed)
                if os.path.lexists(link):
                    self.assertEqual(os.readlink(link), victim)
                    os.remove(link)
                if content:
                    with open(victim) as f:
                        self.assertEqual(f.read(), content)
                    os.remove(victim)
                else:
                    self.assertFalse(os.path.lexists(victim))


if __name__ == "__main__":
    unittest.main()
