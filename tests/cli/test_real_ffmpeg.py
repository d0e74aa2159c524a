"""The real FFmpeg runs castora's vector, only the input and the encoder swapped (ffmpeg_substitute.py), to RTMP and
SRT listeners on 127.0.0.1 and a recording: each must be a complete, decodable H.264/AAC stream of the profile's
size and rate. The overlay chain, rendered over a plain colour, must draw every box in place."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from ffmpeg_substitute import substitute
from harness import DEST, OFFLINE, children_of, dry_run, free_port, port_taken, run_castora, start_castora, wait_for

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

    def listen(self, kind, name=None):
        """An FFmpeg receiving one RTMP or SRT stream on 127.0.0.1 and copying it to a file; returns the URL."""
        port = free_port()
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

    def test_no_audio_in_tee_mode(self):
        self.scenario([*LOW, "--no-audio", "--target", self.listen("rtmp"), "--record-file", "rec.mkv"],
                      ["out.flv", "rec.mkv"], "640x360", 24, audio=False)

    def test_a_dead_destination_does_not_stop_the_others(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        log = self.scenario([*LOW, "--target", dead, "--target", self.listen("srt"), "--record-file", "rec.mkv"],
                            ["out.ts", "rec.mkv"], "640x360", 24)
        self.assertIn("continuing with 2/3 slaves", log)

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

    def test_sigterm_finishes_the_recording(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        castora = start_castora([*OFFLINE, "--ffmpeg", SUBSTITUTE, *LOW, "--target", dead, "--record-file",
                                 "rec.mkv"], env={"CASTORA_SUBSTITUTE_SECONDS": "30"}, cwd=self.dir)
        try:
            wait_for(lambda: children_of(castora.pid), what="FFmpeg")
            time.sleep(3)  # FFmpeg runs; the stream would last 30 s
            castora.send_signal(signal.SIGTERM)
            _, stderr = castora.communicate(timeout=TIMEOUT)
        finally:
            castora.kill()
            castora.wait()
        self.assertEqual(castora.returncode, 143, stderr.decode(errors="replace")[-3000:])
        self.assert_playable("rec.mkv", "640x360", 24, duration=(1.0, 25.0))

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
