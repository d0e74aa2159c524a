"""Output URLs: the single output, the tee list with its escaping, the recording entry and the limits."""
import unittest

from harness import dry_run

FLV = "[f=flv:onfail=ignore]"
BAD_RECORDING = "Recording path is invalid or too long.\n"


def targets_for_list(length, mark=""):
    """Sixteen RTMP targets whose unescaped tee list is exactly `length` characters; `mark` replaces the
    last-but-one character of the first."""
    total = length - 15 - 16 * len(FLV)
    urls = [f"rtmp://h/{i:02d}/".ljust(total // 16 + (i < total % 16), "a") for i in range(16)]
    urls[0] = urls[0][:-1 - len(mark)] + mark + urls[0][-1]
    return [a for url in urls for a in ("--target", url)]


class OutputUrls(unittest.TestCase):
    def test_single_output_and_tee_list(self):
        traced = ["--profile", "low_power_360p", "--scene", "gift_war_scoreboard", "--ingest-url",
                  "rtmp://h/live", "--stream-key", "k", "--target", "srt://b:9000", "--record-file", "rec.mkv"]
        r, argv = dry_run(traced)
        self.assertEqual((r.status, r.stderr), (0, ""))
        self.assertEqual(argv[argv.index("-map") - 2:], [
            "-flags", "+global_header", "-map", "0:v:0", "-map", "0:a?", "-f", "tee",
            f"{FLV}rtmp://h/live/k|[f=mpegts:onfail=ignore]srt://b:9000|[f=matroska]rec.mkv"])
        key = ["--stream-key", "a|b'c\\d"]
        cases = [  # a single output passes as it is, with its own muxer; tee entries are escaped
            (["--ingest-url", "rtmp://h/live", *key], ["-f", "flv", "rtmp://h/live/a|b'c\\d"]),
            (["--target", "srt://b:9000?streamid=x", *key], ["-f", "mpegts", "srt://b:9000?streamid=x"]),
            (["--ingest-url", "rtmp://h/live", "--target", "rtmp://t/{stream_key}", *key],
             ["-f", "tee", f"{FLV}rtmp://h/live/a\\|b\\'c\\\\d|{FLV}rtmp://t/a\\|b\\'c\\\\d"]),
            (["--target", "rtmp://a/x", "--record-file", "Bob's show.mkv"],
             ["-f", "tee", f"{FLV}rtmp://a/x|[f=matroska]Bob\\'s show.mkv"]),
        ]
        for args, tail in cases:
            with self.subTest(args=args):
                r, argv = dry_run(args)
                self.assertEqual((r.status, r.stderr, argv[-3:]), (0, "", tail))
                self.assertEqual("-map" in argv, tail[1] == "tee")

    def test_refused_recording_paths(self):
        # The path is checked before any destination is looked at.
        for path in ("a]b.mkv", "a\nb.mkv", "a\rb", "r" * 1024):
            with self.subTest(path=path[:20]):
                self.assertEqual(dry_run(["--record-file", path])[0], (2, "", BAD_RECORDING))

    def test_tee_list_limit_counts_the_escaped_text(self):
        fits, too_long = targets_for_list(16363), "Multistream target list is too long.\n"
        for args, length, message in ((targets_for_list(16383), 16383, None),
                                      (targets_for_list(16384), None, too_long),
                                      (targets_for_list(16382, mark="'"), 16383, None),
                                      (targets_for_list(16383, mark="'"), None, too_long),
                                      ([*fits, "--record-file", "abcdefg"], 16383, None),
                                      ([*fits, "--record-file", "ab'defg"], None,
                                       "Recording output list is too long.\n")):
            with self.subTest(length=length, message=message, args=args[-2:]):
                r, argv = dry_run(args)
                if message:
                    self.assertEqual(r, (2, "", message))
                else:
                    self.assertEqual((r.status, r.stderr, len(argv[-1])), (0, "", length))


if __name__ == "__main__":
    unittest.main()
