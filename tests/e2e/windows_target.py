"""ZELVO_TARGET=windows: the same tests start the x86-64 Windows build under wine64.
Each module gets one session when its first launcher starts: an Xvfb display (so that
"taskkill /pid" reaches the hidden stop window and message boxes can be closed) and a
Wine prefix. Before each launcher the registry keys and the user's Zelvo folders are put
back as a Linux run has them. Message boxes are closed as they appear, their captions
kept in `launcher.boxes`."""
import contextlib
import getpass
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path

from wine import WinePrefix
from xdisplay import XDisplay
from zelvo_harness import WAIT, host_path, stop_process

# The keys a test's registry may hold: removed before each launcher starts.
OWN_KEYS = ("SOFTWARE\\Zelvo", "SOFTWARE\\Clients\\StartMenuInternet", "SOFTWARE\\JavaSoft",
            "SOFTWARE\\WOW6432Node\\JavaSoft")

_make_folder = None
_session = None
_test_folder = None  # the test whose launchers share the user's Zelvo folders now


class WindowsSession:
    def __init__(self, folder):
        self.folder = Path(folder)
        self.display = XDisplay()
        try:
            self.prefix = WinePrefix(self.folder / "prefix", env=self.display.env).start()
        except BaseException:
            self.display.stop()
            raise
        self.user = getpass.getuser()

    def stop(self):
        try:
            self.prefix.stop()
        finally:
            self.display.stop()

    def profile(self):
        """The user's profile folder in the prefix (%USERPROFILE%)."""
        return self.prefix.path / "drive_c" / "users" / self.user

    def user_folder(self, kind):
        """A folder of the user's profile in the prefix: "Roaming" (%APPDATA%) or "Local"."""
        return self.profile() / "AppData" / kind

    def reset_user_state(self, settings=True):
        """Logs and work files, and with `settings` the remembered decisions, as a Linux
        launcher has them in its own folder."""
        shutil.rmtree(self.user_folder("Local") / "Zelvo", ignore_errors=True)
        # The card plug-in's logs.
        shutil.rmtree(self.profile() / ".vexatools", ignore_errors=True)
        if settings:
            shutil.rmtree(self.user_folder("Roaming") / "Zelvo", ignore_errors=True)

    def import_registry(self, reg_file, folder):
        """The test's registry file in place of earlier tests' keys (regedit reads UTF-16)."""
        text = ["Windows Registry Editor Version 5.00", ""]
        text += ["[-HKEY_LOCAL_MACHINE\\%s]" % key for key in OWN_KEYS] + [""]
        if reg_file is not None and Path(reg_file).exists():
            lines = Path(reg_file).read_text(encoding="utf-8").splitlines()
            text += [l for l in lines if not l.startswith("Windows Registry Editor")]
        target = Path(folder) / "registry-import.reg"
        target.write_bytes("\r\n".join(text + [""]).encode("utf-16"))
        done = self.prefix.run("regedit", "/S", host_path(target))
        assert done.returncode == 0, done.stderr

    def windows_of(self, pid):
        """The visible X windows of the Unix process `pid` (a Windows program under Wine)."""
        # --all: xdotool's default joins the conditions with "or", which would
        # match every visible window of the display.
        out = self.display.xdotool("search", "--all", "--onlyvisible", "--pid", str(pid), "--name", ".*")
        return [int(w) for w in out.split()]


def begin(make_folder):
    """A module begins: `make_folder()` gives the session's folder when one is needed."""
    global _make_folder
    _make_folder = make_folder


def end():
    global _session, _make_folder
    if _session is not None:
        _session.stop()
    _session, _make_folder = None, None


def session():
    global _session
    if _session is None:
        assert _make_folder is not None, "the conftest's windows_session fixture did not run"
        _session = WindowsSession(_make_folder())
    return _session


def start(launcher, words):
    """Starts `launcher` (a zelvo_harness.Launcher) with exactly `words` under wine64."""
    global _test_folder
    s = session()
    # A new test starts from nothing; the launchers of one test share the
    # remembered decisions, as the site tests make them on Linux.
    new_test = _test_folder != launcher.workdir.parent
    _test_folder = launcher.workdir.parent
    s.reset_user_state(settings=new_test)
    s.import_registry(launcher.registry, launcher.workdir)
    env = s.prefix.environment({k: v for k, v in launcher.extra_env.items()})
    launcher.boxes = []
    # Files, not pipes: a Wine service started meanwhile would inherit a pipe and
    # keep it open after the program has ended.
    out, err = open(launcher.workdir / "stdout.txt", "wb"), open(launcher.workdir / "stderr.txt", "wb")
    try:
        launcher.proc = subprocess.Popen(s.prefix.command(launcher.program, *words), cwd=launcher.workdir, env=env,
                                         stdin=subprocess.PIPE, stdout=out, stderr=err)
    finally:
        out.close()
        err.close()
    return launcher


def close_boxes(launcher):
    """Closes the message boxes the launcher shows now; their captions go to launcher.boxes."""
    s = session()
    for window in s.windows_of(launcher.proc.pid):
        name = s.display.xdotool("getwindowname", str(window)).rstrip("\n")
        if name not in launcher.boxes:
            launcher.boxes.append(name)
        s.display.close_window(window)


@contextlib.contextmanager
def closing_boxes(launcher):
    """Closes the launcher's message boxes while the block runs (a plug-in's answer may
    wait on one)."""
    done = threading.Event()

    def close():
        while not done.wait(0.2):
            close_boxes(launcher)
    closer = threading.Thread(target=close, daemon=True)
    closer.start()
    try:
        yield
    finally:
        done.set()
        closer.join(WAIT)


def wait(launcher, timeout=WAIT):
    """As Launcher.wait, closing message boxes while the launcher runs."""
    try:
        launcher.proc.stdin.write(b"\n")
        launcher.proc.stdin.flush()
        launcher.proc.stdin.close()
    except (BrokenPipeError, OSError, ValueError):
        pass
    end = time.monotonic() + timeout
    while launcher.proc.poll() is None:
        close_boxes(launcher)
        if time.monotonic() > end:
            stop_process(launcher.proc)
            raise subprocess.TimeoutExpired(launcher.proc.args, timeout)
        time.sleep(0.2)
    out, err = ((launcher.workdir / n).read_bytes() for n in ("stdout.txt", "stderr.txt"))
    return launcher.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def windows_pid(launcher, timeout=WAIT):
    """The launcher's Windows process id, from its first log record."""
    found = []

    def read():
        m = re.search(r"\(proceso (\d+)\)", launcher.log_text())
        if m:
            found.append(int(m.group(1)))
        return bool(found)
    from zelvo_harness import wait_for
    assert wait_for(read, timeout), "the launcher logged no process id"
    return found[0]


def terminate(launcher):
    """taskkill /pid N without /f, asked again while it finds no window yet (Wine makes a
    new process's windows known a little later)."""
    pid = str(windows_pid(launcher))
    end = time.monotonic() + WAIT
    while True:
        done = session().prefix.run("taskkill", "/pid", pid)
        if done.returncode == 0 or launcher.proc.poll() is not None or time.monotonic() > end:
            break
        time.sleep(0.5)
    assert done.returncode == 0 or launcher.proc.poll() is not None, done.stdout + done.stderr


def windows_processes():
    """(pid, program) of every program in the prefix, from winedbg (Wine 8.0's tasklist is a stub)."""
    done = session().prefix.run("winedbg", "--command", "info proc")
    rows = []
    for line in done.stdout.decode("utf-8", "replace").splitlines()[1:]:
        m = re.match(r"\s*=?([0-9a-fA-F]+)\s+\d+\s+.*'([^']*)'\s*$", line)
        if m:
            rows.append((int(m.group(1), 16), m.group(2)))
    return rows
