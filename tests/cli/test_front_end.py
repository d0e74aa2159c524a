"""Front end: help and listings, the argument walk, mode selection and every launch check."""
import os
import shlex
import tempfile
import unittest

from harness import CASTORA, OFFLINE, Answer, FakeFfmpeg, ServiceServer, run_castora

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

    def test_help_and_version_texts(self):
        for args in (["--help"], ["-h"], ["--help", "--bogus"], ["--list-platforms", "-h"]):
            with self.subTest(args=args):
                r = run_castora(args)
                self.assertEqual((r.status, r.stdout, r.stderr), (0, HELP, ""))
        for args in (["--version"], ["--version", "--bogus"], ["--list-scenes", "--version"]):
            with self.subTest(args=args):
                r = run_castora(args)
                self.assertEqual((r.status, r.stdout, r.stderr), (0, "Brevalo Castora Native 0.2.1\n", ""))

    def test_walk_failures_print_help_and_name_the_argument(self):
        cases = [(["--bogus"], "--bogus"), (["-hx"], "-hx"), (["-H"], "-H"), (["--profile"], "--profile"),
                 (["--target-file"], "--target-file"), (["--bogus", "--help"], "--bogus"),
                 (["--list-platforms", "--bogus"], "--bogus"),
                 (["--profile=low_power_360p"], "--profile=low_power_360p"), (["--", "--help"], "--"),
                 (["--bogus", "--version"], "--bogus"), (["--dry-run", "--HELP"], "--HELP")]
        for args, named in cases:
            with self.subTest(args=args):
                r = run_castora(args)
                self.assertEqual((r.status, r.stdout, r.stderr),
                                 (2, HELP, f"Unknown or incomplete option: {named}\n"))

    def test_values_may_begin_with_a_dash_and_config_order_decides(self):
        r = run_castora([*OFFLINE, "--profile", "--help", *DEST])
        self.assertEqual((r.status, r.stderr), (2, "Unknown profile: --help\n\n"))
        config = os.path.join(self.tmp.name, "studio.conf")
        with open(config, "w") as f:
            f.write("profile=low_power_360p\n")
        dashes = ["--overlay-title", "-x", "--stream-key", "-k", "--ingest-url", "rtmp://h/live"]
        cases = [(dashes, "balanced_480p"),
                 (["--profile", "high_1080p", "--config", config, *DEST], "low_power_360p"),
                 (["--config", config, "--profile", "high_1080p", *DEST], "high_1080p")]
        for args, profile in cases:
            with self.subTest(args=args):
                r = run_castora([*args, *OFFLINE, "--dry-run"])
                self.assertEqual((r.status, r.stderr), (0, ""))
                header, command = r.stdout.splitlines()
                self.assertEqual(header, f"Brevalo Castora 0.2.1 | scene=camera_clean | profile={profile}")
                if "-x" in args:
                    argv = shlex.split(command)
                    self.assertEqual(argv[-1], "rtmp://h/live/-k")
                    self.assertIn(",drawtext=text='-x':", argv[argv.index("-vf") + 1])

    def test_mode_order_and_listings_contact_no_service(self):
        order = [("--list-profiles", PROFILES), ("--list-platforms", PLATFORMS), ("--list-scenes", SCENES),
                 ("--list-automation", AUTOMATION), ("--brand-kit", BRAND_KIT)]
        streaming = ["--dry-run", "--print-devices", "--ingest-url", "rtmp://h/x", "--profile", "bogus"]
        for i, (flag, text) in enumerate(order):
            with self.subTest(flag):
                self.reset_server()
                r = self.run_here([*reversed([f for f, _ in order[i:]]), *streaming, *self.services])
                self.assertEqual((r.status, r.stdout, r.stderr), (0, text, ""))
                self.assertEqual(self.server.requests, [])
        flags = [f for f, _ in order]
        sample = os.path.join(self.tmp.name, "sample.conf")
        r = self.run_here([*flags, "--check-update", "--write-sample-config", sample, *streaming,
                           *self.services])
        self.assertEqual((r.status, r.stdout, r.stderr), (0, "", ""))
        self.assertTrue(os.path.exists(sample))
        self.assertEqual(self.server.requests, [])
        r = self.run_here([*flags, "--check-update", *streaming, *self.services])
        self.assertEqual((r.status, r.stdout, r.stderr), (0, "", "Castora is current: 0.2.1\n"))
        self.assertEqual([q.path for q in self.server.requests], ["/castora/update"])
        r = self.run_here(["--write-sample-config", "", "--list-scenes"])
        self.assertEqual((r.status, r.stdout, os.listdir(self.tmp.name)), (0, SCENES, ["sample.conf"]))
        # The streaming launch (here a device-listing dry run) asks the update service first.
        self.reset_server()
        r = self.run_here([*streaming, *self.services])
        self.assertEqual((r.status, r.stderr), (0, ""))
        self.assertEqual([q.path for q in self.server.requests], ["/castora/update"])

    def test_sample_config_is_written_exactly_and_loads_back(self):
        path = os.path.join(self.tmp.name, "studio.conf")
        with open(path, "w") as f:
            f.write("old content that is longer than nothing\n" * 100)
        r = self.run_here(["--update-url", "https://other.example/u", "--write-sample-config", path,
                           "--report-url", "https://other.example/r", "--list-platforms"])
        self.assertEqual((r.status, r.stdout, r.stderr), (0, "", ""))
        with open(path) as f:
            self.assertEqual(f.read(), SAMPLE_CONFIG)
        # The file turns update checks and reports on, so the offline switches come after it.
        r = self.run_here(["--config", path, *OFFLINE, "--dry-run"])
        self.assertEqual((r.status, r.stderr), (0, ""))
        lines = r.stdout.splitlines()
        self.assertEqual(lines[:3], [
            "Brevalo Castora 0.2.1 | scene=gift_war_scoreboard | profile=balanced_480p",
            "Automation bridge configured; token hidden.",
            "Reconnect policy: FFmpeg restarts on non-clean stream exits."])
        self.assertEqual(shlex.split(lines[3])[-1],
                         "[f=flv:onfail=ignore]rtmp://live.example.com/live/CHANGE_ME|"
                         "[f=flv:onfail=ignore]rtmp://a.rtmp.youtube.com/live2/YOUTUBE_KEY|"
                         "[f=matroska]brevalo-local-recording.mkv")
        missing = os.path.join(self.tmp.name, "no-such-dir", "studio.conf")
        r = self.run_here(["--write-sample-config", missing, *self.services])
        self.assertEqual((r.status, r.stdout, r.stderr),
                         (2, "", f"Could not write sample config {missing}: No such file or directory\n"))
        self.assertFalse(os.path.exists(os.path.dirname(missing)))
        self.assertEqual(self.server.requests, [])

    def test_automation_urls(self):
        accepted = ["http://localhost", "http://localhost:18444/a", "http://[::1]:8/a", "https://anything",
                    "http://127.0.0.1", "http://127.0.0.1/q", "http://localhost?x=1", "http://[::1]#f"]
        refused = ["http://localhostx:1/queue", "http://127.0.0.1.evil.example/", "http://192.168.1.5/ack",
                   "http://[::1]x/", "HTTP://localhost/", "http://LOCALHOST/", "ftp://127.0.0.1/"]
        token = ["--automation-token", "SECRET-TOKEN"]
        for option, note, refusal in (("--automation-poll-url", True, POLL_REFUSED),
                                      ("--automation-ack-url", False, ACK_REFUSED)):
            for url in accepted + [""]:
                with self.subTest(option=option, url=url):
                    r = run_castora([option, url, *token, *DEST, *OFFLINE, "--dry-run"])
                    self.assertEqual((r.status, r.stderr), (0, ""))
                    shown = "Automation bridge configured; token hidden." in r.stdout.splitlines()
                    self.assertEqual(shown, note and url != "")
                    self.assertNotIn("SECRET-TOKEN", r.stdout)
            for url in refused:
                with self.subTest(option=option, url=url):
                    r = run_castora([option, url, *DEST, *OFFLINE, "--dry-run"])
                    self.assertEqual((r.status, r.stdout, r.stderr), (2, "", refusal))

    def test_device_listing_dry_run_needs_no_profile_or_destination(self):
        for ffmpeg, shown in (("/opt/ff/bin/ffmpeg", "/opt/ff/bin/ffmpeg"), ("my ffmpeg", "'my ffmpeg'")):
            with self.subTest(ffmpeg=ffmpeg):
                r = self.run_here(["--skip-update-check", "--report-url", self.server.url("/castora/report"),
                                   "--print-devices", "--dry-run", "--profile", "ultra", "--ffmpeg", ffmpeg])
                self.assertEqual((r.status, r.stdout, r.stderr),
                                 (0, f"{shown} -hide_banner -f avfoundation -list_devices true -i ''\n", ""))
        self.assertEqual(self.server.requests, [])

    def test_launch_checks_message_status_and_report(self):
        d = self.tmp.name
        missing = os.path.join(d, "missing-targets.txt")
        no_file = f"Could not open target file {missing}: No such file or directory\n"
        long_url = "rtmp://" + "a" * 1017
        sixteen = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]
        fifteen = sixteen[:30]
        huge = [a for i in range(16) for a in ("--target", f"rtmp://t/{i:02d}" + "b" * 1012)]
        stream_fake = FakeFfmpeg(tempfile.mkdtemp(dir=d), statuses="1")
        devices_fake = FakeFfmpeg(tempfile.mkdtemp(dir=d), statuses="3")
        config_error = "configuration_error"
        cases = [  # args, status, stdout, stderr, event type, phase, report message, fake FFmpeg
            (["--target-file", missing, *DEST], 2, "", no_file, config_error, "target_file",
             "Target file could not be loaded.", None),
            (["--print-devices", "--target-file", missing], 2, "", no_file, config_error, "target_file",
             "Target file could not be loaded.", None),
            (["--print-devices", "--profile", "ultra"], 3, "", "", "ffmpeg_error", "print_devices",
             "FFmpeg device listing failed.", devices_fake),
            (["--profile", "ultra", "--scene", "nope", *DEST], 2, PROFILES, "Unknown profile: ultra\n\n",
             config_error, "profile", "Unknown ingest profile.", None),
            (["--scene", "Camera_clean", "--profile", "high_1080p", *DEST], 2, SCENES,
             "Unknown scene: Camera_clean\n\n", config_error, "scene", "Unknown scene preset.", None),
            (["--record-file", "a|b.mkv", "--scene", "game_battle", "--automation-poll-url", "http://10.0.0.5/"],
             2, "", "Recording path is invalid or too long.\n", config_error, "recording",
             "Recording path was invalid.", None),
            (["--automation-poll-url", "http://localhostx:1/queue", "--automation-ack-url", "ftp://x/"],
             2, "", POLL_REFUSED, config_error, "automation", "Automation poll URL was rejected.", None),
            (["--automation-ack-url", "http://192.168.1.5/ack", *DEST], 2, "", ACK_REFUSED, config_error,
             "automation", "Automation acknowledgement URL was rejected.", None),
            (["--ingest-url", long_url, *DEST], 2, "", "Publish URL is too long.\n", config_error,
             "ingest_url", "Ingest URL could not be built.", None),
            (["--ingest-url", "rtmp://h/live", *sixteen], 2, "", "Too many targets. Maximum is 16.\n",
             config_error, "targets", "Too many stream targets.", None),
            (["--target", "rtmp://a/x", "--target", long_url], 2, "", "Target URL is too long.\n", config_error,
             "targets", "Stream target URL could not be built.", None),
            ([], 2, "", "Missing --ingest-url, --target, or --target-file.\n", config_error, "targets",
             "No ingest or stream target was provided.", None),
            (huge, 2, "", "Multistream target list is too long.\n", config_error, "publish_url",
             "Multistream publish URL could not be built.", None),
            (["--ingest-url", "rtmp://h/live", *fifteen], 1, "", "", "ffmpeg_error", "stream",
             "FFmpeg stream process exited with a non-zero code.", stream_fake),
        ]
        for args, status, stdout, stderr, event, phase, message, fake in cases:
            run_args = [*args, "--skip-update-check", "--ffmpeg", fake.path if fake else "/nonexistent/ffmpeg"]
            env = fake.env if fake else None
            with self.subTest(phase=phase, args=args[:4]):
                self.reset_server()
                r = self.run_here([*run_args, "--report-url", self.server.url("/castora/report")], env)
                self.assertEqual((r.status, r.stdout, r.stderr), (status, stdout, stderr))
                self.assertEqual(self.server.reports(), [{
                    "event_type": event, "severity": "error", "app_version": "0.2.1", "app_platform": "macos",
                    "architecture": "universal", "exit_code": status, "signal_name": "", "phase": phase,
                    "profile_key": value_after(args, "--profile", "balanced_480p"),
                    "scene_key": value_after(args, "--scene", ""), "message": message}])
                self.server.reset()
                r = self.run_here([*run_args, "--report-url", self.server.url("/castora/report"),
                                   "--no-error-reporting"], env)
                self.assertEqual((r.status, r.stdout, r.stderr), (status, stdout, stderr))
                self.assertEqual(self.server.requests, [])
        self.assertEqual(devices_fake.runs()[0], [devices_fake.path, "-hide_banner", "-f", "avfoundation",
                                                  "-list_devices", "true", "-i", ""])
        self.assertEqual(len(stream_fake.runs()), 2)
        self.assertEqual(stream_fake.runs()[0][-1].count("|"), 15)


if __name__ == "__main__":
    unittest.main()
