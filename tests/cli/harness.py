"""Black-box harness: runs the built castora (closed stdin, a timeout, output captured) and the
services it talks to, on 127.0.0.1 only."""
import atexit
import http.server
import json
import os
import shlex
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
CASTORA = os.environ.get("CASTORA_BIN", os.path.join(HERE, "..", "..", "build", "castora"))
FAKE_FFMPEG = os.path.join(HERE, "fake_ffmpeg.py")
DEFAULT_TIMEOUT = 60

# Options that keep a launch off the network unless a test says otherwise.
OFFLINE = ["--skip-update-check", "--no-error-reporting"]

# Every report carries these members in this order; tests override the ones that differ.
REPORT = {"event_type": "configuration_error", "severity": "error", "app_version": "0.2.1",
          "app_platform": "macos", "architecture": "universal", "exit_code": 2, "signal_name": "",
          "phase": "", "profile_key": "balanced_480p", "scene_key": "", "message": ""}


Result = namedtuple("Result", "status stdout stderr")


def castora_env(env=None):
    """A minimal environment (sanitizer settings pass through) plus `env`."""
    sanitizers = {k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")}
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", **sanitizers, **(env or {})}


def run_castora(args, env=None, cwd=None, timeout=DEFAULT_TIMEOUT, program=None):
    completed = subprocess.run([program or CASTORA, *args], stdin=subprocess.DEVNULL, capture_output=True,
                               env=castora_env(env), cwd=cwd, timeout=timeout)
    return Result(completed.returncode, completed.stdout.decode("utf-8", "surrogateescape"),
                  completed.stderr.decode("utf-8", "surrogateescape"))


def start_castora(args, env=None, cwd=None):
    """Starts castora in the background (for signal tests); the caller waits on it."""
    return subprocess.Popen([CASTORA, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=castora_env(env), cwd=cwd)


def dry_run(args, env=None, cwd=None):
    """An offline dry run: the result and its printed command split back into a vector (None on failure)."""
    r = run_castora([*args, *OFFLINE, "--dry-run"], env=env, cwd=cwd)
    return r, (shlex.split(r.stdout.splitlines()[-1]) if r.status == 0 and r.stdout else None)


def children_of(pid):
    with open(f"/proc/{pid}/task/{pid}/children") as f:
        return [int(child) for child in f.read().split()]


class FakeFfmpeg:
    """The fake FFmpeg with its own log; `runs()` gives each run's argument vector."""

    def __init__(self, directory, statuses="0", sleep=0):
        self.log = os.path.join(directory, "ffmpeg-runs.jsonl")
        self.env = {"FAKE_FFMPEG_LOG": self.log, "FAKE_FFMPEG_STATUSES": statuses,
                    "FAKE_FFMPEG_SLEEP": str(sleep)}
        self.path = FAKE_FFMPEG

    def runs(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [json.loads(line) for line in f]

    def wait_for_run(self, timeout=20):
        deadline = time.monotonic() + timeout
        while not self.runs() and time.monotonic() < deadline:
            time.sleep(0.05)


def require_tools(*tools):
    """Skips the calling test class or module when a real tool is missing."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        raise unittest.SkipTest("missing tool: " + ", ".join(missing))


RecordedRequest = namedtuple("RecordedRequest", "method path query headers body")
Answer = namedtuple("Answer", "status body content_type", defaults=(200, b"", "application/json"))


class ServiceServer:
    """A local HTTPS stand-in for the update and report services: answers are programmed per path with
    `answer(path, Answer)`, requests are recorded. castora's curl trusts its self-signed certificate
    through CURL_CA_BUNDLE (see `env`)."""

    def __init__(self):
        require_tools("openssl", "curl")
        self.directory = tempfile.mkdtemp(prefix="castora-https-")
        self.cert = os.path.join(self.directory, "cert.pem")
        key = os.path.join(self.directory, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                        "-out", self.cert],
                       check=True, capture_output=True, timeout=60)
        # castora waits for each curl, so a request is recorded before the run that made it ends.
        self.requests = []
        self.answers = {}
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def _serve(self):
                path, _, query = self.path.partition("?")
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                headers = {k.lower(): v for k, v in self.headers.items()}
                server.requests.append(RecordedRequest(self.command, path, query, headers, body))
                answer = server.answers.get(path, Answer(404, b"not found", "text/plain"))
                self.send_response(answer.status)
                self.send_header("Content-Type", answer.content_type)
                self.send_header("Content-Length", str(len(answer.body)))
                self.end_headers()
                self.wfile.write(answer.body)

            do_GET = do_POST = _serve

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"https://127.0.0.1:{self.port}{path}"

    @property
    def env(self):
        return {"CURL_CA_BUNDLE": self.cert}

    def answer(self, path, answer):
        self.answers[path] = answer

    def reset(self):
        self.requests.clear()
        self.answers.clear()

    def requests_to(self, path):
        return [r for r in self.requests if r.path == path]

    def reports(self):
        """The JSON bodies posted to /castora/report, parsed after checking how each was sent: a POST of
        application/json holding one line with every member in its fixed order."""
        bodies = []
        for request in self.requests_to("/castora/report"):
            body = json.loads(request.body.decode("utf-8"))
            if (request.method, request.headers.get("content-type"), list(body)) != \
                    ("POST", "application/json", list(REPORT)) or not request.body.endswith(b"}\n") \
                    or request.body.count(b"\n") != 1:
                raise AssertionError(f"malformed report: {request.method} {request.headers} {request.body!r}")
            bodies.append(body)
        return bodies

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        shutil.rmtree(self.directory, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


_shared_server = None


def shared_server():
    """The one ServiceServer of this test process: started on first use, stopped at exit."""
    global _shared_server
    if _shared_server is None:
        _shared_server = ServiceServer()
        atexit.register(_shared_server.stop)
    return _shared_server
