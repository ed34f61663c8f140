"""Shared pieces of the end-to-end tests: the staged build, a launcher run in a
private working directory with its own configuration, registry and lock folder,
the requests a page makes, WebSocket and raw HTTP clients, a self-signed
certificate, scripted stand-ins for the dialog program and a browser, and
headless Chromium driving a page. Every process started here is stopped by its
process id."""
import asyncio
import base64
import contextlib
import json
import os
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


def write_registry(path, keys):
    """keys: {"SOFTWARE\\Zelvo\\echo": {"RuntimeLib": "/x.so"}} -> a .reg file."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append("[HKEY_LOCAL_MACHINE\\%s]" % key)
        for name, data in values.items():
            esc = data.replace("\\", "\\\\").replace('"', '\\"')
            lines.append('"%s"="%s"' % (name, esc) if name != "@" else '@="%s"' % esc)
        lines.append("")
    Path(path).write_text("\n".join(lines), encoding="utf-8")
    return Path(path)


def escaped(text):
    """Text as a log record quotes it: one line, control characters and the backslash
    escaped, other characters as they are."""
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
    path = FIXTURES / name
    assert path.exists(), "fixture missing: %s (build tests/fixtures)" % path
    return path


def plugin_registry(path, runtime_lib, name="echo"):
    """A registry file naming `runtime_lib` as it stands for basekey + name."""
    return write_registry(path, {BASEKEY + name: {"RuntimeLib": str(runtime_lib)}})


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
    """One launcher process in its own working directory. `prefix` words go before
    the program (a command that execs it); with `to_files` its console output goes
    to stdout.txt and stderr.txt there, for runs whose output nobody reads meanwhile."""

    def __init__(self, workdir, config=None, registry=None, program="conlaunch", env=None, prefix=(),
                 to_files=False):
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.logdir = self.workdir / "logs"
        self.logdir.mkdir(exist_ok=True)
        self.program = STAGE / program
        self.prefix, self.to_files = list(prefix), to_files
        self.proc = None
        self.port = int(config["port"]) if config and str(config.get("port", "")).isdigit() else None
        if config is not None:
            cfg = dict(config)
            cfg.setdefault("log", {"level": "6", "directory": str(self.logdir)})
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

    def start(self, argument, *extra):
        return self.start_argv(argument, *extra)

    def start_argv(self, *words):
        """Starts the program with exactly these arguments (also none)."""
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
        self.start_argv(argument)
        if not wait_listening(self.port, self.proc):
            code, out, err = self.wait()
            raise AssertionError("launcher did not listen on %s (exit %s)\n%s\n%s" % (self.port, code, out, err))
        return self

    def run_argv(self, *words, timeout=WAIT):
        """As run, with exactly these arguments (also none)."""
        self.start_argv(*words)
        return self.wait(timeout)

    def run(self, argument, *extra, timeout=WAIT):
        """Runs to the end; answers the console build's closing prompt."""
        return self.run_argv(argument, *extra, timeout=timeout)

    def write_config(self, config):
        """Replaces application.config (a dict as JSON, or text as it stands)."""
        text = config if isinstance(config, str) else json.dumps(config)
        (self.workdir / "application.config").write_text(text, encoding="utf-8")

    def wait(self, timeout=WAIT):
        """Answers the console build's closing prompt; (exit code, stdout, stderr) at the end."""
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
    """Sends the messages, reads `replies` answers (default: one per message) and
    leaves; the answers."""
    return run_async(_exchange(port, messages, len(messages) if replies is None else replies, kw), timeout)[0]


def session(port, *messages, timeout=WAIT, **kw):
    """Sends the messages and reads until the server closes; (answers, close code)."""
    return run_async(_exchange(port, messages, None, kw), timeout)


def stopped_while_talking(launcher, message):
    """Sends `message` and reads its answer, then sends the launcher SIGTERM while the
    page is connected; (the answer, the close code the page then got)."""
    async def page():
        async with connect(launcher.port) as ws:
            await ws.send(message)
            answer = await ws.recv()
            os.kill(launcher.proc.pid, signal.SIGTERM)
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
    """Sends bytes as they stand and reads until the server closes; the whole
    answer. half_close: the client says it has nothing more to send."""
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


def http_get(port, target, method="GET", headers=()):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: localhost:%d" % port, *headers]
    return parse_answer(raw_http(port, ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")))


def upgrade_head(port, extra=("Origin: " + ORIGIN,)):
    lines = ["GET / HTTP/1.1", "Host: localhost:%d" % port, "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13", *extra]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def raw_upgrade(port, extra=("Origin: " + ORIGIN,), timeout=WAIT):
    """An upgrade request with the given extra header lines; the answer as parsed.
    An accepted socket is closed at once (the page went away); after a refusal
    the server must close the connection itself."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(upgrade_head(port, extra))
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
    """One PEM file holding a self-signed certificate for localhost and its key
    (encrypted when a password is given); (that file, the certificate alone)."""
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
# Stand-in program: records its arguments, answers as its answers file says for
# its first argument (the dialog kind): [exit code, standard output, seconds to wait first].
import json, os, sys, time
with open(%r, "a", encoding="utf-8") as f:
    f.write(json.dumps(sys.argv[1:]) + "\\n")
answers = json.load(open(%r, encoding="utf-8")) if os.path.exists(%r) else {}
code, out, delay = answers.get(sys.argv[1] if len(sys.argv) > 1 else "", [0, "", 0])
time.sleep(delay)
sys.stdout.write(out)
sys.exit(code)
'''


class StandIn:
    """A scripted program at `path` (for ZELVO_DIALOG, a browser command or
    xdg-open): `answer(kind, code, out, delay)` sets what it answers (after `delay`
    seconds) when its first argument is `kind`; `calls()` gives the argument lists
    it was started with."""

    def __init__(self, path):
        self.program = Path(path)
        self.program.parent.mkdir(parents=True, exist_ok=True)
        self.record = self.program.with_suffix(".calls")
        self.answers_file = self.program.with_suffix(".answers")
        self.answers = {}
        self.program.write_text(STANDIN % (str(self.record), str(self.answers_file), str(self.answers_file)),
                                encoding="utf-8")
        self.program.chmod(0o755)
        self.env = {"ZELVO_DIALOG": str(self.program)}

    def answer(self, kind, code, out="", delay=0):
        self.answers[kind] = [code, out, delay]
        self.answers_file.write_text(json.dumps(self.answers), encoding="utf-8")
        return self

    def calls(self, expected=0, timeout=WAIT):
        """The recorded calls, once there are at least `expected` of them (or the wait ends)."""
        lines = lambda: self.record.read_text(encoding="utf-8").splitlines() if self.record.exists() else []  # noqa
        wait_for(lambda: len(lines()) >= expected, timeout if expected else 0)
        return [json.loads(x) for x in lines() if x]


# ---- headless Chromium ----

@contextlib.contextmanager
def site(folder, pages):
    """Another site: a small HTTP server on 127.0.0.1 serving `pages` (name -> text);
    yields its origin."""
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
    """Headless Chromium driving one page (chromium_page.js: scenario "test" or "card")
    and writing what it shows to folder/result.json. Started by the test (`show`) or by
    the launcher as a browser command (`command`); stopped by its process ids."""

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
