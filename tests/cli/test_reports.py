"""Error and crash reports posted over the real curl to a local HTTPS report service, and the short-lived report
file under /tmp. The body of every launch failure is pinned by the launch table of test_front_end."""
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import DEST, REPORT, Answer, Background, FakeFfmpeg, alive, children_of, shared_server, wait_for


def crash(number, **members):
    return {**REPORT, "event_type": "crash", "severity": "fatal", "exit_code": 128 + number, "signal_name": "signal",
            "phase": "signal_handler", "message": "Castora process received signal %d." % number, **members}


class Reports(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.server.reset()
        self.server.answer("/castora/report", Answer(200, b"{}"))
        self.dir = tempfile.mkdtemp(prefix="castora-reports-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def start(self, args, env=None):
        castora = Background(["--skip-update-check", "--report-url", self.server.url("/castora/report"), *args],
                             env={**self.server.env, **(env or {})}, cwd=self.dir)
        self.addCleanup(castora.stop)
        # The report file exists only while a report is sent: nothing may be left under /tmp.
        self.addCleanup(lambda: self.assertFalse(os.path.lexists(report_file(castora.pid))))
        return castora

    def test_members_travel_escaped_and_valid_utf8_and_nothing_is_sent_when_reporting_is_off(self):
        for key, sent in ((b'a"b\\c\td\xffe\xe2\x82', 'a"b\\cde'), ("é" * 70, "é" * 59)):
            self.server.requests.clear()
            self.assertEqual(self.start(["--profile", key, *DEST]).wait(), 2)
            self.assertEqual(self.server.reports(), [{**REPORT, "phase": "profile",
                                                      "message": "Unknown ingest profile.", "profile_key": sent}])
        # A curl that notes every start, so "nothing sent" also means "no process started".
        logged = os.path.join(self.dir, "bin")
        os.mkdir(logged)
        with open(os.path.join(logged, "curl"), "w") as f:
            f.write('#!/bin/sh\necho "$@" >> %s/curl.log\nexec %s "$@"\n' % (self.dir, shutil.which("curl")))
        os.chmod(os.path.join(logged, "curl"), 0o755)
        with open(os.path.join(self.dir, "studio.conf"), "w") as f:
            f.write("disable_error_reporting=1\n")
        host, path = "127.0.0.1:%d" % self.server.port, {"PATH": logged + ":" + os.environ.get("PATH", "")}
        for extra, env in ((["--no-error-reporting"], path), (["--config", "studio.conf"], path),
                           (["--report-url", ""], path), (["--report-url", "http://%s/castora/report" % host], path),
                           (["--report-url", "https://u@%s/castora/report" % host], path),
                           ([], {"PATH": "/nonexistent"})):  # without curl the shell's complaint is discarded too
            with self.subTest(extra=extra):
                self.server.requests.clear()
                castora = self.start([*extra, "--profile", "nope", *DEST], env)
                self.assertEqual((castora.wait(), castora.stderr), (2, "Unknown profile: nope\n\n"))
                self.assertEqual(self.server.requests, [])
                self.assertFalse(os.path.exists(os.path.join(self.dir, "curl.log")))

    def test_crash_reports_and_a_planted_symlink_that_is_never_followed(self):
        victim = os.path.join(self.dir, "victim.txt")
        stream_failed = {**REPORT, "event_type": "ffmpeg_error", "exit_code": 7, "phase": "stream",
                         "message": "FFmpeg stream process exited with a non-zero code."}
        for number, extra, reports in ((signal.SIGSEGV, ["--scene", "game_battle"], [crash(11, scene_key="game_battle")]),
                                       (signal.SIGBUS, [], [crash(signal.SIGBUS)]), (signal.SIGTERM, [], [crash(15)]),
                                       (signal.SIGTERM, ["--no-error-reporting"], []), (None, [], [stream_failed])):
            with self.subTest(signal=number, extra=extra):
                self.server.requests.clear()
                with open(victim, "w") as f:
                    f.write("keep\n")
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses="0" if number else "7",
                                  sleep="30" if number else "1")
                castora = self.start(["--ffmpeg", fake.path, *DEST, *extra], env=fake.env)
                wait_for(lambda: fake.runs() and children_of(castora.pid), what="the fake FFmpeg")
                [child] = children_of(castora.pid)
                os.symlink(victim, report_file(castora.pid))
                started = time.monotonic()
                if number:
                    castora.send_signal(number)
                self.assertEqual(castora.wait(), 128 + number if number else 7)
                self.assertEqual(self.server.reports(), reports)
                # The encoder is stopped with the launcher, not left streaming on its own.
                self.assertTrue(not number or time.monotonic() - started < 8 and not alive(child))
                if os.path.lexists(report_file(castora.pid)):
                    self.assertEqual(os.readlink(report_file(castora.pid)), victim)
                    os.remove(report_file(castora.pid))
                with open(victim) as f:
                    self.assertEqual(f.read(), "keep\n")


def report_file(pid):
    return "/tmp/brevalo-studio-report-%d.json" % pid


if __name__ == "__main__":
    unittest.main()
