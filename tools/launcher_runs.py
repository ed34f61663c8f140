#!/usr/bin/python3
"""Shows each run of the launcher that the desktop starts for a browser: its process id, its
working folder, its request and its exit code. The launcher is then a grandchild of the
browser, so nothing else reports how it ended; the kernel's process connector (netlink, root
only) reports every program start and end.

    sudo tools/launcher_runs.py [PROGRAM]      # default /usr/lib/zelvo/launcher; Ctrl+C ends

From Python: LauncherRuns(program, marker) keeps the runs whose environment holds the
"NAME=value" text `marker` (any run when it is None)."""
import os
import signal
import socket
import struct
import sys
import threading
from pathlib import Path

NETLINK_CONNECTOR, CN_IDX_PROC, PROC_CN_MCAST_LISTEN = 11, 1, 1
PROC_EVENT_EXEC, PROC_EVENT_EXIT = 0x2, 0x80000000


class LauncherRuns:
    """{pid: [working folder, request, exit code or -signal, None while running]}."""

    def __init__(self, program="/usr/lib/zelvo/launcher", marker=None, on_change=None):
        self.program, self.on_change = str(program), on_change
        self.marker = marker.encode() if marker else None
        self.runs, self._cv = {}, threading.Condition()
        self._sock = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, NETLINK_CONNECTOR)
        self._sock.bind((0, CN_IDX_PROC))
        listen = struct.pack("IIIIHHI", CN_IDX_PROC, 1, 0, 0, 4, 0, PROC_CN_MCAST_LISTEN)
        self._sock.send(struct.pack("IHHII", 16 + len(listen), 3, 0, 0, self._sock.getsockname()[0]) + listen)
        self._sock.settimeout(0.5)
        self._open = True
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        while self._open:
            try:
                data = self._sock.recv(4096)
            except (socket.timeout, OSError):
                continue
            # nlmsghdr (16) + cn_msg (20), then proc_event: what, cpu, timestamp, pid, tgid, ...
            what, = struct.unpack_from("I", data, 36)
            pid, tgid = struct.unpack_from("II", data, 52)
            if pid != tgid:
                continue
            if what == PROC_EVENT_EXEC:
                self._started(pid)
            elif what == PROC_EVENT_EXIT and pid in self.runs:
                status, = struct.unpack_from("I", data, 60)
                self._changed(pid, 2, status >> 8 if status & 0x7F == 0 else -(status & 0x7F))

    def _started(self, pid):
        proc = Path("/proc/%d" % pid)
        try:
            if os.readlink(proc / "exe") != self.program:
                return
            if self.marker and self.marker not in (proc / "environ").read_bytes().split(b"\0"):
                return
            args = (proc / "cmdline").read_bytes().split(b"\0")
            self.runs[pid] = [os.readlink(proc / "cwd"), args[1].decode(errors="replace") if len(args) > 1 else "", None]
        except OSError:
            return
        self._changed(pid, 2, None)

    def _changed(self, pid, field, value):
        with self._cv:
            self.runs[pid][field] = value
            self._cv.notify_all()
        if self.on_change:
            self.on_change(pid, self.runs[pid])

    def finished(self, timeout):
        """The runs since the last call, once all have ended or `timeout` seconds have passed;
        runs still going then are killed."""
        with self._cv:
            self._cv.wait_for(lambda: self.runs and all(r[2] is not None for r in self.runs.values()), timeout)
            runs, self.runs = self.runs, {}
        for pid, run in runs.items():
            if run[2] is None:
                os.kill(pid, signal.SIGKILL)
        return list(runs.values())

    def close(self):
        self._open = False
        self._thread.join(5)
        self._sock.close()
        self.finished(0)


def main(argv):
    def show(pid, run):
        cwd, request, code = run
        print("%d %s en %s: %s" % (pid, "terminó con el código %d" % code if code is not None else "empezó",
                                  cwd, request), flush=True)

    try:
        runs = LauncherRuns(argv[0] if argv else "/usr/lib/zelvo/launcher", on_change=show)
    except PermissionError:
        print("launcher_runs: hace falta ser root para escuchar al núcleo", file=sys.stderr)
        return 1
    print("Esperando ejecuciones de %s (Ctrl+C para terminar)" % runs.program, flush=True)
    try:
        signal.sigwait({signal.SIGINT, signal.SIGTERM})
    finally:
        runs._open = False
    return 0


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    sys.exit(main(sys.argv[1:]))
