"""Every stop, however castora was started and whatever state FFmpeg is in: signals ignored or blocked at the start,
an FFmpeg that is stopped, a suspend in the middle of a stop, a reader of standard error that never reads or comes
back late, a broken pipe, a stop during a download. The stand-in FFmpeg notes the signals it started with and each
one it gets."""
import hashlib
import os
import re
import shutil
import signal
import tempfile
import threading
import time
import unittest
from collections import namedtuple

from harness import (DEST, OFFLINE, Answer, Background, Bridge, FakeFfmpeg, alive, children_of, shared_server,
                     wait_for)

HUP, INT, QUIT, TERM, STOP, CONT = (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGSTOP,
                                    signal.SIGCONT)
FLOOD = 20000  # lines of FFmpeg's, far more than a pipe and castora together hold
REFUSAL = ("[avfoundation @ 0x1] Selected video size (854x480) is not supported by the device.\n"
           "[avfoundation @ 0x1] Supported modes:\n[avfoundation @ 0x1]   1280x720@[1.000000 30.000000]fps\n")
DROPPED = re.compile(r"castora dropped (\d+) lines of output while standard error was not being read\.\n")


def to_castora(*numbers):
    return lambda case, castora, ffmpeg: [castora.send_signal(n) for n in numbers]


def to_group(*numbers):  # as the terminal sends to its foreground job
    return lambda case, castora, ffmpeg: [castora.send_group_signal(n) for n in numbers]


def to_ffmpeg(number):
    return lambda case, castora, ffmpeg: os.kill(ffmpeg, number)


def pause(seconds):
    return lambda *_: time.sleep(seconds)


def note_time(name):
    return lambda case, *_: case.times.__setitem__(name, time.monotonic())


def still_streaming(case, castora, ffmpeg):
    case.assertTrue(alive(castora.pid) and alive(ffmpeg), "the stream ended")


# The start condition: signals ignored and blocked when castora starts, where its standard error goes ("read",
# "never" read, read "late", a "closed" pipe) and what it runs; the stop moment, step by step, once FFmpeg runs (or the
# download); the outcome: castora's status, the seconds from the stop to its end, the signals FFmpeg got (in any
# order), what castora must not say, and a last check of the row's own.
Row = namedtuple("Row", "ignored blocked stderr args fake stop status within got not_said check",
                 defaults=((), (), "read", (), {}, (), 0, (0, 5), (), (), None))


def second_request_and_kill_count_running_time(case, fake, castora_output):
    # Asked at 1 s, suspended at 2 s for 4 s: asked again 1 s and killed 8 s after it was continued.
    [first, second] = [float(line.split()[1]) for line in fake.signals() if line.startswith("TERM ")]
    resumed = case.times["resumed"]
    case.assertTrue(first < case.times["suspended"] < resumed and 0.5 < second - resumed < 2,
                    (first, second, case.times))
    case.assertTrue(6 < case.times["ended"] - resumed < 9.5, case.times)


def one_line_says_how_many_were_dropped(case, fake, castora_output):
    [dropped] = [int(n) for n in DROPPED.findall(castora_output)]
    kept = [int(line.split()[2]) for line in castora_output.splitlines() if line.startswith("flood line ")]
    case.assertEqual((kept, len(kept) + dropped), (sorted(kept), FLOOD))  # whole lines, in order, each one counted
    case.assertTrue(0 < dropped < FLOOD)


def nothing_new_reserved(case, fake, castora_output):
    case.assertEqual((len(fake.runs()), [name for name in os.listdir(case.work) if name.startswith("rec")]), (1, []))


def no_partial_download_left(case, fake, castora_output):
    case.assertEqual(os.listdir(case.work), [])


ROWS = {
    "nohup, then the terminal hangs up": Row(
        ignored=(HUP,), stop=(to_group(HUP), pause(2), still_streaming, to_castora(TERM)), status=143,
        within=(2.9, 5), got=("CONT", "TERM")),
    "a & job of a script, then Ctrl-C and Ctrl-\\ for the foreground": Row(
        ignored=(INT, QUIT), stop=(to_group(INT, QUIT), pause(2), still_streaming, to_castora(TERM)), status=143,
        within=(2.9, 5), got=("CONT", "TERM")),
    "SIGTERM blocked, then Ctrl-C": Row(
        blocked=(TERM,), stop=(to_castora(INT),), status=-INT, within=(0.9, 2.5), got=("CONT", "TERM")),
    "SIGTERM blocked, then kill": Row(
        blocked=(TERM,), stop=(to_castora(TERM),), status=143, within=(0.9, 2.5), got=("CONT", "TERM")),
    "FFmpeg stopped (a job put in the background), then Ctrl-C": Row(
        stop=(to_ffmpeg(STOP), pause(0.2), to_castora(INT)), status=-INT, within=(1.1, 2.7),
        got=("CONT", "TERM")),
    "Ctrl-C, suspended 2 s later for 4 s, FFmpeg ignores the requests": Row(
        fake={"FAKE_FFMPEG_IGNORE_TERM": "1"},
        stop=(to_castora(INT), pause(2), note_time("suspended"), to_group(STOP), pause(4), note_time("resumed"),
              to_group(CONT)),
        status=-INT, within=(13, 16), got=("CONT", "CONT", "CONT", "TERM", "TERM"),
        check=second_request_and_kill_count_running_time),
    "a reader that never reads, then kill": Row(
        stderr="never", fake={"FAKE_FFMPEG_FLOOD": str(FLOOD)}, stop=(to_castora(TERM),), status=143,
        within=(0.9, 12), got=("CONT", "TERM")),
    "a reader that comes back late, then Ctrl-C": Row(
        stderr="late", fake={"FAKE_FFMPEG_FLOOD": str(FLOOD)}, stop=(to_castora(INT),), status=-INT,
        within=(0.9, 3), got=("CONT", "TERM"), check=one_line_says_how_many_were_dropped),
    "reconnecting, with a bridge, then Ctrl-C": Row(
        args=("--reconnect", "--live-overlays", "bridge"), stop=(to_group(INT),), status=-INT, within=(0, 2),
        got=("INT",), not_said=("Restarting", "keeps asking", "castora dropped")),
    "the camera refuses its mode, then Ctrl-C": Row(
        args=("--record-file", "rec.mkv"), fake={"FAKE_FFMPEG_STDERR": REFUSAL}, stop=(to_group(INT),),
        status=-INT, within=(0, 2), got=("INT",), not_said=("Interrupted", "capturing", "Recording to"),
        check=nothing_new_reserved),
    "a broken pipe before going live": Row(
        stderr="closed", args=("--live-overlays",), fake={"FAKE_FFMPEG_LACKS": "drawtext"}, status=2),
    "Ctrl-C during the download of an update": Row(
        args=("download",), stop=(to_castora(INT),), status=-INT, within=(0, 3), check=no_partial_download_left),
}


class Stops(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="castora-stops-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def test_every_stop_under_every_start_condition(self):
        for name, row in ROWS.items():
            with self.subTest(name):
                self.run_row(row)

    def run_row(self, row):
        self.work, self.times = tempfile.mkdtemp(dir=self.dir), {}
        fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), sleep="60", copy=True, FAKE_FFMPEG_SIGNALS="1", **row.fake)
        args, env = [*OFFLINE, "--ffmpeg", fake.path, *DEST], fake.env
        if "bridge" in row.args:
            bridge = Bridge()
            self.addCleanup(bridge.stop)
            args += bridge.options()
        if "download" in row.args:
            server = shared_server()
            package = b"package\n" * 1000
            server.reset(**{"/update": Answer(200, b'{"latest_version":"0.3.0","download_url":"%s","sha256":"%s"}' % (
                server.url("/pkg.tar.gz").encode(), hashlib.sha256(package).hexdigest().encode())),
                            "/pkg.tar.gz": Answer(200, package, delay=30)})
            args, env = ["--update-url", server.url("/update"), "--no-error-reporting", "--check-update"], server.env
        args += [a for a in row.args if a not in ("bridge", "download")]
        read_end, write_end = os.pipe() if row.stderr != "read" else (None, None)
        if row.stderr == "closed":
            os.close(read_end)
            read_end = None
        self.addCleanup(lambda: read_end is None or os.close(read_end))

        def start_condition():
            for number in row.ignored:
                signal.signal(number, signal.SIG_IGN)
            signal.pthread_sigmask(signal.SIG_BLOCK, row.blocked)

        castora = Background(args, env=env, cwd=self.work, preexec_fn=start_condition,
                             **({"stderr": write_end} if write_end is not None else {}))
        self.addCleanup(castora.stop)
        if write_end is not None:
            os.close(write_end)
        late = []
        if not row.stop:
            self.assertEqual(castora.wait(timeout=30), row.status)
            return
        if "download" in row.args:
            wait_for(lambda: os.listdir(self.work) and children_of(castora.pid), what="the download")
            ffmpeg = None
        else:
            wait_for(lambda: "flooded" in fake.signals(), what="FFmpeg's start and its lines")
            [ffmpeg] = [pid for pid in children_of(castora.pid) if os.getpgid(pid) == castora.pid]  # not curl
            self.assertEqual(fake.signals()[:2], ["mask ", "ignored " + " ".join(
                name for name in ("HUP", "INT", "QUIT") if name in ("HUP", "QUIT") or
                getattr(signal, "SIG" + name) in row.ignored)])
        if row.stderr == "late":
            reader = threading.Thread(target=lambda: late.extend(iter(lambda: os.read(read_end, 65536), b"")))
            reader.start()
            time.sleep(0.5)
        started = time.monotonic()
        for step in row.stop:
            step(self, castora, ffmpeg)
        self.assertEqual(castora.wait(timeout=30), row.status)
        self.times["ended"] = time.monotonic()
        self.assertTrue(row.within[0] <= self.times["ended"] - started <= row.within[1], self.times["ended"] - started)
        if ffmpeg is not None:
            self.assertFalse(alive(ffmpeg))
            self.assertEqual(sorted(line.split()[0] for line in fake.signals()[2:] if line != "flooded"),
                             list(row.got))
        if row.stderr == "late":
            reader.join(timeout=10)
        said = castora.stderr + b"".join(late).decode()
        for words in row.not_said:
            self.assertNotIn(words, said)
        if row.check:
            row.check(self, fake, said)


if __name__ == "__main__":
    unittest.main()
