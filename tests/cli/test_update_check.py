"""The update check, the package download and its SHA-256 verification, over the real curl against a local HTTPS
update service, including one that stalls, redirects, cuts transfers short or sends terminal controls."""
import hashlib
import json
import os
import shutil
import signal
import tempfile
import time
import unittest

from harness import DEST, Answer, Background, alive, children_of, run_castora, shared_server, wait_for

QUERY = "current_version=0.2.1&platform=macos&architecture=universal&channel=stable"
PACKAGE = b"castora package body\n" * 64
DIGEST = hashlib.sha256(PACKAGE).hexdigest()
PACKAGE_FILE = "brevalo-studio-update-0.3.0-macos-universal.tar.gz"
KEPT = "Downloaded Castora update package: %s\n" % PACKAGE_FILE
REMOVED = "Downloaded Castora update failed SHA-256 verification and was removed: %s\n" % PACKAGE_FILE
AVAILABLE = "Castora update available: 0.2.1 -> %s\n"


class UpdateCheck(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.server.reset()
        self.server.answer("/pkg.tar.gz", Answer(200, PACKAGE, "application/octet-stream"))
        self.root = tempfile.mkdtemp(prefix="castora-update-")
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
        return r

    def assert_downloaded(self, kept):
        self.assertEqual(len(self.server.requests_to("/pkg.tar.gz")), 1)
        self.assertEqual(os.listdir(self.cwd), [PACKAGE_FILE] if kept else [])
        if kept:
            with open(os.path.join(self.cwd, PACKAGE_FILE), "rb") as f:
                self.assertEqual(f.read(), PACKAGE)
            os.remove(os.path.join(self.cwd, PACKAGE_FILE))

    def test_query_versions_and_the_lines_of_each_mode(self):
        self.serve({"latest_version": "0.2.1"})
        for endpoint, query in (("/castora/update", QUERY), ("/castora/update?beta=1", "beta=1&" + QUERY)):
            self.server.requests.clear()
            self.check("--update-url", self.server.url(endpoint))
            [q] = self.server.requests
            self.assertEqual((q.method, q.path, q.query, q.headers["user-agent"]),
                             ("GET", "/castora/update", query, "BrevaloCastora/0.2.1"))
        for latest, newer in (("0.2.10", True), ("0.2.1-rc2", True), ("0.2.1", False), ("0.2", False)):
            with self.subTest(latest=latest):
                self.serve({"latest_version": latest, "sha256": "x"})
                lines = AVAILABLE % latest + "SHA-256: x\n" if newer else ""
                self.assertEqual(self.check().stderr, lines)
                self.assertEqual(self.check(mode=("--check-update",))[1:], ("", lines or "Castora is current: 0.2.1\n"))
        self.newer(sha256=DIGEST)
        for extra in (["--skip-update-check"], ["--update-url", ""], ["--update-url", self.server.url("/").upper()]):
            with self.subTest(extra=extra):
                self.assertEqual(self.check(*extra, "--check-update", mode=())[1:], ("", ""))
                self.assertEqual((self.server.requests, os.listdir(self.cwd)), ([], []))

    def test_download_is_kept_only_when_the_digest_matches(self):
        config = os.path.join(self.root, "studio.conf")
        with open(config, "w") as f:
            f.write("auto_download_update=0\n")
        only_sha256sum, no_checksums = tempfile.mkdtemp(dir=self.root), tempfile.mkdtemp(dir=self.root)
        for tool in ("sh", "curl", "printf", "sha256sum"):
            for directory in (only_sha256sum, no_checksums)[:1 if tool == "sha256sum" else 2]:
                os.symlink(shutil.which(tool), os.path.join(directory, tool))
        for digest, extra, path, outcome in (
                (DIGEST, [], None, KEPT), (DIGEST.upper(), [], None, KEPT), (DIGEST[:63], [], None, REMOVED),
                (hashlib.sha256(b"other").hexdigest(), [], None, REMOVED), (None, [], None, REMOVED),
                (DIGEST, ["--config", config], None, ""), (DIGEST, ["--config", config, "--auto-download-update"],
                                                           None, KEPT),
                (DIGEST, [], only_sha256sum, KEPT), (DIGEST, [], no_checksums, REMOVED)):
            with self.subTest(digest=digest, extra=extra, path=path):
                self.newer(**({"sha256": digest} if digest else {}))
                lines = AVAILABLE % "0.3.0" + "Download: %s\n" % self.server.url("/pkg.tar.gz")
                lines += "SHA-256: %s\n" % digest if digest else ""
                err = self.check(*extra, env=path and {"PATH": path}).stderr  # curl's progress comes between
                self.assertTrue(err.startswith(lines) and err.endswith(outcome) if outcome else err == lines, err)
                if outcome:
                    self.assert_downloaded(outcome == KEPT)
                else:
                    self.assertEqual((self.server.requests_to("/pkg.tar.gz"), os.listdir(self.cwd)), ([], []))

    def test_hostile_answers_reach_no_command_and_no_terminal(self):
        package = self.server.url("/pkg.tar.gz").encode()

        def answer(latest, url=package):
            return b'{"latest_version":"%s","download_url":"%s","sha256":"%s"}' % (latest, url, DIGEST.encode())

        for body, shown in ((answer(b'9\\"x'), '9"x'), (answer(b"9/../../escape"), "9/../../escape"),
                            (answer(b"9$(touch pwned)"), "9$(touch pwned)"), (answer(b"9`touch x`;y"), "9`touch x`;y"),
                            (answer(b"9\x1b]0;title\x07"), "9]0;title"), (answer(b"9", package + b"';touch x;'"), "9"),
                            (answer(b"9\xc2\x9b2J\xe2\x80\xae\x9b\xff"), "92J"),
                            (b'{"filler":"' + b"x" * 200000 + b'","latest_version":"9.0"}', None),
                            (b'{"latest_version": 9.1}', None)):
            with self.subTest(body=body[:60]):
                self.serve(body)
                err = self.check().stderr
                self.assertEqual([line for line in err.splitlines() if line.startswith("Castora")],
                                 [(AVAILABLE % shown).rstrip("\n")] if shown else [])
                self.assertFalse({"\x1b", "\x9b", "\u009b", "\u202e"} & set(err) or "Downloaded" in err)
                self.assertEqual(self.server.requests_to("/pkg.tar.gz"), [])
                self.assertEqual((sorted(os.listdir(self.root)), os.listdir(self.cwd)), (["work"], []))

    def test_a_service_can_neither_hold_a_launch_nor_lead_it_off_https(self):
        moved = Answer(302, headers=(("Location", "http://127.0.0.1:%d/plain" % self.server.plain_port),))
        self.server.answer("/moved", moved)
        self.server.answer("/cut", Answer(200, PACKAGE[:100], headers=(("Content-Length", str(len(PACKAGE))),)))
        for update, package in ((Answer(503, b"busy", headers=(("Retry-After", "3600"),)), None), (moved, None),
                                (None, "/moved"), (None, "/cut"), (None, "/missing")):
            with self.subTest(update=update, package=package):
                if update:
                    self.serve(update)
                else:
                    self.newer(download_url=self.server.url(package), sha256=DIGEST)
                started = time.monotonic()
                self.assertNotIn("Downloaded", self.check().stderr)
                self.assertLess(time.monotonic() - started, 30)
                self.assertEqual((self.server.requests_to("/plain"), os.listdir(self.cwd)), ([], []))
        # A link planted at the package's name is replaced, never written through.
        victim = os.path.join(self.root, "victim")
        with open(victim, "w") as f:
            f.write("keep")
        os.symlink(victim, os.path.join(self.cwd, PACKAGE_FILE))
        self.newer(sha256=DIGEST)
        self.assertTrue(self.check().stderr.endswith(KEPT))
        self.assertFalse(os.path.islink(os.path.join(self.cwd, PACKAGE_FILE)))
        self.assert_downloaded(True)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep")

    def test_a_stop_ends_the_service_command_too(self):
        self.serve(Answer(200, b"{}", delay=30))
        for number, status in ((signal.SIGINT, -signal.SIGINT), (signal.SIGHUP, -signal.SIGHUP),
                               (signal.SIGTERM, 143)):
            with self.subTest(signal=number):
                castora = Background(["--update-url", self.server.url("/castora/update"), "--no-error-reporting",
                                      "--dry-run", *DEST], env=self.server.env, cwd=self.cwd)
                wait_for(lambda: any(children_of(shell) for shell in children_of(castora.pid)), what="curl")
                [shell] = children_of(castora.pid)
                [curl] = children_of(shell)
                castora.send_signal(number)
                self.assertEqual(castora.wait(timeout=20), status)
                wait_for(lambda: not alive(curl) and not alive(shell), timeout=5, what="the command's end")


if __name__ == "__main__":
    unittest.main()
