"""Shared pieces of the end-to-end tests: the staged build, a launcher run in a
private working directory with its own configuration, registry and lock folder,
free loopback ports, and a WebSocket client. Every process started here is
stopped by its process id."""
import base64
import json
import os
import signal
import socket
import subprocess
import time
from pathlib import Path

STAGE = Path(os.environ.get("ZELVO_STAGE", Path(__file__).resolve().parents[2] / "build" / "stage"))
BUILD = Path(os.environ.get("ZELVO_BUILD", STAGE.parent))
SANITIZE = os.environ.get("ZELVO_SANITIZE", "0") in ("1", "ON", "TRUE", "true")
# Slow start-up under the sanitizers: waits only, never pass/fail timing.
WAIT = 60.0 if SANITIZE else 20.0


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


def wait_listening(port, proc=None, timeout=WAIT):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


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


class Launcher:
    """One launcher process in its own working directory."""

    def __init__(self, workdir, config=None, registry=None, program="conlaunch", env=None):
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.logdir = self.workdir / "logs"
        self.logdir.mkdir(exist_ok=True)
        self.program = STAGE / program
        self.proc = None
        if config is not None:
            cfg = dict(config)
            cfg.setdefault("log", {"level": "6", "directory": str(self.logdir)})
            # The tests' pages name themselves "http://localhost"; the site permission has tests of its own.
            cfg.setdefault("allowedorigins", ["http://localhost"])
            (self.workdir / "application.config").write_text(json.dumps(cfg), encoding="utf-8")
        self.env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        runtime = self.workdir / "run"
        runtime.mkdir(exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = str(runtime)
        self.env["XDG_STATE_HOME"] = str(self.workdir / "state")
        self.env["XDG_CONFIG_HOME"] = str(self.workdir / "config")
        self.env["HOME"] = str(self.workdir / "home")
        (self.workdir / "home").mkdir(exist_ok=True)
        self.env["ZELVO_REGISTRY"] = str(registry) if registry else str(self.workdir / "none.reg")
        if SANITIZE:
            self.env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0")
        if env:
            self.env.update(env)

    def start(self, argument, *extra):
        return self.start_argv(argument, *extra)

    def start_argv(self, *words):
        """Starts the program with exactly these arguments (also none)."""
        self.proc = subprocess.Popen(
            [str(self.program), *words], cwd=self.workdir, env=self.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return self

    def run_argv(self, *words, timeout=WAIT):
        """As run, with exactly these arguments (also none)."""
        self.start_argv(*words)
        out, err = self.proc.communicate(b"\n", timeout=timeout)
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def write_config(self, config):
        """Replaces application.config (a dict as JSON, or text as it stands)."""
        text = config if isinstance(config, str) else json.dumps(config)
        (self.workdir / "application.config").write_text(text, encoding="utf-8")

    def run(self, argument, *extra, timeout=WAIT):
        """Runs to the end; answers the console build's closing prompt."""
        self.start(argument, *extra)
        out, err = self.proc.communicate(b"\n", timeout=timeout)
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def wait(self, timeout=WAIT):
        try:
            self.proc.stdin.write(b"\n")
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            pass
        out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def log_text(self):
        return "".join(p.read_text(encoding="utf-8", errors="replace") for p in sorted(self.logdir.glob("*.log")))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=10)


def request(verb, payload, scheme="zelvo"):
    return "%s://%s%s" % (scheme, verb, b64json(payload) if isinstance(payload, dict) else payload)
