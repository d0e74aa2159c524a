"""The real FFmpeg runs castora's vector with only the capture input and the encoder swapped (see
ffmpeg_substitute.py) and streams to RTMP and SRT listeners on 127.0.0.1 and to a recording;
every result must be a complete, decodable H.264/AAC stream of the profile's size and rate."""
import json
import os
import pathlib
import shlex
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from ffmpeg_substitute import substitute
from harness import OFFLINE, free_port, run_castora, start_castora

SUBSTITUTE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ffmpeg_substitute.py")
TIMEOUT = 60


def wait_until_bound(table, port, timeout=10):
    """Waits until a socket of /proc/net/<table> is bound to 127.0.0.1:port (listening, for TCP)."""
    local = "0100007F:%04X" % port
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(f"/proc/net/{table}") as f:
            for row in f.read().splitlines()[1:]:
                fields = row.split()
                if fields[1] == local and (table != "tcp" or fields[3] == "0A"):
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


class Listener:
    """An FFmpeg receiving one RTMP or SRT stream on 127.0.0.1 and copying it to a file."""

    def __init__(self, directory, kind):
        self.port = free_port()
        if kind == "rtmp":
            self.url = f"rtmp://127.0.0.1:{self.port}/live/k"
            source, self.table, name = ["-listen", "1", "-i", self.url], "tcp", "out.flv"
        else:
            self.url = f"srt://127.0.0.1:{self.port}"
            source, self.table, name = ["-i", self.url + "?mode=listener"], "udp", "out.ts"
        self.path = os.path.join(directory, name)
        self.process = subprocess.Popen(
            ["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", *source, "-c", "copy", self.path],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def finish(self):
        try:
            self.process.wait(timeout=20)
        finally:
            self.process.kill()
            self.process.wait()


# Skipped test by test (not module-wide) so that the suite counts as skipped without the tools.
@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("ffprobe"), "missing ffmpeg or ffprobe")
class RealFfmpeg(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="castora-ffmpeg-")
        self.listeners = []
        self.addCleanup(shutil.rmtree, self.directory, ignore_errors=True)

    def listen(self, kind):
        listener = Listener(self.directory, kind)
        self.listeners.append(listener)
        self.addCleanup(listener.finish)
        wait_until_bound(listener.table, listener.port)
        return listener

    def stream(self, *options):
        """Runs the printed vector, substituted, with the real ffmpeg; waits for the listeners."""
        dry = run_castora(["--dry-run", *OFFLINE, *options], cwd=self.directory)
        self.assertEqual(dry.status, 0, dry.stderr)
        args = substitute(shlex.split(dry.stdout.splitlines()[-1]))
        args[0] = "ffmpeg"
        run = subprocess.run(args, cwd=self.directory, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=TIMEOUT)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace")[-3000:])
        for listener in self.listeners:
            listener.finish()
        return run.stderr.decode(errors="replace")

    def assert_playable(self, path, size, fps, audio=True, duration=(3.3, 4.7)):
        path = os.path.join(self.directory, path)
        self.assertGreater(os.path.getsize(path), 20000, path)
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                                path], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        video = [s for s in info["streams"] if s["codec_type"] == "video"]
        sound = [s for s in info["streams"] if s["codec_type"] == "audio"]
        self.assertEqual(len(video), 1, path)
        self.assertEqual(video[0]["codec_name"], "h264", path)
        self.assertEqual(f"{video[0]['width']}x{video[0]['height']}", size, path)
        self.assertEqual(video[0]["avg_frame_rate"], f"{fps}/1", path)
        # An empty AVC sequence header leaves players without SPS/PPS.
        self.assertGreater(video[0].get("extradata_size", 0), 0, path)
        self.assertIn("profile", video[0])
        if path.endswith(".flv"):
            header = first_avc_sequence_header(path)
            self.assertTrue(header and header[0] == 1 and len(header) > 10, (path, header))
        if audio:
            self.assertEqual([(s["codec_name"], s["sample_rate"], s["channels"]) for s in sound],
                             [("aac", "48000", 2)], path)
        else:
            self.assertEqual(sound, [], path)
        low, high = duration
        self.assertTrue(low <= float(info["format"]["duration"]) <= high, (path, info["format"]["duration"]))
        # -enc_time_base -1 keeps the null muxer quiet about millisecond timestamps.
        decode = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-enc_time_base", "-1",
                                 "-f", "null", "-"], capture_output=True, timeout=TIMEOUT)
        self.assertEqual((decode.returncode, decode.stderr.decode(errors="replace")), (0, ""), path)

    def test_defaults_to_one_rtmp_output(self):
        rtmp = self.listen("rtmp")
        self.stream("--ingest-url", rtmp.url.rpartition("/")[0], "--stream-key", "k")
        self.assert_playable("out.flv", "854x480", 30)

    def test_traced_example_to_rtmp_srt_and_recording(self):
        rtmp, srt = self.listen("rtmp"), self.listen("srt")
        self.stream("--profile", "low_power_360p", "--scene", "gift_war_scoreboard",
                    "--ingest-url", rtmp.url.rpartition("/")[0], "--stream-key", "k", "--target", srt.url,
                    "--record-file", "rec.mkv")
        for path in ("out.flv", "out.ts", "rec.mkv"):
            self.assert_playable(path, "640x360", 24)

    def test_high_1080p_to_srt_alone(self):
        srt = self.listen("srt")
        self.stream("--profile", "high_1080p", "--target", srt.url)
        self.assert_playable("out.ts", "1920x1080", 30)

    def test_no_audio_in_tee_mode(self):
        rtmp = self.listen("rtmp")
        self.stream("--no-audio", "--target", rtmp.url, "--record-file", "rec.mkv")
        for path in ("out.flv", "rec.mkv"):
            self.assert_playable(path, "854x480", 30, audio=False)

    def test_a_dead_destination_does_not_stop_the_others(self):
        srt = self.listen("srt")
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        log = self.stream("--profile", "standard_720p", "--target", dead, "--target", srt.url,
                          "--record-file", "rec.mkv")
        self.assertIn("continuing with 2/3 slaves", log)
        for path in ("out.ts", "rec.mkv"):
            self.assert_playable(path, "1280x720", 30)

    def test_a_restart_records_to_a_new_file(self):
        dead = f"rtmp://127.0.0.1:{free_port()}/live/k"
        env = {"CASTORA_SUBSTITUTE_FAIL_ONCE": os.path.join(self.directory, "failed-once")}
        r = run_castora([*OFFLINE, "--reconnect", "--ffmpeg", SUBSTITUTE, "--profile", "low_power_360p",
                         "--target", dead, "--record-file", "rec.mkv"],
                        env=env, cwd=self.directory, timeout=90)
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
        children = pathlib.Path(f"/proc/{castora.pid}/task/{castora.pid}/children")
        try:
            deadline = time.monotonic() + 30
            while children.exists() and not children.read_text() and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(3)  # FFmpeg runs; the stream would last 30 s
            castora.send_signal(signal.SIGTERM)
            _, stderr = castora.communicate(timeout=TIMEOUT)
        finally:
            castora.kill()
            castora.wait()
        self.assertEqual(castora.returncode, 143, stderr.decode(errors="replace")[-3000:])
        self.assert_playable("rec.mkv", "640x360", 24, duration=(1.0, 25.0))


if __name__ == "__main__":
    unittest.main()
