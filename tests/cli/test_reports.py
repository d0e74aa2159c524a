"""Error and crash reports posted over the real curl to a local HTTPS report service, and the
short-lived report file under /tmp. The exact body of every launch failure is pinned by the launch
table of test_front_end.py."""
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import REPORT, Answer, FakeFfmpeg, children_of, shared_server, start_castora

UNKNOWN_PROFILE = dict(phase="profile", message="Unknown ingest profile.")
STREAM_FAILED = dict(event_type="ffmpeg_error", exit_code=7, phase="stream",
                     message="FFmpeg stream process exited with a non-zero code.")
server = None


def setUpModule():
    global server
    server = shared_server()


def crash(number, **members):
    return {**REPORT, "event_type": "crash", "severity": "fatal", "exit_code": 128 + number,
            "signal_name": "signal", "phase": "signal_handler",
            "message": "Castora process received signal %d." % number, **members}


def report_file(pid):
    return "/tmp/brevalo-studio-report-%d.json" % pid


class Reports(unittest.TestCase):
    def setUp(self):
        server.reset()
        server.answer("/castora/report", Answer(200, b"{}"))
        self.dir = tempfile.mkdtemp(prefix="castora-reports-")
        self.processes = []
        self.addCleanup(self.cleanup)

    def cleanup(self):
        # A failed test may leave a launcher waiting on a sleeping fake FFmpeg: end both.
        for process in self.processes:
            if process.poll() is None:
                for child in children_of(process.pid):
                    os.kill(child, signal.SIGKILL)
                process.kill()
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

    def start_streaming(self, extra=(), sleep=30, statuses="0"):
        """castora running a fake FFmpeg that sleeps: the process and the fake FFmpeg's pid."""
        fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses=statuses, sleep=sleep)
        process = self.start(["--ffmpeg", fake.path, "--target", "rtmp://a/x", *extra], env=fake.env)
        fake.wait_for_run()
        children = children_of(process.pid)
        self.assertEqual(len(children), 1, "the fake FFmpeg did not start")
        return process, children[0]

    def test_members_are_escaped_cut_and_kept_valid_utf8(self):
        cases = [("p" * 130, "p" * 119), ('a"b\\c', 'a"b\\c'), ("p" * 118 + '"x', "p" * 118),
                 ("p" * 117 + '"x', "p" * 117 + '"'), ("a\tb\nc\x7fd\x1b", "abcd"),
                 ("x" + "é" * 70, "x" + "é" * 59),
                 ("€" * 50, "€" * 39), (b"ab\xffcd\xe2\x82", "abcd"), (b"\xc3(\xed\xa0\x80z", "(z")]
        for key, sent in cases:
            with self.subTest(key=key):
                server.requests.clear()
                raw = key if isinstance(key, bytes) else key.encode()
                self.assertEqual(self.run_castora(["--profile", raw, "--target", "rtmp://a/x"])[0], 2)
                self.assertEqual(server.reports(), [{**REPORT, **UNKNOWN_PROFILE, "profile_key": sent}])

    def test_disabled_or_refused_reporting_starts_nothing(self):
        # A curl that notes every start, so "nothing sent" also means "no process started".
        logging_bin = os.path.join(self.dir, "bin")
        os.mkdir(logging_bin)
        curl_log = os.path.join(self.dir, "curl.log")
        with open(os.path.join(logging_bin, "curl"), "w") as f:
            f.write('#!/bin/sh\necho "$@" >> %s\nexec %s "$@"\n' % (curl_log, shutil.which("curl")))
        os.chmod(os.path.join(logging_bin, "curl"), 0o755)
        config = os.path.join(self.dir, "studio.conf")
        with open(config, "w") as f:
            f.write("disable_error_reporting=1\n")
        logged = {"PATH": logging_bin + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")}
        host = "127.0.0.1:%d" % server.port
        cases = [(extra, logged) for extra in (
            ["--no-error-reporting"], ["--config", config], ["--report-url", ""],
            ["--report-url", "http://%s/castora/report" % host],
            ["--report-url", "https://u@%s/castora/report" % host])]
        # Without curl at all the shell's complaint is discarded with the rest of the delivery.
        cases.append(([], {"PATH": os.path.join(self.dir, "bin-without-curl")}))
        for extra, env in cases:
            with self.subTest(extra=extra, env=env):
                server.requests.clear()
                status, err = self.run_castora([*extra, "--profile", "nope", "--target", "rtmp://a/x"], env)
                self.assertEqual((status, err), (2, b"Unknown profile: nope\n\n"))
                self.assertEqual(server.requests, [])
                self.assertFalse(os.path.exists(curl_log))

    def test_crash_reports_and_a_planted_symlink_that_is_never_followed(self):
        victim = os.path.join(self.dir, "victim.txt")
        stream_failed = {**REPORT, **STREAM_FAILED}
        cases = [  # signal (None: FFmpeg fails after a second), arguments, reports, the victim's content
            (signal.SIGSEGV, ["--scene", "game_battle"], [crash(11, scene_key="game_battle")], "keep\n"),
            (signal.SIGTERM, [], [crash(15)], "keep\n"), (signal.SIGTERM, ["--no-error-reporting"], [], None),
            (None, [], [stream_failed], None)]
        for number, extra, reports, content in cases:
            with self.subTest(signal=number, extra=extra, victim=content):
                server.requests.clear()
                if content:
                    with open(victim, "w") as f:
                        f.write(content)
                process, child = self.start_streaming(extra, 30 if number else 1, "0" if number else "7")
                link = report_file(process.pid)
                os.symlink(victim, link)
                started = time.monotonic()
                if number:
                    process.send_signal(number)
                process.wait(timeout=30)
                self.assertEqual(process.returncode, 128 + number if number else 7)
                self.assertEqual(server.reports(), reports)
                if number == signal.SIGTERM:
                    # The encoder is stopped with the launcher, never left streaming on its own, and
                    # castora does not sit out FFmpeg's own 30 s.
                    self.assertLess(time.monotonic() - started, 8)
                    self.assertFalse(os.path.exists("/proc/%d" % child), "FFmpeg outlived castora")
                elif os.path.exists("/proc/%d" % child):
                    os.kill(child, signal.SIGKILL)  # it would hold castora's output pipes open
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
