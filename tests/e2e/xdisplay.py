"""A private X display (Xvfb) for the dialog tests and tools/dialog-screenshots,
xdotool to drive it, and the dialog program run on it. Every process started here
is stopped by its pid."""
import ctypes
import ctypes.util
import os
import re
import subprocess
import time

from zelvo_harness import SANITIZE, STAGE, WAIT, Program, wait_for
from zelvo_harness import stop_process as _kill

DIALOG = STAGE / "zelvo-dialog"


def dialog_env(env):
    """The environment for zelvo-dialog. Built with ASan, it checks for leaks as
    the launcher's children do; the program itself leaves the toolkit's one-time
    allocations out of the report (a report would change its exit code)."""
    return dict(env, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0") if SANITIZE else dict(env)


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
        self.env = dialog_env(self.env)

    def stop(self):
        _kill(self.proc, gently=True)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=WAIT).stdout

    def windows(self, title_regex):
        """Ids of the visible windows whose title matches (an extended regular expression)."""
        return [int(w) for w in self.xdotool("search", "--onlyvisible", "--name", title_regex).split()]

    def wait_window(self, title_regex, timeout=WAIT):
        if not wait_for(lambda: self.windows(title_regex), timeout):
            raise AssertionError("no window titled %r appeared" % title_regex)
        return self.windows(title_regex)[0]

    def wait_no_window(self, title_regex, timeout=WAIT):
        if not wait_for(lambda: not self.windows(title_regex), timeout):
            raise AssertionError("the window titled %r is still open" % title_regex)

    def wait_focus(self, window, timeout=WAIT, patience=2):
        """Waits until `window` has the keyboard. With no window manager GTK takes
        it itself when a window is presented; give it by hand only if it did not
        within `patience` seconds (Wine never takes it: 0 gives it at once)."""
        if not wait_for(lambda: self.xdotool("getwindowfocus").strip() == str(window), patience):
            self.xdotool("windowfocus", str(window))
            if not wait_for(lambda: self.xdotool("getwindowfocus").strip() == str(window), timeout):
                raise AssertionError("window %d did not get the keyboard" % window)

    def key(self, *keys):
        self.xdotool("key", "--delay", "40", *keys)

    def type(self, text):
        if text:
            self.xdotool("type", "--delay", "40", text)

    def act(self, window, actions):
        """What the user does: keys, digits typed, or "close" from the window's frame."""
        for action in actions:
            if action == "close":
                self.close_window(window)
            elif action.isdigit():
                self.type(action)
            else:
                self.key(action)

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

    def assert_centred(self, window):
        """Centred on the screen, give or take the pixel lost halving an odd size."""
        x, y, w, h = self.geometry(window)
        sw, sh = map(int, self.xdotool("getdisplaygeometry").split())
        assert abs(2 * x + w - sw) <= 1 and abs(2 * y + h - sh) <= 1, (x, y, w, h)

    def close_window(self, window):
        """What a window manager sends when the user closes a window from its frame:
        WM_DELETE_WINDOW, through Xlib (xdotool only destroys or kills windows)."""
        self._send_protocol(window, b"WM_DELETE_WINDOW")

    def offer_focus(self, window):
        """What a window manager sends when it hands a window the keyboard:
        WM_TAKE_FOCUS. Wine's windows take it and become the active window, which
        they do not when the X focus is merely set on them."""
        self._send_protocol(window, b"WM_TAKE_FOCUS")

    def _send_protocol(self, window, protocol):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        # A window gone meanwhile is a BadWindow error, which Xlib's own handler
        # answers by ending the process: the test's, here.
        x11.XSetErrorHandler.argtypes = [_X_ERROR_HANDLER]
        x11.XSetErrorHandler(_ignore_x_errors)
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        dpy = x11.XOpenDisplay(self.name.encode())
        assert dpy, "cannot open display " + self.name
        try:
            event = _XClientMessageEvent(type=33, window=window, format=32,  # ClientMessage
                                         message_type=x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0))
            event.data[0] = x11.XInternAtom(dpy, protocol, 0)  # data[1]: CurrentTime
            x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
            x11.XFlush(dpy)
        finally:
            x11.XCloseDisplay(dpy)

    def dialog(self, *args, program=DIALOG):
        return DialogProcess(self, [str(program), *args])


_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_ignore_x_errors = _X_ERROR_HANDLER(lambda display, event: 0)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class DialogProcess(Program):
    def __init__(self, display, argv):
        super().__init__(argv, display.env)
