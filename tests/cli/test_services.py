"""The update check, the package download with its SHA-256 verification, and the error and crash reports, over the
real curl against local HTTPS services, including ones that stall, redirect, cut transfers short or send terminal
controls."""
import hashlib
import json
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import (DEST, REPORT, Answer, Background, FakeFfmpeg, alive, children_of, read, run_castora, shared_server,
                     wait_for, write)

QUERY = "current_version=0.2.1&platform=macos&architecture=universal&channel=stable"
PACKAGE = b"castora package body\n" * 64
DIGEST = hashlib.sha256(PACKAGE).hexdigest()
PACKAGE_FILE = "brevalo-studio-update-0.3.0-macos-universal.tar.gz"
KEPT = "Downloaded Castora update package: %s\n" % PACKAGE_FILE
REMOVED = "Downloaded Castora update failed SHA-256 verification and was removed: %s\n" % PACKAGE_FILE
AVAILABLE = "Castora update available: 0.2.1 -> %s\n"


def crash(number, **members):
    return {**REPORT, "event_type": "crash", "severity": "fatal", "exit_code": 128 + number, "signal_name": "signal",
            "phase": "signal_handler", "message": "Castora process received signal %d." % number, **members}


class Services(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.server.reset(**{"/pkg.tar.gz": Answer(200, PACKAGE), "/castora/report": Answer(200, b"{}")})
        self.root = tempfile.mkdtemp(prefix="castora-services-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.cwd = os.path.join(self.root, "work")
        os.mkdir(self.cwd)

    def serve(self, answer):
        self.server.requests.clear()
        self.server.answer("/castora/update", answer if isinstance(answer, Answer) else
                           Answer(200, answer if isinstance(answer, bytes) else json.dumps(answer).encode()))

    def newer(self, **members):
        self.serve({"latest_version": "0.3.0", "download_url": self.server.url("/pkg.tar.gz"), **members})

    def check(self, *extra, mode=("--dry-run", *DEST), env=None):
        """One run against the service: whatever the service said, the launch goes on unchanged."""
        args = ["--update-url", self.server.url("/castora/update"), "--no-error-reporting", *mode, *extra]
        r = run_castora(args, env={**self.server.env, **(env or {})}, cwd=self.cwd)
        self.assertEqual(r.status, 0, r.stderr)
        self.assertTrue("--dry-run" not in mode or r.stdout.endswith(" -f flv rtmp://a/x\n"), r.stdout)
        return r.stderr

    def assert_downloaded(self, kept, requested=True):
        self.assertEqual(len(self.server.requests_to("/pkg.tar.gz")), requested)
        self.assertEqual(os.listdir(self.cwd), [PACKAGE_FILE] if kept else [])
        if kept:
            self.assertEqual(read(os.path.join(self.cwd, PACKAGE_FILE)), PACKAGE)
            os.remove(os.path.join(self.cwd, PACKAGE_FILE))

    def start(self, args, env=None):
        """castora reporting to the local service, with nothing left under /tmp when it is done."""
        castora = Background(["--skip-update-check", "--report-url", self.server.url("/castora/report"), *args],
                             env={**self.server.env, **(env or {})}, cwd=self.root)
        self.addCleanup(castora.stop)
        self.addCleanup(lambda: self.assertFalse(os.path.lexists(report_file(castora.pid))))
        return castora

    def test_query_and_the_lines_of_each_mode(self):
        self.serve({"latest_version": "0.2.1"})
        for endpoint, query in (("/castora/update", QUERY), ("/castora/update?beta=1", "beta=1&" + QUERY)):
            self.server.requests.clear()
            self.check("--update-url", self.server.url(endpoint))
            [q] = self.server.requests
            self.assertEqual((q.method, q.path, q.query, q.headers["user-agent"]),
                             ("GET", "/castora/update", query, "BrevaloCastora/0.2.1"))
        for latest, lines in (("0.2.10", AVAILABLE % "0.2.10" + "SHA-256: x\n"), ("0.2.1", "")):
            self.serve({"latest_version": latest, "sha256": "x"})
            self.assertEqual(self.check(), lines)
            self.assertEqual(self.check(mode=("--check-update",)), lines or "Castora is current: 0.2.1\n")
        self.newer(sha256=DIGEST)
        for extra in (["--skip-update-check"], ["--update-url", ""]):
            self.assertEqual(self.check(*extra, "--check-update", mode=()), "")
            self.assertEqual((self.server.requests, os.listdir(self.cwd)), ([], []))

    def test_download_is_kept_only_when_the_digest_matches(self):
        write(os.path.join(self.root, "studio.conf"), "auto_download_update=0\n")
        sha256sum_only, no_checksums = tempfile.mkdtemp(dir=self.root), tempfile.mkdtemp(dir=self.root)
        for tool in ("sh", "curl", "printf", "sha256sum"):
            for directory in (sha256sum_only, no_checksums)[:1 if tool == "sha256sum" else 2]:
                os.symlink(shutil.which(tool), os.path.join(directory, tool))
        for digest, extra, path, outcome in (
                (DIGEST.upper(), [], None, KEPT), (DIGEST[::-1], [], None, REMOVED), (None, [], None, REMOVED),
                (DIGEST, ["--config", "../studio.conf"], None, ""),
                (DIGEST, ["--config", "../studio.conf", "--auto-download-update"], None, KEPT),
                (DIGEST, [], sha256sum_only, KEPT), (DIGEST, [], no_checksums, REMOVED)):
            with self.subTest(digest=digest, extra=extra, path=path):
                self.newer(**({"sha256": digest} if digest else {}))
                lines = AVAILABLE % "0.3.0" + "Download: %s\n" % self.server.url("/pkg.tar.gz")
                lines += "SHA-256: %s\n" % digest if digest else ""
                err = self.check(*extra, env=path and {"PATH": path})  # curl's progress display comes between
                self.assertTrue(err.startswith(lines) and err.endswith(outcome) if outcome else err == lines, err)
                self.assert_downloaded(outcome == KEPT, bool(outcome))

    def test_hostile_answers_reach_no_command_no_terminal_and_no_other_file(self):
        package = self.server.url("/pkg.tar.gz").encode()
        for latest, url, shown in ((b'9\\"x', package, '9"x'), (b"9/../../escape", package, "9/../../escape"),
                                   (b"9$(touch pwned)`id`;y", package, "9$(touch pwned)`id`;y"),
                                   (b"9\x1b]0;t\x07\xc2\x9b2J\xe2\x80\xae\x9b\xff", package, "9]0;t2J"),
                                   (b"9", package + b"';touch x;'", "9")):
            with self.subTest(latest=latest):
                self.serve(b'{"latest_version":"%s","download_url":"%s","sha256":"%s"}' % (latest, url, DIGEST.encode()))
                err = self.check()
                self.assertEqual([line for line in err.splitlines() if line.startswith("Castora")],
                                 [(AVAILABLE % shown).rstrip("\n")])
                self.assertFalse({"\x1b", "\x9b", "\u009b", "\u202e"} & set(err) or "Downloaded" in err)
                self.assert_downloaded(False, False)
                self.assertEqual(os.listdir(self.root), ["work"])
        for body in (b'{"filler":"' + b"x" * 200000 + b'","latest_version":"9.0"}', b'{"latest_version": 9.1}'):
            self.serve(body)
            self.assertNotIn("Castora", self.check())
        # A link planted at the package's name is replaced, never written through.
        os.symlink(write(os.path.join(self.root, "victim"), "keep"), os.path.join(self.cwd, PACKAGE_FILE))
        self.newer(sha256=DIGEST)
        self.assertTrue(self.check().endswith(KEPT))
        self.assertFalse(os.path.islink(os.path.join(self.cwd, PACKAGE_FILE)))
        self.assert_downloaded(True)
        self.assertEqual(read(os.path.join(self.root, "victim")), b"keep")

    def test_a_service_can_neither_hold_a_launch_nor_lead_it_off_https(self):
        moved = Answer(302, headers=(("Location", "http://127.0.0.1:%d/plain" % self.server.plain_port),))
        self.server.answer("/moved", moved)
        self.server.answer("/cut", Answer(200, PACKAGE[:100], headers=(("Content-Length", str(len(PACKAGE))),)))
        for update, package in ((Answer(503, b"busy", headers=(("Retry-After", "3600"),)), None), (moved, None),
                                (None, "/moved"), (None, "/cut"), (None, "/missing")):
            with self.subTest(update=update, package=package):
                self.serve(update) if update else self.newer(download_url=self.server.url(package), sha256=DIGEST)
                started = time.monotonic()
                self.assertNotIn("Downloaded", self.check())
                self.assertLess(time.monotonic() - started, 30)
                self.assertEqual((self.server.requests_to("/plain"), os.listdir(self.cwd)), ([], []))
        self.serve(Answer(200, b"{}", delay=30))
        for number, status in ((signal.SIGINT, -signal.SIGINT), (signal.SIGHUP, -signal.SIGHUP), (signal.SIGTERM, 143)):
            with self.subTest(signal=number):  # a stop ends the service command too
                castora = Background(["--update-url", self.server.url("/castora/update"), "--no-error-reporting",
                                      "--dry-run", *DEST], env=self.server.env, cwd=self.cwd)
                wait_for(lambda: children_of(castora.pid), what="curl")
                [curl] = children_of(castora.pid)
                castora.send_signal(number)
                self.assertEqual(castora.wait(timeout=20), status)
                wait_for(lambda: not alive(curl), timeout=5, what="the command's end")

    def test_the_users_curl_configuration_changes_nothing_castora_asks_of_curl(self):
        # A ~/.curlrc that follows redirects and sends every answer to a file anyone can read.
        home = os.path.join(self.root, "home")
        os.mkdir(home)
        leaked = os.path.join(self.root, "leaked")
        for name in (".curlrc", "curlrc"):
            write(os.path.join(home, name), f'location\noutput = "{leaked}"\n')
        env = {"HOME": home, "XDG_CONFIG_HOME": home}
        plain = "http://127.0.0.1:%d" % self.server.plain_port
        moved = lambda path: Answer(302, headers=(("Location", plain + path),))
        self.server.answer("/moved-report", moved("/castora/report"))
        self.server.answer("/poll", Answer(200, json.dumps({"actions": [{"id": "1", "action": "overlay_event", "overlay":
                                                                        "score_left", "text": "Mine"}]}).encode()))
        self.server.answer("/ack", moved("/elsewhere"))
        with self.subTest("the update check and the download"):
            self.newer(sha256=DIGEST)
            self.assertTrue(self.check(env=env).endswith(KEPT))
            self.assert_downloaded(True)
        with self.subTest("a report to a URL that redirects: not followed"):
            self.server.requests.clear()
            self.assertEqual(self.start(["--report-url", self.server.url("/moved-report"), "--profile", "x", *DEST],
                                        env).wait(), 2)
            self.assertEqual([r.path for r in self.server.requests], ["/moved-report"])
        with self.subTest("the bridge: its answer reaches castora, its acknowledgement with the token no other URL"):
            fake = FakeFfmpeg(self.root, sleep="60")
            castora = self.start(["--ffmpeg", fake.path, *DEST, "--live-overlays", "--scene", "game_battle",
                                  "--automation-poll-url", plain + "/poll", "--automation-ack-url", plain + "/ack",
                                  "--automation-token", "SECRET"], {**fake.env, **env})
            wait_for(lambda: self.server.requests_to("/elsewhere") or (
                self.server.requests_to("/ack") and "Live: score_left is now" in castora.stderr), what="the ack")
            castora.send_signal(signal.SIGINT)
            self.assertEqual(castora.wait(), -signal.SIGINT)
            self.assertIn('Live: score_left is now "Mine".\n', castora.stderr)
            self.assertEqual(self.server.requests_to("/elsewhere"), [])
        self.assertFalse(os.path.exists(leaked))

    def test_reports_travel_escaped_and_nothing_is_sent_when_reporting_is_off(self):
        # Escaped, without control bytes or broken UTF-8, and cut at 119 bytes without splitting a pair or a character.
        for key, sent in ((b'a"b\\c\td\xffe\xe2\x82', 'a"b\\cde'), ("é" * 70, "é" * 59),
                          ("p" * 117 + '"', "p" * 117 + '"'), ("p" * 118 + '"', "p" * 118), ("p" * 130, "p" * 119)):
            self.server.requests.clear()
            self.assertEqual(self.start(["--profile", key, "--scene", key, *DEST]).wait(), 2)
            self.assertEqual(self.server.reports(), [{**REPORT, "phase": "profile", "message": "Unknown ingest profile.",
                                                      "profile_key": sent, "scene_key": sent}])
        # A curl that notes every start, so "nothing sent" also means "no process started".
        os.mkdir(os.path.join(self.root, "bin"))
        write(os.path.join(self.root, "bin", "curl"), '#!/bin/sh\necho "$@" >> %s/curl.log\nexec %s "$@"\n' %
              (self.root, shutil.which("curl")))
        os.chmod(os.path.join(self.root, "bin", "curl"), 0o755)
        write(os.path.join(self.root, "studio.conf"), "disable_error_reporting=1\n")
        host, path = "127.0.0.1:%d" % self.server.port, {"PATH": self.root + "/bin:" + os.environ.get("PATH", "")}
        for extra, env in ((["--no-error-reporting"], path), (["--config", "studio.conf"], path),
                           (["--report-url", ""], path), (["--report-url", "http://%s/castora/report" % host], path),
                           (["--report-url", "https://u@%s/castora/report" % host], path),
                           ([], {"PATH": "/nonexistent"})):  # without curl the shell's complaint is discarded too
            with self.subTest(extra=extra):
                self.server.requests.clear()
                castora = self.start([*extra, "--profile", "nope", *DEST], env)
                self.assertEqual((castora.wait(), castora.stderr), (2, "Unknown profile: nope\n\n"))
                self.assertEqual(self.server.requests, [])
                self.assertFalse(os.path.exists(os.path.join(self.root, "curl.log")))

    def test_crash_reports_and_a_planted_symlink_that_is_never_followed(self):
        victim = os.path.join(self.root, "victim.txt")
        for number, extra, reports in ((signal.SIGSEGV, ["--scene", "game_battle"], [crash(11, scene_key="game_battle")]),
                                       (signal.SIGBUS, [], [crash(signal.SIGBUS)]), (signal.SIGTERM, [], [crash(15)]),
                                       (signal.SIGTERM, ["--no-error-reporting"], [])):
            with self.subTest(signal=number, extra=extra):
                self.server.requests.clear()
                write(victim, "keep\n")
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.root), sleep="30")
                castora = self.start(["--ffmpeg", fake.path, *DEST, *extra], env=fake.env)
                wait_for(lambda: fake.runs() and children_of(castora.pid), what="the fake FFmpeg")
                [child] = children_of(castora.pid)
                os.symlink(victim, report_file(castora.pid))
                started = time.monotonic()
                castora.send_signal(number)
                self.assertEqual((castora.wait(), self.server.reports()), (128 + number, reports))
                # The encoder is stopped with the launcher, not left streaming on its own.
                self.assertTrue(time.monotonic() - started < 8 and not alive(child))
                if os.path.lexists(report_file(castora.pid)):
                    self.assertEqual(os.readlink(report_file(castora.pid)), victim)
                    os.remove(report_file(castora.pid))
                self.assertEqual(read(victim), b"keep\n")


def report_file(pid):
    return "/tmp/brevalo-studio-report-%d.json" % pid


if __name__ == "__main__":
    unittest.main()
