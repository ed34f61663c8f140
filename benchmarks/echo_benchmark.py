#!/usr/bin/python3
"""Echo benchmark: the launcher hosting the echo plug-in and the direct Beast
echo server, measured alternately (launcher, direct, launcher, direct, ...) by
the Beast client echo_client. Prints medians, each pair's ratio and the targets;
never pass/fail.

  cmake --build build --target benchmark          (or: echo_benchmark.py [PAIRS])
"""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from zelvo_harness import b64json, free_port, write_registry  # noqa: E402

STAGE = Path(os.environ.get("ZELVO_STAGE", HERE.parent / "build" / "stage"))
BUILD = Path(os.environ.get("ZELVO_BUILD", STAGE.parent))
BASEKEY = "SOFTWARE\\ZelvoBench\\"
MESSAGE_MIB = 50

# label, figure, target, whether it is met (launcher's median, median ratio as printed)
ROWS = [
    ("round trip of a 100-byte text (us)", "latency_us", "ratio <= 1.2", lambda _, r: r <= 1.2),
    ("throughput of 1 MiB binary messages (MiB/s)", "throughput_mib_s", "ratio >= 0.8", lambda _, r: r >= 0.8),
    ("start to first answer (ms)", "first_ms", "launcher < 50 ms", lambda v, _: v < 50),
    ("peak memory echoing one 50 MiB message (MiB)", "peak_mib", "launcher < 3x message",
     lambda v, _: v < 3 * MESSAGE_MIB),
]


def start_launcher(port, work):
    (work / "application.config").write_text(json.dumps({
        "port": str(port), "idletimeout": "60000", "basekey": BASEKEY,
        "maxmessagesize": str(2 * MESSAGE_MIB << 20), "log": {"level": "2", "directory": str(work)}}))
    registry = write_registry(work / "bench.reg", {
        BASEKEY + "echo": {"RuntimeLib": str(BUILD / "tests" / "fixtures" / "echo-plugin.so")}})
    env = dict(os.environ, ZELVO_REGISTRY=str(registry), XDG_RUNTIME_DIR=str(work))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    argument = "zelvo://run/" + b64json({"type": "windows", "name": "echo", "port": str(port)})
    return subprocess.Popen([str(STAGE / "launcher"), argument], cwd=work, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_direct(port, _work):
    return subprocess.Popen([str(BUILD / "benchmarks" / "direct_echo_server"), str(port)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(proc):
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()


def run(start, work):
    """One side's figures: a fresh server for the first answer, another for the rest
    (the launcher serves one page per run)."""
    figures = {}
    for mode in ("first", "measure"):
        port = free_port()
        t0 = time.monotonic_ns()  # CLOCK_MONOTONIC, as the client's steady clock
        proc = start(port, work)
        try:
            out = subprocess.run([str(BUILD / "benchmarks" / "echo_client"), mode, str(port),
                                  str(t0 if mode == "first" else proc.pid)],
                                 capture_output=True, text=True, timeout=300)
            if out.returncode != 0:
                raise RuntimeError(out.stderr.strip())
            figures.update((name, float(value)) for name, value in (line.split() for line in out.stdout.splitlines()))
        finally:
            stop(proc)
    return figures


def main():
    pairs = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    launcher, direct = [], []
    with tempfile.TemporaryDirectory(prefix="zelvo-bench-") as work:
        for _ in range(pairs):
            launcher.append(run(start_launcher, Path(work)))
            direct.append(run(start_direct, Path(work)))
    print("%d pairs, launcher and direct server alternately; medians, and the median of the pairs' ratios"
          % pairs)
    print("%-50s %10s %10s %7s  %s" % ("", "launcher", "direct", "ratio", "target"))
    for label, key, target, met in ROWS:
        ratios = [a[key] / b[key] for a, b in zip(launcher, direct)]
        ours, theirs, ratio = (statistics.median(x) for x in
                               ([f[key] for f in launcher], [f[key] for f in direct], ratios))
        print("%-50s %10.1f %10.1f %7.2f  %s: %s" % (label, ours, theirs, ratio, target,
                                                    "met" if met(ours, round(ratio, 2)) else "MISSED"))
    print("peak memory / message size: %.2f" % (statistics.median(f["peak_mib"] for f in launcher) / MESSAGE_MIB))
    print("ratio of each pair (launcher / direct):")
    for label, key, _, _ in ROWS:
        print("  %-48s %s" % (label.split(" (")[0],
                              " ".join("%.2f" % (a[key] / b[key]) for a, b in zip(launcher, direct))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
