#!/usr/bin/python3
"""Echo benchmark: the launcher hosting the echo plug-in, side by side with a
direct Boost.Beast echo server. Prints figures and ratios; never pass/fail.

  cmake --build build --target benchmark
"""
import asyncio
import json
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from zelvo_harness import b64json, free_port, wait_listening  # noqa: E402

import websockets  # noqa: E402

STAGE = Path(os.environ.get("ZELVO_STAGE", HERE.parent / "build" / "stage"))
BUILD = Path(os.environ.get("ZELVO_BUILD", STAGE.parent))
BASEKEY = "SOFTWARE\\ZelvoBench\\"
ROUNDS = 1000
MIB = 1 << 20
BIG = 50 * MIB


def start_launcher(port):
    work = Path(tempfile.mkdtemp(prefix="zelvo-bench-"))
    (work / "application.config").write_text(json.dumps({
        "port": str(port), "idletimeout": "60000", "basekey": BASEKEY,
        "maxmessagesize": str(2 * BIG), "log": {"level": "2", "directory": str(work)}}))
    reg = work / "bench.reg"
    plugin = str(BUILD / "tests" / "fixtures" / "echo-plugin.so")
    reg.write_text('Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\%secho]\n"RuntimeLib"="%s"\n'
                   % (BASEKEY, plugin), encoding="utf-8")
    env = dict(os.environ, ZELVO_REGISTRY=str(reg), XDG_RUNTIME_DIR=str(work))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    argument = "zelvo://run/" + b64json({"type": "windows", "name": "echo", "port": str(port)})
    return subprocess.Popen([str(STAGE / "launcher"), argument], cwd=work, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_direct(port):
    return subprocess.Popen([str(BUILD / "benchmarks" / "direct_echo_server"), str(port)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def peak_memory_kib(pid):
    for line in Path("/proc/%d/status" % pid).read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return 0


async def measure(port, pid):
    figures = {}
    async with websockets.connect("ws://127.0.0.1:%d/" % port, origin="http://localhost:%d" % port,
                                  max_size=None, compression=None) as ws:
        text = "x" * 100
        times = []
        for _ in range(ROUNDS):
            t0 = time.perf_counter()
            await ws.send(text)
            await ws.recv()
            times.append(time.perf_counter() - t0)
        figures["latency_ms"] = statistics.median(times) * 1000
        block = os.urandom(MIB)
        t0 = time.perf_counter()
        for _ in range(50):
            await ws.send(block)
            await ws.recv()
        figures["throughput_mib_s"] = 50 / (time.perf_counter() - t0)
        before = peak_memory_kib(pid)
        await ws.send(os.urandom(BIG))
        await ws.recv()
        figures["peak_mib"] = max(before, peak_memory_kib(pid)) / 1024
    return figures


async def first_answer(port, proc, t0):
    """Seconds from starting the process (t0) to the first echo answer."""
    while True:
        try:
            async with websockets.connect("ws://127.0.0.1:%d/" % port, origin="http://localhost:%d" % port) as ws:
                await ws.send("hola")
                await ws.recv()
                return time.perf_counter() - t0
        except OSError:
            if proc.poll() is not None:
                raise RuntimeError("the server ended before answering")
            await asyncio.sleep(0.002)


def run(kind):
    port = free_port()
    t_start = time.perf_counter()
    proc = start_launcher(port) if kind == "launcher" else start_direct(port)
    try:
        startup = asyncio.run(first_answer(port, proc, t_start))
        if kind == "launcher":
            # One page per launcher run: start another for the measurements.
            proc.wait(timeout=30)
            port = free_port()
            proc = start_launcher(port)
            if not wait_listening(port, proc):
                raise RuntimeError("the launcher did not listen")
        figures = asyncio.run(measure(port, proc.pid))
        figures["startup_ms"] = startup * 1000
        return figures
    finally:
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.kill(proc.pid, signal.SIGKILL)
                proc.wait()


def main():
    direct = run("direct")
    bridge = run("launcher")
    rows = [("latency of a 100-byte text, median of %d (ms)" % ROUNDS, "latency_ms"),
            ("throughput of 1 MiB binary messages (MiB/s)", "throughput_mib_s"),
            ("start to first answer (ms)", "startup_ms"),
            ("peak memory echoing one 50 MiB message (MiB)", "peak_mib")]
    print("%-52s %12s %12s %8s" % ("", "launcher", "direct", "ratio"))
    for label, key in rows:
        ratio = bridge[key] / direct[key] if direct[key] else float("nan")
        print("%-52s %12.2f %12.2f %8.2f" % (label, bridge[key], direct[key], ratio))
    print("peak memory / message size: %.2f" % (bridge["peak_mib"] / 50))
    return 0


if __name__ == "__main__":
    sys.exit(main())
