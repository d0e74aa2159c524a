"""Front end: help and listings, the argument walk, mode selection and every launch check."""
import os
import tempfile
import unittest

from harness import CASTORA, OFFLINE, REPORT, Answer, FakeFfmpeg, ServiceServer, dry_run, run_castora

HELP_OPTIONS = [
    ("--version", "Show version."),
    ("--list-profiles", "Show low-power ingest profiles."),
    ("--print-devices", "Ask FFmpeg to list capture devices."),
    ("--list-scenes", "Show Brevalo studio scene presets."),
    ("--list-automation", "Show supported gift/device automation bridge actions."),
    ("--list-platforms", "Show common multistream destination examples."),
    ("--brand-kit", "Show built-in Brevalo branding values."),
    ("--config PATH", "Load a Brevalo key=value studio config."),
    ("--write-sample-config PATH", "Write a starter studio config file and exit."),
    ("--profile KEY", "Profile key. Default: balanced_480p."),
    ("--scene KEY", "Scene preset. Default: camera_clean or screen_clean."),
    ("--ingest-url URL", "RTMP/SRT endpoint or URL containing {stream_key}."),
    ("--stream-key KEY", "Stream key appended to ingest URL."),
    ("--target URL", "Add a full RTMP/RTMPS/SRT output. Repeat for multistream."),
    ("--target-file PATH", "Read one output URL per line. Lines may be label=URL."),
    ("--record-file PATH", "Save a local MKV recording while streaming."),
    ("--ffmpeg PATH", "FFmpeg executable. Default: ffmpeg."),
    ("--video-input INPUT", "Platform video input. Default varies by OS."),
    ("--audio-input INPUT", "Platform audio input. Default varies by OS."),
    ("--screen", "Capture desktop/screen instead of camera where supported."),
    ("--no-audio", "Disable audio input."),
    ("--overlay-title TEXT", "Lower-third or scoreboard title."),
    ("--overlay-subtitle TEXT", "Lower-third subtitle."),
    ("--score-left TEXT", "Left scoreboard label/value."),
    ("--score-right TEXT", "Right scoreboard label/value."),
    ("--watermark TEXT", "Watermark text. Default: Brevalo."),
    ("--virtual-background", "Mark config as virtual-background ready for studio UI."),
    ("--automation-poll-url URL", "Castora local bridge queue URL."),
    ("--automation-ack-url URL", "Castora local bridge acknowledgement URL."),
    ("--automation-token TOKEN", "Local bridge token, never printed in dry-run output."),
    ("--update-url URL", "Update check endpoint. Default: Brevalo API."),
    ("--report-url URL", "Crash/error report endpoint. Default: Brevalo API."),
    ("--check-update", "Check for a newer desktop package, then exit."),
    ("--skip-update-check", "Do not check for updates on this launch."),
    ("--auto-download-update", "Download a newer package beside the app when available."),
    ("--no-error-reporting", "Do not send crash/error details to Brevalo."),
    ("--reconnect", "Restart FFmpeg on non-clean stream exits."),
    ("--dry-run", "Print the FFmpeg command without running it."),
    ("--help", "Show this help."),
]
HELP = (f"Brevalo Castora Native 0.2.1\nUsage: {CASTORA} [options]\n\nOptions:\n"
        + "".join(f"  {option:<29}{text}\n" for option, text in HELP_OPTIONS)
        + "\nLow-powered creators should use low_power_360p or balanced_480p. The server side upconverts.\n")

PROFILES = """\
low_power_360p | Low Power 360p | 640x360 | 24 fps | 450-900 kbps video | 64 kbps audio | server upconvert
balanced_480p | Balanced 480p | 854x480 | 30 fps | 900-1600 kbps video | 96 kbps audio | server upconvert
standard_720p | Standard 720p | 1280x720 | 30 fps | 1800-3200 kbps video | 128 kbps audio | server upconvert
high_1080p | High 1080p | 1920x1080 | 30 fps | 3500-6000 kbps video | 160 kbps audio | server upconvert
"""
SCENES = """\
Brevalo Castora scene presets:
camera_clean | Camera Clean | Single camera with Brevalo ingest tuning.
screen_clean | Screen Clean | Full screen capture for tutorials, games, and desktop demos.
creator_lower_third | Creator Lower Third | Camera/screen with creator title and subtitle lower third.
gift_war_scoreboard | Gift War Scoreboard | Two-sided gift battle scoreboard for Boys vs Girls, \
Heaven vs Hell, and similar formats.
game_battle | Game Battle | Live game battle layout with score labels and watermark.
device_show | Device Show | Automation/device-control show with visible trigger status overlay.
"""
PLATFORMS = """\
Common multistream destinations:
  Brevalo: use the RTMP/SRT ingest URL and stream key from the creator live dashboard.
  YouTube:      rtmp://a.rtmp.youtube.com/live2/{stream_key}
  Facebook:     rtmps://live-api-s.facebook.com:443/rtmp/{stream_key}
  Twitch:       rtmp://live.twitch.tv/app/{stream_key}
  Kick:         rtmp://fa723fc1b171.global-contribute.live-video.net/app/{stream_key}
  TikTok:       use the server URL and stream key shown by TikTok Live Center.
  Rumble/X/etc: use their RTMP/RTMPS server URL plus stream key.
  Custom SRT:   srt://host:port?mode=caller&streamid=...

Use --target for each full destination URL, or --target-file with one URL per line.
The later Brevalo restream service should move fan-out to 10Gbps+ ingest/restream nodes.
"""
AUTOMATION = """\
Brevalo gift/device automation bridge:
  overlay_event          Queue visual overlay changes for the studio renderer.
  studio_command         Queue local studio commands such as scene swap, mute, or highlight.
  arduino_serial_bridge  Queue serial/USB Arduino commands for the local Castora bridge.
  webhook                Server-approved HTTPS webhook actions.
  arduino_http           Server-approved HTTPS Arduino bridge actions.

Recommended hardware path: use the local bridge for Arduino/USB/local-network devices.
Server-side HTTP actions require approval and must use public HTTPS endpoints.
"""
BRAND_KIT = """\
Brevalo Castora brand kit:
  product=Brevalo Castora
  runtime=native-lightweight
  primary=#c70f3a
  ink=#050505
  paper=#ffffff
  default_watermark=Brevalo
  framework_policy=No Electron, React Native, Flutter, Tauri, Node, or bundled browser shell.
"""
SAMPLE_CONFIG = """\
# Brevalo Castora 0.2.1
profile=balanced_480p
scene=gift_war_scoreboard
screen=0
no_audio=0
ffmpeg=ffmpeg
video_input=
audio_input=
ingest_url=rtmp://live.example.com/live
stream_key=CHANGE_ME
target=rtmp://a.rtmp.youtube.com/live2/YOUTUBE_KEY
record_file=brevalo-local-recording.mkv
overlay_title=Brevalo Live
overlay_subtitle=Castora
score_left=Heaven 0
score_right=Hell 0
watermark=Brevalo
virtual_background=0
automation_poll_url=http://127.0.0.1:18444/brevalo/actions
automation_ack_url=http://127.0.0.1:18444/brevalo/ack
automation_token=
update_url=https://api.brevalo.com/castora/update
report_url=https://api.brevalo.com/castora/report
skip_update_check=0
auto_download_update=1
disable_error_reporting=0
reconnect=1
"""
POLL_REFUSED = "Automation poll URL must be HTTPS or a local Castora bridge URL.\n"
ACK_REFUSED = "Automation acknowledgement URL must be HTTPS or a local Castora bridge URL.\n"
DEST = ["--target", "rtmp://a/x"]
VERSION = "Brevalo Castora Native 0.2.1\n"


def value_after(args, option, default):
    return args[args.index(option) + 1] if option in args else default


class FrontEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = ServiceServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.reset_server()
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.services = ["--update-url", self.server.url("/castora/update"),
                         "--report-url", self.server.url("/castora/report")]

    def reset_server(self):
        self.server.reset()
        self.server.answer("/castora/report", Answer(200, b"{}"))
        self.server.answer("/castora/update", Answer(200, b'{"latest_version":"0.2.1"}'))

    def run_here(self, args, env=None):
        return run_castora(args, env={**self.server.env, **(env or {})}, cwd=self.tmp.name)

    def test_help_version_and_walk_failures(self):
        for args, text in ((["--help"], HELP), (["-h"], HELP), (["--list-platforms", "--help", "--x"], HELP),
                           (["--version"], VERSION), (["--list-scenes", "--version", "--x"], VERSION)):
            with self.subTest(args=args):
                self.assertEqual(run_castora(args), (0, text, ""))
        for args, named in ((["--bogus", "--help"], "--bogus"), (["-hx"], "-hx"), (["-H"], "-H"),
                            (["--profile"], "--profile"), (["--profile=x"], "--profile=x"),
                            (["--", "--help"], "--"), (["--dry-run", "--HELP", "--version"], "--HELP")):
            with self.subTest(args=args):
                self.assertEqual(run_castora(args), (2, HELP, f"Unknown or incomplete option: {named}\n"))
        # A value is the next argument whatever it looks like.
        r, argv = dry_run(["--overlay-title", "-x", "--stream-key", "-k", "--ingest-url", "rtmp://h/live"])
        self.assertEqual((r.status, r.stderr, argv[-1]), (0, "", "rtmp://h/live/-k"))
        self.assertIn(",drawtext=text='-x':", argv[argv.index("-vf") + 1])

    def test_mode_order_and_listings_contact_no_service(self):
        order = [("--list-profiles", PROFILES), ("--list-platforms", PLATFORMS), ("--list-scenes", SCENES),
                 ("--list-automation", AUTOMATION), ("--brand-kit", BRAND_KIT)]
        flags = [f for f, _ in order]
        streaming = ["--dry-run", "--print-devices", "--ingest-url", "rtmp://h/x", "--profile", "bogus",
                     *self.services]
        for i, (flag, text) in enumerate(order):
            with self.subTest(flag):
                self.reset_server()
                self.assertEqual(self.run_here([*reversed(flags[i:]), *streaming]), (0, text, ""))
                self.assertEqual(self.server.requests, [])
        sample = os.path.join(self.tmp.name, "sample.conf")
        r = self.run_here([*flags, "--check-update", "--write-sample-config", sample, *streaming])
        self.assertEqual(r, (0, "", ""))
        self.assertTrue(os.path.exists(sample))
        self.assertEqual(self.server.requests, [])
        r = self.run_here([*flags, "--check-update", *streaming])
        self.assertEqual(r, (0, "", "Castora is current: 0.2.1\n"))
        self.assertEqual(self.run_here(["--write-sample-config", "", "--list-scenes"]), (0, SCENES, ""))
        self.assertEqual(os.listdir(self.tmp.name), ["sample.conf"])
        # A streaming launch (here a device-listing dry run) asks the update service first; so did
        # --check-update above, and only those two. The listing needs no profile or destination.
        r = self.run_here([*streaming, "--ffmpeg", "/opt/ff"])
        self.assertEqual(r, (0, "/opt/ff -hide_banner -f avfoundation -list_devices true -i ''\n", ""))
        self.assertEqual([q.path for q in self.server.requests], ["/castora/update"] * 2)

    def test_sample_config_is_written_exactly(self):
        path = os.path.join(self.tmp.name, "studio.conf")
        with open(path, "w") as f:
            f.write("old content that is longer than the sample\n" * 100)
        r = self.run_here(["--update-url", "https://other.example/u", "--write-sample-config", path,
                           "--report-url", "https://other.example/r", "--list-platforms"])
        self.assertEqual(r, (0, "", ""))
        with open(path) as f:
            self.assertEqual(f.read(), SAMPLE_CONFIG)
        missing = os.path.join(self.tmp.name, "no-such-dir", "studio.conf")
        r = self.run_here(["--write-sample-config", missing, *self.services])
        self.assertEqual(r, (2, "", f"Could not write sample config {missing}: No such file or directory\n"))
        self.assertEqual(self.server.requests, [])

    def test_automation_urls(self):
        token = ["--automation-token", "SECRET-TOKEN"]
        for option, note in (("--automation-poll-url", True), ("--automation-ack-url", False)):
            for url in ("http://localhost:18444/a", ""):
                with self.subTest(option=option, url=url):
                    r, _ = dry_run([option, url, *token, *DEST])
                    self.assertEqual((r.status, r.stderr), (0, ""))
                    shown = "Automation bridge configured; token hidden." in r.stdout.splitlines()
                    self.assertEqual(shown, note and url != "")
                    self.assertNotIn("SECRET-TOKEN", r.stdout)
        for option, refused in (("--automation-poll-url", POLL_REFUSED),
                                ("--automation-ack-url", ACK_REFUSED)):
            with self.subTest(option=option):
                r = dry_run([option, "http://127.0.0.1.evil.example/", *DEST])[0]
                self.assertEqual(r, (2, "", refused))

    def test_launch_checks_message_status_and_report(self):
        d = self.tmp.name
        missing = os.path.join(d, "missing-targets.txt")
        no_file = f"Could not open target file {missing}: No such file or directory\n"
        long_url = "rtmp://" + "a" * 1017
        sixteen = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]
        huge = [a for i in range(16) for a in ("--target", f"rtmp://t/{i:02d}" + "b" * 1012)]
        stream_fake = FakeFfmpeg(tempfile.mkdtemp(dir=d), statuses="1")
        devices_fake = FakeFfmpeg(tempfile.mkdtemp(dir=d), statuses="3")
        loaded, built = "Target file could not be loaded.", "Stream target URL could not be built."
        cases = [  # args, status, stdout, stderr, report phase and message, fake FFmpeg
            (["--target-file", missing, *DEST], 2, "", no_file, "target_file", loaded, None),
            (["--print-devices", "--target-file", missing], 2, "", no_file, "target_file", loaded, None),
            (["--print-devices", "--profile", "ultra"], 3, "", "", "print_devices",
             "FFmpeg device listing failed.", devices_fake),
            (["--profile", "ultra", "--scene", "nope", *DEST], 2, PROFILES, "Unknown profile: ultra\n\n",
             "profile", "Unknown ingest profile.", None),
            # Turning reporting off changes neither the message nor the status.
            (["--profile", "--help", *DEST, "--no-error-reporting"], 2, PROFILES,
             "Unknown profile: --help\n\n", "profile", None, None),
            (["--scene", "Camera_clean", "--profile", "high_1080p", *DEST], 2, SCENES,
             "Unknown scene: Camera_clean\n\n", "scene", "Unknown scene preset.", None),
            (["--record-file", "a|b.mkv", "--scene", "game_battle", "--automation-poll-url", "http://x"], 2, "",
             "Recording path is invalid or too long.\n", "recording", "Recording path was invalid.", None),
            (["--automation-poll-url", "http://localhostx:1/queue", "--automation-ack-url", "ftp://x/"], 2,
             "", POLL_REFUSED, "automation", "Automation poll URL was rejected.", None),
            (["--automation-ack-url", "http://192.168.1.5/ack", *DEST], 2, "", ACK_REFUSED, "automation",
             "Automation acknowledgement URL was rejected.", None),
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
                ffmpeg = fake.path if fake else "/nonexistent"
                r = self.run_here([*args, "--skip-update-check", "--ffmpeg", ffmpeg, "--report-url",
                                   self.server.url("/castora/report")], fake and fake.env)
                self.assertEqual(r, (status, stdout, stderr))
                event = "ffmpeg_error" if fake else "configuration_error"
                self.assertEqual(self.server.reports(), [{
                    **REPORT, "event_type": event, "exit_code": status, "phase": phase, "message": message,
                    "scene_key": value_after(args, "--scene", ""),
                    "profile_key": value_after(args, "--profile", "balanced_480p")}] if message else [])
                self.assertEqual(len(self.server.requests), bool(message))
        self.assertEqual(devices_fake.runs()[0], [devices_fake.path, "-hide_banner", "-f", "avfoundation",
                                                  "-list_devices", "true", "-i", ""])
        self.assertEqual(len(stream_fake.runs()), 1)
        self.assertEqual(stream_fake.runs()[0][-1].count("|"), 15)


if __name__ == "__main__":
    unittest.main()
