"""Black-box harness: runs the built castora and the services it talks to.

Every run has a closed standard input, a timeout, and captures stdout, stderr and the exit
status. Services listen on 127.0.0.1 only.
"""
import http.server
import json
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import unittest
from dataclasses import dataclass, field

CASTORA = os.environ.get("CASTORA_BIN", os.path.join(os.path.dirname(__file__), "..", "..", "build", "castora"))
FAKE_FFMPEG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_ffmpeg.py")
DEFAULT_TIMEOUT = 60

# Options that keep a launch off the network unless a test says otherwise.
OFFLINE = ["--skip-update-check", "--no-error-reporting"]


@dataclass
class Result:
    status: int
    stdout: str
    stderr: str


def run_castora(args, env=None, cwd=None, timeout=DEFAULT_TIMEOUT, program=None):
    """Runs castora with `args`; `env` entries are added to a minimal environment."""
    full_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C"}
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if name in os.environ:
            full_env[name] = os.environ[name]
    if env:
        full_env.update(env)
    completed = subprocess.run(
        [program or CASTORA, *args],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        env=full_env,
        cwd=cwd,
        timeout=timeout,
    )
    return Result(
        completed.returncode,
        completed.stdout.decode("utf-8", "surrogateescape"),
        completed.stderr.decode("utf-8", "surrogateescape"),
    )


def start_castora(args, env=None, cwd=None):
    """Starts castora in the background (for signal tests); the caller waits on it."""
    full_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C"}
    if env:
        full_env.update(env)
    return subprocess.Popen(
        [CASTORA, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE, env=full_env, cwd=cwd)


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
        with open(self.log, encoding="utf-8", errors="surrogateescape") as f:
            return [json.loads(line) for line in f]


def require_tools(*tools):
    """Skips the calling test class or module when a real tool is missing."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        raise unittest.SkipTest("missing tool: " + ", ".join(missing))


@dataclass
class RecordedRequest:
    method: str
    path: str
    query: str
    headers: dict
    body: bytes


@dataclass
class Answer:
    status: int = 200
    body: bytes = b""
    content_type: str = "application/json"


class ServiceServer:
    """A local HTTPS server standing in for the update and report services.

    Tests program answers per path with `answer(path, Answer)` and read `requests`. The
    self-signed certificate for 127.0.0.1 is made with openssl at start; castora's curl
    trusts it through CURL_CA_BUNDLE (see `env`).
    """

    def __init__(self):
        require_tools("openssl", "curl")
        self.directory = tempfile.mkdtemp(prefix="castora-https-")
        self.cert = os.path.join(self.directory, "cert.pem")
        key = os.path.join(self.directory, "key.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
             "-keyout", key, "-out", self.cert],
            check=True, capture_output=True, timeout=60)
        self.requests = []
        self.answers = {}
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def _serve(self):
                path, _, query = self.path.partition("?")
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                with server.lock:
                    server.requests.append(RecordedRequest(
                        self.command, path, query, {k.lower(): v for k, v in self.headers.items()}, body))
                    answer = server.answers.get(path, Answer(404, b"not found", "text/plain"))
                self.send_response(answer.status)
                self.send_header("Content-Type", answer.content_type)
                self.send_header("Content-Length", str(len(answer.body)))
                self.end_headers()
                self.wfile.write(answer.body)

            do_GET = _serve
            do_POST = _serve

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
        with self.lock:
            self.answers[path] = answer

    def reset(self):
        with self.lock:
            self.requests.clear()
            self.answers.clear()

    def requests_to(self, path):
        with self.lock:
            return [r for r in self.requests if r.path == path]

    def reports(self):
        """The JSON bodies posted to /castora/report, parsed."""
        return [json.loads(r.body) for r in self.requests_to("/castora/report")]

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        shutil.rmtree(self.directory, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
