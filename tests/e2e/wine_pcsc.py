"""Windows programs under wine64 reaching a private pcscd through the test-only WinSCard
bridge (tests/windows/winscard-bridge, built by the x86-64 Windows build into
<build>/tests/winscard-bridge):

    winscard.dll       PE forwarder, placed beside the program (WINEDLLOVERRIDES=winscard=n)
    pcscbridge.dll     Wine's placeholder for the Winelib bridge, beside the program too: Wine
                       loads a builtin only when a file of its name is on the search path
    pcscbridge.dll.so  the Winelib bridge itself, found through WINEDLLPATH
    pcsc_probe.exe     a WinSCard client calling what the card plug-in calls

    prefix = wine.WinePrefix(tmp / "wine").start()   # own WINEPREFIX, own persistent wineserver
    place_bridge(bridge_dir(build), program_folder)
    prefix.run(program, *args, env=pcsc_env(prefix, bridge_dir(build), reader.socket))
    prefix.stop()

Wine's own winscard.dll (8.0) is a stub, so without the bridge every call fails."""
import ctypes.util
import os
import re
import shutil
from pathlib import Path

from wine import WINE64, WINESERVER
from zelvo_harness import ROOT

BESIDE_PROGRAM = ("winscard.dll", "pcscbridge.dll")
BRIDGE_FILES = BESIDE_PROGRAM + ("pcscbridge.dll.so", "pcsc_probe.exe")

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


def install_bridge(prefix, folder):
    """Puts the forwarder and the bridge's placeholder in the prefix's system
    folder, in place of Wine's own winscard.dll: every program of the prefix (a
    launcher and the plug-in it loads) reaches pcscd with pcsc_env, none needs
    them beside it."""
    system = Path(prefix.path) / "drive_c" / "windows" / "system32"
    for name in BESIDE_PROGRAM:
        shutil.copy2(folder / name, system / name)


def pcsc_env(prefix, folder, socket, env=None):
    """The environment of a program beside which place_bridge put the bridge, in
    `prefix` (a wine.WinePrefix): its WinSCard calls reach the pcscd listening on `socket`."""
    env = prefix.environment(env)
    env["WINEDLLOVERRIDES"] = "winscard=n;" + env.get("WINEDLLOVERRIDES", "")
    env["WINEDLLPATH"] = str(folder)
    env["PCSCLITE_CSOCK_NAME"] = str(socket)
    return env


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
