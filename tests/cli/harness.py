"""Black-box harness: runs the built castora (closed stdin, a timeout, output captured) with a fake or the real
FFmpeg and the local HTTPS services it talks to, on 127.0.0.1 only."""
import atexit
import errno
import functools
import http.server
import json
import os
import pty
import select
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
OFFLINE = ["--skip-update-check", "--no-error-reporting"]
DEST = ["--target", "rtmp://a/x"]
# How the tee list gives a network destination its own reconnecting queue.
FIFO = ("use_fifo=1:fifo_options=attempt_recovery=1\\\\:recovery_wait_time=2\\\\:max_recovery_attempts=0\\\\:"
        "drop_pkts_on_overflow=1\\\\:queue_size=600\\\\:restart_with_keyframe=1")
# Every report carries these members in this order; tests override the ones that differ.
REPORT = {"event_type": "configuration_error", "severity": "error", "app_version": "0.2.1",
          "app_platform": "macos", "architecture": "universal", "exit_code": 2, "signal_name": "",
          "phase": "", "profile_key": "balanced_480p", "scene_key": "", "message": ""}
Result = namedtuple("Result", "status stdout stderr")
Answer = namedtuple("Answer", "status body content_type headers delay", defaults=(200, b"", "application/json", (), 0))
Request = namedtuple("Request", "method path query headers body")


def golden(name):
    return read(os.path.join(HERE, "..", "golden", name)).decode()


def write(path, content):
    with open(path, "wb" if isinstance(content, bytes) else "w") as f:
        f.write(content)
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


def decode(data):
    return data.decode("utf-8", "surrogateescape")


# The user's cache folder of every launch of this test process, so that each FFmpeg stand-in is asked once (tests of
# the cache give their own); every other folder of the user is one launch's own.
CACHE = tempfile.mkdtemp(prefix="castora-cache-")
LAUNCHES = tempfile.mkdtemp(prefix="castora-launches-")
for folder in (CACHE, LAUNCHES):
    atexit.register(shutil.rmtree, folder, ignore_errors=True)


def castora_env(env=None):
    """A minimal environment (sanitizer settings pass through) with a home, a temporary folder and XDG folders of this
    launch's own, plus `env`."""
    kept = {k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")}
    root = tempfile.mkdtemp(dir=LAUNCHES)
    private = {name: os.path.join(root, name.lower()) for name in ("HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                                                    "XDG_STATE_HOME", "XDG_RUNTIME_DIR")}
    for folder in private.values():
        os.mkdir(folder, 0o700)
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", **private, "XDG_CACHE_HOME": CACHE, **kept,
            **(env or {})}


def run_castora(args, env=None, cwd=None, timeout=30, program=None):
    done = subprocess.run([program or CASTORA, *args], stdin=subprocess.DEVNULL, capture_output=True,
                          env=castora_env(env), cwd=cwd, timeout=timeout)
    return Result(done.returncode, decode(done.stdout), decode(done.stderr))


def on_terminal(args, env=None, cwd=None, timeout=60):
    """castora with its standard error (and output) on a pseudo-terminal of 80 columns, as a creator runs it: its
    status and everything it wrote there, terminal sequences included."""
    pid, fd = pty.fork()
    if pid == 0:  # the child: stdin from /dev/null, like every launch of the harness
        os.dup2(os.open(os.devnull, os.O_RDONLY), 0)
        if cwd:
            os.chdir(cwd)
        os.execve(CASTORA, [CASTORA, *args], {**castora_env(env), "TERM": "xterm-256color", "COLUMNS": "80"})
    screen, deadline = b"", time.monotonic() + timeout
    while time.monotonic() < deadline:
        if select.select([fd], [], [], 0.5)[0]:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # the terminal's other side has closed
                break
            if not chunk:
                break
            screen += chunk
    else:
        os.kill(pid, 9)
    status = os.waitpid(pid, 0)[1]
    os.close(fd)
    return os.waitstatus_to_exitcode(status), decode(screen)


def without_live_lines(text):
    return "".join(line for line in text.splitlines(keepends=True) if not line.startswith("Live: "))


class Background:
    """castora running in the background; what it writes to standard error is collected as it comes, unless it goes
    to `stderr`. `preexec_fn` sets the signals it starts with."""

    def __init__(self, args, env=None, cwd=None, stderr=subprocess.PIPE, preexec_fn=None, program=None):
        self.env = castora_env(env)  # in a process group of its own, as a terminal's job
        self.tmpdir = self.env["TMPDIR"]  # where its run folder goes
        self.process = subprocess.Popen([program or CASTORA, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=stderr, env=self.env, cwd=cwd, start_new_session=True,
                                        preexec_fn=preexec_fn)
        self.pid, self.send_signal, self.chunks = self.process.pid, self.process.send_signal, []
        self.send_group_signal = lambda number: os.killpg(self.pid, number)  # as the terminal sends Ctrl-C
        self.reader = threading.Thread(target=self._read, daemon=True)
        if self.process.stderr:
            self.reader.start()

    def _read(self):
        for chunk in iter(lambda: self.process.stderr.read1(4096), b""):
            self.chunks.append(chunk)

    @property
    def stderr(self):
        return decode(b"".join(self.chunks))

    def wait(self, timeout=60):
        status = self.process.wait(timeout=timeout)
        if self.process.stderr:
            self.reader.join(timeout=10)
        return status

    def stop(self):  # when a failed test left castora and what it started running
        for pid in children_of(self.pid) + [self.pid] if self.process.poll() is None else []:
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        self.wait()


def processes():  # (pid, parent pid) of every live process (not a zombie), from ps
    out = subprocess.run(["ps", "-A", "-o", "pid=", "-o", "ppid=", "-o", "stat="], capture_output=True, text=True,
                         check=True).stdout
    return [(int(p), int(pp)) for p, pp, state in (line.split()[:3] for line in out.splitlines()) if state[0] != "Z"]


def children_of(pid):
    return [p for p, parent in processes() if parent == pid]


def alive(pid):
    return any(p == pid for p, _ in processes())


def wait_for(condition, timeout=20, what="condition"):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_taken(port, kind=socket.SOCK_STREAM):
    """True once some process has bound 127.0.0.1:port (our own bind then fails)."""
    with socket.socket(socket.AF_INET, kind) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError as e:
            return e.errno == errno.EADDRINUSE
        return False


def require_tools(*tools):
    if any(shutil.which(tool) is None for tool in tools):
        raise unittest.SkipTest("missing one of: " + ", ".join(tools))


class FakeFfmpeg:  # the fake FFmpeg with its own log; `runs()` gives each run's argument vector, `asked()` its listings

    def __init__(self, directory, statuses="0", sleep="0", copy=False, **env):
        self.path, self.log = FAKE_FFMPEG, os.path.join(directory, "ffmpeg-runs.jsonl")
        if copy:  # a file of its own, to be changed as a new build would be
            self.path = shutil.copy(FAKE_FFMPEG, os.path.join(directory, "ffmpeg"))
        self.env = {"FAKE_FFMPEG_LOG": self.log, "FAKE_FFMPEG_STATUSES": statuses, "FAKE_FFMPEG_SLEEP": sleep, **env}

    def runs(self):
        return [json.loads(line) for line in self.lines("")]

    def asked(self):
        return self.lines(".asked")

    def signals(self):  # what a run started with, then each signal it got: ["TERM 12.345", ...]
        return self.lines(".signals")

    def lines(self, suffix):
        with open(self.log + suffix, "a+", encoding="utf-8", errors="surrogateescape") as f:
            f.seek(0)
            return f.read().splitlines()


class ServiceServer:
    """A local HTTPS stand-in for the update and report services: `answer(path, Answer)` programs a path and
    requests are recorded. castora's curl trusts the self-signed certificate through CURL_CA_BUNDLE (`env`). The
    same handler listens for plain HTTP on `plain_port`, where no request should ever arrive."""

    def __init__(self):
        require_tools("openssl", "curl")
        self.directory = tempfile.mkdtemp(prefix="castora-https-")
        cert, key = os.path.join(self.directory, "cert.pem"), os.path.join(self.directory, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True, timeout=60)
        self.requests, self.answers, self.env = [], {}, {"CURL_CA_BUNDLE": cert}
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def _serve(self):
                path, _, query = self.path.partition("?")
                body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                server.requests.append(Request(self.command, path, query, {k.lower(): v for k, v in
                                                                           self.headers.items()}, body))
                answer = server.answers.get(path, Answer(404, b"not found", "text/plain"))
                time.sleep(answer.delay)
                self.send_response(answer.status)
                length = () if any(k == "Content-Length" for k, _ in answer.headers) else \
                    (("Content-Length", str(len(answer.body))),)
                for name, value in (("Content-Type", answer.content_type), *length, *answer.headers):
                    self.send_header(name, value)
                self.end_headers()
                self.wfile.write(answer.body)

            do_GET = do_POST = _serve

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.plain_port = self.plain.server_address[1]
        for httpd in (self.httpd, self.plain):
            threading.Thread(target=httpd.serve_forever, daemon=True).start()

    def url(self, path):
        return f"https://127.0.0.1:{self.port}{path}"

    def reset(self, **answers):  # forgets the requests and programs the answers, by path
        self.requests.clear()
        self.answers = dict(answers)

    def answer(self, path, answer):
        self.answers[path] = answer

    def requests_to(self, path):
        return [r for r in self.requests if r.path == path]

    def reports(self):
        """The bodies posted to /castora/report, after checking how each was sent: a POST of application/json
        holding one line with every member in its fixed order."""
        bodies = []
        for r in self.requests_to("/castora/report"):
            body = json.loads(r.body.decode("utf-8"))
            if (r.method, r.headers.get("content-type"), list(body), r.body.count(b"\n"), r.body[-2:]) != \
                    ("POST", "application/json", list(REPORT), 1, b"}\n"):
                raise AssertionError(f"malformed report: {r}")
            bodies.append(body)
        return bodies

    def stop(self):
        for httpd in (self.httpd, self.plain):
            httpd.shutdown()
            httpd.server_close()
        shutil.rmtree(self.directory, ignore_errors=True)


class Bridge:
    """A local automation bridge on 127.0.0.1 (plain HTTP). A poll (GET /actions) waits up to `hold` seconds for actions
    queued with `send`, or gets `answer` (bytes) when set, after `delay` seconds; every acknowledgement (POST /ack) is
    kept in `acks`, every request's headers in `headers`, and the polls are counted in `polls`."""

    def __init__(self, hold=25, answer=None, delay=0):
        self.hold, self.answer, self.delay, self.queue, self.acks, self.headers = hold, answer, delay, [], [], []
        self.polls = 0
        self.ready = threading.Condition()
        bridge = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                bridge.headers.append(dict(self.headers))
                bridge.polls += 1
                time.sleep(bridge.delay)
                with bridge.ready:
                    bridge.ready.wait_for(lambda: bridge.queue or bridge.answer is not None, timeout=bridge.hold)
                    body = bridge.answer if bridge.answer is not None else json.dumps({"actions": bridge.queue}).encode()
                    bridge.queue = []
                self.reply(body)

            def do_POST(self):
                bridge.headers.append(dict(self.headers))
                bridge.acks.append(json.loads(self.rfile.read(int(self.headers["Content-Length"]))))
                self.reply(b"")

            def reply(self, body):
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    self.wfile.write(body)
                except (BrokenPipeError, ConnectionResetError):  # curl gave up on it, as it should
                    pass

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, path):
        return f"http://127.0.0.1:{self.httpd.server_address[1]}{path}"

    def options(self, token=None):
        return ["--automation-poll-url", self.url("/actions"), "--automation-ack-url", self.url("/ack"),
                *(["--automation-token", token] if token is not None else [])]

    def send(self, *actions):
        with self.ready:
            self.queue.extend(actions)
            self.ready.notify_all()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class StalledRelay:
    """A TCP relay on 127.0.0.1 to `port` that passes on the first `allowance` bytes a client sends (an RTMP
    handshake and the start of its stream) and then reads nothing more: an uplink that cannot keep up."""

    def __init__(self, port, allowance=16384):
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # a small window: the sender's queue fills
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port, self.stopped = self.server.getsockname()[1], threading.Event()

        def pump(source, sink, limit):
            passed = 0
            try:
                while not self.stopped.is_set():
                    if limit and passed >= limit:
                        time.sleep(0.2)
                        continue
                    data = source.recv(1024)
                    if not data:
                        break
                    sink.sendall(data)
                    passed += len(data)
            except OSError:
                pass

        def serve():
            while not self.stopped.is_set():
                try:
                    client, _ = self.server.accept()
                except OSError:
                    return
                upstream = socket.create_connection(("127.0.0.1", port))
                for source, sink, limit in ((client, upstream, allowance), (upstream, client, 0)):
                    threading.Thread(target=pump, args=(source, sink, limit), daemon=True).start()

        threading.Thread(target=serve, daemon=True).start()

    def stop(self):
        self.stopped.set()
        self.server.close()


@functools.lru_cache(maxsize=None)
def shared_server():  # the one ServiceServer of this test process: started on first use, stopped at exit
    server = ServiceServer()
    atexit.register(server.stop)
    return server
