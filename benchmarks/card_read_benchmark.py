#!/usr/bin/python3
"""Time to read and convert DG2 (the photo) end to end: WebSocket client -> launcher -> card
plug-in -> libpcsclite -> private pcscd -> simulated card, with the number of APDUs. Each run is
a fresh launcher (one request per connection), so each pays Basic Access Control once. A
measurement, never pass/fail.

  /usr/bin/python3 benchmarks/card_read_benchmark.py BUILD_DIR [RUNS]
"""
import statistics
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools" / "virtual-card"))

from pcsc_fixture import PrivatePcscd  # noqa: E402
from vexa_bridge import VexaBridge  # noqa: E402


def main():
    stage = Path(sys.argv[1]).resolve() / "stage"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    work = Path(tempfile.mkdtemp(prefix="zelvo-bench-card-"))
    pcscd = PrivatePcscd(workdir=work / "pcscd", keep=False)
    times, apdus = [], []
    try:
        pcscd.start()
        for i in range(runs):
            bridge = VexaBridge(stage, work / ("launcher%d" % i), pcscd.env)
            try:
                bridge.serve_card()
                before = len(pcscd.exchanges())
                t0 = time.perf_counter()
                reply = bridge.ask("read dg2")
                times.append(time.perf_counter() - t0)
                apdus.append(len(pcscd.exchanges()) - before)
                if reply.get("status") != "0":
                    print("la lectura falló: %s" % reply)
                    return 1
                bridge.finish()
            finally:
                bridge.stop()
            # pcscd powers the card off about a second after the last handle closes.
            time.sleep(1.5)
    finally:
        pcscd.stop()
    print("read dg2 (photo JP2 -> PNG), %d runs: median %.1f ms, min %.1f ms, %d APDUs per read"
          % (runs, statistics.median(times) * 1000, min(times) * 1000, apdus[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
