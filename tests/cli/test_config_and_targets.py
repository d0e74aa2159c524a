"""Studio config file and stream targets: loading, line numbers, precedence and target checks."""
import os
import tempfile
import unittest

from harness import dry_run, run_castora

USAGE_START = "Brevalo Castora Native 0.2.1\nUsage: "
SCHEME = "Target must start with rtmp://, rtmps://, or srt://: %s\n"
PIPE = "Target URL cannot contain pipe or closing bracket characters.\n"
TOO_MANY = "Too many targets. Maximum is 16.\n"
SIXTEEN = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]
FLV = "[f=flv:onfail=ignore]"


class ConfigAndTargets(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def write(self, data, name="studio.conf"):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(data)
        return path

    def launch(self, args):
        """A dry run that must succeed: the printed lines and the command split back into a vector."""
        r, argv = dry_run(args, cwd=self.dir)
        self.assertEqual((r.status, r.stderr), (0, ""))
        return r.stdout.splitlines(), argv

    def test_every_config_key_reaches_its_setting(self):
        target_file = self.write("rtmp://f/5\n", "targets.txt")
        config = self.write(
            "  # note\n;profile=nope\n\t\r\n \tprofile = high_1080p \t\r\nscene=creator_lower_third\n"
            "= ignored\ningest_url=rtmp://h/{stream_key}\nstream_key=KEY\ntarget=\ntarget=srt://t:1?a=b\n"
            f"target_file={target_file}\nrecord_file=rec.mkv\nffmpeg=/opt/ff\nvideo_input=cam\n"
            "audio_input=mic\nscreen=1\nno_audio=1\noverlay_title=T1 # kept\noverlay_subtitle=S1\n"
            "score_left=L1\nscore_right=R1\nwatermark=W1\nvirtual_background=yes\n"
            "automation_poll_url=http://localhost/p\nautomation_ack_url=https://a/k\nautomation_token=TOK\n"
            "reconnect=on\n")
        lines, argv = self.launch(["--config", config])
        self.assertEqual(lines[:4], [
            "Brevalo Castora 0.2.1 | scene=creator_lower_third | profile=high_1080p",
            "Virtual background is enabled in studio config; browser/native UI renderer owns segmentation.",
            "Automation bridge configured; token hidden.",
            "Reconnect policy: FFmpeg restarts on non-clean stream exits."])
        self.assertEqual([argv[0], argv[argv.index("-i") + 1], argv[argv.index("-video_size") + 1], argv[-8]],
                         ["/opt/ff", "cam:none", "1920x1080", "-an"])
        boxes = argv[argv.index("-vf") + 1].split(",drawtext=text=")[1:]
        self.assertEqual([box.split("'")[1] for box in boxes], ["T1 # kept", "S1", "L1", "R1", "W1"])
        self.assertEqual(argv[-1], f"{FLV}rtmp://h/KEY|[f=mpegts:onfail=ignore]srt://t:1?a=b|{FLV}rtmp://f/5|"
                                   "[f=matroska]rec.mkv")

    def test_rejected_config_files(self):
        pad = "overlay_title=" + "a" * 2033  # 2047 bytes: the line end is read as a line of its own
        cases = [  # contents, arguments before --config, expected messages (path filled in)
            ("profile=low_power_360p\n\nprofile\n", [], "Invalid config line 3 in {}.\n"),
            ("=x\n# c\nProfile=x\n", [], "Unknown config key: Profile\nInvalid config line 3 in {}.\n"),
            ("\ufeff# starter\n", [], "Invalid config line 1 in {}.\n"),
            ("\ntarget=http://a/x\n", [], SCHEME % "http://a/x" + "Invalid config line 2 in {}.\n"),
            ("target=rtmp://a/x]\n", [], PIPE + "Invalid config line 1 in {}.\n"),
            ("# c\ntarget=rtmp://z/17\n", SIXTEEN, TOO_MANY + "Invalid config line 2 in {}.\n"),
            (pad + "\nbad\n", [], "Invalid config line 3 in {}.\n"),
            (None, [], "Could not open config file {}: No such file or directory\n"),
        ]
        for contents, before, expected in cases:
            with self.subTest(contents=contents and contents[:40]):
                path = self.write(contents) if contents else os.path.join(self.dir, "absent.conf")
                r = run_castora([*before, "--config", path, "--list-profiles"])
                self.assertEqual((r.status, r.stderr), (2, expected.format(path)))
                self.assertTrue(r.stdout.startswith(USAGE_START), r.stdout[:80])
        r = run_castora(["--target", " rtmp://h/x", "--list-profiles"])
        self.assertEqual((r.status, r.stderr), (2, SCHEME % " rtmp://h/x"))
        self.assertTrue(r.stdout.startswith(USAGE_START))

    def test_precedence_follows_the_command_line_order(self):
        low = self.write("profile=low_power_360p\nscreen=0\n", "low.conf")
        screen = self.write("screen=no\nscreen=on\n", "screen.conf")
        for args, scene, profile in (
                (["--profile", "high_1080p", "--screen", "--config", low], "camera_clean", "low_power_360p"),
                (["--config", low, "--profile", "high_1080p", "--screen"], "screen_clean", "high_1080p"),
                (["--config", screen, "--config", low], "camera_clean", "low_power_360p"),
                (["--config", screen], "screen_clean", "balanced_480p")):
            with self.subTest(args=args):
                lines, _ = self.launch([*args, "--target", "rtmp://a/x"])
                self.assertEqual(lines[0], f"Brevalo Castora 0.2.1 | scene={scene} | profile={profile}")
        # Command-line and config targets in the order met; the target file's at launch, after them.
        config = self.write("target=rtmp://b/2\n")
        target_file = self.write("rtmp://d/4\n", "targets.txt")
        _, argv = self.launch(["--target", "rtmp://a/1", "--target-file", target_file, "--config", config,
                               "--target", "rtmp://c/3"])
        self.assertEqual(argv[-1], "|".join(f"{FLV}rtmp://{h}/{n}" for h, n in zip("abcd", range(1, 5))))

    def test_target_file_labels_and_line_numbers(self):
        for contents, url in (("\n# c\n; other\n YouTube = rtmp://h/live2/KEY \t\r\n", "rtmp://h/live2/KEY"),
                              ("srt://h:9?mode=caller&streamid=a\n", "srt://h:9?mode=caller&streamid=a")):
            with self.subTest(contents=contents):
                self.assertEqual(self.launch(["--target-file", self.write(contents, "t.txt")])[1][-1], url)
        for contents, before, message, line in (
                ("label=not-a-url\n", [], SCHEME % "label=not-a-url", 1),
                ("rtmp://ok/1\n# c\nTwitch: rtmp://h/app/KEY\n", [], SCHEME % "Twitch: rtmp://h/app/KEY", 3),
                ("x = rtmp://host/a]b\n", [], PIPE, 1), ("\n# c\nrtmp://z/17\n", SIXTEEN, TOO_MANY, 3)):
            with self.subTest(contents=contents):
                path = self.write(contents, "t.txt")
                self.assertEqual(dry_run([*before, "--target-file", path])[0],
                                 (2, "", f"{message}Invalid target on line {line} of {path}.\n"))
        path = os.path.join(self.dir, "absent.txt")
        self.assertEqual(dry_run(["--target-file", path, "--target", "rtmp://a/x"])[0],
                         (2, "", f"Could not open target file {path}: No such file or directory\n"))


if __name__ == "__main__":
    unittest.main()
