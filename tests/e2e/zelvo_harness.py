"""Shared pieces of the end-to-end tests: launchers in private folders, the requests a page
makes, WebSocket and raw HTTP clients, stand-ins for the dialog program and browsers, and
headless Chromium. Every process started here is stopped by its process id."""
import asyncio
import base64
import contextlib
import json
import os
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import time
from pathlib import Path

import websockets

ROOT = Path(__file__).resolve().parents[2]
STAGE = Path(os.environ.get("ZELVO_STAGE", ROOT / "build" / "stage"))
BUILD = Path(os.environ.get("ZELVO_BUILD", STAGE.parent))
FIXTURES = BUILD / "tests" / "fixtures"
SANITIZE = os.environ.get("ZELVO_SANITIZE", "0") in ("1", "ON", "TRUE", "true")
# Slow start-up under the sanitizers: waits only, never pass/fail timing.
WAIT = 60.0 if SANITIZE else 20.0
ORIGIN = "http://localhost"
# Which build the tests start: "linux" (the default) or "windows" (the x86-64
# Windows build under wine64, see windows_target.py).
TARGET = os.environ.get("ZELVO_TARGET", "linux")
WINDOWS = TARGET == "windows"
EXE = ".exe" if WINDOWS else ""
LIBRARY = ".dll" if WINDOWS else ".so"
BASEKEY = "SOFTWARE\\Zelvo\\"
BOX = "Error en aplicación: "
# The JVM handles SIGSEGV itself (null checks, safepoints) and keeps memory the
# leak checker would report; the sanitizers must leave both to it.
JVM_ENV = {"ASAN_OPTIONS": "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=0",
           "LSAN_OPTIONS": "detect_leaks=0"} if SANITIZE else {}


def free_port():
    """A loopback port nobody listens on right now (in the server's valid range)."""
    while True:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if 1024 <= port <= 65534:
            return port


def b64json(obj):
    return base64.b64encode(json.dumps(obj, separators=(",", ":")).encode()).decode()


def wait_for(predicate, timeout=WAIT, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def stop_process(proc, gently=False):
    """Stops a process we started, by its pid; gently: SIGTERM first (for Xvfb's lock)."""
    if proc is None or proc.poll() is not None:
        return
    if gently:
        try:
            os.kill(proc.pid, signal.SIGTERM)
            proc.wait(timeout=10)
            return
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
    try:
        os.kill(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait(timeout=10)


class Program:
    """A program that runs on while the test acts on it; its output is read until it ends,
    so that a descendant holding the same pipes (Wine's services) cannot hold the test up."""

    def __init__(self, argv, env, cwd=None):
        self.proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.pid = self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def finish_bytes(self, timeout=WAIT):
        """Exit code, standard output and standard error (bytes) once it has ended."""
        streams = {self.proc.stdout: bytearray(), self.proc.stderr: bytearray()}
        with selectors.DefaultSelector() as selector:
            for stream in streams:
                os.set_blocking(stream.fileno(), False)
                selector.register(stream, selectors.EVENT_READ)
            end = time.monotonic() + timeout
            while selector.get_map():
                ended = self.proc.poll() is not None
                ready = selector.select(0 if ended else 0.05)
                for key, _ in ready:
                    chunk = os.read(key.fileobj.fileno(), 65536)
                    if chunk:
                        streams[key.fileobj] += chunk
                    else:
                        selector.unregister(key.fileobj)
                if ended and not ready:
                    break
                if time.monotonic() > end:
                    break
        try:
            self.proc.wait(timeout=max(0.0, end - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.stop()
            raise AssertionError("did not end: %s" % " ".join(map(str, self.proc.args[:2])))
        for stream in streams:
            stream.close()
        return self.proc.returncode, bytes(streams[self.proc.stdout]), bytes(streams[self.proc.stderr])

    def finish(self, timeout=WAIT):
        """Exit code, standard output and standard error (text) once it has ended."""
        code, out, err = self.finish_bytes(timeout)
        return code, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def stop(self):
        stop_process(self.proc)


def wait_listening(port, proc=None, timeout=WAIT, address="127.0.0.1"):
    def listening():
        if proc is not None and proc.poll() is not None:
            return True
        try:
            with socket.create_connection((address, port), timeout=0.5):
                return True
        except OSError:
            return False
    return wait_for(listening, timeout) and (proc is None or proc.poll() is None)


def host_path(path):
    """A file name as the program under test spells it (Windows: Wine's Z: drive)."""
    if not WINDOWS:
        return str(path)
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


def process_alive(pid):
    """Whether a process (on Windows: a Windows process id in the prefix) still runs."""
    if WINDOWS:
        import windows_target
        return any(p == pid for p, _ in windows_target.windows_processes())
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


def assert_box(launcher, dialog, err, icon, title, text):
    """The launcher showed this box: the "caption: text" line on stderr, and the dialog
    program's call (Linux) or the MessageBoxW the harness closed (Windows)."""
    assert "%s: %s" % (title, text) in err, err
    if WINDOWS:
        assert title in launcher.boxes, launcher.boxes
    else:
        assert ["message", "--icon", icon, "--title", title, "--text", text] in dialog.calls(), dialog.calls()


def linux_only(reason):
    """Marks a test (or, as pytestmark, a module) that means nothing on Windows."""
    import pytest
    return pytest.mark.skipif(WINDOWS, reason="solo Linux: " + reason)


def windows_only(reason):
    import pytest
    return pytest.mark.skipif(not WINDOWS, reason="solo Windows: " + reason)


def write_registry(path, keys):
    """{key: {name: value}} -> a .reg file, the registry of a Launcher given it (on Windows
    imported into the prefix); a Path value is written as host_path spells it."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append("[HKEY_LOCAL_MACHINE\\%s]" % key)
        for name, data in values.items():
            data = host_path(data) if isinstance(data, Path) else data
            esc = data.replace("\\", "\\\\").replace('"', '\\"')
            lines.append('"%s"="%s"' % (name, esc) if name != "@" else '@="%s"' % esc)
        lines.append("")
    Path(path).write_text("\n".join(lines), encoding="utf-8")
    return Path(path)


def escaped(text):
    """Text as a log record quotes it: control characters and the backslash escaped."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\\n\r\t":
            out.append({"\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t"}[ch])
        elif code < 0x20 or 0x7F <= code <= 0x9F or ch in "\u2028\u2029":
            out.append("".join("\\x%02X" % b for b in ch.encode("utf-8")))
        else:
            out.append(ch)
    return "".join(out)


def fixture(name):
    """A plug-in of tests/fixtures; "x.so" names x.dll in the Windows build."""
    if WINDOWS and name.endswith(".so"):
        name = name[:-3] + ".dll"
    path = FIXTURES / name
    assert path.exists(), "fixture missing: %s (build tests/fixtures)" % path
    return path


def plugin_registry(path, runtime_lib, name="echo"):
    """A registry file naming `runtime_lib` as it stands for basekey + name."""
    lib = runtime_lib if isinstance(runtime_lib, Path) else str(runtime_lib)
    return write_registry(path, {BASEKEY + name: {"RuntimeLib": lib}})


def server_config(port, idletimeout="0", **extra):
    return dict({"port": str(port), "idletimeout": str(idletimeout), "basekey": BASEKEY}, **extra)


def request(verb, payload, scheme="zelvo"):
    return "%s://%s%s" % (scheme, verb, b64json(payload) if isinstance(payload, dict) else payload)


def run_request(name="echo", **fields):
    return request("run/", dict({"type": "windows", "name": name}, **{k: str(v) for k, v in fields.items()}))


def echo_request(**fields):
    """A "test/" request: the built-in echo application."""
    return request("test/", {k: str(v) for k, v in fields.items()})


class Launcher:
    """One launcher in its own working directory; `prefix`: a command that execs it;
    `to_files`: its console output goes to stdout.txt and stderr.txt there."""

    def __init__(self, workdir, config=None, registry=None, program="conlaunch", env=None, prefix=(),
                 to_files=False):
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.logdir = self.workdir / "logs"
        self.logdir.mkdir(exist_ok=True)
        # A name of the stage's programs, or a path as it stands.
        self.program = program if isinstance(program, Path) else STAGE / (program + EXE)
        self.registry = registry
        self.prefix, self.to_files = list(prefix), to_files
        self.proc = None
        self.port = int(config["port"]) if config and str(config.get("port", "")).isdigit() else None
        if config is not None:
            cfg = dict(config)
            cfg.setdefault("log", {"level": "6", "directory": host_path(self.logdir)})
            # The tests' pages name themselves "http://localhost"; the site permission has tests of its own.
            cfg.setdefault("allowedorigins", ["http://localhost"])
            (self.workdir / "application.config").write_text(json.dumps(cfg), encoding="utf-8")
        self.env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        for var, sub in (("XDG_RUNTIME_DIR", "run"), ("XDG_STATE_HOME", "state"), ("XDG_CONFIG_HOME", "config"),
                         ("HOME", "home")):
            self.env[var] = str(self.workdir / sub)
        (self.workdir / "home").mkdir(exist_ok=True)
        (self.workdir / "run").mkdir(exist_ok=True)
        self.env["ZELVO_REGISTRY"] = str(registry) if registry else str(self.workdir / "none.reg")
        if SANITIZE:
            self.env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0")
        if env:
            self.env.update(env)
        # What the test itself asked for, for the Windows side (which starts from Wine's environment).
        self.extra_env = dict(env or {})

    def start(self, *words):
        """Starts the program with exactly these arguments (also none)."""
        if WINDOWS:
            import windows_target
            return windows_target.start(self, words)
        out = err = subprocess.PIPE
        if self.to_files:
            out, err = open(self.workdir / "stdout.txt", "wb"), open(self.workdir / "stderr.txt", "wb")
        try:
            self.proc = subprocess.Popen(self.prefix + [str(self.program), *words], cwd=self.workdir, env=self.env,
                                         stdin=subprocess.PIPE, stdout=out, stderr=err)
        finally:
            if self.to_files:
                out.close()
                err.close()
        return self

    def serve(self, argument):
        """Starts the program and waits until it listens on its configured port."""
        self.start(argument)
        if not wait_listening(self.port, self.proc):
            code, out, err = self.wait()
            raise AssertionError("launcher did not listen on %s (exit %s)\n%s\n%s" % (self.port, code, out, err))
        return self

    def run(self, *words, timeout=WAIT):
        """Runs to the end with exactly these arguments; answers the closing prompt."""
        self.start(*words)
        return self.wait(timeout)

    def write_config(self, config):
        """Replaces application.config (a dict as JSON, or text as it stands)."""
        text = config if isinstance(config, str) else json.dumps(config)
        (self.workdir / "application.config").write_text(text, encoding="utf-8")

    def wait(self, timeout=WAIT):
        """Answers the console build's closing prompt; (exit code, stdout, stderr) at the end."""
        if WINDOWS:
            import windows_target
            return windows_target.wait(self, timeout)
        try:
            self.proc.stdin.write(b"\n")
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            pass
        out, err = self.proc.communicate(timeout=timeout)
        if self.to_files:
            out, err = ((self.workdir / n).read_bytes() for n in ("stdout.txt", "stderr.txt"))
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def ended(self, code=0):
        """Waits for the end and checks the exit code; the log."""
        got, _, err = self.wait()
        assert got == code, err
        return self.log_text()

    def log_text(self):
        return "".join(p.read_text(encoding="utf-8", errors="replace") for p in sorted(self.logdir.glob("*.log")))

    def terminate(self):
        """SIGTERM, or on Windows "taskkill /pid" (the close message to its windows)."""
        if WINDOWS:
            import windows_target
            return windows_target.terminate(self)
        os.kill(self.proc.pid, signal.SIGTERM)

    def config_dir(self):
        """The user's folder of remembered decisions as the launcher sees it."""
        if WINDOWS:
            import windows_target
            return windows_target.session().user_folder("Roaming") / "Zelvo"
        return self.workdir / "config" / "zelvo"

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=10)


# ---- a page's WebSocket ----

def run_async(coro, timeout=WAIT):
    return asyncio.run(asyncio.wait_for(coro, timeout))


def connect(port, origin=ORIGIN, ssl_context=None, host="localhost", **extra):
    """A WebSocket client; wss:// when a TLS context is given."""
    kw = {"max_size": None, "open_timeout": WAIT, "close_timeout": WAIT, "ping_interval": None}
    if origin is not None:
        kw["origin"] = origin
    if ssl_context is not None:
        kw["ssl"] = ssl_context
    kw.update(extra)
    return websockets.connect("%s://%s:%d/" % ("wss" if ssl_context else "ws", host, port), **kw)


async def closed_code(ws):
    """Reads until the server ends the connection; the close code it sent."""
    try:
        while True:
            await ws.recv()
    except websockets.exceptions.ConnectionClosed as closed:
        return closed.rcvd.code if closed.rcvd else None


async def _exchange(port, messages, replies, kw):
    answers = []
    async with connect(port, **kw) as ws:
        for m in messages:
            await ws.send(m)
        try:
            while replies is None or len(answers) < replies:
                answers.append(await ws.recv())
        except websockets.exceptions.ConnectionClosed as closed:
            return answers, closed.rcvd.code if closed.rcvd else None
    return answers, None


def talk(port, *messages, replies=None, timeout=WAIT, **kw):
    """The first `replies` answers (default: one per message) to the messages."""
    return run_async(_exchange(port, messages, len(messages) if replies is None else replies, kw), timeout)[0]


def session(port, *messages, timeout=WAIT, **kw):
    """Sends the messages and reads until the server closes; (answers, close code)."""
    return run_async(_exchange(port, messages, None, kw), timeout)


def stopped_while_talking(launcher, message):
    """(answer to `message`, close code the page got when the launcher was then stopped)."""
    async def page():
        async with connect(launcher.port) as ws:
            await ws.send(message)
            answer = await ws.recv()
            launcher.terminate()
            return answer, await closed_code(ws)
    return run_async(page())


# ---- raw HTTP and WebSocket frames ----

def read_all(sock):
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    return data


def raw_http(port, data, timeout=WAIT, half_close=False, address="127.0.0.1"):
    """The whole answer to `data`, read until the server closes (half_close: shut our side)."""
    with socket.create_connection((address, port), timeout=timeout) as s:
        try:
            s.sendall(data)
            if half_close:
                s.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may hang up on a request it refuses before it is all sent
        return read_all(s)


def parse_answer(data):
    """(status, {lower-case header: value}, body) of one HTTP answer."""
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def http_get(port, target, method="GET", headers=(), host=None):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: " + (host or "localhost:%d" % port), *headers]
    return parse_answer(raw_http(port, ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")))


def upgrade_head(port, extra=("Origin: " + ORIGIN,), host=None):
    lines = ["GET / HTTP/1.1", "Host: " + (host or "localhost:%d" % port), "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13", *extra]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def raw_upgrade(port, extra=("Origin: " + ORIGIN,), timeout=WAIT, host=None):
    """An upgrade request with the given extra header lines; the answer as parsed.
    An accepted socket is closed at once; after a refusal the server closes it."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(upgrade_head(port, extra, host))
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
        answer = parse_answer(data)
        return answer if answer[0] == 101 else parse_answer(data + read_all(s))


class RawSocket:
    """A WebSocket opened by hand, to send frames no client library would."""

    def __init__(self, port, timeout=WAIT):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.sock.sendall(upgrade_head(port))
        self.reader = self.sock.makefile("rb")
        self.status = parse_answer(self.reader.readline())[0]
        while self.reader.readline() not in (b"\r\n", b""):
            pass

    def send_frame(self, opcode, payload=b"", fin=True, mask=True, rsv=0, length=None):
        first = (0x80 if fin else 0) | (rsv << 4) | opcode
        size = len(payload) if length is None else length
        mask_bit = 0x80 if mask else 0
        if size < 126:
            head = struct.pack("!BB", first, mask_bit | size)
        elif size < 65536:
            head = struct.pack("!BBH", first, mask_bit | 126, size)
        else:
            head = struct.pack("!BBQ", first, mask_bit | 127, size)
        if mask:
            key = os.urandom(4)
            payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
            head += key
        self.sock.sendall(head + payload)

    def read_frame(self):
        """(first byte, payload) of the next frame from the server, or None at the end."""
        try:
            head = self.reader.read(2)
            if len(head) < 2:
                return None
            size = head[1] & 0x7F
            if size >= 126:
                size = int.from_bytes(self.reader.read(2 if size == 126 else 8), "big")
            return head[0], self.reader.read(size)
        except ConnectionResetError:
            return None

    def close_code(self):
        """Reads frames until the server's close frame; its status code (None if none)."""
        while True:
            frame = self.read_frame()
            if frame is None:
                return None
            if frame[0] & 0x0F == 8:
                return struct.unpack("!H", frame[1][:2])[0] if len(frame[1]) >= 2 else 1005

    def close(self):
        self.reader.close()
        self.sock.close()


def make_certificate(folder, password=None):
    """(PEM of a self-signed localhost certificate and its key, maybe encrypted; the certificate)."""
    folder = Path(folder)
    key, cert, pem = folder / "key.pem", folder / "cert.pem", folder / "server.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                   check=True, capture_output=True, timeout=120)
    if password:
        enc = folder / "key-enc.pem"
        subprocess.run(["openssl", "pkey", "-in", str(key), "-out", str(enc), "-aes256",
                        "-passout", "pass:" + password], check=True, capture_output=True, timeout=120)
        key = enc
    pem.write_bytes(cert.read_bytes() + key.read_bytes())
    return pem, cert


# ---- stand-ins for the programs the launcher and the plug-ins start ----

STANDIN = '''#!/usr/bin/python3
# Stand-in program: records its start, answers as its answers file says for its
# first argument (the dialog kind). The twin of tests/windows/standin/standin.cpp:
#   NAME.calls    {"args": [...], "pid": N, "fds": [its open descriptors]} a line a start,
#                 {"pid": N, "answered": TIME} when it answers
#   NAME.answers  "KIND\\tEXIT\\tOUTPUT-IN-HEX\\tDELAY-MS" lines; a negative delay never answers
import json, os, sys, time
base = os.path.abspath(sys.argv[0])
fds = sorted(fd for fd in os.listdir("/proc/self/fd") if os.path.exists("/proc/self/fd/" + fd))
with open(base + ".calls", "a", encoding="utf-8") as f:
    f.write(json.dumps({"args": sys.argv[1:], "pid": os.getpid(), "fds": fds}) + "\\n")
kind = sys.argv[1] if len(sys.argv) > 1 else ""
lines = open(base + ".answers", encoding="utf-8").read().splitlines() if os.path.exists(base + ".answers") else []
for line in lines:
    name, code, out, delay = (line.split("\\t") + ["", "", ""])[:4]
    if name != kind:
        continue
    delay = int(delay or "0")
    while delay < 0:
        time.sleep(3600)
    time.sleep(delay / 1000)
    with open(base + ".calls", "a", encoding="utf-8") as f:
        f.write(json.dumps({"pid": os.getpid(), "answered": time.time()}) + "\\n")
    sys.stdout.buffer.write(bytes.fromhex(out))
    sys.exit(int(code or "0"))
'''


class StandIn:
    """A scripted program at `path` (dialog, browser, xdg-open): `answer(kind, code, out,
    delay)` sets its answer to a first argument `kind` (delay None: never); `calls()` are
    its argument lists. On Windows standin.exe copied to `path`.exe, unless `linux`."""

    def __init__(self, path, linux=False):
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        self.record = Path(str(path) + ".calls")
        self.answers_file = Path(str(path) + ".answers")
        self.answers = {}
        if WINDOWS and not linux:
            self.program = Path(str(path) + ".exe")
            shutil.copy2(BUILD / "tests" / "windows" / "standin.exe", self.program)
        else:
            self.program = path
            self.program.write_text(STANDIN, encoding="utf-8")
            self.program.chmod(0o755)
        self.env = {"ZELVO_DIALOG": host_path(self.program)}

    def answer(self, kind, code, out="", delay=0):
        self.answers[kind] = (code, out, -1 if delay is None else int(delay * 1000))
        self.answers_file.write_text("".join("%s\t%d\t%s\t%d\n" % (k, c, o.encode("utf-8").hex(), d)
                                             for k, (c, o, d) in self.answers.items()), encoding="utf-8")
        return self

    def _lines(self):
        text = self.record.read_text(encoding="utf-8") if self.record.exists() else ""
        return [json.loads(x) for x in text.splitlines() if x]

    def records(self, expected=0, timeout=WAIT):
        """The recorded starts, once there are `expected` of them (or the wait ends)."""
        starts = lambda: [r for r in self._lines() if "args" in r]  # noqa
        wait_for(lambda: len(starts()) >= expected, timeout if expected else 0)
        return starts()

    def answered(self):
        """When each answer was given (seconds since 1970: both systems' clock)."""
        return [r["answered"] for r in self._lines() if "answered" in r]

    def calls(self, expected=0, timeout=WAIT):
        """The argument lists of the recorded starts (see records)."""
        return [r["args"] for r in self.records(expected, timeout)]


# ---- headless Chromium ----

@contextlib.contextmanager
def site(folder, pages):
    """Another site serving `pages` (name -> text) on 127.0.0.1; yields its origin."""
    folder.mkdir(parents=True, exist_ok=True)
    for name, text in pages.items():
        (folder / name).write_text(text, encoding="utf-8")
    port = free_port()
    server = subprocess.Popen(["/usr/bin/python3", "-m", "http.server", str(port), "--bind", "127.0.0.1",
                               "--directory", str(folder)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert wait_listening(port, server)
        yield "http://127.0.0.1:%d" % port
    finally:
        server.kill()
        server.wait(timeout=WAIT)


def chromium_missing():
    """Why the browser tests cannot run on this machine, or None."""
    if not Path("/usr/bin/chromium").exists() or shutil.which("node") is None:
        return "Chromium or node is not installed"
    if not (Path(__file__).parent / "node_modules" / "playwright-core").is_dir():
        return "playwright-core is not installed (./dev installs it)"
    return None


class Chromium:
    """Headless Chromium driving a page (chromium_page.js) and writing what it shows to
    folder/result.json; started by the test (`show`) or as a browser `command`."""

    def __init__(self, folder, scenario, spki="-"):
        folder.mkdir(parents=True, exist_ok=True)
        self.result, self.pids = folder / "result.json", folder / "browser.pids"
        self.argv = ["/usr/bin/node", str(Path(__file__).parent / "chromium_page.js"), str(self.result),
                     str(folder / "profile"), str(self.pids), spki, str(int(WAIT * 3000)), scenario]
        self.screenshot = folder / "result.png"

    def command(self):
        return " ".join('"%s"' % word for word in self.argv) + " %u"

    def shown(self, timeout=WAIT * 6):
        """What the page showed, once the driver has written it."""
        try:
            assert wait_for(self.result.exists, timeout), "the browser wrote no result"
            return json.loads(self.result.read_text())
        finally:
            self.stop()

    def show(self, url):
        try:
            subprocess.run(self.argv + [url], stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT * 6)
        except subprocess.TimeoutExpired:
            pass  # no result then: shown() says so
        return self.shown(timeout=0)

    def stop(self):
        for word in self.pids.read_text().split() if self.pids.exists() else ():
            try:
                os.kill(int(word), signal.SIGKILL)
            except (ProcessLookupError, ValueError):
                pass
