"""Error and crash reports posted over the real curl to a local HTTPS report service, and the short-lived
report file under /tmp. The body of every launch failure is pinned by the launch table of test_front_end."""
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import DEST, REPORT, Answer, FakeFfmpeg, alive, children_of, shared_server, start_castora, wait_for

UNKNOWN_PROFILE = dict(phase="profile", message="Unknown ingest profile.")


def crash(number, **members):
    return {**REPORT, "event_type": "crash", "severity": "fatal", "exit_code": 128 + number,
            "signal_name": "signal", "phase": "signal_handler",
            "message": "Castora process received signal %d." % number, **members}


def report_file(pid):
    return "/tmp/brevalo-studio-report-%d.json" % pid


class Reports(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.server.reset()
        self.server.answer("/castora/report", Answer(200, b"{}"))
        self.dir = tempfile.mkdtemp(prefix="castora-reports-")
        self.processes = []
        self.addCleanup(self.cleanup)

    def cleanup(self):
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
        process = start_castora(["--skip-update-check", "--report-url", self.server.url("/castora/report"), *args],
                                env={**self.server.env, **(env or {})}, cwd=self.dir)
        self.processes.append(process)
        return process

    def run_castora(self, args, env=None):
        process = self.start(args, env)
        _, err = process.communicate(timeout=60)
        return process.returncode, err

    def test_members_travel_escaped_and_valid_utf8(self):
        for key, sent in ((b'a"b\\c\td\xffe\xe2\x82', 'a"b\\cde'), ("é" * 70, "é" * 59)):
            with self.subTest(key=key):
                self.server.requests.clear()
                raw = key if isinstance(key, bytes) else key.encode()
                self.assertEqual(self.run_castora(["--profile", raw, *DEST])[0], 2)
                self.assertEqual(self.server.reports(), [{**REPORT, **UNKNOWN_PROFILE, "profile_key": sent}])

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
        host = "127.0.0.1:%d" % self.server.port
        cases = [(extra, logged) for extra in (
            ["--no-error-reporting"], ["--config", config], ["--report-url", ""],
            ["--report-url", "http://%s/castora/report" % host],
            ["--report-url", "https://u@%s/castora/report" % host])]
        # Without curl at all the shell's complaint is discarded with the rest of the delivery.
        cases.append(([], {"PATH": os.path.join(self.dir, "bin-without-curl")}))
        for extra, env in cases:
            with self.subTest(extra=extra, env=env):
                self.server.requests.clear()
                status, err = self.run_castora([*extra, "--profile", "nope", *DEST], env)
                self.assertEqual((status, err), (2, b"Unknown profile: nope\n\n"))
                self.assertEqual(self.server.requests, [])
                self.assertFalse(os.path.exists(curl_log))

    def test_crash_reports_and_a_planted_symlink_that_is_never_followed(self):
        victim = os.path.join(self.dir, "victim.txt")
        stream_failed = {**REPORT, "event_type": "ffmpeg_error", "exit_code": 7, "phase": "stream",
                         "message": "FFmpeg stream process exited with a non-zero code."}
        for number, extra, reports, content in (  # signal (None: FFmpeg fails), arguments, reports, victim
                (signal.SIGSEGV, ["--scene", "game_battle"], [crash(11, scene_key="game_battle")], "keep\n"),
                (signal.SIGTERM, [], [crash(15)], "keep\n"), (signal.SIGTERM, ["--no-error-reporting"], [], None),
                (signal.SIGBUS, [], [crash(signal.SIGBUS)], None),
                (None, [], [stream_failed], None)):
            with self.subTest(signal=number, extra=extra, victim=content):
                self.server.requests.clear()
                if content:
                    with open(victim, "w") as f:
                        f.write(content)
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses="0" if number else "7",
                                  sleep=30 if number else 1)
                process = self.start(["--ffmpeg", fake.path, *DEST, *extra], env=fake.env)
                wait_for(lambda: fake.runs() and children_of(process.pid), what="the fake FFmpeg")
                [child] = children_of(process.pid)
                link = report_file(process.pid)
                os.symlink(victim, link)
                started = time.monotonic()
                if number:
                    process.send_signal(number)
                process.wait(timeout=30)
                self.assertEqual(process.returncode, 128 + number if number else 7)
                self.assertEqual(self.server.reports(), reports)
                if number:
                    # The encoder is stopped with the launcher, not left streaming on its own.
                    self.assertLess(time.monotonic() - started, 8)
                    self.assertFalse(alive(child), "FFmpeg outlived castora")
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
