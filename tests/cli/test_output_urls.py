"""Output URLs: stream-key joining, length limits, single output, tee list and recording entry."""
import os
import shlex
import tempfile
import unittest

from harness import OFFLINE, FakeFfmpeg, run_castora

PUBLISH_TOO_LONG = "Publish URL is too long.\n"
TARGET_TOO_LONG = "Target URL is too long.\n"
LIST_TOO_LONG = "Multistream target list is too long.\n"
RECORDING_TOO_LONG = "Recording output list is too long.\n"
BAD_RECORDING = "Recording path is invalid or too long.\n"
FLV = "[f=flv:onfail=ignore]"


def sized(prefix, length, suffix=""):
    """A URL of exactly `length` characters."""
    return prefix + "a" * (length - len(prefix) - len(suffix)) + suffix


def targets_for_list(length, mark=""):
    """Sixteen RTMP targets whose unescaped tee list is exactly `length` characters; `mark` goes into the
    first one in place of one of its letters."""
    total = length - 15 - 16 * len(FLV)
    sizes = [total // 16 + (1 if i < total % 16 else 0) for i in range(16)]
    urls = [sized(f"rtmp://h/{i:02d}/", n) for i, n in enumerate(sizes)]
    urls[0] = urls[0][:-1 - len(mark)] + mark + urls[0][-1] if mark else urls[0]
    return [a for url in urls for a in ("--target", url)]


class OutputUrls(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def dry_run(self, args):
        r = run_castora([*args, *OFFLINE, "--dry-run"], cwd=self.dir)
        return r, (shlex.split(r.stdout.splitlines()[-1]) if r.status == 0 else None)

    def check(self, cases):
        """Each case: arguments and either the expected last element or ("error", message)."""
        for args, expected in cases:
            with self.subTest(args=[a[:60] for a in args]):
                r, argv = self.dry_run(args)
                if isinstance(expected, tuple):
                    self.assertEqual((r.status, r.stdout, r.stderr), (2, "", expected[1]))
                else:
                    self.assertEqual((r.status, r.stderr), (0, ""))
                    self.assertEqual(argv[-1], expected)

    def test_stream_key_joining_and_single_output_format(self):
        cases = [  # arguments, format, URL handed to FFmpeg
            (["--ingest-url", "rtmp://h/live", "--stream-key", "k"], "flv", "rtmp://h/live/k"),
            (["--ingest-url", "rtmp://h/live/", "--stream-key", "k"], "flv", "rtmp://h/live/k"),
            (["--ingest-url", "rtmp://h/{stream_key}/x", "--stream-key", "k"], "flv", "rtmp://h/k/x"),
            (["--ingest-url", "rtmp://h/{stream_key}/{stream_key}", "--stream-key", "k"], "flv",
             "rtmp://h/k/{stream_key}"),
            (["--ingest-url", "rtmp://h/live"], "flv", "rtmp://h/live"),
            (["--ingest-url", "rtmp://h/live", "--stream-key", ""], "flv", "rtmp://h/live"),
            (["--ingest-url", "rtmp://h/app/{stream_key}"], "flv", "rtmp://h/app/"),
            (["--ingest-url", "srt://h:9000", "--stream-key", "k"], "mpegts", "srt://h:9000/k"),
            (["--ingest-url", "", "--target", "rtmps://t:443/app"], "flv", "rtmps://t:443/app"),
            (["--target", "rtmp://t/app/{stream_key}", "--stream-key", "k"], "flv", "rtmp://t/app/k"),
            (["--target", "rtmp://t/app", "--stream-key", "k"], "flv", "rtmp://t/app"),
            (["--target", "rtmp://t/{stream_key}"], "flv", "rtmp://t/"),
            (["--target", "srt://b:9000?streamid=x", "--stream-key", "k"], "mpegts", "srt://b:9000?streamid=x"),
            (["--ingest-url", "rtmp://h/live", "--stream-key", "a|b'c\\d"], "flv", "rtmp://h/live/a|b'c\\d"),
        ]
        for args, muxer, url in cases:
            with self.subTest(args=args):
                r, argv = self.dry_run(args)
                self.assertEqual((r.status, r.stderr), (0, ""))
                self.assertEqual(argv[-3:], ["-f", muxer, url])
                self.assertNotIn("-map", argv)
                self.assertNotIn("-flags", argv)

    def test_url_length_limits(self):
        self.check([
            (["--ingest-url", sized("rtmp://h/", 1000), "--stream-key", "k" * 22],
             sized("rtmp://h/", 1000) + "/" + "k" * 22),
            (["--ingest-url", sized("rtmp://h/", 1000), "--stream-key", "k" * 23], ("error", PUBLISH_TOO_LONG)),
            (["--ingest-url", sized("rtmp://h/", 1023)], sized("rtmp://h/", 1023)),
            (["--ingest-url", sized("rtmp://h/", 1024)], ("error", PUBLISH_TOO_LONG)),
            (["--ingest-url", sized("rtmp://h/", 1033, "{stream_key}"), "--stream-key", "kk"],
             sized("rtmp://h/", 1021) + "kk"),
            (["--ingest-url", sized("rtmp://h/", 1034, "{stream_key}"), "--stream-key", "kk"],
             ("error", PUBLISH_TOO_LONG)),
            (["--target", sized("rtmp://t/", 1023)], sized("rtmp://t/", 1023)),
            (["--target", sized("rtmp://t/", 1024)], ("error", TARGET_TOO_LONG)),
            (["--target", sized("rtmp://t/", 1023, "{stream_key}"), "--stream-key", "k" * 12],
             sized("rtmp://t/", 1011) + "k" * 12),
            (["--target", sized("rtmp://t/", 1023, "{stream_key}"), "--stream-key", "k" * 13],
             ("error", TARGET_TOO_LONG)),
            # The stream key is never appended to a target, so its length does not count there.
            (["--target", sized("rtmp://t/", 1023), "--stream-key", "k" * 30], sized("rtmp://t/", 1023)),
        ])

    def test_tee_list(self):
        traced = ["--profile", "low_power_360p", "--scene", "gift_war_scoreboard", "--ingest-url",
                  "rtmp://h/live", "--stream-key", "k", "--target", "srt://b:9000", "--record-file", "rec.mkv"]
        r, argv = self.dry_run(traced)
        self.assertEqual((r.status, r.stderr), (0, ""))
        first_map = argv.index("-map")
        self.assertEqual(argv[first_map - 2:], [
            "-flags", "+global_header", "-map", "0:v:0", "-map", "0:a?", "-f", "tee",
            f"{FLV}rtmp://h/live/k|[f=mpegts:onfail=ignore]srt://b:9000|[f=matroska]rec.mkv"])
        r, argv = self.dry_run(["--target", "rtmp://a/x", "--record-file", "rec.mkv", "--no-audio"])
        self.assertEqual(argv[-7:], ["-flags", "+global_header", "-map", "0:v:0", "-f", "tee",
                                     f"{FLV}rtmp://a/x|[f=matroska]rec.mkv"])
        self.check([
            (["--target", "rtmp://a/x", "--target", "srt://b:1"],
             f"{FLV}rtmp://a/x|[f=mpegts:onfail=ignore]srt://b:1"),
            (["--target", "rtmp://a/x", "--record-file", "Bob's show.mkv"],
             f"{FLV}rtmp://a/x|[f=matroska]Bob\\'s show.mkv"),
            (["--target", "rtmp://a/x", "--record-file", "a\\b[1.mkv"],
             f"{FLV}rtmp://a/x|[f=matroska]a\\\\b[1.mkv"),
            (["--ingest-url", "rtmp://h/live", "--stream-key", "a|b", "--target", "rtmp://t/x"],
             f"{FLV}rtmp://h/live/a\\|b|{FLV}rtmp://t/x"),
            (["--ingest-url", "rtmp://h/{stream_key}", "--stream-key", "it's\\", "--record-file", "r.mkv"],
             f"{FLV}rtmp://h/it\\'s\\\\|[f=matroska]r.mkv"),
            (["--target", "rtmp://t/o'k", "--target", "rtmp://t/{stream_key}", "--stream-key", "x|y"],
             f"{FLV}rtmp://t/o\\'k|{FLV}rtmp://t/x\\|y"),
        ])

    def test_recording_path_checks(self):
        # The path is checked before any destination is looked at.
        for path in ("a|b.mkv", "a]b.mkv", "a\nb.mkv", "a\rb.mkv", "r" * 1024):
            with self.subTest(path=path[:20]):
                r = run_castora(["--record-file", path, *OFFLINE, "--dry-run"], cwd=self.dir)
                self.assertEqual((r.status, r.stdout, r.stderr), (2, "", BAD_RECORDING))
        self.check([(["--target", "rtmp://a/x", "--record-file", "r" * 1023],
                     f"{FLV}rtmp://a/x|[f=matroska]" + "r" * 1023),
                    (["--target", "rtmp://a/x", "--record-file", ""], "rtmp://a/x")])

    def test_tee_list_length_limit_counts_escaped_text(self):
        fits = targets_for_list(16363)
        for args, length, message in ((targets_for_list(16383), 16383, None),
                                      (targets_for_list(16384), None, LIST_TOO_LONG),
                                      (targets_for_list(16382, mark="'"), 16383, None),
                                      (targets_for_list(16383, mark="'"), None, LIST_TOO_LONG),
                                      ([*fits, "--record-file", "abcdefg"], 16383, None),
                                      ([*fits, "--record-file", "abcdefgh"], None, RECORDING_TOO_LONG),
                                      ([*fits, "--record-file", "ab'defg"], None, RECORDING_TOO_LONG)):
            with self.subTest(length=length, message=message, record="--record-file" in args):
                r, argv = self.dry_run(args)
                if message:
                    self.assertEqual((r.status, r.stdout, r.stderr), (2, "", message))
                else:
                    self.assertEqual((r.status, r.stderr, len(argv[-1])), (0, "", length))

    def test_real_launch_passes_the_operand_unchanged(self):
        fake = FakeFfmpeg(self.dir)
        for args, operand in ((["--ingest-url", "rtmp://h/live", "--stream-key", "a|b"], "rtmp://h/live/a|b"),
                              (["--target", "srt://b:1", "--record-file", "o'k.mkv"],
                               "[f=mpegts:onfail=ignore]srt://b:1|[f=matroska]o\\'k.mkv")):
            with self.subTest(args=args):
                r = run_castora([*args, *OFFLINE, "--ffmpeg", fake.path], env=fake.env, cwd=self.dir)
                self.assertEqual(r.status, 0)
                self.assertEqual(fake.runs()[-1][-1], operand)


if __name__ == "__main__":
    unittest.main()
