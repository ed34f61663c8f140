"""Windows programs under wine64 (32-bit code cannot run on these machines) in a
WinePrefix of the tests' own, whose persistent server is started first so that what
one program writes (registry, files) is there for the next at once. Every process
started here is stopped by its pid; the server by `wineserver -k`, then by its pid."""
import os
import subprocess
import time
from pathlib import Path

from zelvo_harness import Program, stop_process

WINE_DIR = Path("/usr/lib/wine")
WINE64 = WINE_DIR / "wine64"
# The wrapper script execs this one: started directly, its pid is the server's.
WINESERVER = WINE_DIR / "wineserver64"
# The first start of a prefix takes about ten seconds, more on a busy machine:
# a wait, never a measure.
SETUP_WAIT = 180.0
WAIT = 60.0


def available():
    """Whether this machine can run 64-bit Windows programs."""
    return WINE64.exists() and WINESERVER.exists()


class WineError(RuntimeError):
    pass


class WinePrefix:
    """A Wine prefix in `path` with its own server; `env` is every program's environment
    (its DISPLAY is the prefix's for good: Wine's desktop process draws every window)."""

    def __init__(self, path, env=None):
        self.path = Path(path)
        self.env = dict(os.environ if env is None else env)
        self.env.update({
            "WINEPREFIX": str(self.path),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",                # Wine's own chatter would mix with the programs' stderr
            # No offer to install Mono or Gecko, no desktop menu entries outside the test's folder.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })
        for name in ("WINEDLLPATH", "WINESERVER", "WINELOADER"):
            self.env.pop(name, None)
        self.env.setdefault("LANG", "C.UTF-8")  # arguments pass to Windows as UTF-8 text
        self.server = None

    # -- life of the prefix -------------------------------------------------

    def start(self):
        if not available():
            raise WineError("wine64 is not installed")
        self.path.mkdir(parents=True, exist_ok=True)
        self.server = subprocess.Popen([str(WINESERVER), "--foreground", "--persistent"], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        try:
            # A program started before the server listens would start a server of its own.
            end = time.monotonic() + WAIT
            while not self._server_ready():
                if self.server.poll() is not None or time.monotonic() > end:
                    raise WineError("wineserver did not start")
                time.sleep(0.05)
            # With the display the programs will use: the desktop process started
            # here serves them all, and one started without a display can show no window.
            self._check(self.run("wineboot", "-i", timeout=SETUP_WAIT), "wineboot -i")
            # Without a window manager Wine draws the frames itself: a dialog shows its
            # title bar and close box under Xvfb as on Windows.
            self.set_registry("HKCU\\Software\\Wine\\X11 Driver", "Decorated", "N")
            # A program that crashes is ended, with Wine's line about it on its standard
            # error, instead of waiting behind Wine's crash dialog.
            self.set_registry("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "0", kind="REG_DWORD")
            self._check(self.run("cmd", "/c", "exit"), "cmd /c exit")
        except BaseException:
            self.stop()
            raise
        return self

    def _server_ready(self):
        """Whether the server listens: upstream's socket is under /tmp/.wine-<uid>, Debian's
        under a random /tmp folder named in <prefix>/wineserver."""
        try:
            st = os.stat(self.path)
        except OSError:
            return False
        folders = [Path("/tmp/.wine-%d" % os.getuid())]
        try:
            name = (self.path / "wineserver").read_text().strip()
        except OSError:
            name = ""
        if name and "/" not in name and name not in (".", ".."):
            folders.append(Path("/tmp") / name)
        return any((f / ("server-%x-%x" % (st.st_dev, st.st_ino)) / "socket").exists() for f in folders)

    def stop(self):
        """Ends every program of the prefix and its server."""
        if self.server is None:
            return
        try:
            subprocess.run([str(WINESERVER), "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=WAIT)
        except subprocess.TimeoutExpired:
            pass
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            stop_process(self.server)
        self.server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- programs -----------------------------------------------------------

    def environment(self, env=None):
        """The prefix's environment with `env` added."""
        return dict(self.env, **(env or {}))

    def command(self, program, *args):
        """The Unix command line running `program` (an .exe's path or a Wine program's name)."""
        return [str(WINE64), str(program), *map(str, args)]

    def run(self, program, *args, env=None, cwd=None, timeout=WAIT):
        """Runs a program to its end; a CompletedProcess (output as bytes, CRs kept)."""
        started = self.launch(program, *args, env=env, cwd=cwd)
        try:
            code, out, err = started.finish_bytes(timeout)
        except AssertionError as e:
            raise WineError(str(e)) from None
        return subprocess.CompletedProcess(started.proc.args, code, out, err)

    def launch(self, program, *args, env=None, cwd=None):
        """Starts a program; a zelvo_harness.Program to act on and finish."""
        return Program(self.command(program, *args), self.environment(env), cwd)

    def set_registry(self, key, name, data, kind="REG_SZ"):
        """One value in the prefix's registry (`reg add`, replacing what was there)."""
        self._check(self.run("reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"), "reg add " + key)

    @staticmethod
    def _check(done, what):
        if done.returncode != 0:
            raise WineError("%s failed (%d): %s" % (what, done.returncode, done.stderr.decode("utf-8", "replace")))
