"""zelvo-dialog's browser dialog, message boxes and PIN dialog on a private X display,
driven by xdotool as a user would, and how it refuses bad arguments."""
import os
import subprocess

import pytest

from dialog_cases import (AUTH, BAD_ARGUMENTS, BROWSER, INVALID_PIN_IDS, INVALID_PINS, MESSAGE_RUNS, PIN_RUNS,
                          TITLES, title)
from xdisplay import DIALOG, dialog_env
from zelvo_harness import WAIT
from zelvo_harness import linux_only

pytestmark = linux_only("the GTK dialogs (test_dialog_win32.py has the Windows ones)")

RUNS = [
    # Browser: sorted, with the default among them; the first entry and no TLS at once.
    (BROWSER + ["--", "Opera", "Firefox"], ["Tab", "Tab", "space"], 0, "Default browser\n0\n"),
    (BROWSER + ["Opera", "Firefox", "Chromium"], ["Down", "Down", "Tab", "space", "Tab", "space"], 0,
     "Firefox\n1\n"),  # Chromium, Default browser, Firefox, Opera; "Conexión segura" ticked
    (BROWSER + ["--secure", "Mi navegador"], ["Down", "Tab", "Tab", "space"], 0, "Mi navegador\n1\n"),
    (BROWSER + ["--secure", "Mi navegador"], ["Tab", "space", "Tab", "space"], 0, "Default browser\n0\n"),
    # With no box the next stop after the drop-down is "Ejecutar" itself.
    (BROWSER + ["--hide-secure", "--secure", "--", "--raro", "Zeta"], ["End", "Tab", "space"], 0, "Zeta\n0\n"),
    (BROWSER + ["Uno\nDos", "Tres"], ["End", "Tab", "Tab", "space"], 0, "Tres\n0\n"),  # no line breaks offered
    (BROWSER + ["Firefox"], ["Tab", "Tab", "Tab", "space"], 1, ""),  # "Cerrar"
    (BROWSER + ["Firefox"], ["Escape"], 1, ""),
    (BROWSER + ["Firefox"], ["close"], 1, ""),
    # Bytes that are no UTF-8 are shown replaced.
    (["message", "--icon", "info", "--title", "Aviso \udcff", "--text", "mal \udcfe texto"], ["Return"], 0, ""),
] + MESSAGE_RUNS + PIN_RUNS


@pytest.mark.parametrize("args, actions, code, out", RUNS)
def test_what_the_user_does_comes_back(xdisplay, dialogs, args, actions, code, out):
    dialog = dialogs(*args)
    window = xdisplay.wait_window(title(args))
    xdisplay.wait_focus(window)
    if args[0] != "message":
        xdisplay.assert_centred(window)
    if args[0] == "pin":  # kept above the others and out of the task bar
        state = xdisplay.window_property(window, "_NET_WM_STATE")
        assert "_NET_WM_STATE_ABOVE" in state and "_NET_WM_STATE_SKIP_TASKBAR" in state, state
    xdisplay.act(window, actions)
    got, text, err = dialog.finish()
    assert (got, text) == (code, out), err
    assert "CRITICAL" not in err and "WARNING" not in err, err
    assert "navegador no ofrecido" in err or "Uno\nDos" not in args


@pytest.mark.parametrize("fields, caption, text, failing", INVALID_PINS, ids=INVALID_PIN_IDS)
def test_each_invalid_entry_is_explained_and_the_dialog_stays_open(xdisplay, dialogs, fields, caption, text, failing):
    dialog = dialogs(*AUTH)
    window = xdisplay.wait_window(TITLES["auth"])
    xdisplay.wait_focus(window)
    for i, field in enumerate(fields):
        xdisplay.type(field)
        xdisplay.key("Tab" if i < 2 else "Return")
    caption_regex = "^" + caption.replace(".", r"\.") + "$"
    box = xdisplay.wait_window(caption_regex)
    assert dialog.running() and window in xdisplay.windows(TITLES["auth"])
    xdisplay.wait_focus(box)
    xdisplay.key("Return")
    xdisplay.wait_no_window(caption_regex)
    assert dialog.running() and window in xdisplay.windows(TITLES["auth"])
    # Whatever is typed now lands in the field that failed: put the right PIN
    # there and the dialog accepts.
    xdisplay.wait_focus(window)
    xdisplay.key("ctrl+a")
    xdisplay.type("1234" if failing == 0 else "5678")
    xdisplay.key("Return")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "1234\n5678\n"), err
    # Every message box also leaves its words on standard error.
    assert err.count("%s: %s\n" % (caption, text)) == 1, err


@pytest.mark.parametrize("args, error", BAD_ARGUMENTS + [
    (AUTH, "No se puede abrir la pantalla gráfica"),  # without a display
])
def test_bad_arguments_are_refused_in_words_with_code_3(xdisplay, args, error):
    env = xdisplay.env if args != AUTH else dialog_env({k: v for k, v in os.environ.items()
                                                         if k not in ("DISPLAY", "WAYLAND_DISPLAY")})
    done = subprocess.run([str(DIALOG), *args], env=env, capture_output=True, timeout=WAIT)
    assert (done.returncode, done.stdout) == (3, b"")
    assert error in done.stderr.decode()
    assert args == AUTH or ("zelvo-dialog: " + error in done.stderr.decode() and "Uso:" in done.stderr.decode())
