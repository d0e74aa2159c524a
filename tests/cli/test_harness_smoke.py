import tempfile
import unittest

from harness import OFFLINE, FakeFfmpeg, ServiceServer, run_castora


class HarnessSmoke(unittest.TestCase):
    def test_fake_ffmpeg_receives_the_vector_and_its_status_is_returned(self):
        with tempfile.TemporaryDirectory() as d:
            fake = FakeFfmpeg(d, statuses="3")
            r = run_castora([*OFFLINE, "--ffmpeg", fake.path, "--target", "rtmp://a/x"], env=fake.env)
            self.assertEqual(r.status, 3)
            self.assertEqual(len(fake.runs()), 1)
            self.assertEqual(fake.runs()[0][-1], "rtmp://a/x")

    def test_service_server_records_a_report(self):
        server = ServiceServer()
        try:
            server.answer("/castora/report", __import__("harness").Answer(200, b"{}"))
            r = run_castora(["--skip-update-check", "--report-url", server.url("/castora/report"),
                             "--profile", "nope", "--target", "rtmp://a/x"], env=server.env)
            self.assertEqual(r.status, 2)
            self.assertEqual(server.reports()[0]["phase"], "profile")
            self.assertEqual(server.requests_to("/castora/report")[0].headers["content-type"], "application/json")
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
