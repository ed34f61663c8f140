"""The launcher in server mode hosting the card plug-in against the simulated card, for the
card page test and the card demo: a private working folder (configuration, registry file,
HOME, runtime and state folders), PCSCLITE_CSOCK_NAME of a private pcscd, and a WebSocket
client that sends one command and returns the JSON reply. Stopped by its process id."""
import asyncio
import json
import os
import signal
import subprocess
from pathlib import Path

import websockets

from zelvo_harness import b64json, free_port, wait_listening, write_registry

BASEKEY = "SOFTWARE\\Zelvo\\"
PLUGIN = "vexa-tools.so"
READ_ALL = "read abi dg1 dg2 dg7"


class BridgeError(RuntimeError):
    pass


def missing_parts(stage):
    """What must be built first for the card through the bridge, or an empty list."""
    stage = Path(stage)
    return [str(p) for p in (stage / "conlaunch", stage / "plugins" / PLUGIN,
                             stage / "html" / "card.html") if not p.exists()]


class VexaBridge:
    def __init__(self, stage, workdir, pcscd_env, idletimeout=60000, wait=20.0, sanitize=False):
        self.stage = Path(stage)
        self.work = Path(workdir)
        self.wait = wait
        self.port = free_port()
        self.proc = None
        self.plugin = self.stage / "plugins" / PLUGIN
        for d in ("logs", "home", "run", "state"):
            (self.work / d).mkdir(parents=True, exist_ok=True)
        config = {"port": str(self.port), "idletimeout": str(idletimeout), "basekey": BASEKEY,
                  "log": {"level": "6", "directory": str(self.work / "logs")}}
        (self.work / "application.config").write_text(json.dumps(config), encoding="utf-8")
        registry = write_registry(self.work / "zelvo.reg",
                                  {BASEKEY + "vexa": {"RuntimeLib": str(self.plugin)}})
        self.env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        self.env.update(PCSCLITE_CSOCK_NAME=pcscd_env["PCSCLITE_CSOCK_NAME"],
                        ZELVO_REGISTRY=str(registry), HOME=str(self.work / "home"),
                        XDG_RUNTIME_DIR=str(self.work / "run"),
                        XDG_STATE_HOME=str(self.work / "state"))
        if sanitize:
            self.env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0")

    def start(self):
        # The console build logs every message it relays, photos included: its output goes
        # to files, since a pipe nobody reads while the page waits would fill and stall it.
        with open(self.work / "stdout.txt", "wb") as out, open(self.work / "stderr.txt", "wb") as err:
            self.proc = subprocess.Popen(
                [str(self.stage / "conlaunch"),
                 "zelvo://run/" + b64json({"type": "windows", "name": "vexa"})],
                cwd=self.work, env=self.env, stdin=subprocess.PIPE, stdout=out, stderr=err)
        if not wait_listening(self.port, self.proc, self.wait):
            code, out, err = self.finish()
            raise BridgeError("el lanzador no abrió el puerto %d (código %s)\n%s\n%s"
                              % (self.port, code, out, err))
        return self

    def page_url(self, page="card.html"):
        return "http://localhost:%d/%s" % (self.port, page)

    def finish(self, timeout=None):
        """Answers the console build's closing prompt and waits for the end."""
        try:
            self.proc.communicate(b"\n", timeout=timeout or self.wait)
        except subprocess.TimeoutExpired:
            self.stop()
        return self.proc.returncode, self.output("stdout.txt"), self.output("stderr.txt")

    def output(self, name="stderr.txt"):
        try:
            return (self.work / name).read_text(encoding="utf-8", errors="replace")
        except OSError:
            return ""

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=10)

    def plugin_log(self):
        folder = self.work / "home" / ".vexatools"
        return "".join(p.read_text(encoding="utf-8", errors="replace")
                       for p in sorted(folder.glob("*.log"))) if folder.is_dir() else ""

    async def _ask(self, command):
        async with websockets.connect("ws://localhost:%d/" % self.port, origin="http://localhost:%d" % self.port,
                                      max_size=None, open_timeout=self.wait,
                                      close_timeout=self.wait, ping_interval=None) as ws:
            await ws.send(command)
            return await asyncio.wait_for(ws.recv(), self.wait * 3)

    def ask(self, command=READ_ALL):
        """Sends one command; the reply parsed as JSON."""
        text = asyncio.run(self._ask(command))
        try:
            return json.loads(text)
        except ValueError:
            raise BridgeError("respuesta que no es JSON: %r" % text[:200])
