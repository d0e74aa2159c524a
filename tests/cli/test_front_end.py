"""The front end: help and listings, the argument walk and config files in command-line order, mode selection, the
dry run, and every launch check with its message, status and report."""
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import unittest

from harness import (CASTORA, DEST, FIFO, OFFLINE, REPORT, Answer, FakeFfmpeg, decode, golden, read, require_tools,
                     run_castora, shared_server, without_live_lines, write)

HELP = golden("help.txt").replace("Usage: castora ", f"Usage: {CASTORA} ", 1)
BRIDGE_IDLE = ("Warning: the automation bridge changes nothing without live overlays: add --live-overlays (or "
               "live_overlays=1 in the studio config).\n")
POLL_REFUSED = "Automation poll URL must be HTTPS or a local Castora bridge URL.\n"
ACK_REFUSED = "Automation acknowledgement URL must be HTTPS or a local Castora bridge URL.\n"


class FrontEnd(unittest.TestCase):
    def setUp(self):
        self.server = shared_server()
        self.dir = tempfile.mkdtemp(prefix="castora-front-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.services = ["--update-url", self.server.url("/castora/update"), "--report-url",
                         self.server.url("/castora/report")]

    def run_here(self, args, env=None):
        return run_castora(args, env={**self.server.env, **(env or {})}, cwd=self.dir)

    def serve(self):
        self.server.reset(**{"/castora/report": Answer(200, b"{}"),
                             "/castora/update": Answer(200, b'{"latest_version":"0.2.1"}')})

    def write(self, name, text):
        return write(os.path.join(self.dir, name), text)

    def test_help_version_and_walk_failures(self):
        bad = self.write("bad.conf", "profile\n")
        version = HELP.splitlines(keepends=True)[0]
        for args, status, stdout, stderr in (
                (["--help"], 0, HELP, ""), (["-h"], 0, HELP, ""), (["--list-platforms", "--help", "--x"], 0, HELP, ""),
                (["--list-scenes", "--version", "--x"], 0, version, ""),
                # The problem is said again after the help text, with the fix when castora can tell it.
                *((args, 2, HELP, f"Unknown or incomplete option: {args[0]}\n{after}\n") for args, after in (
                    (["--bogus", "--help"], "Unknown option --bogus; the options are listed above."),
                    (["-hx"], "Unknown option -hx; the options are listed above."),
                    (["--profile"], "Incomplete option --profile: it needs a value, as in --profile KEY."),
                    (["--profile=x"], 'Unknown option --profile=x: write --profile KEY, with a space instead of "=".'),
                    (["--", "--help"], "Unknown option --; the options are listed above."),
                    (["--HELP"], "Unknown option --HELP: did you mean --help?"))),
                # A failed --config or --target ends the walk the same way, after its own message.
                (["--config", bad, "--version"], 2, HELP, f"Invalid config line 1 in {bad}.\n"),
                (["--config", "/dev/zero"], 2, HELP, "Could not open config file /dev/zero: Is a character device\n"),
                (["--config", self.dir], 2, HELP, f"Could not open config file {self.dir}: Is a directory\n"),
                (["--target", "ftp://x"], 2, HELP, "Target must start with rtmp://, rtmps://, or srt://: ftp://x\n")):
            with self.subTest(args=args):
                self.assertEqual(run_castora(args), (status, stdout, stderr))

    def test_mode_order_and_which_modes_contact_the_service(self):
        order = [("--list-profiles", "profiles.txt"), ("--list-platforms", "platforms.txt"),
                 ("--list-scenes", "scenes.txt"), ("--list-automation", "automation.txt"), ("--brand-kit", "brand-kit.txt")]
        flags = [flag for flag, _ in order]
        streaming = ["--dry-run", "--print-devices", "--ingest-url", "rtmp://h/x", "--profile", "bogus", *self.services]
        for i, (flag, name) in enumerate(order):
            with self.subTest(flag):
                self.serve()
                self.assertEqual(self.run_here([*reversed(flags[i:]), *streaming]), (0, golden(name), ""))
                self.assertEqual(self.server.requests, [])
        sample = self.write("sample.conf", "old content that is longer than the sample\n" * 100)
        r = self.run_here([*flags, "--check-update", "--write-sample-config", sample, *streaming])
        self.assertEqual((r, self.server.requests), ((0, "", ""), []))
        self.assertEqual((decode(read(sample)), os.stat(sample).st_mode & 0o777), (golden("sample_config.txt"), 0o600))
        self.assertEqual(self.run_here([*flags, "--check-update", *streaming]), (0, "", "Castora is current: 0.2.1\n"))
        self.assertEqual(self.run_here(["--write-sample-config", "", "--list-scenes"]), (0, golden("scenes.txt"), ""))
        for path, reason in (("no/such.conf", "No such file or directory"), ("/dev/full", "No space left on device")):
            self.assertEqual(self.run_here(["--write-sample-config", path]),
                             (2, "", f"Could not write sample config {path}: {reason}\n"))
        # A device listing asks the update service first and needs no profile or destination.
        self.assertEqual(self.run_here([*streaming, "--ffmpeg", "/opt/ff"]),
                         (0, "/opt/ff -hide_banner -f avfoundation -list_devices true -i ''\n", ""))
        self.assertEqual([q.path for q in self.server.requests], ["/castora/update"] * 2)

    def test_dry_runs_print_the_command_exactly_and_options_apply_in_command_line_order(self):
        for case in golden("dry_runs.txt").split("$ ")[1:]:
            args, _, printed = case.partition("\n")
            with self.subTest(args=args):
                self.assertEqual(self.run_here([*shlex.split(args), *OFFLINE, "--dry-run"]),
                                 (0, printed, BRIDGE_IDLE if "--automation-poll-url" in args else ""))
        self.assertEqual(os.listdir(self.dir), [])  # a dry run reserves no recording
        # The run folder's template: under an absolute TMPDIR of plain characters, else /tmp (also when unset).
        dry = ["--live-overlays", *DEST, *OFFLINE, "--dry-run"]
        for tmpdir, folder in ((None, "/tmp"), ("", "/tmp"), ("/var/folders/x_1/T/", "/var/folders/x_1/T"),
                               ("relative/T", "/tmp"), ("/a b", "/tmp"), ("/a:b,c", "/tmp"), ("//", "")):
            with self.subTest(tmpdir=tmpdir):
                r = run_castora(dry, env={"TMPDIR": tmpdir}) if tmpdir is not None else \
                    run_castora(["-c", 'unset TMPDIR; exec "$0" "$@"', CASTORA, *dry], program="sh")
                self.assertIn(f"drawtext=textfile={folder}/castora-run-XXXXXX/watermark.txt:", r.stdout)
        low = self.write("low.conf", "profile=low_power_360p\nscreen=0\ntarget=rtmp://b/2\n")
        screen = self.write("screen.conf", "screen=no\nscreen=on\n")
        targets = self.write("targets.txt", "rtmp://d/4\n")
        for args, scene, profile in (
                (["--profile", "high_1080p", "--screen", "--config", low], "camera_clean", "low_power_360p"),
                (["--config", low, "--profile", "high_1080p", "--screen"], "screen_clean", "high_1080p"),
                (["--config", screen, "--config", low], "camera_clean", "low_power_360p"),
                (["--config", screen, "--config", ""], "screen_clean", "balanced_480p")):
            with self.subTest(args=args):
                # A value is the next argument whatever it looks like; targets come in the order met, the target
                # file's at launch, after them.
                lines = self.run_here(["--overlay-title", "-x", "--target", "rtmp://a/1", "--target-file", targets,
                                       *args, "--target", "rtmp://c/3", *OFFLINE, "--dry-run"]).stdout.splitlines()
                self.assertEqual(lines[0], f"Brevalo Castora 0.2.1 | scene={scene} | profile={profile}")
                urls = ["rtmp://a/1", *(["rtmp://b/2"] if low in args else []), "rtmp://c/3", "rtmp://d/4"]
                self.assertTrue(lines[1].endswith(" '" + "|".join(f"[f=flv:onfail=ignore:{FIFO}]" + u for u in urls)
                                                  + "'") and "drawtext=text='\\''-x'\\''" in lines[1], lines[1])

    def test_launch_checks_message_status_and_report(self):
        no_file = "Could not open target file missing.txt: No such file or directory\n"
        long_url = "rtmp://" + "a" * 1017
        sixteen = [a for i in range(16) for a in ("--target", f"rtmp://t/{i}")]
        huge = [a for i in range(16) for a in ("--target", f"rtmp://t/{i:02d}" + "b" * 1012)]
        fails, lists = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), "1"), FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), "3")
        loaded, built = "Target file could not be loaded.", "Stream target URL could not be built."
        for args, status, stdout, stderr, phase, message, fake in (  # report phase and message, fake FFmpeg
                (["--target-file", "missing.txt", *DEST], 2, "", no_file, "target_file", loaded, None),
                (["--print-devices", "--target-file", "missing.txt"], 2, "", no_file, "target_file", loaded, None),
                (["--print-devices", "--profile", "ultra"], 3, "", "", "print_devices", "FFmpeg device listing failed.",
                 lists),
                (["--profile", "ultra", "--scene", "nope", *DEST], 2, golden("profiles.txt"),
                 "Unknown profile: ultra\n\n", "profile", "Unknown ingest profile.", None),
                (["--scene", "Camera_clean", "--profile", "high_1080p", *DEST], 2, golden("scenes.txt"),
                 "Unknown scene: Camera_clean\n\n", "scene", "Unknown scene preset.", None),
                (["--record-file", "a|b.mkv", "--scene", "game_battle", "--automation-poll-url", "http://x"], 2, "",
                 "Recording path is invalid or too long.\n", "recording", "Recording path was invalid.", None),
                *(([option, url, *DEST], 2, "", refused, "automation", message, None) for option, url, refused, message in (
                    ("--automation-poll-url", "http://localhostx:1/queue", POLL_REFUSED, "Automation poll URL was rejected."),
                    ("--automation-poll-url", "http://127.0.0.1.evil.example/", POLL_REFUSED,
                     "Automation poll URL was rejected."),
                    ("--automation-ack-url", "http://192.168.1.5/ack", ACK_REFUSED,
                     "Automation acknowledgement URL was rejected."),
                    ("--automation-ack-url", "http://localhost:80@evil.example/q", ACK_REFUSED,
                     "Automation acknowledgement URL was rejected."))),
                (["--ingest-url", long_url, *DEST], 2, "", "Publish URL is too long.\n", "ingest_url",
                 "Ingest URL could not be built.", None),
                (["--ingest-url", "rtmp://h/live", *sixteen], 2, "", "Too many targets. Maximum is 16.\n", "targets",
                 "Too many stream targets.", None),
                ([*DEST, "--target", long_url], 2, "", "Target URL is too long.\n", "targets", built, None),
                ([], 2, "", "Missing --ingest-url, --target, or --target-file.\n", "targets",
                 "No ingest or stream target was provided.", None),
                (huge, 2, "", "Multistream target list is too long.\n", "publish_url",
                 "Multistream publish URL could not be built.", None),
                (["--ingest-url", "rtmp://h/live", *sixteen[:30]], 1, "", "", "stream",
                 "FFmpeg stream process exited with a non-zero code.", fails)):
            with self.subTest(phase=phase, args=args[:4]):
                self.serve()
                r = self.run_here([*args, "--skip-update-check", "--ffmpeg", fake.path if fake else "/nonexistent",
                                   "--report-url", self.server.url("/castora/report")], fake and fake.env)
                self.assertEqual((r.status, r.stdout, without_live_lines(r.stderr)), (status, stdout, stderr))
                value = {a: b for a, b in zip(args, args[1:])}
                self.assertEqual(self.server.reports(), [{
                    **REPORT, "event_type": "ffmpeg_error" if fake else "configuration_error", "exit_code": status,
                    "phase": phase, "message": message, "scene_key": value.get("--scene", ""),
                    "profile_key": value.get("--profile", "balanced_480p")}] if message else [])
        self.assertEqual(lists.runs()[0], [lists.path, "-hide_banner", "-f", "avfoundation", "-list_devices", "true",
                                           "-i", ""])
        self.assertEqual(len(fails.runs()), 1)
        self.assertEqual(fails.runs()[0][-1].count("|"), 15)

    def test_what_a_creator_types_wrong_ends_before_going_live_with_the_fix_and_no_secret(self):
        fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir))
        conf = self.write("studio.conf", 'ingest_url = "rtmp://h/live"\nstream_key="SECRETKEY123"\nreconnect=ture\n'
                                         "no_audio=1 # no mic\nscreen=off\n")
        targets = self.write("targets.txt", "YouTube=rtmp://y/live2/{stream_key}\n")
        config = lambda line, text: f"Warning: config line {line} in {conf}: {text}\n"
        quoted = "the value of {} is wrapped in quotes, which stay part of it; write it without them."
        as_false = '{} is "{}", which reads as false; only 1, true, yes and on mean true{}.'
        no_scheme = ("Ingest URL must start with rtmp://, rtmps:// or srt:// (without a scheme FFmpeg writes a local "
                     "file): {}\n")
        no_key = ("Stream key is empty, but {{stream_key}} in the URL{} needs one: set it with --stream-key KEY or "
                  "stream_key=KEY in the studio config (an unset shell variable gives an empty key).\n")
        stops = "Warning (a live run stops here): "
        unknown = "Unknown or incomplete option: {}\n{}\n"
        taken = "{0} needs a value, but the next argument is the option {1}"
        taken = (taken + ".\n" + taken + ": write {0} {2} (an unset shell variable leaves the value out).\n").format
        scheme_report = ("ingest_url", "Ingest URL had no scheme.")
        for args, status, stdout, stderr, report, ffmpeg_gets in (  # for a dry run, the last word of its command
                (["--stream-key", "--reconnect", *DEST], 2, HELP, taken("--stream-key", "--reconnect", "KEY"), (), ""),
                (["--stream-key", "--record-file", "show.mkv"], 2, HELP, taken("--stream-key", "--record-file", "KEY"),
                 (), ""),
                (["--stream-kye", "KEY"], 2, HELP, unknown.format(
                    "--stream-kye", "Unknown option --stream-kye: did you mean --stream-key?"), (), ""),
                (["--stream-key=SECRETKEY123"], 2, HELP, unknown.format("--stream-key=****", "Unknown option "
                 '--stream-key=****: write --stream-key KEY, with a space instead of "=".'), (), ""),
                (["--automation-tokn=SECRETKEY123"], 2, HELP, unknown.format(
                    "--automation-tokn=****", "Unknown option --automation-tokn=****: did you mean --automation-token "
                    "TOKEN?"), (), ""),
                (["--target=rtmp://a/app/SECRETKEY123"], 2, HELP, unknown.format("--target=rtmp://a/app/****",
                 'Unknown option --target=rtmp://a/app/****: write --target URL, with a space instead of "=".'), (), ""),
                (["stream_key=SECRETKEY123"], 2, HELP, unknown.format("stream_key=****", "Unexpected argument "
                 "stream_key=****: on the command line, write --stream-key KEY."), (), ""),
                (["rtmp://h/app/SECRETKEY123"], 2, HELP, unknown.format("rtmp://h/app/****", "Unexpected argument "
                 "rtmp://h/app/****; a value goes right after its option, and the options are listed above."), (), ""),
                (["--reconnect=1"], 2, HELP, unknown.format(
                    "--reconnect=1", "Unknown option --reconnect=1: --reconnect takes no value; write it alone."), (), ""),
                (["--ingest-url", "rtmp://y/live2/{stream_key}", "--stream-key", ""], 2, "", no_key.format(" of y:1935"),
                 ("stream_key", "Stream key was empty."), ""),
                (["--target-file", targets, "--target", "srt://b:1?streamid={stream_key}"], 2, "",
                 no_key.format("s of b:1, YouTube"), ("stream_key", "Stream key was empty."), ""),
                (["--ingest-url", "live.example.com/app/SECRETKEY123"], 2, "",
                 no_scheme.format("live.example.com/app/****"), scheme_report, ""),
                (["--config", conf], 2, "", config(1, quoted.format("ingest_url")) + config(2, quoted.format("stream_key"))
                 + config(3, as_false.format("reconnect", "ture", "")) + config(4, as_false.format(
                     "no_audio", "1 # no mic", " (a # or ; after a value belongs to it)")) + no_scheme.format(
                     '"rtmp://h/live"'), scheme_report, ""),
                # A dry run prints the command as ever, after a warning.
                (["--ingest-url", "rtmp://y/live2/{stream_key}", "--dry-run"], 0, "rtmp://y/live2/\n",
                 stops + no_key.format(" of y:1935"), (), ""),
                (["--ingest-url", "live.example.com/live", "--stream-key", "k", "--dry-run"], 0,
                 "live.example.com/live/k\n", stops + no_scheme.format("live.example.com/live"), (), ""),
                # What must keep working goes live: a bridge without live overlays is only named once.
                (["--automation-poll-url", "http://127.0.0.1:9/a", *DEST], 0, "", BRIDGE_IDLE, (), "rtmp://a/x"),
                (["--stream-key", "-k3y", "--ingest-url", "srt://h:9?streamid={stream_key}&x=y", "--record-file",
                  "show.mkv", "--overlay-title", "-x"], 0, "", "", (), "srt://h:9?streamid=-k3y&x=y")):
            with self.subTest(args=args):
                self.serve()
                runs = len(fake.runs())
                r = self.run_here([*args, "--skip-update-check", "--ffmpeg", fake.path, "--report-url",
                                   self.server.url("/castora/report")], fake.env)
                self.assertEqual((r.status, r.stdout.rpartition(" ")[2] if "--dry-run" in args else r.stdout,
                                  without_live_lines(r.stderr)), (status, stdout, stderr))
                self.assertEqual(self.server.reports(), [{**REPORT, "phase": report[0], "message": report[1]}]
                                 if report else [])
                self.assertEqual([run[-1] for run in fake.runs()[runs:]],
                                 [fake.runs()[-1][-1]] if ffmpeg_gets else [])
                self.assertIn(ffmpeg_gets, fake.runs()[-1][-1] if ffmpeg_gets else "")

    def test_a_device_listing_that_lists_devices_has_succeeded_whatever_ffmpeg_says_after(self):
        section = "[AVFoundation indev @ 0x143f04e50] AVFoundation {} devices:\n"
        video = section.format("video") + "[AVFoundation indev @ 0x143f04e50] [0] {}\n" \
            "[AVFoundation indev @ 0x143f04e50] [1] Capture screen 0\n"
        audio = section.format("audio") + "[AVFoundation indev @ 0x143f04e50] [0] MacBook Pro Microphone\n"
        listing = "Video devices (--video-input):\n  0  {}\n  1  Capture screen 0 (screen)\n" \
                  "Audio devices (--audio-input):\n  0  MacBook Pro Microphone\n"
        failed = {**REPORT, "event_type": "ffmpeg_error", "exit_code": 1, "phase": "print_devices",
                  "message": "FFmpeg device listing failed."}
        for written, status, outcome in (  # FFmpeg's standard error and status, castora's status, output and report
                (video.format("FaceTime HD Camera") + audio + ": Input/output error\n", 1,
                 (0, listing.format("FaceTime HD Camera"), "", [])),
                (video.format("Caméra\x1b]0;x\x07\u202e") + audio + "[in#0 @ 0x1] Error opening input: Input/output "
                 "error\nError opening input file .\nError opening input files: Input/output error\n", 251,
                 (0, listing.format("Caméra]0;x"), "", [])),
                ("", 1, (1, "", "", [failed])), ("Unknown input format: 'avfoundation'\n", 1,
                                                 (1, "", "Unknown input format: 'avfoundation'\n", [failed])),
                ("", 0, (0, "", "", []))):
            with self.subTest(written=written, status=status):
                self.serve()
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), str(status), FAKE_FFMPEG_STDERR=written)
                r = self.run_here(["--print-devices", "--skip-update-check", "--ffmpeg", fake.path,
                                   "--report-url", self.server.url("/castora/report")], fake.env)
                self.assertEqual((*r, self.server.reports()), outcome)

    def test_the_installed_program_and_manual(self):
        require_tools("cmake", "zsh", "man", "groff")
        run = lambda *args, **env: subprocess.run(args, capture_output=True, text=True, timeout=120, env={
            "PATH": os.environ.get("PATH", ""), "LC_ALL": "C", **env}, stdin=subprocess.DEVNULL, check=True).stdout
        run("cmake", "--install", os.path.dirname(os.path.abspath(CASTORA)), "--prefix", self.dir)
        self.assertEqual(run(self.dir + "/bin/castora", "--version"), HELP.split("\n")[0] + "\n")
        page = run("man", "--warnings=w", "-l", self.dir + "/share/man/man1/castora.1", MANWIDTH="80", MANPAGER="cat")
        self.assertRegex(page, re.compile("^CONFIGURATION FILE$.*^TARGET FILE$.*^EXIT STATUS$", re.M | re.S))
        self.assertEqual([line for line in page.splitlines() if len(line) > 80], [])
        run("zsh", "-n", self.dir + "/share/zsh/site-functions/_castora")
        run("bash", "-n", self.dir + "/share/bash-completion/completions/castora")


if __name__ == "__main__":
    unittest.main()
