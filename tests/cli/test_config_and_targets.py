"""Studio config file and stream targets: loading, line numbers, precedence and target checks."""
import os
import shlex
import tempfile
import unittest

from harness import OFFLINE, Answer, ServiceServer, run_castora

USAGE_START = "Brevalo Castora Native 0.2.1\nUsage: "
SCHEME = "Target must start with rtmp://, rtmps://, or srt://: %s\n"
PIPE = "Target URL cannot contain pipe or closing bracket characters.\n"
TOO_MANY = "Too many targets. Maximum is 16.\n"
SIXTEEN = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]


class FileCase(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def write(self, data, name="studio.conf"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8", "surrogateescape") if isinstance(data, str) else data)
        return path

    def dry_run(self, args, env=None):
        """A dry run that must succeed; gives the printed lines and the parsed command."""
        r = run_castora([*args, *OFFLINE, "--dry-run"], cwd=self.dir, env=env)
        self.assertEqual((r.status, r.stderr), (0, ""))
        lines = r.stdout.splitlines()
        return lines, shlex.split(lines[-1])


class ConfigFile(FileCase):
    def test_comments_trimming_and_values(self):
        config = self.write(
            "  # note\n;profile=nope\n\t\r\n \tprofile = standard_720p \t\r\n"
            "scene=gift_war_scoreboard\r\nscene=game_battle\n"
            "overlay_title=Live # not a comment\n= ignored\n=\n"
            "overlay_subtitle=\ntarget=\ntarget=srt://h:9000?mode=caller&streamid=a=b\n")
        lines, argv = self.dry_run(["--config", config])
        self.assertEqual(lines[0], "Brevalo Castora 0.2.1 | scene=game_battle | profile=standard_720p")
        chain = argv[argv.index("-vf") + 1]
        self.assertIn(",drawtext=text='Live # not a comment':", chain)
        self.assertNotIn(":y=h-86:", chain)  # an empty subtitle draws no subtitle box
        self.assertEqual(argv[-3:], ["-f", "mpegts", "srt://h:9000?mode=caller&streamid=a=b"])

    def test_every_key_reaches_its_setting(self):
        target_file = self.write("rtmp://f/5\n", "targets.txt")
        config = self.write(
            "profile=high_1080p\nscene=creator_lower_third\ningest_url=rtmp://h/{stream_key}\n"
            f"stream_key=KEY\ntarget=srt://t:1\ntarget_file={target_file}\nrecord_file=rec.mkv\nffmpeg=/opt/ff\n"
            "video_input=cam\naudio_input=mic\nscreen=1\nno_audio=1\noverlay_title=T1\noverlay_subtitle=S1\n"
            "score_left=L1\nscore_right=R1\nwatermark=W1\nvirtual_background=yes\n"
            "automation_poll_url=http://localhost/p\nautomation_ack_url=https://a/k\nautomation_token=TOK\n"
            "reconnect=1\n")
        lines, argv = self.dry_run(["--config", config])
        self.assertEqual(lines[:4], [
            "Brevalo Castora 0.2.1 | scene=creator_lower_third | profile=high_1080p",
            "Virtual background is enabled in studio config; browser/native UI renderer owns segmentation.",
            "Automation bridge configured; token hidden.",
            "Reconnect policy: FFmpeg restarts on non-clean stream exits."])
        self.assertEqual((argv[0], argv[argv.index("-i") + 1], argv[argv.index("-video_size") + 1]),
                         ("/opt/ff", "cam:none", "1920x1080"))
        chain = argv[argv.index("-vf") + 1]
        self.assertEqual([part.split("'")[1] for part in chain.split(",drawtext=text=")[1:]],
                         ["T1", "S1", "L1", "R1", "W1"])
        self.assertIn("-an", argv)
        self.assertEqual(argv[-1], "[f=flv:onfail=ignore]rtmp://h/KEY|[f=mpegts:onfail=ignore]srt://t:1|"
                                   "[f=flv:onfail=ignore]rtmp://f/5|[f=matroska]rec.mkv")

    def test_rejected_files(self):
        pad = "overlay_title=" + "a" * 2033  # 2047 bytes before the line end
        cases = [  # contents, extra arguments before --config, expected messages (path filled in)
            ("profile=low_power_360p\n\nprofile\n", [], "Invalid config line 3 in {}.\n"),
            ("Profile=low_power_360p\n", [], "Unknown config key: Profile\nInvalid config line 1 in {}.\n"),
            ("=x\n  = y\n# c\nbogus=1\n", [], "Unknown config key: bogus\nInvalid config line 4 in {}.\n"),
            ("\ufeff# starter\nprofile=x\n", [], "Invalid config line 1 in {}.\n"),
            ("\ufeffprofile=x\n", [], "Unknown config key: \ufeffprofile\nInvalid config line 1 in {}.\n"),
            ("\x0bprofile=x\n", [], "Unknown config key: \x0bprofile\nInvalid config line 1 in {}.\n"),
            ("target=http://a/x\n", [], SCHEME % "http://a/x" + "Invalid config line 1 in {}.\n"),
            ("\ntarget=rtmp://a/x]\n", [], PIPE + "Invalid config line 2 in {}.\n"),
            ("# c\ntarget=rtmp://z/17\n", SIXTEEN, TOO_MANY + "Invalid config line 2 in {}.\n"),
            ("overlay_title=" + "a" * 2986 + "\nprofile=x\n", [], "Invalid config line 2 in {}.\n"),
            (pad + "\nbad\n", [], "Invalid config line 3 in {}.\n"),
            (pad[:-1] + "\r\nbad\r\n", [], "Invalid config line 3 in {}.\n"),
        ]
        for contents, before, expected in cases:
            with self.subTest(contents=contents[:40]):
                path = self.write(contents)
                r = run_castora([*before, "--config", path, "--list-profiles"])
                self.assertEqual((r.status, r.stderr), (2, expected.format(path)))
                self.assertTrue(r.stdout.startswith(USAGE_START), r.stdout[:80])
        path = os.path.join(self.dir, "absent.conf")
        r = run_castora(["--config", path, "--list-profiles"])
        self.assertEqual((r.status, r.stderr),
                         (2, f"Could not open config file {path}: No such file or directory\n"))
        self.assertTrue(r.stdout.startswith(USAGE_START))

    def test_long_lines_that_fit_and_empty_config_path(self):
        config = self.write("overlay_title=" + "a" * 2033 + "\nprofile=high_1080p\n")
        lines, argv = self.dry_run(["--config", "", "--config", config, "--target", "rtmp://a/x"])
        self.assertEqual(lines[0], "Brevalo Castora 0.2.1 | scene=camera_clean | profile=high_1080p")
        self.assertIn("drawtext=text='%s':" % ("a" * 255), argv[argv.index("-vf") + 1])

    def test_booleans_and_precedence(self):
        reconnect_note = "Reconnect policy: FFmpeg restarts on non-clean stream exits."
        for value, on in (("1", 1), ("true", 1), ("yes", 1), ("on", 1), ("TRUE", 0), ("On", 0), ("enabled", 0),
                          ("0", 0), ("off", 0), ("", 0), ("1 # one", 0)):
            with self.subTest(reconnect=value):
                config = self.write(f"reconnect={value}\n")
                lines, _ = self.dry_run(["--config", config, "--target", "rtmp://a/x"])
                self.assertEqual(reconnect_note in lines, bool(on))
        screen_off = self.write("screen=0\n", "off.conf")
        screen_on = self.write("screen=on\n", "on.conf")
        cases = [(["--screen", "--config", screen_off], "camera_clean"),
                 (["--config", screen_off, "--screen"], "screen_clean"),
                 (["--config", screen_on, "--config", screen_off], "camera_clean"),
                 (["--config", self.write("screen=1\nscreen=no\n", "twice.conf")], "camera_clean"),
                 (["--config", screen_on], "screen_clean")]
        for args, scene in cases:
            with self.subTest(args=args):
                lines, _ = self.dry_run([*args, "--target", "rtmp://a/x"])
                self.assertEqual(lines[0], f"Brevalo Castora 0.2.1 | scene={scene} | profile=balanced_480p")

    def test_targets_keep_the_order_they_are_met_in(self):
        config = self.write("target=rtmp://b/2\n")
        target_file = self.write("rtmp://d/4\n", "targets.txt")
        _, argv = self.dry_run(["--target", "rtmp://a/1", "--target-file", target_file, "--config", config,
                                "--target", "rtmp://c/3"])
        self.assertEqual(argv[-1], "|".join(f"[f=flv:onfail=ignore]rtmp://{h}/{n}" for h, n in
                                            (("a", 1), ("b", 2), ("c", 3), ("d", 4))))

    def test_config_can_turn_off_the_package_download(self):
        server = ServiceServer()
        self.addCleanup(server.stop)
        answer = ('{"latest_version":"9.9.9","download_url":"%s"}' % server.url("/pkg.tar.gz")).encode()
        for lines, after, downloads in (("", [], True), ("auto_download_update=0\n", [], False),
                                        ("auto_download_update=0\n", ["--auto-download-update"], True)):
            with self.subTest(config=lines, after=after):
                server.reset()
                server.answer("/castora/update", Answer(200, answer))
                config = self.write(f"update_url={server.url('/castora/update')}\n{lines}")
                r = run_castora(["--config", config, *after, "--no-error-reporting", "--dry-run", "--target",
                                 "rtmp://a/x"], env=server.env, cwd=self.dir)
                self.assertEqual(r.status, 0)
                self.assertTrue(r.stderr.startswith("Castora update available: 0.2.1 -> 9.9.9\n"), r.stderr)
                self.assertEqual(len(server.requests_to("/pkg.tar.gz")), int(downloads))


class TargetFile(FileCase):
    def test_accepted_lines(self):
        cases = [("YouTube = rtmp://host/live2/KEY\n", "rtmp://host/live2/KEY"),
                 ("srt://host:9000?mode=caller&streamid=abc\n", "srt://host:9000?mode=caller&streamid=abc"),
                 ("rtmp://host/app?key=abc\n", "rtmp://host/app?key=abc"),
                 ("Backup=srt://host:9000?streamid=abc\n", "srt://host:9000?streamid=abc"),
                 ("\n# comment\n; other\n \t rtmps://h/a[b \t\r\n", "rtmps://h/a[b")]
        for contents, url in cases:
            with self.subTest(contents=contents):
                _, argv = self.dry_run(["--target-file", self.write(contents, "targets.txt"), "--target", ""])
                self.assertEqual(argv[-1], url)
        for contents in ("", "\n# only comments\n;\n"):
            with self.subTest(contents=contents):
                _, argv = self.dry_run(["--target", "", "--target-file", self.write(contents, "t.txt"),
                                        "--target", "rtmp://a/x"])
                self.assertEqual(argv[-1], "rtmp://a/x")

    def test_rejected_lines(self):
        long_line = "rtmp://h/" + "a" * 2038  # 2047 bytes, stored as it is
        cases = [("label=not-a-url\n", [], SCHEME % "label=not-a-url", 1),
                 ("Twitch: rtmp://host/app/KEY\n", [], SCHEME % "Twitch: rtmp://host/app/KEY", 1),
                 ("a=b=rtmp://host/x\n", [], SCHEME % "b=rtmp://host/x", 1),
                 ("rtmp://ok/1\nRTMP://host/app\n", [], SCHEME % "RTMP://host/app", 2),
                 ("\n# comment\nhttp://host/app\n", [], SCHEME % "http://host/app", 3),
                 ("rtmp://host/a|b\n", [], PIPE, 1),
                 ("x = rtmp://host/a]b\n", [], PIPE, 1),
                 ("\n# c\nrtmp://z/17\n", SIXTEEN, TOO_MANY, 3),
                 (long_line + "\nbad\n", [], SCHEME % "bad", 3)]
        for contents, before, message, line in cases:
            with self.subTest(contents=contents[:40]):
                path = self.write(contents, "targets.txt")
                r = run_castora([*before, "--target-file", path, *OFFLINE, "--dry-run"])
                self.assertEqual((r.status, r.stdout, r.stderr),
                                 (2, "", f"{message}Invalid target on line {line} of {path}.\n"))
        path = os.path.join(self.dir, "absent.txt")
        r = run_castora(["--target-file", path, "--target", "rtmp://a/x", *OFFLINE, "--dry-run"])
        self.assertEqual((r.status, r.stdout, r.stderr),
                         (2, "", f"Could not open target file {path}: No such file or directory\n"))

    def test_command_line_targets(self):
        for target, message in (("RTMP://h/x", SCHEME % "RTMP://h/x"), (" rtmp://h/x", SCHEME % " rtmp://h/x"),
                                ("http://h/x", SCHEME % "http://h/x"), ("srt://h|x", PIPE),
                                ("rtmp://h/]", PIPE), ("rtmps", SCHEME % "rtmps")):
            with self.subTest(target=target):
                r = run_castora(["--target", target, "--list-profiles"])
                self.assertEqual((r.status, r.stderr), (2, message))
                self.assertTrue(r.stdout.startswith(USAGE_START))
        r = run_castora([*SIXTEEN, "--target", "rtmp://t/17", "--bogus"])
        self.assertEqual((r.status, r.stderr), (2, TOO_MANY))
        r = run_castora(["--target", "", *OFFLINE, "--dry-run"])
        self.assertEqual((r.status, r.stderr), (2, "Missing --ingest-url, --target, or --target-file.\n"))
        _, argv = self.dry_run(SIXTEEN)
        self.assertEqual(argv[-1].count("[f=flv:onfail=ignore]rtmp://t/"), 16)


if __name__ == "__main__":
    unittest.main()
