#!/usr/bin/python3
"""./dev demo: runs the bridge's main jobs on built-in defaults.

  ./dev demo            the identity card read through the simulated card (falls back to echo)
  ./dev demo echo       the echo test application: hola and a 5-byte binary message
  ./dev demo --wait     the echo test application, waiting for a page (prints the URL)
  ./dev demo java       the echo through the Java application host
  ./dev demo sign       a sample PDF signed by the stand-in signer
"""
import argparse
import asyncio
import json
import os
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
# The demos share the end-to-end tests' helpers for ports, payloads and waits.
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from zelvo_harness import b64json, free_port, wait_listening  # noqa: E402


class DemoLauncher:
    """conlaunch in a private working folder; stopped by its process id."""

    def __init__(self, build, config, registry_text=None, env=None):
        self.stage = Path(build) / "stage"
        self.work = Path(tempfile.mkdtemp(prefix="zelvo-demo-"))
        self.logdir = self.work / "logs"
        self.logdir.mkdir()
        cfg = dict(config)
        cfg.setdefault("log", {"level": "6", "directory": str(self.logdir)})
        (self.work / "application.config").write_text(json.dumps(cfg, indent=2), encoding="utf-8")
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        run = self.work / "run"
        run.mkdir()
        self.env["XDG_RUNTIME_DIR"] = str(run)
        reg = self.work / "zelvo.reg"
        reg.write_text(registry_text or "Windows Registry Editor Version 5.00\n", encoding="utf-8")
        self.env["ZELVO_REGISTRY"] = str(reg)
        if env:
            self.env.update(env)
        self.proc = None

    def start(self, argument):
        self.proc = subprocess.Popen([str(self.stage / "conlaunch"), argument], cwd=self.work, env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, timeout=30):
        try:
            out, err = self.proc.communicate(b"\n", timeout=timeout)
        except subprocess.TimeoutExpired:
            os.kill(self.proc.pid, signal.SIGKILL)
            out, err = self.proc.communicate()
        return self.proc.returncode, err.decode("utf-8", "replace")

    def log_files(self):
        return sorted(self.logdir.glob("*.log"))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


async def echo_exchange(port):
    import websockets
    async with websockets.connect("ws://127.0.0.1:%d/" % port, origin="http://localhost:%d" % port) as ws:
        await ws.send("hola")
        print("  enviado: hola            -> respuesta: %s" % await ws.recv())
        await ws.send(b"\x01\x02\x03\x04\x05")
        print("  enviado: 5 bytes binario -> respuesta: %s" % await ws.recv())


def demo_echo(build, wait=False):
    port = free_port()
    idle = 120000 if wait else 20000
    launcher = DemoLauncher(build, {"port": str(port), "idletimeout": str(idle)})
    try:
        launcher.start("zelvo://test/" + b64json({"port": str(port), "idletimeout": str(idle)}))
        if not wait_listening(port, launcher.proc):
            print("El lanzador no abrió el puerto %d." % port)
            code, err = launcher.finish()
            print(err)
            return 1
        print("Lanzador en modo de prueba (aplicación eco) en 127.0.0.1:%d" % port)
        if wait:
            url = "http://localhost:%d/test.html?%s" % (port, b64json(
                {"idletimeout": str(idle), "port": str(port), "use_ssl": ""}))
            print("Abra esta página en su navegador y pulse «Conectar» (se espera %d s):\n  %s" % (idle // 1000, url))
            code, err = launcher.finish(timeout=idle / 1000 + 60)
        else:
            asyncio.run(echo_exchange(port))
            code, err = launcher.finish()
        print("El lanzador terminó con el código de salida %d" % code)
        for f in launcher.log_files():
            print("Registro: %s" % f)
        return 0 if code == 0 else 1
    finally:
        launcher.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, type=lambda p: str(Path(p).resolve()))
    ap.add_argument("what", nargs="?", default="card")
    ap.add_argument("--wait", action="store_true")
    a = ap.parse_args()
    if a.what == "--wait":
        a.wait, a.what = True, "echo"
    if a.wait:
        return demo_echo(a.build, wait=True)
    if a.what == "echo":
        return demo_echo(a.build)
    if a.what == "java":
        from demo_java import demo_java
        return demo_java(a.build)
    if a.what == "sign":
        from demo_sign import demo_sign
        return demo_sign(a.build)
    if a.what == "card":
        try:
            from demo_card import demo_card
        except ImportError:
            return demo_echo(a.build)
        return demo_card(a.build)
    ap.error("unknown demo: " + a.what)


if __name__ == "__main__":
    sys.exit(main())
