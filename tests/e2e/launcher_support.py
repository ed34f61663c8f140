"""Pieces the launcher's end-to-end tests share: the fixture plug-ins, registry
files naming them, WebSocket sessions with an Origin header, and a raw upgrade
request for the refusal cases."""
import asyncio
import base64
import datetime
import json
import socket
import time
from pathlib import Path

import websockets

from zelvo_harness import BUILD, WAIT, free_port, request, wait_listening, write_registry

FIXTURES = BUILD / "tests" / "fixtures"
ORIGIN = "http://localhost"
BASEKEY = "SOFTWARE\\Zelvo\\"
BOX = "Error en aplicación: "


def fixture(name):
    path = FIXTURES / name
    assert path.exists(), "fixture missing: %s (build tests/fixtures)" % path
    return path


def plugin_registry(path, runtime_lib, name="echo", extra=None):
    """A registry file with basekey + name -> RuntimeLib (None: the key without it)."""
    values = {} if runtime_lib is None else {"RuntimeLib": str(runtime_lib)}
    if extra:
        values.update(extra)
    return write_registry(path, {BASEKEY + name: values or {"Other": "x"}})


def server_config(port, idletimeout="0", **extra):
    cfg = {"port": str(port), "idletimeout": str(idletimeout), "basekey": BASEKEY}
    cfg.update(extra)
    return cfg


def run_request(name="echo", **fields):
    payload = {"type": "windows", "name": name}
    payload.update({k: str(v) for k, v in fields.items()})
    return request("run/", payload)


def test_request(**fields):
    return request("test/", {k: str(v) for k, v in fields.items()})


def start_listening(launcher, argument, port):
    launcher.start(argument)
    if not wait_listening(port, launcher.proc):
        code, out, err = launcher.wait()
        raise AssertionError("launcher did not listen on %d (exit %s)\n%s\n%s" % (port, code, out, err))
    return launcher


def run_async(coro, timeout=WAIT):
    return asyncio.run(asyncio.wait_for(coro, timeout))


def connect(port, origin=ORIGIN, tls=False, ssl_context=None, host="localhost", **extra):
    """A WebSocket client; TLS when asked for or when a context is given."""
    tls = tls or ssl_context is not None
    scheme = "wss" if tls else "ws"
    kw = {"max_size": None, "open_timeout": WAIT, "close_timeout": WAIT, "ping_interval": None}
    if origin is not None:
        kw["origin"] = origin
    if tls:
        kw["ssl"] = ssl_context
    kw.update(extra)
    return websockets.connect("%s://%s:%d/" % (scheme, host, port), **kw)


async def wait_closed(ws):
    """Waits until the server has closed the connection; True when it did."""
    try:
        while True:
            await ws.recv()
    except websockets.exceptions.ConnectionClosed:
        return True


def raw_upgrade(port, origin=True, timeout=WAIT):
    """Sends a WebSocket upgrade request and returns the answer's head as text."""
    lines = ["GET / HTTP/1.1", "Host: localhost:%d" % port, "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13"]
    if origin:
        lines.append("Origin: " + ORIGIN)
    data = ("\r\n".join(lines) + "\r\n\r\n").encode()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer.decode("latin-1")


def status_of(head):
    first = head.split("\r\n", 1)[0]
    parts = first.split(" ")
    return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None


def day_log_name():
    return datetime.date.today().strftime("%Y%m%d") + ".log"


def b64(obj):
    return base64.b64encode(json.dumps(obj, separators=(",", ":")).encode()).decode()


def wait_for(predicate, timeout=WAIT, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


STANDIN = '''#!/usr/bin/python3
# Stand-in for zelvo-dialog: records its arguments, answers as told.
import json, os, sys
with open(os.environ["ZELVO_STANDIN_LOG"], "a", encoding="utf-8") as f:
    f.write(json.dumps(sys.argv[1:]) + "\\n")
answers = json.loads(os.environ.get("ZELVO_STANDIN_ANSWERS", "{}"))
kind = sys.argv[1] if len(sys.argv) > 1 else ""
code, out = answers.get(kind, [0, ""])
sys.stdout.write(out)
sys.exit(code)
'''


class DialogStandIn:
    """A scripted zelvo-dialog: `env` goes to the launcher; `calls()` gives the
    argument lists it was started with; `answer(kind, code, out)` sets what it
    answers for a dialog kind ("browser", "message", "pin")."""

    def __init__(self, folder):
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        self.program = folder / "dialog-standin"
        self.program.write_text(STANDIN, encoding="utf-8")
        self.program.chmod(0o755)
        self.record = folder / "dialog-calls.jsonl"
        self.answers = {}
        self.env = {"ZELVO_DIALOG": str(self.program), "ZELVO_STANDIN_LOG": str(self.record),
                    "ZELVO_STANDIN_ANSWERS": "{}"}

    def answer(self, kind, code, out=""):
        self.answers[kind] = [code, out]
        self.env["ZELVO_STANDIN_ANSWERS"] = json.dumps(self.answers)
        return self

    def calls(self):
        if not self.record.exists():
            return []
        return [json.loads(x) for x in self.record.read_text(encoding="utf-8").splitlines() if x]


BROWSER_STANDIN = '''#!/usr/bin/python3
# Stand-in for a browser: records its arguments and ends at once.
import json, os, sys
with open(%r, "a", encoding="utf-8") as f:
    f.write(json.dumps(sys.argv[1:]) + "\\n")
'''


class BrowserStandIn:
    """A program that records the arguments it was started with, standing in for
    a browser; `calls()` waits for the expected number of starts."""

    def __init__(self, path):
        self.program = Path(path)
        self.record = self.program.with_suffix(".calls")
        self.program.write_text(BROWSER_STANDIN % str(self.record), encoding="utf-8")
        self.program.chmod(0o755)

    def calls(self, expected=1, timeout=WAIT):
        wait_for(lambda: self.record.exists() and
                 len(self.record.read_text(encoding="utf-8").splitlines()) >= expected, timeout)
        if not self.record.exists():
            return []
        return [json.loads(x) for x in self.record.read_text(encoding="utf-8").splitlines() if x]
