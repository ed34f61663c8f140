"""A private X display (Xvfb) for the dialog tests, xdotool to drive it, and the
dialog program run on it. Every process started here is stopped by its pid."""
import ctypes
import ctypes.util
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

from zelvo_harness import STAGE, WAIT, SANITIZE

DIALOG = STAGE / "zelvo-dialog"


def _kill(proc, gently=False):
    """Stops a process we started, by its pid; gently: SIGTERM first, so that
    Xvfb removes its lock file and socket."""
    if proc is None or proc.poll() is not None:
        return
    if gently:
        try:
            os.kill(proc.pid, signal.SIGTERM)
            proc.wait(timeout=10)
            return
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
    try:
        os.kill(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait(timeout=10)


class XDisplay:
    """Xvfb on a display number of its own choosing (-displayfd), local connections only."""

    def __init__(self, size="1024x768x24"):
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        number = b""
        try:
            end = time.monotonic() + WAIT
            while not number.endswith(b"\n") and time.monotonic() < end:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read_end)
        if not number.strip().isdigit():
            _kill(self.proc)
            raise RuntimeError("Xvfb did not report its display")
        self.name = ":" + number.strip().decode()
        self.env = dict(os.environ)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.update({
            "DISPLAY": self.name,
            "NO_AT_BRIDGE": "1",            # no accessibility bus to look for
            "GSETTINGS_BACKEND": "memory",  # no desktop settings service either
            "GTK_THEME": "Adwaita",
            "LANG": "C.UTF-8",
        })
        if SANITIZE:
            self.env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0")

    def stop(self):
        _kill(self.proc, gently=True)

    # -- xdotool --------------------------------------------------------------
    def xdotool(self, *args):
        done = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=WAIT)
        return done.stdout

    def windows(self, title_regex):
        """Ids of the visible windows whose title matches (an extended regular expression)."""
        return [int(w) for w in self.xdotool("search", "--onlyvisible", "--name", title_regex).split()]

    def wait_window(self, title_regex, timeout=WAIT):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            found = self.windows(title_regex)
            if found:
                return found[0]
            time.sleep(0.05)
        raise AssertionError("no window titled %r appeared" % title_regex)

    def wait_no_window(self, title_regex, timeout=WAIT):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if not self.windows(title_regex):
                return
            time.sleep(0.05)
        raise AssertionError("the window titled %r is still open" % title_regex)

    def wait_focus(self, window, timeout=WAIT):
        """Waits until `window` has the keyboard. With no window manager GTK takes
        it itself when a window is presented; give it by hand only if it did not."""
        end = time.monotonic() + timeout
        asked = False
        while time.monotonic() < end:
            if self.xdotool("getwindowfocus").strip() == str(window):
                return
            if not asked and time.monotonic() > end - timeout + 2:
                self.xdotool("windowfocus", str(window))
                asked = True
            time.sleep(0.05)
        raise AssertionError("window %d did not get the keyboard" % window)

    def key(self, *keys):
        self.xdotool("key", "--delay", "40", *keys)

    def type(self, text):
        if text:
            self.xdotool("type", "--delay", "40", text)

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", str(window))
        x, y = map(int, re.search(r"Position: (\d+),(\d+)", out).groups())
        w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", out).groups())
        return x, y, w, h

    def screenshot(self, path, window=None, margin=0):
        """The whole screen, or one window's rectangle (with a margin around it)."""
        args = ["import", "-window", "root"]
        if window is not None:
            x, y, w, h = self.geometry(window)
            args += ["-crop", "%dx%d+%d+%d" % (w + 2 * margin, h + 2 * margin, max(0, x - margin), max(0, y - margin)),
                     "+repage"]
        subprocess.run(args + [str(path)], env=self.env, check=True, timeout=WAIT)

    def window_property(self, window, name):
        """The value of an X property of a window as xprop prints it ("" when unset)."""
        out = subprocess.run(["xprop", "-id", str(window), name], env=self.env, capture_output=True, text=True,
                             timeout=WAIT).stdout
        return out.split("=", 1)[1].strip() if "=" in out else ""

    def screen_size(self):
        out = self.xdotool("getdisplaygeometry").split()
        return int(out[0]), int(out[1])

    def assert_centred(self, window):
        """Centred on the screen, give or take the pixel lost halving an odd size."""
        x, y, w, h = self.geometry(window)
        sw, sh = self.screen_size()
        assert abs(2 * x + w - sw) <= 1 and abs(2 * y + h - sh) <= 1, (x, y, w, h)

    def close_window(self, window):
        """What a window manager sends when the user closes a window from its frame."""
        _send_delete_window(self.name, window)

    # -- the dialog program ---------------------------------------------------
    def dialog(self, *args, program=DIALOG):
        return DialogProcess(self, [str(program), *args])


def dialog_env(env):
    """The environment for zelvo-dialog. Built with ASan, it checks for leaks as
    the launcher's children do; the program itself leaves the toolkit's one-time
    allocations out of the report (a report would change its exit code)."""
    env = dict(env)
    if SANITIZE:
        env["ASAN_OPTIONS"] = "detect_leaks=1:abort_on_error=0"
    return env


class DialogProcess:
    def __init__(self, display, argv):
        self.proc = subprocess.Popen(argv, env=dialog_env(display.env), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def running(self):
        return self.proc.poll() is None

    def finish(self, timeout=WAIT):
        """Exit code, standard output and standard error once it has ended."""
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise AssertionError("the dialog did not end")
        return self.proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def stop(self):
        _kill(self.proc)


# WM_DELETE_WINDOW through Xlib: xdotool only destroys or kills windows.
class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def _send_delete_window(display_name, window):
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display_name.encode())
    if not dpy:
        raise RuntimeError("cannot open display " + display_name)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


@pytest.fixture(scope="module")
def xdisplay():
    if not DIALOG.exists():
        pytest.skip("zelvo-dialog is not built")
    display = XDisplay()
    yield display
    display.stop()


@pytest.fixture
def dialogs(xdisplay):
    """Starts dialogs on the test display and stops any still running afterwards."""
    started = []

    def start(*args, **kw):
        d = xdisplay.dialog(*args, **kw)
        started.append(d)
        return d

    yield start
    for d in started:
        d.stop()
