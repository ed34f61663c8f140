"""The consent window of zelvo-dialog on a private X display, driven by xdotool."""
import shutil
import subprocess

import pytest

from dialog_cases import CONSENT, CONSENT_SITE, CONSENT_WAYS, TITLES
from zelvo_harness import linux_only

pytestmark = linux_only("the GTK consent window (test_dialog_win32.py has the Windows one)")


def open_consent(xdisplay, dialogs, origin=CONSENT_SITE):
    dialog = dialogs(*CONSENT[:2], origin, *CONSENT[3:])
    window = xdisplay.wait_window(TITLES["consent"])
    xdisplay.wait_focus(window)  # "Rechazar" has the keyboard
    return dialog, window


@pytest.mark.skipif(not shutil.which("xclip"), reason="xclip reads the selection")
def test_the_site_is_shown_whole_and_can_be_copied(xdisplay, dialogs):
    long_site = "https://una-sede-electronica-con-un-nombre-muy-largo.tramites.example.gob:8443"
    dialog, window = open_consent(xdisplay, dialogs, long_site)
    xdisplay.assert_centred(window)
    # From "Rechazar" past "Permitir" round to the site's text, which selects it.
    xdisplay.key("Tab", "Tab")
    selected = subprocess.run(["xclip", "-o", "-selection", "primary"], env=xdisplay.env, capture_output=True,
                              text=True, timeout=10).stdout
    assert selected == long_site
    xdisplay.key("Escape")
    assert dialog.finish()[:2] == (1, "0\n")


@pytest.mark.parametrize("actions, answer", CONSENT_WAYS)
def test_each_way_out_gives_its_answer(xdisplay, dialogs, actions, answer):
    dialog, window = open_consent(xdisplay, dialogs)
    xdisplay.act(window, actions)
    code, out, err = dialog.finish()
    assert (code, out) == answer, err
