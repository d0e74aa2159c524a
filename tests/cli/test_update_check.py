"""The update check, the package download and its SHA-256 verification, over the real curl
against a local HTTPS update service."""
import hashlib
import json
import os
import shutil
import tempfile
import unittest

from harness import Answer, FakeFfmpeg, ServiceServer, run_castora

QUERY = "current_version=0.2.1&platform=macos&architecture=universal&channel=stable"
PACKAGE = b"castora package body\n" * 64
DIGEST = hashlib.sha256(PACKAGE).hexdigest()
PACKAGE_FILE = "brevalo-studio-update-0.3.0-macos-universal.tar.gz"
KEPT = "Downloaded Castora update package: %s\n"
REMOVED = "Downloaded Castora update failed SHA-256 verification and was removed: %s\n"
server = None


def setUpModule():
    global server
    server = ServiceServer()


def tearDownModule():
    server.stop()


class UpdateCheck(unittest.TestCase):
    def setUp(self):
        server.reset()
        server.answer("/pkg.tar.gz", Answer(200, PACKAGE, "application/octet-stream"))
        self.root = tempfile.mkdtemp(prefix="castora-update-")
        self.cwd = os.path.join(self.root, "work")
        os.mkdir(self.cwd)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def serve(self, answer):
        body = answer if isinstance(answer, bytes) else json.dumps(answer).encode()
        server.answer("/castora/update", Answer(200, body))

    def check(self, *extra, mode=("--dry-run", "--target", "rtmp://a/x"), env=None):
        """One run against the service; returns the result after checking the launch went on."""
        args = ["--update-url", server.url("/castora/update"), "--no-error-reporting", *mode, *extra]
        r = run_castora(args, env={**server.env, **(env or {})}, cwd=self.cwd, timeout=60)
        self.assertEqual(r.status, 0, r.stderr)
        if "--dry-run" in mode:
            self.assertTrue(r.stdout.endswith(" -f flv rtmp://a/x\n"), r.stdout)
        return r

    def newer(self, **members):
        self.serve({"latest_version": "0.3.0", "download_url": server.url("/pkg.tar.gz"), **members})

    def test_query_method_path_and_user_agent(self):
        cases = [("/castora/update", QUERY), ("/castora/update?beta=1", "beta=1&" + QUERY),
                 ("/castora/update?", "&" + QUERY)]
        self.serve({"latest_version": "0.2.1"})
        for endpoint, query in cases:
            with self.subTest(endpoint=endpoint):
                server.requests.clear()
                self.check("--update-url", server.url(endpoint))
                [request] = server.requests
                self.assertEqual((request.method, request.path, request.query),
                                 ("GET", "/castora/update", query))
                self.assertEqual(request.headers["user-agent"], "BrevaloCastora/0.2.1")

    def test_no_query_when_the_check_is_off_or_the_endpoint_is_refused(self):
        host = "127.0.0.1:%d" % server.port
        for extra in (["--skip-update-check"], ["--update-url", ""],
                      ["--update-url", "HTTPS://%s/castora/update" % host],
                      ["--update-url", "https://user@%s/castora/update" % host]):
            with self.subTest(extra=extra):
                self.newer(sha256=DIGEST)
                r = self.check(*extra, "--check-update", mode=())
                self.assertEqual((r.stdout, r.stderr), ("", ""))
                self.assertEqual(server.requests, [])
                self.assertEqual(os.listdir(self.cwd), [])

    def test_version_comparison(self):
        newer = ["0.2.10", "0.3", "1", "0.2.1.1", "0.2.1-rc2", "release-0.3.0"]
        not_newer = ["0.2.1", "0.2.1.0", "0.2.1.0.7", "0.2.1-beta", "0.2", "0.1.9"]
        for latest in newer + not_newer:
            with self.subTest(latest=latest):
                self.serve({"latest_version": latest})
                announced = "Castora update available: 0.2.1 -> %s\n" % latest
                self.assertEqual(self.check().stderr, announced if latest in newer else "")
                r = self.check(mode=("--check-update",))
                self.assertEqual(r.stdout, "")
                self.assertEqual(r.stderr, announced if latest in newer else "Castora is current: 0.2.1\n")

    def test_announcement_lines_only_for_present_members(self):
        plain = "http://127.0.0.1:%d/pkg.tar.gz" % server.port
        cases = [({}, ""), ({"sha256": "abc"}, "SHA-256: abc\n"),
                 ({"download_url": plain}, "Download: %s\n" % plain),
                 ({"download_url": plain, "sha256": "abc"}, "Download: %s\nSHA-256: abc\n" % plain),
                 ({"download_url": "", "sha256": ""}, "")]
        for members, lines in cases:
            with self.subTest(members=members):
                server.requests.clear()
                self.serve({"latest_version": "0.3.0", **members})
                self.assertEqual(self.check().stderr, "Castora update available: 0.2.1 -> 0.3.0\n" + lines)
                self.assertEqual(server.requests_to("/pkg.tar.gz"), [])
                self.assertEqual(os.listdir(self.cwd), [])

    def test_download_is_kept_only_when_the_digest_matches(self):
        wrong = hashlib.sha256(b"something else").hexdigest()
        cases = [("lower case", DIGEST, True), ("upper case", DIGEST.upper(), True),
                 ("other file", wrong, False), ("63 digits", DIGEST[:63], False),
                 ("65 digits", DIGEST + "0", False), ("non-hex", DIGEST[:63] + "g", False),
                 ("absent", None, False)]
        for name, digest, kept in cases:
            with self.subTest(name):
                server.requests.clear()
                self.newer(**({"sha256": digest} if digest is not None else {}))
                r = self.check()
                head = "Castora update available: 0.2.1 -> 0.3.0\nDownload: %s\n" % server.url("/pkg.tar.gz")
                if digest is not None:
                    head += "SHA-256: %s\n" % digest
                self.assertTrue(r.stderr.startswith(head), r.stderr)
                self.assertTrue(r.stderr.endswith((KEPT if kept else REMOVED) % PACKAGE_FILE), r.stderr)
                self.assertEqual(len(server.requests_to("/pkg.tar.gz")), 1)
                self.assertEqual(os.listdir(self.cwd), [PACKAGE_FILE] if kept else [])
                if kept:
                    with open(os.path.join(self.cwd, PACKAGE_FILE), "rb") as f:
                        self.assertEqual(f.read(), PACKAGE)
                    os.remove(os.path.join(self.cwd, PACKAGE_FILE))

    def test_config_can_turn_the_download_off(self):
        config = os.path.join(self.root, "studio.conf")
        with open(config, "w") as f:
            f.write("auto_download_update=0\n")
        self.newer(sha256=DIGEST)
        r = self.check("--config", config)
        self.assertNotIn("Downloaded", r.stderr)
        self.assertTrue(r.stderr.startswith("Castora update available: 0.2.1 -> 0.3.0\n"))
        self.assertEqual(server.requests_to("/pkg.tar.gz"), [])
        self.assertEqual(os.listdir(self.cwd), [])

    def test_checksum_tool_fallback(self):
        wrong = hashlib.sha256(b"something else").hexdigest()
        cases = [(["sha256sum"], DIGEST, True), (["sha256sum"], wrong, False), ([], DIGEST, False)]
        for tools, digest, kept in cases:
            with self.subTest(tools=tools, kept=kept):
                bin_dir = tempfile.mkdtemp(prefix="bin-", dir=self.root)
                for tool in ["sh", "curl", "printf", *tools]:
                    if shutil.which(tool):
                        os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
                self.newer(sha256=digest)
                r = self.check(env={"PATH": bin_dir})
                self.assertTrue(r.stderr.endswith((KEPT if kept else REMOVED) % PACKAGE_FILE), r.stderr)
                self.assertEqual(os.listdir(self.cwd), [PACKAGE_FILE] if kept else [])
                for name in os.listdir(self.cwd):
                    os.remove(os.path.join(self.cwd, name))

    def test_hostile_versions_and_urls_never_reach_a_command(self):
        package = server.url("/pkg.tar.gz")
        cases = [('9"x', package), ("9'x", package), ("9/../../escape", package), ("../9", package),
                 ("9$(touch pwned)", package), ("9`touch pwned`", package), ("9;touch pwned", package),
                 ("9.0", package + "';touch pwned;'")]
        for latest, url in cases:
            with self.subTest(latest=latest, url=url):
                server.requests.clear()
                self.serve({"latest_version": latest, "download_url": url, "sha256": DIGEST})
                r = self.check()
                self.assertTrue(r.stderr.startswith("Castora update available: 0.2.1 -> %s\n" % latest),
                                r.stderr)
                self.assertNotIn("Downloaded", r.stderr)
                self.assertEqual(server.requests_to("/pkg.tar.gz"), [])
                self.assertEqual(sorted(os.listdir(self.root)), ["work"])
                self.assertEqual(os.listdir(self.cwd), [])
        # Control bytes, raw or as a JSON escape (which is read as the letter u), and "..".
        for raw, shown in ((b"9\x1b]0;title\x07", "9]0;title"), (b"9\\u001b[31m", "9u001b[31m"),
                           (b"9\x1b[31m", "9[31m"), (b"..", None)):
            with self.subTest(raw=raw):
                server.requests.clear()
                self.serve(b'{"latest_version":"%s","download_url":"%s","sha256":"%s"}'
                           % (raw, package.encode(), DIGEST.encode()))
                r = self.check()
                self.assertEqual(r.stderr.partition("\n")[0],
                                 "Castora update available: 0.2.1 -> %s" % shown if shown else "")
                self.assertNotIn("\x1b", r.stderr)
                self.assertEqual(server.requests_to("/pkg.tar.gz"), [])
                self.assertEqual(os.listdir(self.cwd), [])

    def test_unreadable_or_failed_answers_are_silent(self):
        late = b'{"filler":"' + b"x" * 200000 + b'","latest_version":"9.0"}'
        early = b'{"latest_version":"9.0","filler":"' + b"x" * 200000 + b'"}'
        cases = [("number", Answer(200, b'{"latest_version": 9.1}')),
                 ("empty", Answer(200, b'{"latest_version": ""}')),
                 ("not json", Answer(200, b"<html>latest_version</html>", "text/html")),
                 ("http 500", Answer(500, b'{"latest_version":"9.0"}')),
                 ("member late in 200 KB", Answer(200, late))]
        for name, answer in cases:
            with self.subTest(name):
                server.answer("/castora/update", answer)
                r = self.check(mode=("--check-update",))
                self.assertNotIn("Castora", r.stderr)
                self.assertEqual(r.stdout, "")
        # Reading stops at 131071 bytes; whatever curl makes of that, the launch goes on.
        server.answer("/castora/update", Answer(200, early))
        self.check()

    def test_the_update_check_never_changes_the_launch_status(self):
        newer = Answer(200, b'{"latest_version":"9"}')
        for answer, ffmpeg_status in ((Answer(500, b"{}"), "0"), (newer, "4")):
            with self.subTest(status=answer.status, ffmpeg=ffmpeg_status):
                server.answer("/castora/update", answer)
                fake = FakeFfmpeg(self.root, statuses=ffmpeg_status)
                r = run_castora(["--update-url", server.url("/castora/update"), "--no-error-reporting",
                                 "--ffmpeg", fake.path, "--target", "rtmp://a/x"],
                                env={**server.env, **fake.env}, cwd=self.cwd)
                self.assertEqual(r.status, int(ffmpeg_status), r.stderr)
                self.assertEqual(len(fake.runs()), 1)
                os.remove(fake.log)


if __name__ == "__main__":
    unittest.main()
