"""Running FFmpeg (a fake one): exit statuses, the reconnect policy, recording names, and the dry-run line as a
faithful shell rendering of the vector that a real launch runs."""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import (DEST, FAKE_FFMPEG, OFFLINE, REPORT, Answer, FakeFfmpeg, alive, children_of, run_castora,
                     shared_server, start_castora, wait_for, without_live_lines)

RESTART = "Brevalo stream process exited with code {}. Restarting in 3 seconds ({}/5).\n"


def printed_command(stdout):
    """The command of a dry run: the line after the header, without its final LF (it may hold LFs itself)."""
    return stdout.split("\n", 1)[1][:-1] if stdout.startswith("Brevalo Castora 0.2.1 |") else stdout[:-1]


class Runner(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def test_status_of_one_run(self):
        # The default executable "ffmpeg" is searched on the executable search path.
        bin_dir = os.path.join(self.dir, "bin")
        os.mkdir(bin_dir)
        os.symlink(FAKE_FFMPEG, os.path.join(bin_dir, "ffmpeg"))
        path = {"PATH": bin_dir + ":/usr/bin:/bin"}
        missing = "Failed to run /nonexistent/ffmpeg: No such file or directory\n"
        for ffmpeg, statuses, status, stderr, runs in (
                ([], "7", 7, "", 1), (["--ffmpeg", FAKE_FFMPEG], "kill", 1, "", 1),
                (["--ffmpeg", "/nonexistent/ffmpeg", "--record-file", "rec.mkv"], "0", 127, missing, 0),
                (["--ffmpeg", "/nonexistent/ffmpeg", "--reconnect", "--print-devices"], "0", 127, missing, 0)):
            with self.subTest(statuses=statuses, ffmpeg=ffmpeg):
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses=statuses)
                r = run_castora([*OFFLINE, *ffmpeg, *DEST], env={**fake.env, **path}, cwd=self.dir)
                self.assertEqual((r.status, without_live_lines(r.stderr), len(fake.runs())), (status, stderr, runs))
                self.assertNotIn("rec.mkv", os.listdir(self.dir))  # a reservation nothing was written to

    def test_a_healthy_run_starts_the_count_of_restarts_again(self):
        # Two quick failures, one that ended a healthy minute of streaming, then only quick ones.
        fake = FakeFfmpeg(self.dir, statuses="1", sleep="0,0,61,0")
        r = run_castora([*OFFLINE, "--reconnect", "--ffmpeg", fake.path, *DEST], env=fake.env, timeout=150)
        numbers = [1, 2, 1, 2, 3, 4, 5]
        self.assertEqual((r.status, len(fake.runs())), (1, 8))
        self.assertEqual(without_live_lines(r.stderr), "".join(RESTART.format(1, n) for n in numbers))

    def test_a_stop_asks_ffmpeg_to_finish_then_ends_it(self):
        fake = FakeFfmpeg(self.dir, sleep="60", FAKE_FFMPEG_IGNORE_TERM="1")
        castora = start_castora([*OFFLINE, "--reconnect", "--ffmpeg", fake.path, *DEST], env=fake.env)
        wait_for(fake.started, what="FFmpeg")
        [ffmpeg] = children_of(castora.pid)
        started = time.monotonic()
        castora.send_signal(signal.SIGINT)
        castora.communicate(timeout=30)
        self.assertEqual(castora.returncode, -signal.SIGINT)
        self.assertTrue(9 < time.monotonic() - started < 15, time.monotonic() - started)
        self.assertFalse(alive(ffmpeg))
        self.assertEqual(len(fake.runs()), 1)  # a stop is never taken for a failure to restart

    def test_five_restarts_then_the_last_status_and_one_report(self):
        server = shared_server()
        server.reset()
        server.answer("/castora/report", Answer(200, b"{}"))
        fake = FakeFfmpeg(self.dir, statuses="1,2,3,4,5,6,0")
        started = time.monotonic()
        r = run_castora(["--skip-update-check", "--report-url", server.url("/castora/report"), "--reconnect",
                         "--ffmpeg", fake.path, *DEST], env={**fake.env, **server.env})
        self.assertGreaterEqual(time.monotonic() - started, 14.5)
        self.assertEqual((r.status, without_live_lines(r.stderr)), (6, "".join(RESTART.format(n, n) for n in range(1, 6))))
        runs = fake.runs()
        self.assertEqual(runs, [runs[0]] * 6)
        self.assertEqual(server.reports(), [{
            **REPORT, "event_type": "ffmpeg_error", "exit_code": 6, "phase": "stream",
            "message": "FFmpeg stream process exited with a non-zero code."}])

    def test_recovery_and_an_existing_recording_is_never_overwritten(self):
        fake = FakeFfmpeg(self.dir, statuses="1,1,0")
        # Like FFmpeg, the wrapper writes the recording it is told to write.
        wrapper = os.path.join(self.dir, "records.sh")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\nfor last; do :; done\nrec=${last#*]}\nsleep ${SLOW:-0}\necho take > "${rec%%|*}"\nexec "$FAKE" "$@"\n')
        os.chmod(wrapper, 0o755)
        with open(os.path.join(self.dir, "rec.mkv"), "wb") as f:
            f.write(b"earlier take")
        args = [*OFFLINE, "--reconnect", "--ffmpeg", wrapper, *DEST, "--record-file", "rec.mkv"]
        dry = run_castora([*args, "--dry-run"], cwd=self.dir)
        self.assertIn(" '[f=matroska:onfail=ignore]rec-1.mkv|", dry.stdout)
        r = run_castora(args, env={**fake.env, "FAKE": fake.path}, cwd=self.dir)
        self.assertEqual((r.status, without_live_lines(r.stderr)), (0, "Recording to rec-1.mkv.\n" + RESTART.format(1, 1) +
                                                "Recording to rec-2.mkv.\n" + RESTART.format(1, 2) +
                                                "Recording to rec-3.mkv.\n"))
        self.assertEqual([run[-1].partition("|")[0] for run in fake.runs()],
                         [f"[f=matroska:onfail=ignore]rec-{n}.mkv" for n in (1, 2, 3)])
        with open(os.path.join(self.dir, "rec.mkv"), "rb") as f:
            self.assertEqual(f.read(), b"earlier take")
        # Two launches started together each record into a file of their own.
        os.remove(os.path.join(self.dir, "rec.mkv"))
        slow = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir))
        both = [start_castora([*OFFLINE, "--ffmpeg", wrapper, *DEST, "--record-file", "rec.mkv"],
                              env={**slow.env, "FAKE": slow.path, "SLOW": "1"}, cwd=self.dir) for _ in range(2)]
        self.assertEqual([p.wait(timeout=30) for p in both], [0, 0])
        self.assertEqual(sorted(run[-1].partition("|")[0] for run in slow.runs()),
                         ["[f=matroska:onfail=ignore]rec-4.mkv", "[f=matroska:onfail=ignore]rec.mkv"])

    def test_the_printed_line_runs_the_same_vector_as_a_launch(self):
        cases = [
            [*DEST, "--overlay-title", "It's $HOME `id` \"q\" \\n !x", "--watermark", "50% $(echo hi)"],
            ["--target", "srt://b:1?streamid=#!::r=live/x,m=publish", "--video-input", "", "--audio-input",
             "MacBook Pro Microphone", "--overlay-subtitle", "Grüße 🎉 ünïcödé", "--score-right", "*"],
            [*DEST, "--overlay-title", "first\nsecond", "--score-left", "a\tb", "--no-audio"],
            ["--ingest-url", "rtmp://h/live", "--stream-key", "k|e'y\\z", "--target", "rtmp://t/{stream_key}",
             "--record-file", "rec's take.mkv"],
            ["--ingest-url", "rtmp://h/live", "--stream-key", "line\nfeed"],
            ["--print-devices"],
            ["--ffmpeg", "./ff=mpeg", *DEST, "--video-input", "=cam", "--overlay-title", "=x"],
        ]
        shells = ["/bin/sh"] + (["zsh"] if shutil.which("zsh") else [])
        for options, shell in ((options, shell) for options in cases for shell in shells):
            with self.subTest(options=options, shell=shell), tempfile.TemporaryDirectory() as d:
                fake = FakeFfmpeg(d)
                os.symlink(fake.path, os.path.join(d, "ff=mpeg"))
                args = [*OFFLINE, "--ffmpeg", fake.path, *options]
                dry = run_castora(["--dry-run", *args], cwd=d)
                self.assertEqual(dry.status, 0, dry.stderr)
                env = {**fake.env, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": d}
                pasted = subprocess.run([shell, "-c", printed_command(dry.stdout)], cwd=d, env=env,
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                self.assertEqual(pasted.returncode, 0, pasted.stderr)
                self.assertEqual(run_castora(args, env=fake.env, cwd=d).status, 0)
                runs = fake.runs()
                self.assertEqual((len(runs), runs[0]), (2, runs[1]))
                self.assertEqual(sorted(os.listdir(d)), ["ff=mpeg", "ffmpeg-runs.jsonl"])


if __name__ == "__main__":
    unittest.main()
