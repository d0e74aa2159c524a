"""The real FFmpeg runs castora's vector, only input and encoder swapped (ffmpeg_substitute.py), to RTMP and
SRT listeners on 127.0.0.1 and a recording: each must be a complete, decodable H.264/AAC stream of the
profile's size and rate. The overlay chain, rendered over a plain colour, must draw every box in place."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from ffmpeg_substitute import substitute
from harness import OFFLINE, children_of, dry_run, free_port, run_castora, start_castora

SUBSTITUTE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ffmpeg_substitute.py")
TIMEOUT = 60
DEST = ["--target", "rtmp://a/x"]


def ffmpeg(*args, **kwargs):
    return subprocess.run(["ffmpeg", "-nostdin", "-v", "error", *args], capture_output=True, timeout=TIMEOUT,
                          stdin=subprocess.DEVNULL, **kwargs)


def wait_until_bound(table, port, timeout=10):
    """Waits until a socket of /proc/net/<table> is bound to 127.0.0.1:port (listening, for TCP)."""
    local = "0100007F:%04X" % port
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(f"/proc/net/{table}") as f:
            if any(row.split()[1] == local and (table != "tcp" or row.split()[3] == "0A")
                   for row in f.read().splitlines()[1:]):
                return
        time.sleep(0.05)
    raise AssertionError(f"nothing bound to 127.0.0.1:{port} ({table})")


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
        self.directory = tempfile.mkdtemp(prefix="castora-ffmpeg-")
        self.listeners = []
        self.addCleanup(shutil.rmtree, self.directory, ignore_errors=True)

    def listen(self, kind):
        """An FFmpeg receiving one RTMP or SRT stream on 127.0.0.1 and copying it to out.flv or out.ts."""
        port = free_port()
        if kind == "rtmp":
            url = f"rtmp://127.0.0.1:{port}/live/k"
            source, table, name = ["-listen", "1", "-i", url], "tcp", "out.flv"
        else:
            url = f"srt://127.0.0.1:{port}"
            source, table, name = ["-i", url + "?mode=listener"], "udp", "out.ts"
        process = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "error", *source, "-c", "copy",
                                    os.path.join(self.directory, name)], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.listeners.append(process)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        wait_until_bound(table, port)
        return url

    def stream(self, *options):
        """Runs the printed vector, substituted, with the real ffmpeg; waits for the listeners."""
        dry, argv = dry_run(options, cwd=self.directory)
        self.assertEqual(dry.status, 0, dry.stderr)
        args = substitute(argv)
        args[0] = "ffmpeg"
        run = subprocess.run(args, cwd=self.directory, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=TIMEOUT)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace")[-3000:])
        for listener in self.listeners:
            listener.wait(timeout=20)
        return run.stderr.decode(errors="replace")

    def assert_playable(self, path, size, fps, audio=True, duration=(3.3, 4.7)):
        path = os.path.join(self.directory, path)
        self.assertGreater(os.path.getsize(path), 20000, path)
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                                path], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        video = [s for s in info["streams"] if s["codec_type"] == "video"]
        sound = [(s["codec_name"], s["sample_rate"], s["channels"]) for s in info["streams"]
                 if s["codec_type"] == "audio"]
        self.assertEqual([(v["codec_name"], "%(width)dx%(height)d" % v, v["avg_frame_rate"]) for v in video],
                         [("h264", size, f"{fps}/1")], path)
        # An empty AVC sequence header leaves players without SPS/PPS.
        self.assertGreater(video[0].get("extradata_size", 0), 0, path)
        self.assertIn("profile", video[0])
        if path.endswith(".flv"):
            header = first_avc_sequence_header(path)
            self.assertTrue(header and header[0] == 1 and len(header) > 10, (path, header))
        self.assertEqual(sound, [("aac", "48000", 2)] if audio else [], path)
        self.assertTrue(duration[0] <= float(info["format"]["duration"]) <= duration[1], (path, info))
        # -enc_time_base -1 keeps the null muxer quiet about millisecond timestamps.
        decode = ffmpeg("-i", path, "-enc_time_base", "-1", "-f", "null", "-")
        self.assertEqual((decode.returncode, decode.stderr.decode(errors="replace")), (0, ""), path)

    def test_defaults_to_one_rtmp_output(self):
        self.stream("--ingest-url", self.listen("rtmp").rpartition("/")[0], "--stream-key", "k")
        self.assert_playable("out.flv", "854x480", 30)

    def test_traced_example_to_rtmp_srt_and_recording(self):
        rtmp, srt = self.listen("rtmp"), self.listen("srt")
        self.stream("--profile", "low_power_360p", "--scene", "gift_war_scoreboard", "--ingest-url",
                    rtmp.rpartition("/")[0], "--stream-key", "k", "--target", srt, "--record-file", "rec.mkv")
        for path in ("out.flv", "out.ts", "rec.mkv"):
            self.assert_playable(path, "640x360", 24)

    def test_high_1080p_to_srt_alone(self):
        self.stream("--profile", "high_1080p", "--target", self.listen("srt"))
        self.assert_playable("out.ts", "1920x1080", 30)

    def test_no_audio_in_tee_mode(self):
        self.stream("--no-audio", "--target", self.listen("rtmp"), "--record-file", "rec.mkv")
        for path in ("out.flv", "rec.mkv"):
            self.assert_playable(path, "854x480", 30, audio=False)

    def test_a_dead_destination_does_not_stop_the_others(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        log = self.stream("--profile", "standard_720p", "--target", dead, "--target", self.listen("srt"),
                          "--record-file", "rec.mkv")
        self.assertIn("continuing with 2/3 slaves", log)
        for path in ("out.ts", "rec.mkv"):
            self.assert_playable(path, "1280x720", 30)

    def test_a_restart_records_to_a_new_file(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        env = {"CASTORA_SUBSTITUTE_FAIL_ONCE": os.path.join(self.directory, "failed-once")}
        r = run_castora([*OFFLINE, "--reconnect", "--ffmpeg", SUBSTITUTE, "--profile", "low_power_360p",
                         "--target", dead, "--record-file", "rec.mkv"], env=env, cwd=self.directory,
                        timeout=90)
        self.assertEqual(r.status, 0, r.stderr[-3000:])
        self.assertIn("Brevalo stream process exited with code 1. Restarting in 3 seconds (1/5).\n", r.stderr)
        self.assertIn("Recording to rec-1.mkv.\n", r.stderr)
        for path in ("rec.mkv", "rec-1.mkv"):
            self.assert_playable(path, "640x360", 24)

    def test_sigterm_finalises_the_recording(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        castora = start_castora([*OFFLINE, "--ffmpeg", SUBSTITUTE, "--profile", "low_power_360p",
                                 "--target", dead, "--record-file", "rec.mkv"],
                                env={"CASTORA_SUBSTITUTE_SECONDS": "30"}, cwd=self.directory)
        try:
            deadline = time.monotonic() + 30
            while not children_of(castora.pid) and time.monotonic() < deadline:
                time.sleep(0.05)
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
        png = os.path.join(self.directory, "frame.png")
        render = ffmpeg("-f", "lavfi", "-i", f"color=c=0x336699:size={w}x{h}", "-vf", chain, "-frames:v", "1",
                        png)
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
