"""The front end: help and listings, the argument walk and config files in command-line order, mode
selection, the dry run, and every launch check with its message, status and report."""
import os
import shlex
import tempfile
import unittest

from harness import (CASTORA, DEST, FIFO, OFFLINE, REPORT, Answer, FakeFfmpeg, dry_run, golden, run_castora,
                     shared_server, without_live_lines)

HELP = golden("help.txt").replace("Usage: castora ", f"Usage: {CASTORA} ", 1)
POLL_REFUSED = "Automation poll URL must be HTTPS or a local Castora bridge URL.\n"
ACK_REFUSED = "Automation acknowledgement URL must be HTTPS or a local Castora bridge URL.\n"


def value_after(args, option, default):
    return args[args.index(option) + 1] if option in args else default


class FrontEnd(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.reset_server()
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name
        self.services = ["--update-url", self.server.url("/castora/update"),
                         "--report-url", self.server.url("/castora/report")]

    def reset_server(self):
        self.server.reset()
        self.server.answer("/castora/report", Answer(200, b"{}"))
        self.server.answer("/castora/update", Answer(200, b'{"latest_version":"0.2.1"}'))

    def run_here(self, args, env=None):
        return run_castora(args, env={**self.server.env, **(env or {})}, cwd=self.dir)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_help_version_and_walk_failures(self):
        version = golden("help.txt").splitlines(keepends=True)[0]
        for args, text in ((["--help"], HELP), (["-h"], HELP), (["--list-platforms", "--help", "--x"], HELP),
                           (["--list-scenes", "--version", "--x"], version)):
            with self.subTest(args=args):
                self.assertEqual(run_castora(args), (0, text, ""))
        for args, named in ((["--bogus", "--help"], "--bogus"), (["-hx"], "-hx"), (["--profile"], "--profile"),
                            (["--profile=x"], "--profile=x"), (["--", "--help"], "--"),
                            (["--dry-run", "--HELP", "--version"], "--HELP")):
            with self.subTest(args=args):
                self.assertEqual(run_castora(args), (2, HELP, f"Unknown or incomplete option: {named}\n"))
        # A failed --config or --target ends the walk the same way, after its own message.
        bad = self.write("bad.conf", "profile\n")
        for args, message in ((["--config", bad, "--version"], f"Invalid config line 1 in {bad}.\n"),
                              (["--config", "/dev/zero"], "Could not open config file /dev/zero: Is a character device\n"),
                              (["--config", self.dir], f"Could not open config file {self.dir}: Is a directory\n"),
                              (["--target", "ftp://x", "--version"],
                               "Target must start with rtmp://, rtmps://, or srt://: ftp://x\n")):
            self.assertEqual(run_castora(args), (2, HELP, message))
        # A value is the next argument whatever it looks like.
        r, argv = dry_run(["--overlay-title", "-x", "--stream-key", "-k", "--ingest-url", "rtmp://h/live"])
        self.assertEqual((r.status, r.stderr, argv[-1]), (0, "", "rtmp://h/live/-k"))
        self.assertIn(",drawtext=text='-x':", argv[argv.index("-vf") + 1])

    def test_mode_order_and_which_modes_contact_the_service(self):
        order = [("--list-profiles", "profiles.txt"), ("--list-platforms", "platforms.txt"),
                 ("--list-scenes", "scenes.txt"), ("--list-automation", "automation.txt"),
                 ("--brand-kit", "brand-kit.txt")]
        flags = [flag for flag, _ in order]
        streaming = ["--dry-run", "--print-devices", "--ingest-url", "rtmp://h/x", "--profile", "bogus",
                     *self.services]
        for i, (flag, name) in enumerate(order):
            with self.subTest(flag):
                self.reset_server()
                self.assertEqual(self.run_here([*reversed(flags[i:]), *streaming]), (0, golden(name), ""))
                self.assertEqual(self.server.requests, [])
        sample = os.path.join(self.dir, "sample.conf")
        self.write("sample.conf", "old content that is longer than the sample\n" * 100)
        r = self.run_here([*flags, "--check-update", "--write-sample-config", sample, *streaming])
        self.assertEqual((r, self.server.requests), ((0, "", ""), []))
        with open(sample) as f:
            self.assertEqual(f.read(), golden("sample_config.txt"))
        self.assertEqual(self.run_here([*flags, "--check-update", *streaming]),
                         (0, "", "Castora is current: 0.2.1\n"))
        self.assertEqual(self.run_here(["--write-sample-config", "", "--list-scenes"]), (0, golden("scenes.txt"), ""))
        missing = os.path.join(self.dir, "no-such-dir", "studio.conf")
        self.assertEqual(self.run_here(["--write-sample-config", missing]),
                         (2, "", f"Could not write sample config {missing}: No such file or directory\n"))
        self.assertEqual(self.run_here(["--write-sample-config", "/dev/full"]),
                         (2, "", "Could not write sample config /dev/full: No space left on device\n"))
        # A device listing asks the update service first and needs no profile or destination.
        self.assertEqual(self.run_here([*streaming, "--ffmpeg", "/opt/ff"]),
                         (0, "/opt/ff -hide_banner -f avfoundation -list_devices true -i ''\n", ""))
        self.assertEqual([q.path for q in self.server.requests], ["/castora/update"] * 2)

    def test_config_files_and_options_apply_in_command_line_order(self):
        low = self.write("low.conf", "profile=low_power_360p\nscreen=0\ntarget=rtmp://b/2\n")
        screen = self.write("screen.conf", "screen=no\nscreen=on\n")
        targets = self.write("targets.txt", "rtmp://d/4\n")
        for args, scene, profile in (
                (["--profile", "high_1080p", "--screen", "--config", low], "camera_clean", "low_power_360p"),
                (["--config", low, "--profile", "high_1080p", "--screen"], "screen_clean", "high_1080p"),
                (["--config", screen, "--config", low], "camera_clean", "low_power_360p"),
                (["--config", screen, "--config", ""], "screen_clean", "balanced_480p")):
            with self.subTest(args=args):
                r, argv = dry_run(["--target", "rtmp://a/1", "--target-file", targets, *args, "--target",
                                   "rtmp://c/3"])
                self.assertEqual(r.stdout.splitlines()[0], f"Brevalo Castora 0.2.1 | scene={scene} | profile={profile}")
                # Targets in the order met; the target file's at launch, after them.
                urls = ["rtmp://a/1", *(["rtmp://b/2"] if low in args else []), "rtmp://c/3", "rtmp://d/4"]
                self.assertEqual(argv[-1], "|".join(f"[f=flv:onfail=ignore:{FIFO}]" + url for url in urls))

    def test_dry_runs_print_the_command_exactly(self):
        cases = golden("dry_runs.txt").split("$ ")[1:]
        for case in cases:
            args, _, printed = case.partition("\n")
            with self.subTest(args=args):
                self.assertEqual(run_castora([*shlex.split(args), *OFFLINE, "--dry-run"], cwd=self.dir),
                                 (0, printed, ""))
        self.assertEqual(os.listdir(self.dir), [])  # a dry run reserves no recording

    def test_launch_checks_message_status_and_report(self):
        missing = os.path.join(self.dir, "missing-targets.txt")
        no_file = f"Could not open target file {missing}: No such file or directory\n"
        long_url = "rtmp://" + "a" * 1017
        sixteen = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]
        huge = [a for i in range(16) for a in ("--target", f"rtmp://t/{i:02d}" + "b" * 1012)]
        stream_fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses="1")
        devices_fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses="3")
        loaded, built = "Target file could not be loaded.", "Stream target URL could not be built."
        cases = [  # args, status, stdout, stderr, report phase and message, fake FFmpeg
            (["--target-file", missing, *DEST], 2, "", no_file, "target_file", loaded, None),
            (["--print-devices", "--target-file", missing], 2, "", no_file, "target_file", loaded, None),
            (["--print-devices", "--profile", "ultra"], 3, "", "", "print_devices",
             "FFmpeg device listing failed.", devices_fake),
            (["--profile", "ultra", "--scene", "nope", *DEST], 2, golden("profiles.txt"),
             "Unknown profile: ultra\n\n", "profile", "Unknown ingest profile.", None),
            # Turning reporting off changes neither the message nor the status.
            (["--profile", "--help", *DEST, "--no-error-reporting"], 2, golden("profiles.txt"),
             "Unknown profile: --help\n\n", "profile", None, None),
            (["--scene", "Camera_clean", "--profile", "high_1080p", *DEST], 2, golden("scenes.txt"),
             "Unknown scene: Camera_clean\n\n", "scene", "Unknown scene preset.", None),
            (["--record-file", "a|b.mkv", "--scene", "game_battle", "--automation-poll-url", "http://x"], 2, "",
             "Recording path is invalid or too long.\n", "recording", "Recording path was invalid.", None),
            (["--automation-poll-url", "http://localhostx:1/queue", "--automation-ack-url", "ftp://x/"], 2,
             "", POLL_REFUSED, "automation", "Automation poll URL was rejected.", None),
            (["--automation-poll-url", "http://127.0.0.1.evil.example/", *DEST], 2, "", POLL_REFUSED,
             "automation", "Automation poll URL was rejected.", None),
            (["--automation-ack-url", "http://192.168.1.5/ack", *DEST], 2, "", ACK_REFUSED, "automation",
             "Automation acknowledgement URL was rejected.", None),
            (["--automation-ack-url", "http://localhost:80@evil.example/q", *DEST], 2, "", ACK_REFUSED,
             "automation", "Automation acknowledgement URL was rejected.", None),
            (["--ingest-url", long_url, *DEST], 2, "", "Publish URL is too long.\n", "ingest_url",
             "Ingest URL could not be built.", None),
            (["--ingest-url", "rtmp://h/live", *sixteen], 2, "", "Too many targets. Maximum is 16.\n",
             "targets", "Too many stream targets.", None),
            ([*DEST, "--target", long_url], 2, "", "Target URL is too long.\n", "targets", built, None),
            ([], 2, "", "Missing --ingest-url, --target, or --target-file.\n", "targets",
             "No ingest or stream target was provided.", None),
            (huge, 2, "", "Multistream target list is too long.\n", "publish_url",
             "Multistream publish URL could not be built.", None),
            (["--ingest-url", "rtmp://h/live", *sixteen[:30]], 1, "", "", "stream",
             "FFmpeg stream process exited with a non-zero code.", stream_fake),
        ]
        for args, status, stdout, stderr, phase, message, fake in cases:
            with self.subTest(phase=phase, args=args[:4]):
                self.reset_server()
                r = self.run_here([*args, "--skip-update-check", "--ffmpeg", fake.path if fake else "/nonexistent",
                                   "--report-url", self.server.url("/castora/report")], fake and fake.env)
                self.assertEqual((r.status, r.stdout, without_live_lines(r.stderr)), (status, stdout, stderr))
                event = "ffmpeg_error" if fake else "configuration_error"
                self.assertEqual(self.server.reports(), [{
                    **REPORT, "event_type": event, "exit_code": status, "phase": phase, "message": message,
                    "scene_key": value_after(args, "--scene", ""),
                    "profile_key": value_after(args, "--profile", "balanced_480p")}] if message else [])
        self.assertEqual(devices_fake.runs()[0], [devices_fake.path, "-hide_banner", "-f", "avfoundation",
                                                  "-list_devices", "true", "-i", ""])
        self.assertEqual(len(stream_fake.runs()), 1)
        self.assertEqual(stream_fake.runs()[0][-1].count("|"), 15)


if __name__ == "__main__":
    unittest.main()
