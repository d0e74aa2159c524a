"""The real FFmpeg runs castora's vector, only the input and the encoder swapped (ffmpeg_substitute.py), to RTMP and
SRT listeners on 127.0.0.1 and a recording: each must be a complete, decodable H.264/AAC stream of the profile's
size and rate. The overlay chain, rendered over a plain colour, must draw every box in place."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from ffmpeg_substitute import substitute
from harness import (DEST, OFFLINE, alive, children_of, collect_stderr, dry_run, free_port, port_taken, run_castora,
                     start_castora, wait_for)

SUBSTITUTE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ffmpeg_substitute.py")
TIMEOUT = 90
LOW = ["--profile", "low_power_360p"]


def ffmpeg(*args, **kwargs):
    return subprocess.run(["ffmpeg", "-nostdin", "-v", "error", *args], capture_output=True, timeout=TIMEOUT,
                          stdin=subprocess.DEVNULL, **kwargs)


def first_avc_sequence_header(path):
    """The AVCDecoderConfigurationRecord of the first video tag of an FLV file, or None."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 9 + 4  # file header, then the first previous-tag-size
    while pos + 11 <= len(data):
        kind, size = data[pos], int.from_bytes(data[pos + 1:pos + 4], "big")
        if kind == 9:
            body = data[pos + 11:pos + 11 + size]
            return body[5:] if body[:2] == b"\x17\x00" else None
        pos += 11 + size + 4
    return None


# Skipped test by test (not module-wide) so that the suite counts as skipped without the tools.
@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("ffprobe"), "missing ffmpeg or ffprobe")
class RealFfmpeg(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="castora-ffmpeg-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.listeners = []

    def listen(self, kind, name=None, port=None):
        """An FFmpeg receiving one RTMP or SRT stream on 127.0.0.1 and copying it to a file; returns the URL."""
        port = port or free_port()
        if kind == "rtmp":
            url, source = f"rtmp://127.0.0.1:{port}/live/k", ["-listen", "1", "-i", f"rtmp://127.0.0.1:{port}/live/k"]
        else:
            url, source = f"srt://127.0.0.1:{port}", ["-i", f"srt://127.0.0.1:{port}?mode=listener"]
        name = name or ("out.flv" if kind == "rtmp" else "out.ts")
        process = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "error", *source, "-c", "copy",
                                    os.path.join(self.dir, name)], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.listeners.append(process)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        self.listener = process
        wait_for(lambda: port_taken(port, socket.SOCK_STREAM if kind == "rtmp" else socket.SOCK_DGRAM),
                 what=f"the {kind} listener")
        return url

    def scenario(self, options, outputs, size, fps, audio=True, **run):
        """Streams with castora (a dry run's vector, substituted, or a whole launch with `run`), then checks
        every output file."""
        if run:
            r = run_castora([*OFFLINE, "--ffmpeg", SUBSTITUTE, *options], cwd=self.dir, timeout=TIMEOUT, **run)
            self.assertEqual(r.status, 0, r.stderr[-3000:])
            log = r.stderr
        else:
            dry, argv = dry_run(options, cwd=self.dir)
            self.assertEqual(dry.status, 0, dry.stderr)
            args = substitute(argv)
            args[0] = "ffmpeg"
            done = subprocess.run(args, cwd=self.dir, stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
            log = done.stderr.decode(errors="replace")
            self.assertEqual(done.returncode, 0, log[-3000:])
        for listener in self.listeners:
            listener.wait(timeout=20)
        for path in outputs:
            self.assert_playable(path, size, fps, audio)
        return log

    def assert_playable(self, path, size, fps, audio=True, duration=(3.3, 4.7)):
        path = os.path.join(self.dir, path)
        self.assertGreater(os.path.getsize(path), 20000, path)
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
                               capture_output=True, timeout=TIMEOUT)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        video = [s for s in info["streams"] if s["codec_type"] == "video"]
        sound = [(s["codec_name"], s["sample_rate"], s["channels"]) for s in info["streams"]
                 if s["codec_type"] == "audio"]
        self.assertEqual([(v["codec_name"], "%(width)dx%(height)d" % v, v["avg_frame_rate"]) for v in video],
                         [("h264", size, f"{fps}/1")], path)
        # An empty AVC sequence header leaves players without SPS/PPS.
        self.assertGreater(video[0].get("extradata_size", 0), 0, path)
        if path.endswith(".flv"):
            header = first_avc_sequence_header(path)
            self.assertTrue(header and header[0] == 1 and len(header) > 10, (path, header))
        self.assertEqual(sound, [("aac", "48000", 2)] if audio else [], path)
        self.assertTrue(duration[0] <= float(info["format"]["duration"]) <= duration[1], (path, info["format"]))
        # -enc_time_base -1 keeps the null muxer quiet about millisecond timestamps.
        decode = ffmpeg("-i", path, "-enc_time_base", "-1", "-f", "null", "-")
        self.assertEqual((decode.returncode, decode.stderr.decode(errors="replace")), (0, ""), path)

    def test_one_output_per_profile(self):
        # RTMP runs over TCP: a busy machine slows the stream down but loses nothing of it.
        for profile, size, fps in (("balanced_480p", "854x480", 30), ("high_1080p", "1920x1080", 30)):
            with self.subTest(profile=profile):
                self.listeners.clear()
                self.scenario(["--profile", profile, "--ingest-url", self.listen("rtmp", profile + ".flv")
                               .rpartition("/")[0], "--stream-key", "k"], [profile + ".flv"], size, fps)

    def test_traced_example_to_rtmp_srt_and_recording(self):
        rtmp, srt = self.listen("rtmp"), self.listen("srt")
        self.scenario([*LOW, "--scene", "gift_war_scoreboard", "--ingest-url", rtmp.rpartition("/")[0],
                       "--stream-key", "k", "--target", srt, "--record-file", "rec.mkv"],
                      ["out.flv", "out.ts", "rec.mkv"], "640x360", 24)

    def test_a_restart_records_to_a_new_file(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        env = {"CASTORA_SUBSTITUTE_FAIL_ONCE": os.path.join(self.dir, "failed-once")}
        log = self.scenario([*LOW, "--reconnect", "--target", dead, "--record-file", "rec.mkv"],
                            ["rec.mkv", "rec-1.mkv"], "640x360", 24, env=env)
        self.assertIn("Brevalo stream process exited with code 1. Restarting in 3 seconds (1/5).\n", log)
        self.assertIn("Recording to rec-1.mkv.\n", log)

    def test_the_recording_is_exactly_the_file_named(self):
        with open(os.path.join(self.dir, "rec.mkv"), "wb") as f:
            f.write(b"earlier take")
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        for name in ("rec.mkv ", "file:rec.mkv", "Show: 1.mkv"):
            with self.subTest(name=name):
                self.scenario([*LOW, "--no-audio", "--target", dead, "--record-file", name], [name], "640x360", 24,
                              audio=False, env={"CASTORA_SUBSTITUTE_SECONDS": "4"})
        with open(os.path.join(self.dir, "rec.mkv"), "rb") as f:
            self.assertEqual(f.read(), b"earlier take")

    def launch(self, options, seconds):
        """castora streaming in the background for `seconds`; its standard error is collected as it comes."""
        castora = start_castora([*OFFLINE, "--ffmpeg", SUBSTITUTE, *LOW, *options],
                                env={"CASTORA_SUBSTITUTE_SECONDS": str(seconds)}, cwd=self.dir)
        self.addCleanup(lambda: castora.poll() is None and castora.kill())
        return castora, collect_stderr(castora)

    def test_a_platform_that_drops_comes_back_and_a_late_one_joins(self):
        rtmp_port, srt_port = free_port(), free_port()
        self.listen("rtmp", "first.flv", rtmp_port)
        first = self.listener
        with open(os.path.join(self.dir, "targets.txt"), "w") as f:
            f.write(f"YouTube = rtmp://127.0.0.1:{rtmp_port}/live/SECRETKEY\n"
                    f"Backup = srt://127.0.0.1:{srt_port}?streamid=SECRETSTREAM\n")
        castora, err = self.launch(["--target-file", "targets.txt", "--record-file", "rec.mkv"], 18)
        wait_for(lambda: "Live: Backup cannot be reached: " in err.text, what="the SRT failure")
        self.listen("srt", "late.ts", srt_port)
        wait_for(lambda: "Live: Backup connected after " in err.text, what="SRT to join")
        time.sleep(2)
        first.kill()
        wait_for(lambda: "Live: YouTube lost: " in err.text, what="the loss")
        self.listen("rtmp", "second.flv", rtmp_port)
        back = time.monotonic()
        wait_for(lambda: "Live: YouTube is back after " in err.text, what="the return")
        print(f"receiver back after {time.monotonic() - back:.1f} s", file=sys.stderr)
        self.assertEqual(castora.wait(timeout=TIMEOUT), 0, err.text[-3000:])
        lines = [line for line in err.text.splitlines() if line.startswith("Live: ")]
        self.assertIn("Live: streaming to 2 destinations (YouTube, Backup), recording to rec.mkv.", lines)
        self.assertRegex(lines[-2], r"^Live: YouTube received \d+s of the stream, 1 drop\.$")
        self.assertRegex(lines[-1], r"^Live: Backup received \d+s of the stream, 0 drops\.$")
        self.assertNotRegex(err.text, "SECRET")
        self.listeners.remove(first)
        for listener in self.listeners:
            listener.wait(timeout=20)
        self.assert_playable("rec.mkv", "640x360", 24, duration=(17, 19))
        # The late one's queue held what came while it could not connect.
        self.assert_playable("late.ts", "640x360", 24, duration=(5, 19))
        self.assert_playable("second.flv", "640x360", 24, duration=(1, 12))

    def test_a_lost_recording_and_a_dead_destination_leave_the_stream_going(self):
        port = free_port()
        dead = f"rtmp://127.0.0.1:{port}/live/k"
        castora, err = self.launch(["--target", dead, "--target", self.listen("srt"), "--record-file",
                                    "missing/rec.mkv"], 4)
        self.assertEqual(castora.wait(timeout=TIMEOUT), 0)
        self.listener.wait(timeout=20)
        self.assertIn("Live: the recording to missing/rec.mkv stopped: No such file or directory. The stream goes "
                      "on without it.", err.text)
        self.assertIn(f"Live: 127.0.0.1:{port} cannot be reached: Connection refused", err.text)
        self.assert_playable("out.ts", "640x360", 24)

    def test_every_stop_finishes_the_recording_and_leaves_no_ffmpeg(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        for number, status in ((signal.SIGINT, -signal.SIGINT), (signal.SIGHUP, -signal.SIGHUP),
                               (signal.SIGTERM, 143)):
            with self.subTest(signal=number):
                castora, err = self.launch(["--target", dead, "--record-file", f"stop{number}.mkv"], 30)
                wait_for(lambda: "Live: streaming to " in err.text, what="the stream")
                [ffmpeg] = children_of(castora.pid)
                time.sleep(2)
                castora.send_signal(number)
                self.assertEqual(castora.wait(timeout=TIMEOUT), status)
                self.assertFalse(alive(ffmpeg), "FFmpeg outlived castora")
                self.assert_playable(f"stop{number}.mkv", "640x360", 24, duration=(1.5, 25.0))

    def test_a_stalled_destination_holds_neither_the_recording_nor_the_stop(self):
        # A receiver that takes the connection and never answers: FFmpeg would wait for it forever.
        stalled = socket.socket()
        stalled.bind(("127.0.0.1", 0))
        stalled.listen(4)
        self.addCleanup(stalled.close)
        castora, err = self.launch(["--target", f"rtmp://127.0.0.1:{stalled.getsockname()[1]}/live/k",
                                    "--record-file", "rec.mkv"], 60)
        wait_for(lambda: "is not keeping up; frames for it are dropped." in err.text, timeout=40,
                 what="the queue to fill")
        stopped = time.monotonic()
        castora.send_signal(signal.SIGINT)
        self.assertEqual(castora.wait(timeout=TIMEOUT), -signal.SIGINT)
        self.assertLess(time.monotonic() - stopped, 12)
        self.assert_playable("rec.mkv", "640x360", 24, duration=(5, 40))

    def test_each_overlay_box_is_drawn_in_its_place(self):
        w, h = 854, 480  # the default profile
        argv = dry_run(["--scene", "gift_war_scoreboard", "--overlay-title", "100% hype", *DEST])[1]
        chain = argv[argv.index("-vf") + 1]
        png = os.path.join(self.dir, "frame.png")
        render = ffmpeg("-f", "lavfi", "-i", f"color=c=0x336699:size={w}x{h}", "-vf", chain, "-frames:v", "1", png)
        self.assertEqual(render.returncode, 0, (chain, render.stderr))
        pixels = ffmpeg("-i", png, "-f", "rawvideo", "-pix_fmt", "rgb24", "-").stdout
        self.assertEqual(len(pixels), w * h * 3)

        def drawn_share(x0, x1, y0, y1):
            """The share of pixels in the rectangle that clearly differ from the background."""
            drawn = sum(max(abs(a - b) for a, b in zip(pixels[3 * (w * y + x):], (0x33, 0x66, 0x99))) > 24
                        for y in range(y0, y1) for x in range(x0, x1))
            return drawn / ((x1 - x0) * (y1 - y0))

        boxes = {  # inside each box, clear of the others: x0, x1, y0, y1
            # FFmpeg expanding "%" drops this title silently (exit 0, no box): only the pixels tell. The
            # window reaches past where "100" alone would end, so the text after "%" is drawn too.
            "title": (40, 215, h - 145, h - 110), "subtitle": (40, 190, h - 84, h - 60),
            "left score": (40, 170, 30, 65), "right score": (w - 170, w - 40, 30, 65),
            "watermark": (w - 100, w - 30, h - 56, h - 35),
        }
        for name, box in boxes.items():
            with self.subTest(box=name):
                self.assertGreater(drawn_share(*box), 0.95)
        self.assertEqual(drawn_share(w // 2 - 100, w // 2 + 100, h // 2 - 50, h // 2 + 50), 0)


if __name__ == "__main__":
    unittest.main()
