"""Running FFmpeg: exit statuses, the reconnect policy, recording names, signals, and the dry-run
line as a faithful shell rendering of the vector that a real launch runs (fake FFmpeg)."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

from harness import OFFLINE, Answer, FakeFfmpeg, ServiceServer, run_castora, start_castora

RESTART = "Brevalo stream process exited with code {}. Restarting in 3 seconds ({}/5).\n"


def printed_command(stdout):
    """The command part of a dry run: everything after the header line, without the final LF."""
    if stdout.startswith("Brevalo Castora 0.2.1 |"):
        stdout = stdout.split("\n", 1)[1]
    return stdout[:-1] if stdout.endswith("\n") else stdout


class RunStatus(unittest.TestCase):
    def test_status_of_a_single_run(self):
        for statuses, expected in [("0", 0), ("1", 1), ("7", 7), ("kill", 1)]:
            with self.subTest(statuses=statuses), tempfile.TemporaryDirectory() as d:
                fake = FakeFfmpeg(d, statuses=statuses)
                r = run_castora([*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/x"], env=fake.env)
                self.assertEqual((r.status, r.stderr), (expected, ""))
                self.assertEqual(len(fake.runs()), 1)

    def test_missing_executable(self):
        r = run_castora([*OFFLINE, "--ffmpeg", "/nonexistent/ffmpeg", "--target", "rtmp://a/x"])
        self.assertEqual(r.status, 127)
        self.assertEqual(r.stderr, "Failed to run /nonexistent/ffmpeg: No such file or directory\n")

    def test_default_executable_is_found_on_the_search_path(self):
        with tempfile.TemporaryDirectory() as d:
            fake = FakeFfmpeg(d)
            os.symlink(fake.path, os.path.join(d, "ffmpeg"))
            env = {**fake.env, "PATH": d + ":/usr/bin:/bin"}
            r = run_castora([*OFFLINE, "--target", "rtmp://a/x"], env=env)
            self.assertEqual(r.status, 0, r.stderr)
            self.assertEqual(fake.runs()[0][-1], "rtmp://a/x")

    def test_sigterm_is_forwarded_to_ffmpeg_and_ends_with_143(self):
        with tempfile.TemporaryDirectory() as d:
            fake = FakeFfmpeg(d, sleep=30)
            castora = start_castora([*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/x"], env=fake.env)
            try:
                deadline = time.monotonic() + 10
                while not fake.runs() and time.monotonic() < deadline:
                    time.sleep(0.05)
                with open(f"/proc/{castora.pid}/task/{castora.pid}/children") as f:
                    children = [int(pid) for pid in f.read().split()]
                self.assertEqual(len(children), 1)
                started = time.monotonic()
                castora.send_signal(signal.SIGTERM)
                castora.communicate(timeout=20)
            finally:
                castora.kill()
                castora.wait()
            self.assertEqual(castora.returncode, 143)
            self.assertLess(time.monotonic() - started, 8, "castora waited for FFmpeg's own end")
            deadline = time.monotonic() + 5
            while os.path.exists(f"/proc/{children[0]}") and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertFalse(os.path.exists(f"/proc/{children[0]}"), "FFmpeg outlived castora")


class Reconnect(unittest.TestCase):
    def test_five_restarts_then_the_last_status_and_one_report(self):
        server = ServiceServer()
        try:
            server.answer("/castora/report", Answer(200, b"{}"))
            with tempfile.TemporaryDirectory() as d:
                fake = FakeFfmpeg(d, statuses="1")
                started = time.monotonic()
                r = run_castora(["--skip-update-check", "--report-url", server.url("/castora/report"),
                                 "--reconnect", "--ffmpeg", fake.path, "--target", "rtmp://a/x"],
                                env={**fake.env, **server.env})
                elapsed = time.monotonic() - started
                runs = fake.runs()
            self.assertEqual(r.status, 1)
            self.assertEqual(r.stderr, "".join(RESTART.format(1, n) for n in range(1, 6)))
            self.assertEqual(len(runs), 6)
            self.assertTrue(all(run == runs[0] for run in runs), "every run uses the same vector")
            self.assertGreaterEqual(elapsed, 14.5)
            reports = server.reports()
            self.assertEqual(len(reports), 1)
            fields = ("event_type", "severity", "exit_code", "signal_name", "phase", "message")
            self.assertEqual(
                {k: reports[0].get(k) for k in fields},
                {"event_type": "ffmpeg_error", "severity": "error", "exit_code": 1, "signal_name": "",
                 "phase": "stream", "message": "FFmpeg stream process exited with a non-zero code."})
        finally:
            server.stop()

    def test_clean_exit_after_two_failures_and_a_fresh_recording_name_per_run(self):
        with tempfile.TemporaryDirectory() as d:
            fake = FakeFfmpeg(d, statuses="1,1,0")
            # Like FFmpeg, the wrapper creates the recording it is told to write.
            wrapper = os.path.join(d, "records.sh")
            with open(wrapper, "w") as f:
                f.write('#!/bin/sh\nfor last; do :; done\n: > "${last##*]}"\nexec "$FAKE" "$@"\n')
            os.chmod(wrapper, 0o755)
            with open(os.path.join(d, "rec.mkv"), "wb") as f:
                f.write(b"earlier take")
            r = run_castora([*OFFLINE, "--reconnect", "--ffmpeg", wrapper, "--target", "rtmp://a/x",
                             "--record-file", "rec.mkv"], env={**fake.env, "FAKE": fake.path}, cwd=d)
            self.assertEqual(r.status, 0)
            self.assertEqual(r.stderr, "Recording to rec-1.mkv.\n" + RESTART.format(1, 1)
                             + "Recording to rec-2.mkv.\n" + RESTART.format(1, 2)
                             + "Recording to rec-3.mkv.\n")
            self.assertEqual([run[-1].rpartition("|")[2] for run in fake.runs()],
                             [f"[f=matroska]rec-{n}.mkv" for n in (1, 2, 3)])
            with open(os.path.join(d, "rec.mkv"), "rb") as f:
                self.assertEqual(f.read(), b"earlier take")


class RecordingNames(unittest.TestCase):
    def test_an_existing_recording_is_never_overwritten(self):
        cases = [  # files already present, --record-file, name used
            (["rec.mkv"], "rec.mkv", "rec-1.mkv"),
            (["rec.mkv", "rec-1.mkv"], "rec.mkv", "rec-2.mkv"),
            (["rec"], "rec", "rec-1"),
            (["take.d/rec"], "take.d/rec", "take.d/rec-1"),
            (["rec-1.mkv"], "rec.mkv", "rec.mkv"),
        ]
        for existing, path, used in cases:
            with self.subTest(path=path, existing=existing), tempfile.TemporaryDirectory() as d:
                for name in existing:
                    os.makedirs(os.path.join(d, os.path.dirname(name)), exist_ok=True)
                    open(os.path.join(d, name), "w").close()
                fake = FakeFfmpeg(d)
                args = [*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/x", "--record-file", path]
                note = "" if used == path else f"Recording to {used}.\n"
                dry = run_castora(["--dry-run", *args], env=fake.env, cwd=d)
                self.assertTrue(printed_command(dry.stdout).endswith(f"|[f=matroska]{used}'"), dry.stdout)
                r = run_castora(args, env=fake.env, cwd=d)
                self.assertEqual((r.status, r.stderr), (0, note))
                self.assertEqual(fake.runs()[0][-1], f"[f=flv:onfail=ignore]rtmp://a/x|[f=matroska]{used}")


class DryRunRoundTrip(unittest.TestCase):
    CASES = [
        ["--target", "rtmp://a/x", "--overlay-title", "It's $HOME `id` \"q\" \\n !x",
         "--watermark", "50% $(echo hi)"],
        ["--target", "srt://b:1?streamid=#!::r=live/x,m=publish", "--video-input", "", "--audio-input",
         "MacBook Pro Microphone", "--overlay-subtitle", "Grüße 🎉 ünïcödé", "--score-right", "*"],
        ["--target", "rtmp://a/x", "--overlay-title", "first\nsecond", "--score-left", "a\tb", "--no-audio"],
        ["--ingest-url", "rtmp://h/live", "--stream-key", "k|e'y\\z", "--target", "rtmp://t/{stream_key}",
         "--record-file", "rec's take.mkv", "--no-audio"],
        ["--ingest-url", "rtmp://h/live", "--stream-key", "line\nfeed"],
        ["--print-devices"],
    ]

    def test_the_printed_line_runs_the_same_vector_as_a_launch(self):
        for options in self.CASES:
            with self.subTest(options=options), tempfile.TemporaryDirectory() as d:
                fake = FakeFfmpeg(d)
                args = [*OFFLINE, "--ffmpeg", fake.path, *options]
                dry = run_castora(["--dry-run", *args], cwd=d)
                self.assertEqual(dry.status, 0, dry.stderr)
                env = {**fake.env, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": d}
                shell = subprocess.run(["/bin/sh", "-c", printed_command(dry.stdout)], cwd=d, env=env,
                                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                self.assertEqual(shell.returncode, 0, shell.stderr)
                self.assertEqual(run_castora(args, env=fake.env, cwd=d).status, 0)
                runs = fake.runs()
                self.assertEqual(len(runs), 2)
                self.assertEqual(runs[0], runs[1])
                self.assertEqual(sorted(os.listdir(d)), ["ffmpeg-runs.jsonl"])

    def test_tee_entries_escape_backslash_apostrophe_and_pipe(self):
        with tempfile.TemporaryDirectory() as d:
            fake = FakeFfmpeg(d)
            r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *self.CASES[3]], env=fake.env, cwd=d)
            self.assertEqual(r.status, 0, r.stderr)
            self.assertEqual(fake.runs()[0][-1],
                             "[f=flv:onfail=ignore]rtmp://h/live/k\\|e\\'y\\\\z|[f=flv:onfail=ignore]"
                             "rtmp://t/k\\|e\\'y\\\\z|[f=matroska]rec\\'s take.mkv")


if __name__ == "__main__":
    unittest.main()
