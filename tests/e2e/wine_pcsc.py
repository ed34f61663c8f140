"""Windows programs under wine64 reaching a private pcscd through the test-only WinSCard
bridge (tests/windows/winscard-bridge, built by the x86-64 Windows build into
<build>/tests/winscard-bridge): install_bridge puts the PE forwarder winscard.dll and
Wine's placeholder pcscbridge.dll in the prefix's system32; pcsc_env makes Wine load
the Winelib pcscbridge.dll.so from the build and name the daemon's socket. Wine's own
winscard.dll (8.0) is a stub, so without the bridge every call fails."""
import ctypes.util
import shutil
from pathlib import Path

from wine import WINE64, WINESERVER

SYSTEM_FILES = ("winscard.dll", "pcscbridge.dll")
BRIDGE_FILES = SYSTEM_FILES + ("pcscbridge.dll.so",)


def bridge_dir(build):
    return build / "tests" / "winscard-bridge"


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


def install_bridge(prefix, folder):
    """In place of Wine's own winscard.dll: every program of the prefix (a launcher and
    the plug-in it loads) reaches pcscd with pcsc_env."""
    system = Path(prefix.path) / "drive_c" / "windows" / "system32"
    for name in SYSTEM_FILES:
        shutil.copy2(folder / name, system / name)


def pcsc_env(prefix, folder, socket, env=None):
    """The environment in `prefix` (a wine.WinePrefix) whose WinSCard calls reach the
    pcscd listening on `socket`."""
    env = prefix.environment(env)
    env["WINEDLLOVERRIDES"] = "winscard=n;" + env.get("WINEDLLOVERRIDES", "")
    env["WINEDLLPATH"] = str(folder)
    env["PCSCLITE_CSOCK_NAME"] = str(socket)
    return env
