"""Windows programs under wine64 reaching a private pcscd through the test-only WinSCard
bridge (tests/windows/winscard-bridge, built by the x86-64 Windows build into
<build>/tests/winscard-bridge):

    winscard.dll       PE forwarder, placed beside the program (WINEDLLOVERRIDES=winscard=n)
    pcscbridge.dll     Wine's placeholder for the Winelib bridge, beside the program too: Wine
                       loads a builtin only when a file of its name is on the search path
    pcscbridge.dll.so  the Winelib bridge itself, found through WINEDLLPATH
    pcsc_probe.exe     a WinSCard client calling what the card plug-in calls

    prefix = WinePrefix(tmp / "wine")      # own WINEPREFIX, own persistent wineserver
    prefix.start()
    env = prefix.pcsc_env(bridge_dir(build), reader.socket)
    prefix.run([program, args...], env)
    prefix.stop()                          # wineserver -k, the server by its pid, the prefix

Wine's own winscard.dll (8.0) is a stub, so without the bridge every call fails."""
import ctypes.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from zelvo_harness import ROOT, WAIT

sys.path.insert(0, str(ROOT / "tools" / "virtual-card"))
from pcsc_fixture import stop_process  # noqa: E402

WINE64 = Path("/usr/lib/wine/wine64")
# The wineserver wrapper script execs this one: started directly, its pid is the server's.
WINESERVER = Path("/usr/lib/wine/wineserver64")
BESIDE_PROGRAM = ("winscard.dll", "pcscbridge.dll")
BRIDGE_FILES = BESIDE_PROGRAM + ("pcscbridge.dll.so", "pcsc_probe.exe")
# Creating a prefix copies about 700 MB: a wait, never a pass/fail time.
BOOT_WAIT = WAIT * 15
# No Mono or Gecko installers, no desktop menu entries outside the test's folder.
QUIET_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

SCARD_E_INSUFFICIENT_BUFFER = 0x80100008
SCARD_E_NO_SMARTCARD = 0x8010000C
SCARD_E_NO_READERS_AVAILABLE = 0x8010002E
SCARD_W_REMOVED_CARD = 0x80100069


def windows_build():
    """The x86-64 Windows build folder (ZELVO_WINDOWS_BUILD, else build-windows-x64)."""
    return Path(os.environ.get("ZELVO_WINDOWS_BUILD", ROOT / "build-windows-x64"))


def bridge_dir(build=None):
    return (build or windows_build()) / "tests" / "winscard-bridge"


def missing(folder):
    """Why Windows programs cannot reach pcscd here, or None when they can."""
    if not WINE64.exists() or not WINESERVER.exists():
        return "wine64 is not installed"
    absent = [name for name in BRIDGE_FILES if not (folder / name).exists()]
    if absent:
        return "the Windows build has no %s in %s (set ZELVO_WINDOWS_BUILD)" % (", ".join(absent), folder)
    if not ctypes.util.find_library("pcsclite"):
        return "libpcsclite is not installed"
    return None


def place_bridge(folder, program_dir):
    """Copies the forwarder and the bridge's placeholder beside a program."""
    for name in BESIDE_PROGRAM:
        shutil.copy2(folder / name, Path(program_dir) / name)


class WinePrefix:
    """A WINEPREFIX of the test's own, served by a persistent wineserver it starts and stops.
    The server runs first so that registry and file changes made by one program are seen
    by the next. Wine is quiet unless ZELVO_WINEDEBUG gives a WINEDEBUG value."""

    def __init__(self, path):
        self.path = Path(path)
        self.server = None

    def env(self, overrides="", base=None):
        env = dict(os.environ if base is None else base)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINEDLLPATH", "WINESERVER", "WINELOADER"):
            env.pop(name, None)
        env["WINEPREFIX"] = str(self.path)
        env["WINEDEBUG"] = os.environ.get("ZELVO_WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = ";".join(x for x in (overrides, QUIET_OVERRIDES) if x)
        return env

    def pcsc_env(self, folder, socket, base=None):
        """Environment for a program beside which place_bridge put the bridge: WinSCard calls
        reach the pcscd listening on `socket`."""
        env = self.env("winscard=n", base)
        env["WINEDLLPATH"] = str(folder)
        env["PCSCLITE_CSOCK_NAME"] = str(socket)
        return env

    def _server_ready(self):
        """True once the prefix's server listens. Upstream Wine keeps its socket under
        /tmp/.wine-<uid>; Debian's under a random /tmp folder named in <prefix>/wineserver."""
        st = os.stat(self.path)
        folders = [Path("/tmp/.wine-%d" % os.getuid())]
        try:
            name = (self.path / "wineserver").read_text().strip()
        except OSError:
            name = ""
        if name and "/" not in name and name not in (".", ".."):
            folders.append(Path("/tmp") / name)
        return any((f / ("server-%x-%x" % (st.st_dev, st.st_ino)) / "socket").exists() for f in folders)

    def start(self):
        self.path.mkdir(parents=True, exist_ok=True)
        log = self.path.parent / "wineserver.log"
        with open(log, "ab") as out:
            self.server = subprocess.Popen([str(WINESERVER), "--foreground", "--persistent"], env=self.env(),
                                           cwd=self.path.parent, stdin=subprocess.DEVNULL, stdout=out,
                                           stderr=subprocess.STDOUT)
        try:
            # A program started before the socket exists would start a server of its own.
            end = time.monotonic() + WAIT
            while not self._server_ready():
                if self.server.poll() is not None or time.monotonic() > end:
                    raise RuntimeError("wineserver did not start: %s" % log.read_text(errors="replace")[-2000:])
                time.sleep(0.05)
            booted = self.run(["cmd", "/c", "exit"], self.env(), timeout=BOOT_WAIT)
            if booted.returncode != 0:
                raise RuntimeError("the prefix did not boot: %s" % booted.stderr.decode(errors="replace")[-2000:])
        except BaseException:
            self.stop()
            raise
        return self

    def run(self, args, env, timeout=WAIT * 3):
        """wine64 args...; a CompletedProcess with the output as bytes. The output goes through
        files: the prefix's services, started by the first program, inherit its handles and
        outlive it, so a pipe would never reach its end."""
        with tempfile.TemporaryFile(dir=self.path.parent) as out, \
                tempfile.TemporaryFile(dir=self.path.parent) as err:
            proc = subprocess.Popen([str(WINE64)] + [str(a) for a in args], env=env, cwd=self.path.parent,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                stop_process(proc, 5)
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(proc.args, proc.returncode, out.read(), err.read())

    def stop(self):
        """Ends every program of the prefix and its server, then removes the prefix."""
        if self.server is not None:
            if self.server.poll() is None:
                try:
                    subprocess.run([str(WINESERVER), "--kill"], env=self.env(), stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=WAIT)
                    self.server.wait(WAIT)
                except subprocess.TimeoutExpired:
                    stop_process(self.server, 5)
            self.server = None
        shutil.rmtree(self.path, ignore_errors=True)


class ProbeRun:
    """What pcsc_probe.exe printed, parsed (see the program's header)."""

    ERROR = re.compile(r"^error (\S+) 0x([0-9a-f]{8}) ")

    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stderr = completed.stderr.decode("utf-8", errors="replace")
        self.lines = completed.stdout.decode("utf-8").splitlines()
        self.pci, self.readers, self.answers, self.canaries = {}, [], [], []
        self.protocol = self.sizes = self.error = None
        self.needed = None
        for line in self.lines:
            word, _, rest = line.partition(" ")
            if word == "pci":
                name, protocol, length = rest.split()
                self.pci[name] = (int(protocol), int(length))
            elif word == "reader":
                self.readers.append(rest)
            elif word == "protocol":
                self.protocol = rest
            elif word == "apdu":
                command, _, answer = rest.partition(" -> ")
                self.answers.append((command, answer))
            elif word == "canary":
                self.canaries.append(rest)
            elif word == "sizes":
                needed, code, reported, same = rest.split()
                self.sizes = (int(needed), int(code, 16), int(reported), same)
            elif word == "error":
                m = self.ERROR.match(line)
                self.error = (m.group(1), int(m.group(2), 16)) if m else (rest, None)
                if "needed=" in line:
                    self.needed = int(line.rsplit("needed=", 1)[1])

    def __repr__(self):
        return "ProbeRun(%d, %r, %r)" % (self.returncode, self.lines, self.stderr[-1000:])
