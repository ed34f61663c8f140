#!/usr/bin/python3
"""Signing benchmark: one 50 MiB document signed by the stand-in signer through
the real launcher and the signing plug-in, with a real WebSocket client. Prints
the launcher's resident memory before the run, its peak (the kernel's maximum
resident set size, VmHWM) and the run's time; never pass/fail.

  cmake --build build --target benchmark-signing     (or: signing_benchmark.py [MIB])
"""
import asyncio
import json
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from signing_support import Signer, sample_pdf  # noqa: E402
from zelvo_harness import connect, run_request  # noqa: E402


def status_mib(pid, field):
    """VmRSS or VmHWM of the process in MiB; None once it has gone."""
    try:
        for line in Path("/proc/%d/status" % pid).read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    except OSError:
        pass
    return None


def main():
    mib = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    document = sample_pdf(padding=os.urandom(mib << 20))
    size_mib = len(document) / (1 << 20)
    with tempfile.TemporaryDirectory() as tmp:
        signer = Signer(Path(tmp) / "s", program="launcher")
        signer.serve(run_request("quillet"))
        try:
            before = status_mib(signer.proc.pid, "VmRSS")

            async def page():
                async with connect(signer.port) as ws:
                    start = time.monotonic()
                    await ws.send(json.dumps({"reason": "benchmark"}))
                    await ws.send(document)
                    signed = await ws.recv()
                    return time.monotonic() - start, len(signed)

            # The launcher's own peak (wait4 would add in its child's), read while
            # it runs: VmHWM only grows, and the reply comes after the peak.
            peaks = []

            def watch():
                while (hwm := status_mib(signer.proc.pid, "VmHWM")) is not None:
                    peaks.append(hwm)
                    time.sleep(0.005)

            watcher = threading.Thread(target=watch)
            watcher.start()
            seconds, signed = asyncio.run(page())
            signer.proc.wait(timeout=60)
            watcher.join()
            peak = max(peaks)
        finally:
            signer.stop()
    print("document %.1f MiB, signed %.1f MiB, run %.2f s" % (size_mib, signed / (1 << 20), seconds))
    print("launcher resident before the run %.1f MiB, peak %.1f MiB" % (before, peak))
    print("peak / document %.2f; (peak - before) / document %.2f (target: under 3)"
          % (peak / size_mib, (peak - before) / size_mib))


if __name__ == "__main__":
    main()
