"""zelvo-dialog.exe under Wine on a private X display, driven by xdotool: the same
arguments and answers as the GTK program (ZELVO_WINDOWS_STAGE names the build)."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import wine
from dialog_cases import (AUTH, BAD_ARGUMENTS, BROWSER, CONSENT, CONSENT_WAYS, INVALID_PIN_IDS, INVALID_PINS,
                          MESSAGE_RUNS, PIN_RUNS, TITLES, title)
from xdisplay import XDisplay
from zelvo_harness import ROOT, WAIT, wait_for
from zelvo_harness import windows_only

pytestmark = windows_only("a Windows program under Wine")

STAGE = Path(os.environ.get("ZELVO_WINDOWS_STAGE", ROOT / "build-windows-x64" / "stage"))
EXE = STAGE / "zelvo-dialog.exe"

class Desk:
    """The display and the Wine prefix the module's dialogs run in."""

    def __init__(self, display, prefix):
        self.display, self.prefix = display, prefix

    def open(self, title_regex):
        """The dialog's window once shown, offered the keyboard as a window manager would
        (none hands it to a Wine window here)."""
        window = self.display.wait_window(title_regex)
        self.focus(window)
        return window

    def focus(self, window):
        self.display.offer_focus(window)
        self.display.wait_focus(window)


@pytest.fixture(scope="module")
def desk(tmp_path_factory):
    if not EXE.exists():
        pytest.skip("zelvo-dialog.exe is not built (ZELVO_WINDOWS_STAGE)")
    if not wine.available():
        pytest.skip("wine64 is not installed")
    display = XDisplay()
    try:
        with wine.WinePrefix(tmp_path_factory.mktemp("wine") / "prefix", env=display.env) as prefix:
            yield Desk(display, prefix)
    finally:
        display.stop()


@pytest.fixture
def dialogs(desk):
    """Starts zelvo-dialog.exe and stops any still running after the test."""
    started = []

    def start(*args):
        started.append(desk.prefix.launch(EXE, *args))
        return started[-1]

    yield start
    for program in started:
        program.stop()


def test_the_site_asking_is_shown_whole_and_can_be_copied(desk, dialogs):
    long_site = "https://una-sede-electronica-con-un-nombre-muy-largo.tramites.example.gob:8443"
    dialog = dialogs(*CONSENT[:2], long_site, *CONSENT[3:])
    window = desk.open(TITLES["consent"])
    desk.display.assert_centred(window)
    assert "_NET_WM_STATE_ABOVE" in desk.display.window_property(window, "_NET_WM_STATE")
    if shutil.which("xclip"):
        # From "Rechazar" past "Permitir" to the site's text, which comes selected; copy it.
        desk.display.key("Tab", "Tab", "ctrl+c")

        def copied():
            return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=desk.display.env,
                                  capture_output=True, text=True, timeout=10).stdout
        assert wait_for(lambda: copied() == long_site, WAIT), copied()
    desk.display.key("Escape")
    assert dialog.finish()[:2] == (1, "0\n")


@pytest.mark.parametrize("actions, answer", CONSENT_WAYS)
def test_each_way_out_of_the_consent_window_gives_its_answer(desk, dialogs, actions, answer):
    dialog = dialogs(*CONSENT)
    window = desk.open(TITLES["consent"])
    desk.display.act(window, actions)
    code, out, err = dialog.finish()
    assert (code, out) == answer, err


# (arguments, what the user does: keys, text typed, or "close" from the window frame,
#  exit code, standard output). The list starts with the keyboard; its tab order is
# list, "Ejecutar", "Conexión segura", "Cerrar".
RUNS = [
    # Browser: sorted, with the default among them.
    (BROWSER + ["--", "Opera", "Firefox"], ["Tab", "space"], 0, "Default browser\n0\n"),
    (BROWSER + ["Opera", "Firefox", "Chromium"], ["Down", "Down", "Tab", "Tab", "space", "shift+Tab", "space"], 0,
     "Firefox\n1\n"),  # Chromium, Default browser, Firefox, Opera; "Conexión segura" ticked
    (BROWSER + ["--secure", "Mi navegador"], ["Down", "Tab", "space"], 0, "Mi navegador\n1\n"),
    (BROWSER + ["--secure", "Mi navegador"], ["Tab", "Tab", "space", "shift+Tab", "space"], 0,
     "Default browser\n0\n"),
    (BROWSER + ["--hide-secure", "--secure", "--", "--raro", "Zeta"], ["End", "Tab", "space"], 0, "Zeta\n0\n"),
    # The caller's own name comes back, accents and all, with no CR.
    (BROWSER + ["Ñandú Navegador"], ["End", "Tab", "space"], 0, "Ñandú Navegador\n0\n"),
    (BROWSER + ["Uno\nDos", "Tres"], ["End", "Tab", "space"], 0, "Tres\n0\n"),  # no line breaks offered
    (BROWSER + ["Firefox"], ["Tab", "Tab", "Tab", "space"], 1, ""),  # "Cerrar"
    (BROWSER + ["Firefox"], ["Escape"], 1, ""),
    (BROWSER + ["Firefox"], ["close"], 1, ""),
    # Accented text in the system's own message box.
    (["message", "--icon", "error", "--title", "Aviso", "--text", "No se puede iniciar la aplicación"], ["Return"],
     0, ""),
] + MESSAGE_RUNS + PIN_RUNS


@pytest.mark.parametrize("args, actions, code, out", RUNS)
def test_what_the_user_does_comes_back(desk, dialogs, args, actions, code, out):
    dialog = dialogs(*args)
    window = desk.open(title(args))
    if args[0] != "message":
        desk.display.assert_centred(window)
    if args[0] == "pin":  # kept above the others and out of the task bar
        state = desk.display.window_property(window, "_NET_WM_STATE")
        assert "_NET_WM_STATE_ABOVE" in state and "_NET_WM_STATE_SKIP_TASKBAR" in state, state
    desk.display.act(window, actions)
    got, text, err = dialog.finish_bytes()
    assert (got, text) == (code, out.encode()), err
    assert b"navegador no ofrecido" in err or "Uno\nDos" not in args


@pytest.mark.parametrize("fields, caption, text, failing", INVALID_PINS, ids=INVALID_PIN_IDS)
def test_each_invalid_entry_is_explained_and_the_dialog_stays_open(desk, dialogs, fields, caption, text, failing):
    dialog = dialogs(*AUTH)
    window = desk.open(TITLES["auth"])
    for i, field in enumerate(fields):
        desk.display.type(field)
        desk.display.key("Tab" if i < 2 else "Return")
    caption_regex = "^" + caption.replace(".", r"\.") + "$"
    box = desk.display.wait_window(caption_regex)
    assert dialog.running() and window in desk.display.windows(TITLES["auth"])
    desk.focus(box)
    desk.display.key("Return")
    desk.display.wait_no_window(caption_regex)
    assert dialog.running() and window in desk.display.windows(TITLES["auth"])
    # Whatever is typed now lands in the field that failed: put the right PIN
    # there and the dialog accepts.
    desk.focus(window)
    desk.display.key("End", "shift+Home")
    desk.display.type("1234" if failing == 0 else "5678")
    desk.display.key("Return")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "1234\n5678\n"), err
    # Every message box also leaves its words on standard error.
    assert err.count("%s: %s\n" % (caption, text)) == 1, err


@pytest.mark.parametrize("args, error", BAD_ARGUMENTS)
def test_bad_arguments_are_refused_in_words_with_code_3(desk, args, error):
    done = desk.prefix.run(EXE, *args)
    assert (done.returncode, done.stdout) == (3, b"")
    stderr = done.stderr.decode()
    assert stderr.startswith("zelvo-dialog: " + error + "\n") and "Uso:\n" in stderr, stderr
