"""The printed overlay chain, rendered by the real FFmpeg over a plain colour: every box of a
five-box scene is drawn where it belongs, and a title holding "%" is drawn in full."""
import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

from harness import OFFLINE, run_castora

BACKGROUND = (0x33, 0x66, 0x99)
WIDTH, HEIGHT = 854, 480  # the default profile
TIMEOUT = 60


@unittest.skipUnless(shutil.which("ffmpeg"), "missing tool: ffmpeg")
class Overlays(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        dry = run_castora(["--dry-run", *OFFLINE, "--scene", "gift_war_scoreboard",
                           "--overlay-title", "100% hype", "--target", "rtmp://a/x"])
        assert dry.status == 0, dry.stderr
        args = shlex.split(dry.stdout.splitlines()[-1])
        cls.chain = args[args.index("-vf") + 1]
        with tempfile.TemporaryDirectory() as d:
            png = os.path.join(d, "frame.png")
            source = "color=c=0x336699:size=%dx%d" % (WIDTH, HEIGHT)
            render = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", source,
                                     "-vf", cls.chain, "-frames:v", "1", png],
                                    capture_output=True, timeout=TIMEOUT)
            cls.render_error = render.stderr.decode(errors="replace") if render.returncode else None
            cls.pixels = b""
            if render.returncode == 0:
                cls.pixels = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", png, "-f", "rawvideo",
                                             "-pix_fmt", "rgb24", "-"],
                                            capture_output=True, timeout=TIMEOUT).stdout

    def drawn_share(self, x0, x1, y0, y1):
        """The share of pixels in the rectangle that clearly differ from the background."""
        drawn = total = 0
        for y in range(y0, y1):
            row = self.pixels[3 * WIDTH * y:3 * WIDTH * (y + 1)]
            for x in range(x0, x1):
                pixel = row[3 * x:3 * x + 3]
                drawn += max(abs(a - b) for a, b in zip(pixel, BACKGROUND)) > 24
                total += 1
        return drawn / total

    def test_the_chain_renders(self):
        self.assertIsNone(self.render_error, self.chain)
        self.assertEqual(len(self.pixels), WIDTH * HEIGHT * 3)

    def test_each_box_is_drawn_in_its_place(self):
        self.assertIsNone(self.render_error, self.chain)
        w, h = WIDTH, HEIGHT
        boxes = {  # inside each box, clear of the others: x0, x1, y0, y1
            # FFmpeg expanding "%" drops this title silently (exit 0, no box): only the pixels tell. The
            # window reaches past where "100" alone would end, so the text after "%" is drawn too.
            "title": (40, 215, h - 145, h - 110),
            "subtitle": (40, 190, h - 84, h - 60),
            "left score": (40, 170, 30, 65),
            "right score": (w - 170, w - 40, 30, 65),
            "watermark": (w - 100, w - 30, h - 56, h - 35),
        }
        for name, box in boxes.items():
            with self.subTest(box=name):
                self.assertGreater(self.drawn_share(*box), 0.95)
        with self.subTest(box="none in the middle"):
            self.assertEqual(self.drawn_share(w // 2 - 100, w // 2 + 100, h // 2 - 50, h // 2 + 50), 0)


if __name__ == "__main__":
    unittest.main()
