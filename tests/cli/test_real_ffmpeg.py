"""The real FFmpeg runs castora's vector, only the input and the encoder swapped (ffmpeg_substitute.py), to RTMP and
SRT listeners on 127.0.0.1 and a recording: each must be a complete, decodable H.264/AAC stream of the profile's
size and rate, whatever drops, stalls or stops on the way. Every scenario runs on Debian's FFmpeg 5.1 and on the
FFmpeg 9.0.2 build beside the project (../shared/ffmpeg-9.0.2, or $CASTORA_FFMPEG_902); a build without drawtext and
SRT (its "lean" twin) must be stopped before going live."""
import glob
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from harness import (OFFLINE, REPORT, Answer, Background, Bridge, StalledRelay, alive, children_of, free_port,
                     on_terminal, port_taken, read, run_castora, shared_server, wait_for, write)

HERE = os.path.dirname(os.path.abspath(__file__))
SUBSTITUTE = os.path.join(HERE, "ffmpeg_substitute.py")
RELEASE = os.environ.get("CASTORA_FFMPEG_902") or os.path.join(HERE, "..", "..", "..", "shared", "ffmpeg-9.0.2")
LOW = ["--profile", "low_power_360p"]


class Scenarios:
    """Every scenario, against the real FFmpeg at REAL (skipped test by test when it or ffprobe is missing, so that
    the suite counts as skipped without the tools)."""
    REAL = None

    def setUp(self):
        if not (self.REAL and os.access(self.REAL, os.X_OK) and shutil.which("ffmpeg") and shutil.which("ffprobe")):
            self.skipTest(f"missing {self.REAL or 'ffmpeg'} or ffprobe")
        self.dir, self.cache = tempfile.mkdtemp(prefix="castora-ffmpeg-"), tempfile.mkdtemp(prefix="castora-cache-")
        for folder in (self.dir, self.cache):
            self.addCleanup(shutil.rmtree, folder, ignore_errors=True)

    def listen(self, kind, name, port=None, key="k"):
        """An FFmpeg receiving one RTMP or SRT stream on 127.0.0.1 into `name`: the URL and the process."""
        port = port or free_port()
        url = f"rtmp://127.0.0.1:{port}/live/{key}" if kind == "rtmp" else f"srt://127.0.0.1:{port}"
        source = ["-listen", "1", "-i", url] if kind == "rtmp" else ["-i", url + "?mode=listener"]
        receiver = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "error", *source, "-c", "copy", name],
                                    cwd=self.dir, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(receiver.wait)
        self.addCleanup(receiver.kill)
        wait_for(lambda: port_taken(port, socket.SOCK_STREAM if kind == "rtmp" else socket.SOCK_DGRAM))
        return url, receiver

    def launch(self, options, seconds=4, **env):
        # The shim is one file whatever FFmpeg it wraps: what castora learns of it is kept per test.
        castora = Background([*OFFLINE, "--ffmpeg", SUBSTITUTE, *LOW, *options], cwd=self.dir,
                             env={"CASTORA_SUBSTITUTE_SECONDS": str(seconds), "CASTORA_REAL_FFMPEG": self.REAL,
                                  "XDG_CACHE_HOME": self.cache, **env})
        self.addCleanup(castora.stop)
        return castora

    def assert_playable(self, path, size="640x360", fps=24, audio=True, duration=(3.3, 4.7)):
        path = os.path.join(self.dir, path)
        info = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
                                         capture_output=True, timeout=60, check=True).stdout)
        # A video stream without its sequence header (extradata) leaves players without SPS/PPS.
        streams = [(s["codec_name"], f"{s['width']}x{s['height']}", s["avg_frame_rate"], s.get("extradata_size", 0) > 0)
                   if s["codec_type"] == "video" else (s["codec_name"], s["sample_rate"], s["channels"])
                   for s in info["streams"]]
        self.assertEqual(streams, [("h264", size, f"{fps}/1", True)] + ([("aac", "48000", 2)] if audio else []), path)
        self.assertTrue(duration[0] <= float(info["format"]["duration"]) <= duration[1], (path, info["format"]))
        # -enc_time_base -1 keeps the null muxer quiet about millisecond timestamps.
        decode = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-enc_time_base", "-1", "-f", "null",
                                 "-"], capture_output=True, timeout=60, check=True)
        self.assertEqual(decode.stderr, b"", path)

    def test_one_output_and_the_traced_example(self):
        url, receiver = self.listen("rtmp", "one.flv")
        castora = self.launch(["--profile", "high_1080p", "--ingest-url", url.rpartition("/")[0], "--stream-key", "k"])
        self.assertEqual((castora.wait(), receiver.wait(timeout=20)), (0, 0))
        self.assert_playable("one.flv", "1920x1080", 30)  # over TCP: a busy machine slows it but loses nothing
        (rtmp, _), (srt, _) = self.listen("rtmp", "out.flv"), self.listen("srt", "out.ts")
        castora = self.launch(["--scene", "gift_war_scoreboard", "--ingest-url", rtmp.rpartition("/")[0],
                               "--stream-key", "k", "--target", srt, "--record-file", "rec.mkv"])
        self.assertEqual(castora.wait(), 0, castora.stderr[-2000:])
        time.sleep(1)
        for path in ("out.flv", "out.ts", "rec.mkv"):
            self.assert_playable(path)

    def test_the_recording_is_exactly_the_file_named_or_says_why_it_stopped(self):
        write(os.path.join(self.dir, "rec.mkv"), b"earlier take")
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        for name in ("rec.mkv ", "file:rec.mkv", "Show: 1.mkv"):
            with self.subTest(name=name):
                self.assertEqual(self.launch(["--no-audio", "--target", dead, "--record-file", name]).wait(), 0)
                self.assert_playable(name, audio=False)
        self.assertEqual(read(os.path.join(self.dir, "rec.mkv")), b"earlier take")
        castora = self.launch(["--target", dead, "--record-file", "missing/rec.mkv"])
        self.assertEqual(castora.wait(), 0)
        self.assertIn("Live: the recording to missing/rec.mkv stopped: No such file or directory. The stream goes "
                      "on without it.", castora.stderr)

    def test_a_platform_that_drops_comes_back_and_a_late_one_joins(self):
        rtmp_port, srt_port = free_port(), free_port()
        _, first = self.listen("rtmp", "first.flv", rtmp_port)
        write(os.path.join(self.dir, "targets.txt"), f"YouTube = rtmp://127.0.0.1:{rtmp_port}/live/SECRETKEY\n"
                                                     f"Backup = srt://127.0.0.1:{srt_port}?streamid=SECRETSTREAM\n")
        castora = self.launch(["--target-file", "targets.txt", "--record-file", "rec.mkv"], 18)
        wait_for(lambda: "Live: Backup cannot be reached: " in castora.stderr, what="the SRT failure")
        _, late = self.listen("srt", "late.ts", srt_port)
        wait_for(lambda: "Live: Backup connected after " in castora.stderr, what="SRT to join")
        time.sleep(2)
        first.kill()
        wait_for(lambda: "Live: YouTube lost: " in castora.stderr, what="the loss")
        _, second = self.listen("rtmp", "second.flv", rtmp_port)
        back = time.monotonic()
        wait_for(lambda: "Live: YouTube is back after " in castora.stderr, what="the return")
        print(f"receiver back after {time.monotonic() - back:.1f} s", file=sys.stderr)
        self.assertEqual(castora.wait(), 0, castora.stderr[-3000:])
        lines = [line for line in castora.stderr.splitlines() if line.startswith("Live: ")]
        self.assertIn("Live: streaming to 2 destinations (YouTube, Backup), recording to rec.mkv; this needs about "
                      "1.9 Mb/s of upload.", lines)
        received = [line for line in lines if " received " in line]
        self.assertRegex(received[0], r"^Live: YouTube received \d+s of the stream, 1 drop(, \d+ overflows?)?\.$")
        self.assertRegex(received[1], r"^Live: Backup received \d+s of the stream, 0 drops(, \d+ overflows?)?\.$")
        self.assertRegex(lines[-1], r"^Live: FFmpeg's log of this run is in /.+\.log\.$")
        self.assertRegex(lines[-2], r"^Live: the recording rec\.mkv holds \d+\.\d MB\.$")
        self.assertNotRegex(castora.stderr, "SECRET")
        self.assertEqual((late.wait(timeout=20), second.wait(timeout=20)), (0, 0))
        self.assert_playable("rec.mkv", duration=(17, 19))
        self.assert_playable("late.ts", duration=(5, 19))  # its queue held what came while it was away
        self.assert_playable("second.flv", duration=(1, 12))

    def test_every_stop_finishes_the_recording_and_leaves_no_ffmpeg(self):
        # A receiver that takes the connection and never answers: FFmpeg would wait for it forever.
        stalled = socket.socket()
        stalled.bind(("127.0.0.1", 0))
        stalled.listen(4)
        self.addCleanup(stalled.close)
        # Ctrl-C and a closed terminal reach castora and FFmpeg together; kill reaches castora alone.
        for number, status, group in ((signal.SIGINT, -2, True), (signal.SIGHUP, -1, True), (signal.SIGTERM, 143, False)):
            with self.subTest(signal=number):
                castora = self.launch(["--target", f"rtmp://127.0.0.1:{stalled.getsockname()[1]}/live/k",
                                       "--record-file", f"stop{number}.mkv"], 60)
                wait_for(lambda: "Live: streaming to " in castora.stderr, what="the stream")
                if number == signal.SIGINT:  # stopped only once its queue is full: the stop must not wait for it
                    wait_for(lambda: "Live: 127.0.0.1:" in castora.stderr and "is not keeping up" in castora.stderr, 40)
                [ffmpeg] = children_of(castora.pid)
                time.sleep(2)
                stopped = time.monotonic()
                (castora.send_group_signal if group else castora.send_signal)(number)
                self.assertEqual(castora.wait(), status)
                self.assertTrue(time.monotonic() - stopped < 12 and not alive(ffmpeg), "FFmpeg outlived castora")
                self.assert_playable(f"stop{number}.mkv", duration=(1.5, 40))

    def test_no_password_key_or_token_of_a_destination_is_shown(self):
        host = f"127.0.0.1:{free_port()}"
        castora = self.launch(["--ingest-url", f"rtmp://{host}/x/{{stream_key}}", "--stream-key", "STREAMKEY", *(
            a for url in (f"rtmp://user:PASSWORD@{host}/live/k", f"rtmp://{host}/app/live_KEY?bandwidthtest=true",
                          f"rtmps://{host}/app/KEY", f"srt://{host}?streamid=#!::r=live/KEY,m=publish&passphrase=PASS0123456",
                          f"rtmp://{host}/live?token=TOKEN") for a in ("--target", url)), "--record-file", "rec.mkv"])
        self.assertEqual(castora.wait(), 0)
        self.assertIn(f"rtmp://user:****@{host}/live/****", castora.stderr)
        self.assertNotRegex(castora.stderr, "PASSWORD|KEY|PASS0|TOKEN")

    def test_a_camera_that_refuses_the_profiles_mode_streams_in_one_it_offers(self):
        facetime, broadcast = "1280x720@30 640x480@30", "854x480@29.970030 854x480@59.940060"
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        for profile, camera, picture, capture, remembered in (
                ("balanced_480p", facetime, ("854x480", 30), "1280x720 at 30 fps", False),
                ("low_power_360p", facetime, ("640x360", 24), "640x480 at 30 fps", False),
                ("low_power_360p", facetime, ("640x360", 24), "640x480 at 30 fps", True),
                ("balanced_480p", broadcast, ("854x480", 30), "854x480 at 29.97 fps", False)):
            with self.subTest(profile=profile, camera=camera, remembered=remembered):
                name = f"{profile}-{remembered}-{camera == facetime}.mkv"
                castora = self.launch(["--profile", profile, "--no-audio", "--target", dead, "--record-file", name,
                                       "--video-input", "0" if camera == facetime else "1"],
                                      CASTORA_SUBSTITUTE_CAMERA=camera)
                self.assertEqual(castora.wait(), 0)
                sent = "%s at %d fps" % picture
                self.assertIn(f"Live: capturing {capture} (a mode this camera offers), sent as {sent}.\n" if remembered
                              else f"Live: the camera does not offer {sent}; capturing {capture}, sent as {sent}.\n",
                              castora.stderr)
                self.assertEqual("is not supported by the device" in castora.stderr, not remembered)
                self.assert_playable(name, *picture, audio=False)

    def test_overlay_texts_change_while_live_from_the_overlay_file_and_the_bridge(self):
        bridge = Bridge()
        self.addCleanup(bridge.stop)
        overlays = write(os.path.join(self.dir, "overlays.txt"), "score_left=Reds 0\n")
        castora = self.launch(["--scene", "gift_war_scoreboard", "--no-audio", "--target", f"rtmp://127.0.0.1:{free_port()}/a",
                               "--record-file", "rec.mkv", "--overlay-file", overlays, *bridge.options("t'k")], 7,
                              CASTORA_SUBSTITUTE_STILL="1")
        changed_at = []
        for second, change in ((2, lambda: write(overlays, "score_left=Reds 1\n")), (4, lambda: bridge.send(
                {"id": "17", "action": "overlay_event", "overlay": "score_right", "text": "Blues 1"}))):
            wait_for(lambda: any(float(t) >= second for t in re.findall(r"time=00:00:(\d\d\.\d\d)", castora.stderr)))
            change()
            changed_at.append(max(float(t) for t in re.findall(r"time=00:00:(\d\d\.\d\d)", castora.stderr)))
            self.assertEqual(len(glob.glob(castora.tmpdir + "/castora-run-*/score_left.txt")), 1)  # its own TMPDIR
        self.assertEqual(castora.wait(), 0, castora.stderr[-2000:])
        self.assertEqual((castora.stderr.count("Live: streaming to "), bridge.acks, bridge.headers[0]["Authorization"]),
                         (1, [{"id": "17", "status": "applied"}], "Bearer t'k"))
        self.assertIn('Live: score_left is now "Reds 1".\n', castora.stderr)
        self.assertEqual(os.listdir(castora.tmpdir), [])
        # Frame by frame (24 a second, a quarter of the size): where the picture changed.
        frames = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", os.path.join(self.dir, "rec.mkv"), "-vf",
                                 "scale=160:90", "-f", "rawvideo", "-pix_fmt", "gray", "-"], capture_output=True,
                                check=True, timeout=60).stdout
        frames = [frames[i:i + 160 * 90] for i in range(0, len(frames), 160 * 90)]
        regions = {"score_left": lambda x, y: x < 80 and y < 25, "score_right": lambda x, y: x >= 80 and y < 25,
                   "the rest": lambda x, y: y >= 25}
        changes = {name: [n / 24 for n in range(1, len(frames)) if sum(
            abs(frames[n][i] - frames[n - 1][i]) > 40 for i in range(160 * 90) if inside(i % 160, i // 160)) > 5]
            for name, inside in regions.items()}
        self.assertEqual([len(changes[name]) for name in regions], [1, 1, 0], changes)
        for name, at in zip(regions, changed_at):
            self.assertTrue(-0.1 <= changes[name][0] - at <= 0.5, (name, changes[name][0], at))

    def test_on_a_terminal_a_status_view_replaces_ffmpegs_log_which_goes_to_a_private_file(self):
        state = tempfile.mkdtemp(dir=self.dir)
        logs = os.path.join(state, "castora")
        for extra, env in (([], {}), ([], {"NO_COLOR": "1"}), (["--verbose"], {})):
            with self.subTest(extra=extra, env=env):
                url, receiver = self.listen("rtmp", f"view{len(extra)}{len(env)}.flv", key="SECRETKEY123")
                status, screen = on_terminal([*OFFLINE, "--ffmpeg", SUBSTITUTE, *LOW, "--target", url, "--record-file",
                                              "rec.mkv", *extra], {"CASTORA_SUBSTITUTE_SECONDS": "5",
                                                                   "XDG_STATE_HOME": state,
                                                                   "CASTORA_REAL_FFMPEG": self.REAL,
                                                                   "XDG_CACHE_HOME": self.cache, **env}, cwd=self.dir)
                self.assertEqual((status, receiver.wait(timeout=20)), (0, 0), screen[-2000:])
                redraws = re.findall(r"\x1b\[\d+A\x1b\[J", screen)
                ffmpeg_lines = re.findall(r"Stream mapping|frame=|Press \[q\]", screen)
                if extra:  # FFmpeg's log on the terminal as before, and no view
                    self.assertEqual((bool(ffmpeg_lines), redraws), (True, []))
                    continue
                self.assertEqual(ffmpeg_lines, [])
                self.assertGreaterEqual(len(redraws), 5)  # at least once a second while live
                self.assertTrue(screen.endswith(redraws[-1]), "the view was left behind")
                self.assertRegex(screen, r"LIVE(\x1b\[0m)? \d+s  [\d.]+/24 fps  speed [\d.]+x")
                self.assertEqual(screen.count("Live: FFmpeg's log of this run is in "), 2)
                self.assertEqual("\x1b[32m" in screen, not env)
                self.assertNotIn("SECRETKEY123", screen)
        [first, second, third] = sorted(glob.glob(os.path.join(logs, "ffmpeg-*.log")))
        self.assertEqual([os.stat(path).st_mode & 0o777 for path in (logs, first)], [0o700, 0o600])
        for log in (first, second, third):
            text = read(log).decode()
            self.assertTrue("Stream mapping" in text and "Lsize=" in text and f"Live: FFmpeg's log of this run is in {log}." in text)
            self.assertNotIn("SECRETKEY123", text)

    def test_warnings_say_what_to_do_when_the_mac_the_uplink_or_the_camera_cannot_keep_up(self):
        port = free_port()
        _, receiver = self.listen("rtmp", "stalled.flv", port)
        relay = StalledRelay(port)
        self.addCleanup(relay.stop)
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        for profile, env, target, warning in (
                ("high_1080p", {"CASTORA_SUBSTITUTE_PRESET": "slow"}, dead,
                 "Live: this Mac is not keeping up with high_1080p: FFmpeg encodes at "),
                ("standard_720p", {"CASTORA_SUBSTITUTE_PRESET": "ultrafast"}, f"rtmp://127.0.0.1:{relay.port}/live/k",
                 f"Live: 127.0.0.1:{relay.port} is not keeping up; frames for it are dropped. This launch needs about "
                 "3.3 Mb/s of upload (1 destination x 3.3 Mb/s): check this connection's upload, or use a lighter "
                 "profile (--profile balanced_480p).\n"),
                ("low_power_360p", {"CASTORA_SUBSTITUTE_STALL_AFTER": "3"}, dead,
                 "Live: no new frame from the camera or screen for 5s: it stopped delivering (another app may be using "
                 "the camera).\n")):
            with self.subTest(profile=profile):
                castora = self.launch(["--profile", profile, "--no-audio" if "STALL" in str(env) else "--reconnect",
                                       "--target", target, "--record-file", f"{profile}.mkv"], 60, **env)
                wait_for(lambda: "Live: streaming to " in castora.stderr, what="the stream")
                wait_for(lambda: warning in castora.stderr, 40, what=warning)
                castora.send_signal(signal.SIGINT)
                self.assertEqual(castora.wait(), -signal.SIGINT)
                self.assertEqual(castora.stderr.count(warning), 1)

    def test_the_ffmpeg_has_every_part_castora_uses(self):
        r = run_castora(["--check-ffmpeg", "--ffmpeg", SUBSTITUTE, "--target", "srt://h:1", "--record-file", "r.mkv"],
                        env={"CASTORA_REAL_FFMPEG": self.REAL, "XDG_CACHE_HOME": self.cache})
        self.assertEqual((r.status, r.stdout.count("  ok  "), r.stdout.splitlines()[-1]),
                         (0, 15, "This launch has everything it needs."), r.stdout)


class Debian(Scenarios, unittest.TestCase):
    REAL = shutil.which("ffmpeg", path="/usr/bin:" + os.environ.get("PATH", ""))


class Release902(Scenarios, unittest.TestCase):
    REAL = os.path.join(RELEASE, "full", "bin", "ffmpeg")


class LeanBuild(unittest.TestCase):
    """A build without drawtext and SRT, like Homebrew's stock formula: named, and never streamed to."""
    LEAN = os.path.join(RELEASE, "lean", "bin", "ffmpeg")

    def test_a_launch_stops_before_going_live_and_says_what_is_missing(self):
        if not os.access(self.LEAN, os.X_OK):
            self.skipTest("missing " + self.LEAN)
        server = shared_server()
        server.reset(**{"/castora/report": Answer(200, b"{}")})
        missing = ["  the drawtext filter, for text overlays\n", "  the srt protocol, for SRT destinations\n"]
        work, cache = tempfile.mkdtemp(prefix="castora-lean-"), tempfile.mkdtemp(prefix="castora-cache-")
        for folder in (work, cache):
            self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        args = ["--skip-update-check", "--report-url", server.url("/castora/report"), "--target", "rtmp://127.0.0.1:9/a/k",
                "--record-file", "rec.mkv"]
        # Straight, and through the shim that gives it a Mac's capture and encoder; with an SRT target and without.
        for ffmpeg, env, srt, lacks in ((self.LEAN, {}, True, ["avfoundation input device", "h264_videotoolbox encoder"]),
                                        (SUBSTITUTE, {"CASTORA_REAL_FFMPEG": self.LEAN}, True, []),
                                        (SUBSTITUTE, {"CASTORA_REAL_FFMPEG": self.LEAN}, False, [])):
            with self.subTest(ffmpeg=ffmpeg, srt=srt):
                targets = ["--target", "srt://127.0.0.1:9"] if srt else []
                started = time.monotonic()
                env["XDG_CACHE_HOME"] = cache
                r = run_castora(["--ffmpeg", ffmpeg, *args, *targets, "--reconnect"], env={**server.env, **env}, cwd=work)
                self.assertLess(time.monotonic() - started, 1 if ffmpeg == self.LEAN else 10)
                self.assertEqual(r.status, 2)
                self.assertEqual([line for line in r.stderr.splitlines(keepends=True) if line.startswith("  the ")],
                                 [f"  the {part}, for {what}\n" for part, what in zip(lacks, ["camera and screen capture",
                                                                                             "VideoToolbox encoding"])]
                                 + missing[:2 if srt else 1])
                self.assertEqual((os.listdir(work), server.reports()), ([], [{
                    **REPORT, "phase": "ffmpeg_check", "message": "FFmpeg lacks what this stream needs."}]))
                server.requests.clear()
                check = run_castora(["--check-ffmpeg", "--ffmpeg", ffmpeg, *args, *targets], env=env)
                self.assertEqual(check.status, 2)
                self.assertIn("  missing  drawtext           filter        text overlays\n", check.stdout)
                self.assertIn("  missing  srt                protocol      SRT destinations" +
                              ("\n" if srt else " (not used by this launch)\n"), check.stdout)


if __name__ == "__main__":
    unittest.main()
