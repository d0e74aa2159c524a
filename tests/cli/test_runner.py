"""Running FFmpeg (a fake one): exit statuses, the reconnect policy, stops, recording names, and the dry-run line as a
faithful shell rendering (sh and zsh) of the vector that a real launch runs."""
import glob
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import (CASTORA, DEST, FAKE_FFMPEG, OFFLINE, REPORT, Answer, Background, Bridge, FakeFfmpeg, alive,
                     castora_env, children_of, read, require_tools, run_castora, shared_server, wait_for,
                     without_live_lines, write)

RESTART = "Brevalo stream process exited with code {}. Restarting in 3 seconds ({}/5).\n"


class Runner(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="castora-runner-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def test_status_of_one_run(self):
        # The default executable "ffmpeg" is searched on the executable search path.
        os.mkdir(os.path.join(self.dir, "bin"))
        os.symlink(FAKE_FFMPEG, os.path.join(self.dir, "bin", "ffmpeg"))
        missing = "Failed to run /nonexistent/ffmpeg: No such file or directory\n"
        for ffmpeg, statuses, status, stderr, runs in (
                ([], "7", 7, "", 1), (["--ffmpeg", FAKE_FFMPEG], "kill", 1, "", 1),
                (["--ffmpeg", "/nonexistent/ffmpeg", "--record-file", "rec.mkv"], "0", 127, missing, 0),
                (["--ffmpeg", "/nonexistent/ffmpeg", "--reconnect", "--print-devices"], "0", 127, missing, 0)):
            with self.subTest(statuses=statuses, ffmpeg=ffmpeg):
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), statuses=statuses)
                r = run_castora([*OFFLINE, *ffmpeg, *DEST], env={**fake.env, "PATH": self.dir + "/bin:/usr/bin:/bin"},
                                cwd=self.dir)
                self.assertEqual((r.status, without_live_lines(r.stderr), len(fake.runs())), (status, stderr, runs))
                self.assertNotIn("rec.mkv", os.listdir(self.dir))  # a reservation nothing was written to

    def test_a_camera_that_captures_its_default_mode_is_named_and_its_remembered_mode_forgotten(self):
        cache = os.path.join(self.dir, "cache", "castora")
        os.makedirs(cache, mode=0o700)
        memory = write(os.path.join(cache, "camera-modes"), "640x480@30\t854x480@30\t0\n1280x720@30\t640x360@24\t0\n")
        os.chmod(memory, 0o600)
        fake = FakeFfmpeg(self.dir, FAKE_FFMPEG_STDERR="[in#0 @ 0x1] Configuration of video device failed, falling "
                                                       "back to default.\nframe=    1\n")
        r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST], env={**fake.env, "XDG_CACHE_HOME": self.dir + "/cache"})
        self.assertEqual((r.status, fake.runs()[0][6:10]), (0, ["-framerate", "30", "-video_size", "640x480"]))
        self.assertIn("Live: the camera did not take 640x480 at 30 fps and captures in its default mode; the picture "
                      "is still sent as 854x480 at 30 fps.\n", r.stderr)
        self.assertEqual(read(memory), b"1280x720@30\t640x360@24\t0\n")

    def test_the_end_summary_gives_the_recording_size_at_the_end(self):
        # The recording grows after the last periodic look; the summary looks once more.
        fake = FakeFfmpeg(self.dir, FAKE_FFMPEG_STDERR="frame=    1\n",
                          FAKE_FFMPEG_RECORDS=os.path.join(self.dir, "rec.mkv") + ",2500000")
        r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST, "--record-file", "rec.mkv"], env=fake.env,
                        cwd=self.dir)
        self.assertEqual(r.status, 0)
        self.assertIn("Live: the recording rec.mkv holds 2.5 MB.\n", r.stderr)

    def test_a_queue_that_overflows_names_the_upload_with_audio_only_when_audio_is_sent(self):
        for options, each in (([], "964 kb/s"), (["--no-audio"], "900 kb/s")):
            with self.subTest(options=options):
                fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir),
                                  FAKE_FFMPEG_STDERR="frame=    1\n[fifo @ 0xA] FIFO queue full\n")
                r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST, "--profile", "low_power_360p", *options],
                                env=fake.env, cwd=self.dir)
                self.assertIn(f"Live: a:1935 is not keeping up; frames for it are dropped. This launch needs about "
                              f"{each} of upload (1 destination x {each}): check this connection's upload.\n",
                              r.stderr)

    def test_five_restarts_in_a_row_then_the_last_status_and_one_report(self):
        server = shared_server()
        server.reset()
        server.answer("/castora/report", Answer(200, b"{}"))
        fake = FakeFfmpeg(self.dir, statuses="1,2,3,4,5,6,0")
        r = run_castora(["--skip-update-check", "--report-url", server.url("/castora/report"), "--reconnect",
                         "--ffmpeg", fake.path, *DEST], env={**fake.env, **server.env})
        self.assertEqual((r.status, without_live_lines(r.stderr)), (6, "".join(RESTART.format(n, n) for n in range(1, 6))))
        self.assertEqual(fake.runs(), [fake.runs()[0]] * 6)
        self.assertEqual(server.reports(), [{**REPORT, "event_type": "ffmpeg_error", "exit_code": 6, "phase": "stream",
                                             "message": "FFmpeg stream process exited with a non-zero code."}])

    def test_a_stop_asks_ffmpeg_to_finish_then_ends_it(self):
        # Asked after a second, FFmpeg finishes; one that does not is killed after ten.
        for ignores_term, within in ((False, (0.9, 2.5)), (True, (9, 15))):
            fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), sleep="60", **(
                {"FAKE_FFMPEG_IGNORE_TERM": "1"} if ignores_term else {}))
            castora = Background([*OFFLINE, "--reconnect", "--ffmpeg", fake.path, *DEST, "--record-file", "rec.mkv"],
                                 env=fake.env, cwd=self.dir)
            self.addCleanup(castora.stop)
            wait_for(fake.runs, what="FFmpeg")
            [ffmpeg] = children_of(castora.pid)
            started = time.monotonic()
            castora.send_signal(signal.SIGINT)
            self.assertEqual(castora.wait(timeout=30), -signal.SIGINT)
            self.assertTrue(within[0] < time.monotonic() - started < within[1] and not alive(ffmpeg),
                            time.monotonic() - started)
            self.assertEqual(len(fake.runs()), 1)  # a stop is never taken for a failure to restart
            self.assertNotIn("rec.mkv", os.listdir(self.dir))  # nothing was written to the reserved recording
        # Started with its standard descriptors closed, castora has them on /dev/null before it opens anything.
        fake = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir), FAKE_FFMPEG_FDS="1")
        closed = subprocess.run(["sh", "-c", 'exec "$0" "$@" <&- >&- 2>&-', CASTORA, *OFFLINE, "--ffmpeg", fake.path,
                                 *DEST], env=castora_env(fake.env), timeout=30)
        self.assertEqual((closed.returncode, fake.lines(".fds")), (0, ["0 1"]))  # its standard error goes to castora

    def test_the_ffmpeg_is_asked_once_per_build_and_what_it_surely_lacks_stops_the_launch(self):
        fake = FakeFfmpeg(self.dir, copy=True, FAKE_FFMPEG_LACKS="drawtext srt")
        cache = os.path.join(self.dir, "cache")
        launch = lambda *options, **env: run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST, *options], cwd=self.dir,
                                                      env={**fake.env, "XDG_CACHE_HOME": cache, **env})
        lacks = f"The FFmpeg at {fake.path} (9.9-fake) lacks what this stream needs:\n  the drawtext filter, for text overlays\n"
        for step, change, asked in (("cold", None, 6), ("warm", None, 6), ("writable by others", 0o646, 12),
                                    ("corrupt", b"castora", 18), ("elsewhere", None, 24)):
            with self.subTest(step):
                entries = glob.glob(os.path.join(cache, "castora", "ffmpeg-*"))
                os.chmod(entries[0], change) if isinstance(change, int) else change and write(entries[0], change)
                r = launch() if step != "elsewhere" else launch("--check-ffmpeg")
                self.assertEqual((r.status, len(fake.asked()), fake.runs()), (2, asked, []))
                self.assertTrue(r.stderr.startswith(lacks) if step != "elsewhere" else
                                "  missing  srt                protocol      SRT destinations (not used by this "
                                "launch)\n  ok       file " in r.stdout and "text overlays\n" in r.stdout)
                [entry] = glob.glob(os.path.join(cache, "castora", "ffmpeg-*"))
                self.assertEqual([os.stat(path).st_mode & 0o777 for path in (entry, os.path.dirname(entry))], [0o600, 0o700])
        os.utime(fake.path, ns=(1, 1))  # a new build is asked again; this one has everything
        self.assertEqual((launch(FAKE_FFMPEG_LACKS="").status, len(fake.asked()), len(fake.runs())), (0, 30, 1))
        # Without an absolute XDG_CACHE_HOME the cache is in the home folder.
        launch(XDG_CACHE_HOME="cache", HOME=os.path.join(self.dir, "home"))
        self.assertEqual(len(glob.glob(os.path.join(self.dir, "home", ".cache", "castora", "ffmpeg-*"))), 1)

    def test_only_settled_answers_are_kept_and_a_check_leaves_the_next_launch_its_answer(self):
        fake = FakeFfmpeg(self.dir, copy=True)
        cache = os.path.join(self.dir, "cache")
        def entries():  # what the cache keeps of the fake: "not ffmpeg", "lacks" (drawtext) or "complete"
            kept = [read(path).decode().splitlines()[-3:-1] for path in glob.glob(cache + "/castora/ffmpeg-*")]
            return [kind if kind == "not ffmpeg" else "complete" if "drawtext" in has else "lacks" for kind, has in kept]
        lacks = ["lacks"]
        for step, (mode, env, status, asked, kept) in enumerate((  # what is asked, the status, questions, cache entry
                ("launch", {"FAKE_FFMPEG_LACKS": "drawtext"}, 2, 6, lacks),
                # A check whose answers settle nothing leaves no earlier verdict behind.
                ("check", {"FAKE_FFMPEG_LACKS": "", "FAKE_FFMPEG_FAILS": "-filters"}, 2, 6, []),
                ("launch", {"FAKE_FFMPEG_LACKS": ""}, 0, 6, ["complete"]),
                # A check's answer serves the next launch, which asks nothing.
                ("check", {"FAKE_FFMPEG_LACKS": "drawtext"}, 2, 6, lacks),
                ("launch", {"FAKE_FFMPEG_LACKS": ""}, 2, 0, lacks),
                # A launch whose listing fails once goes live and keeps no verdict; the next one asks again.
                ("change", {"FAKE_FFMPEG_LACKS": "", "FAKE_FFMPEG_FAILS": "-muxers"}, 0, 6, []),
                ("launch", {"FAKE_FFMPEG_LACKS": "", "FAKE_FFMPEG_ASK_SLEEP": "6"}, 0, 6, []),
                ("launch", {}, 0, 0, ["not ffmpeg"]),  # a program that answers -version without the banner
                ("launch", {"FAKE_FFMPEG_LACKS": ""}, 0, 0, ["not ffmpeg"]),
                # The same size and modification time, rewritten: its change time tells it is another build.
                ("change", {"FAKE_FFMPEG_LACKS": "drawtext"}, 2, 6, lacks))):
            with self.subTest(step=step, mode=mode, env=env):
                if mode == "change":
                    before = os.stat(fake.path)
                    with open(fake.path, "r+b") as f:
                        content = f.read()
                        f.seek(0)
                        f.write(content)
                    os.utime(fake.path, ns=(before.st_atime_ns, before.st_mtime_ns))
                    self.assertEqual(os.stat(fake.path).st_size, before.st_size)
                asked_before = len(fake.asked())
                r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST, *(["--check-ffmpeg"] if mode == "check" else [])],
                                env={**fake.env, "XDG_CACHE_HOME": cache, **env}, cwd=self.dir)
                self.assertEqual((r.status, len(fake.asked()) - asked_before, entries()), (status, asked, kept), r)
        self.assertIn("could not be checked: its -filters listing failed. Nothing is kept", run_castora(
            ["--check-ffmpeg", "--ffmpeg", fake.path], env={**fake.env, "XDG_CACHE_HOME": cache, "FAKE_FFMPEG_LACKS": "",
                                                            "FAKE_FFMPEG_FAILS": "-filters"}).stdout)

    def test_asking_ffmpeg_neither_holds_a_launch_nor_outlives_a_stop(self):
        fake = FakeFfmpeg(self.dir, copy=True, FAKE_FFMPEG_LACKS="drawtext", FAKE_FFMPEG_ASK_SLEEP="30")
        castora = Background([*OFFLINE, "--ffmpeg", fake.path, *DEST, "--record-file", "rec.mkv"], env=fake.env,
                             cwd=self.dir)
        self.addCleanup(castora.stop)
        wait_for(lambda: len(fake.asked()) == 6 and len(children_of(castora.pid)) == 6, what="the questions")
        asking = children_of(castora.pid)
        stopped = time.monotonic()
        castora.send_signal(signal.SIGINT)
        self.assertEqual(castora.wait(), -signal.SIGINT)
        self.assertTrue(time.monotonic() - stopped < 3 and not any(alive(pid) for pid in asking))
        fake.env["FAKE_FFMPEG_ASK_SLEEP"] = "8"  # no answer in time: no finding, started as it is
        started = time.monotonic()
        r = run_castora([*OFFLINE, "--ffmpeg", fake.path, *DEST], env=fake.env, cwd=self.dir)
        self.assertEqual((r.status, len(fake.runs()), sorted(os.listdir(self.dir))),
                         (0, 1, ["ffmpeg", "ffmpeg-runs.jsonl", "ffmpeg-runs.jsonl.asked"]))
        self.assertTrue(5 <= time.monotonic() - started < 8)

    def test_an_existing_or_a_concurrent_recording_is_never_overwritten(self):
        fake = FakeFfmpeg(self.dir, statuses="1,1,0")
        # Like FFmpeg, the wrapper writes the recording it is told to write (the tee list's first entry).
        wrapper = os.path.join(self.dir, "records.sh")
        write(wrapper, '#!/bin/sh\nfor last; do :; done\ncase $last in -*) exit;; esac\nrec=${last#*]}\nsleep ${SLOW:-0}\n'
                       'echo take > "${rec%%|*}"\n'
                       'echo frame= >&2\nexec "$FAKE" "$@"\n')
        os.chmod(wrapper, 0o755)
        write(os.path.join(self.dir, "rec.mkv"), b"earlier take")
        args = [*OFFLINE, "--ffmpeg", wrapper, *DEST, "--target", "rtmp://a/y", "--record-file", "rec.mkv"]
        self.assertIn(" '[f=matroska:onfail=ignore]rec-1.mkv|", run_castora([*args, "--dry-run"], cwd=self.dir).stdout)
        r = run_castora([*args, "--reconnect"], env={**fake.env, "FAKE": fake.path}, cwd=self.dir)
        takes = "".join(f"Recording to rec-{n}.mkv.\n" + RESTART.format(1, n) for n in (1, 2)) + "Recording to rec-3.mkv.\n"
        self.assertEqual((r.status, without_live_lines(r.stderr).replace("frame=\n", "")), (0, takes))
        self.assertEqual([run[-1].partition("|")[0] for run in fake.runs()],
                         [f"[f=matroska:onfail=ignore]rec-{n}.mkv" for n in (1, 2, 3)])
        self.assertEqual(read(os.path.join(self.dir, "rec.mkv")), b"earlier take")
        self.assertIn("Live: streaming to 2 destinations (a:1935, a:1935 (2)), recording to rec-1.mkv; this needs about "
                      "3.4 Mb/s of upload.\n", r.stderr)
        # The reserved name gets the mode any new file gets, as FFmpeg's own would.
        self.assertEqual(*(os.stat(os.path.join(self.dir, name)).st_mode for name in ("rec.mkv", "rec-1.mkv")))
        # Two launches started together each record into a file of their own.
        os.remove(os.path.join(self.dir, "rec.mkv"))
        slow = FakeFfmpeg(tempfile.mkdtemp(dir=self.dir))
        both = [Background(args, env={**slow.env, "FAKE": slow.path, "SLOW": "1"}, cwd=self.dir) for _ in range(2)]
        self.assertEqual([castora.wait() for castora in both], [0, 0])
        self.assertEqual(sorted(run[-1].partition("|")[0] for run in slow.runs()),
                         ["[f=matroska:onfail=ignore]rec-4.mkv", "[f=matroska:onfail=ignore]rec.mkv"])

    def test_the_printed_line_runs_the_same_vector_as_a_launch(self):
        cases = [["--target", "srt://b:1?streamid=#!::r=live/x,m=publish", "--overlay-title", "It's $HOME `id` \"q\" "
                  "\\n !x", "--watermark", "50% $(echo hi) 🎉", "--audio-input", "Pro Mic", "--score-right", "*"],
                 ["--ingest-url", "rtmp://h/live", "--stream-key", "k|e'y\\z\nfeed", "--target", "rtmp://t/{stream_key}",
                  "--record-file", "rec's take.mkv", "--score-left", "a\tb"], ["--print-devices", "--video-input", ""],
                 ["--ffmpeg", "./ff=mpeg", *DEST, "--video-input", "=cam", "--overlay-title", "=x"]]
        for options, shell in ((options, shell) for options in cases for shell in ("sh", "zsh") if shutil.which(shell)):
            with self.subTest(options=options, shell=shell), tempfile.TemporaryDirectory() as d:
                fake = FakeFfmpeg(d)
                os.symlink(fake.path, os.path.join(d, "ff=mpeg"))
                args = [*OFFLINE, "--ffmpeg", fake.path, *options]
                dry = run_castora(["--dry-run", *args], cwd=d)
                self.assertEqual(dry.status, 0, dry.stderr)
                # The command is the last line, unless an element holds a line feed itself.
                command = dry.stdout.split("\n", 1)[1] if dry.stdout.startswith("Brevalo Castora") else dry.stdout
                pasted = subprocess.run([shell, "-c", command[:-1]], cwd=d, stdin=subprocess.DEVNULL, timeout=30,
                                        env={**fake.env, "PATH": os.environ.get("PATH", ""), "HOME": d})
                self.assertEqual((pasted.returncode, run_castora(args, env=fake.env, cwd=d).status), (0, 0))
                runs = fake.runs()
                self.assertEqual((len(runs), runs[0]), (2, runs[1]))
                self.assertEqual(sorted(os.listdir(d)), ["ff=mpeg", "ffmpeg-runs.jsonl"])

    def test_hostile_bridges_texts_and_overlay_files_each_get_a_message_while_the_stream_goes_on(self):
        bridge = "Live: the automation bridge "
        unusable = "Live: an answer of the automation bridge cannot be used: it is {}; nothing of it was applied.\n"
        refused = "Live: the automation bridge's action {} for {} was refused: {}.\n"
        overlay_file = "Live: the overlay file {} cannot be read: {}; the overlays keep their texts.\n"
        os.mkfifo(os.path.join(self.dir, "fifo"))
        os.symlink("/dev/zero", os.path.join(self.dir, "zero"))
        write(os.path.join(self.dir, "overlays.txt"), "watermark=Ours\n")
        action = lambda n, overlay, text, kind="overlay_event": {"id": str(n), "action": kind, "overlay": overlay,
                                                                  "text": text}
        cases = {  # bridge, options, what castora says (each once)
            "held 30 s": (Bridge(hold=40), [], [bridge + "cannot be reached: it gave no answer within 28 s; castora "
                                                         "keeps asking.\n"]),
            "10 MB": (Bridge(answer=b"x" * 10_000_000), [], [unusable.format("larger than 64 KiB")]),
            "bad UTF-8": (Bridge(answer=b'{"actions":[{"id":"1","action":"x","text":"\xff"}]}'), [],
                          [unusable.format("not JSON")]),
            "raw control": (Bridge(answer=b'{"actions":[{"id":"1","action":"x","text":"\x07"}]}'), [],
                            [unusable.format("not JSON")]),
            "line feed in token": (Bridge(), ["--automation-token", "a\nb"], [
                "Live: the automation token holds a line break or another control character, which no HTTP header can "
                "carry; the automation bridge is not asked.\n"]),
            "a directory": (None, ["--overlay-file", self.dir], [overlay_file.format(self.dir, "it is a directory")]),
            "a FIFO": (None, ["--overlay-file", "fifo"], [overlay_file.format("fifo", "it is a FIFO")]),
            "/dev/zero": (None, ["--overlay-file", "zero"], [overlay_file.format("zero", "it is a character device")]),
            "texts": (Bridge(), ["--automation-token", "a\"b'c", "--overlay-file", "overlays.txt"], [
                refused.format(3, "score_left", "longer than 255 bytes"), refused.format(5, "../x", "unknown overlay"),
                overlay_file.format("overlays.txt", "No such file or directory"),
                "Live: the overlay file overlays.txt can be read again.\n"])}
        fake = FakeFfmpeg(self.dir, sleep="60")
        running = {name: Background([*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/" + name.replace(" ", "_"),
                                     "--live-overlays", "--scene", "game_battle", *(bridge.options() if bridge else []),
                                     *options], env=fake.env, cwd=self.dir) for name, (bridge, options, _) in cases.items()}
        for name, castora in running.items():
            self.addCleanup(castora.stop)
            if cases[name][0]:
                self.addCleanup(cases[name][0].stop)
        wait_for(lambda: len(fake.runs()) == len(cases), what="every stream")
        texts = cases["texts"][0]
        texts.send(action(2, "score_left", "A\x1b[2J\tb\nc"), action(3, "score_left", "x" * 10240),
                   action(4, "score_right", "%{pts} it's: a\\b\nc"), action(5, "../x", "y"), action(6, "", "", "webhook"))
        [chain] = [run[run.index("-vf") + 1] for run in fake.runs() if run[-1] == "rtmp://a/texts"]
        folder = os.path.dirname(chain.split("drawtext=textfile=")[1].split(":")[0])
        self.assertEqual(os.path.dirname(folder), running["texts"].tmpdir)  # D39: the run folder is under its TMPDIR
        wait_for(lambda: read(folder + "/score_right.txt") == b"%{pts} it's: a\\bc", what="the texts")
        os.remove(os.path.join(self.dir, "overlays.txt"))
        wait_for(lambda: overlay_file.format("overlays.txt", "No such file or directory") in running["texts"].stderr)
        write(os.path.join(self.dir, "overlays.txt"), "watermark=Back\n")
        wait_for(lambda: read(folder + "/watermark.txt") == b"Back", what="the file again")
        self.assertEqual((read(folder + "/score_left.txt"), texts.headers[0]["Authorization"]), (b"A[2Jbc", "Bearer a\"b'c"))
        for name, castora in running.items():
            with self.subTest(name):
                wait_for(lambda: all(line in castora.stderr for line in cases[name][2]), 35, what=name)
                castora.send_signal(signal.SIGINT)
                self.assertEqual(castora.wait(), -signal.SIGINT)
                self.assertEqual([castora.stderr.count(line) for line in cases[name][2]], [1] * len(cases[name][2]))
        self.assertEqual(texts.acks, [{"id": "2", "status": "applied"}, {"id": "3", "status": "rejected", "reason":
                                       "longer than 255 bytes"}, {"id": "4", "status": "applied"}, {"id": "5", "status":
                                       "rejected", "reason": "unknown overlay"}, {"id": "6", "status": "rejected",
                                       "reason": "unsupported action"}])
        self.assertEqual((sorted(os.listdir(self.dir)), cases["line feed in token"][0].headers, os.path.exists(folder),
                          os.listdir(running["texts"].tmpdir)), (["ffmpeg-runs.jsonl", "fifo", "overlays.txt", "zero"],
                                                                  [], False, []))


    def test_a_bridge_that_repeats_its_actions_gets_each_applied_once_and_a_line_a_second_at_most(self):
        def answer(actions):
            return json.dumps({"actions": actions}, separators=(",", ":")).encode()
        event = lambda n, overlay, text: {"id": str(n), "action": "overlay_event", "overlay": overlay, "text": text}
        cases = {  # the answer to every poll, what castora says of it (each once)
            "900 refused": (answer([event(n, "x", "") for n in range(900)]), [
                "Live: the automation bridge's action 0 for x was refused: unknown overlay.\n",
                "Live: 899 more actions of the automation bridge were refused: unknown overlay (899); the last was "
                "action 899 for x.\n"]),
            "20 repeated": (answer([event(n, "score_left", str(n)) for n in range(1, 21)]),
                            ['Live: score_left changed 20 times, now "20".\n']),
            "2,400 unsupported": (answer([{"id": str(n), "action": "x"} for n in range(2400)]), [
                "Live: the automation bridge sends actions faster than castora can acknowledge them: 1024 "
                "acknowledgements wait, and the others are sent when the bridge sends their actions again.\n"])}
        fake = FakeFfmpeg(self.dir, sleep="60")
        bridges = {name: Bridge(answer=body) for name, (body, _) in cases.items()}
        running = {name: Background([*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/x", "--scene", "game_battle",
                                     "--live-overlays", *bridges[name].options()], env=fake.env, cwd=self.dir)
                   for name in cases}
        for name in cases:
            self.addCleanup(running[name].stop)
            self.addCleanup(bridges[name].stop)
        wait_for(lambda: all(line in running[name].stderr for name in cases for line in cases[name][1]), 30,
                 what="the lines")
        time.sleep(2)  # the bridges go on repeating their actions
        for name, castora in running.items():
            with self.subTest(name):
                castora.send_signal(signal.SIGINT)
                self.assertEqual(castora.wait(), -signal.SIGINT)
                live = [line + "\n" for line in castora.stderr.splitlines()
                        if line.startswith("Live: ") and not line.startswith("Live: FFmpeg's log")]
                self.assertEqual(live, [*cases[name][1], "Live: a:1935 never received the stream.\n"])
                # Repeats are no news: asked again every half second, not at once.
                self.assertLess(bridges[name].polls, 20)
        acks = bridges["20 repeated"].acks
        self.assertEqual(acks[:20], [{"id": str(n), "status": "applied"} for n in range(1, 21)])
        # One at a time, in order, each once while it waits.
        ids = [ack["id"] for ack in bridges["2,400 unsupported"].acks]
        self.assertEqual(ids[:1024], [str(n) for n in range(min(len(ids), 1024))])

    def test_a_full_disk_refuses_each_change_with_its_reason_and_the_same_change_is_taken_once_there_is_room(self):
        # castora's TMPDIR is a 64 KiB tmpfs of its own, in mount and user namespaces of its own (no privilege needed).
        require_tools("unshare")
        if subprocess.run(["unshare", "-rm", "true"], capture_output=True).returncode != 0:
            self.skipTest("unshare cannot make a user namespace here")
        in_own_tmpfs = ['-rm', 'sh', '-c', 'mount -t tmpfs -o size=64k castora-test "$TMPDIR" && '
                        '{ [ -z "$FILL" ] || cat /dev/zero > "$TMPDIR/fill"; } 2>/dev/null; exec "$0" "$@"', CASTORA]
        bridge = Bridge()
        self.addCleanup(bridge.stop)
        overlays = write(os.path.join(self.dir, "overlays.txt"), "watermark=Ours\n")
        fake = FakeFfmpeg(self.dir, sleep="60")
        args = [*OFFLINE, "--ffmpeg", fake.path, *DEST, "--scene", "game_battle", "--overlay-file", overlays,
                *bridge.options()]
        full = "could not be written: No space left on device"
        # Full from the start: nothing goes live, and nothing claims a text is shown.
        castora = Background([*in_own_tmpfs, *args], env={**fake.env, "FILL": "1"}, program="unshare")
        self.addCleanup(castora.stop)
        self.assertEqual(castora.wait(), 2)
        self.assertRegex(castora.stderr, r"^Live: the text of overlay_title could not be written in .*/castora-run-\w+: "
                                         r"No space left on device; the stream does not start.\n")
        self.assertEqual(fake.runs(), [])
        # Full while live: each change is refused with the reason and said with what the picture still shows.
        castora = Background([*in_own_tmpfs, *args], env=fake.env, program="unshare")
        self.addCleanup(castora.stop)
        wait_for(fake.runs, what="FFmpeg")
        chain = fake.runs()[0][fake.runs()[0].index("-vf") + 1]
        folder = f"/proc/{castora.pid}/root" + os.path.dirname(chain.split("drawtext=textfile=")[1].split(":")[0])
        filler = os.path.join(folder, "..", "fill")
        with open(filler, "wb", buffering=0) as f:
            with self.assertRaises(OSError):
                while True:
                    f.write(b"\0" * 4096)
        action = lambda n: {"id": str(n), "action": "overlay_event", "overlay": "score_right", "text": "DURING-FULL"}
        bridge.send(action(1))
        write(overlays, "score_left=FULL-TOO\n")
        wait_for(lambda: bridge.acks and 'score_left could not be written: No space left on device; the picture still '
                                          'shows "Team A 0".' in castora.stderr)
        self.assertEqual(bridge.acks, [{"id": "1", "status": "rejected", "reason": full}])
        time.sleep(1.5)  # the overlay file is tried again, and said once
        shown = lambda: [read(os.path.join(folder, name)) for name in ("score_left.txt", "score_right.txt")]
        self.assertEqual(shown(), [b"Team A 0", b"Team B 0"])
        self.assertEqual(castora.stderr.count(f"overlays.txt, line 1: score_left: {full}; it keeps its text.\n"), 1)
        self.assertNotIn("is now", castora.stderr)
        # With room again the same change is taken: sent again, and from the unchanged overlay file.
        os.remove(filler)
        bridge.send(action(2))
        wait_for(lambda: len(bridge.acks) == 2 and 'score_left is now "FULL-TOO"' in castora.stderr)
        self.assertEqual(bridge.acks[1], {"id": "2", "status": "applied"})
        self.assertEqual(shown(), [b"FULL-TOO", b"DURING-FULL"])
        wait_for(lambda: 'score_right is now "DURING-FULL"' in castora.stderr)
        castora.send_signal(signal.SIGINT)
        self.assertEqual(castora.wait(), -signal.SIGINT)


class MinuteLong(unittest.TestCase):
    def test_a_healthy_run_starts_the_count_of_restarts_again(self):
        # Two quick failures, one that ended a healthy minute of streaming, then only quick ones.
        fake = FakeFfmpeg(tempfile.mkdtemp(prefix="castora-runner-"), statuses="1", sleep="0,0,61,0")
        self.addCleanup(shutil.rmtree, os.path.dirname(fake.log))
        r = run_castora([*OFFLINE, "--reconnect", "--ffmpeg", fake.path, *DEST], env=fake.env, timeout=150)
        self.assertEqual((r.status, len(fake.runs())), (1, 8))
        self.assertEqual(without_live_lines(r.stderr), "".join(RESTART.format(1, n) for n in [1, 2, 1, 2, 3, 4, 5]))


if __name__ == "__main__":
    unittest.main()
