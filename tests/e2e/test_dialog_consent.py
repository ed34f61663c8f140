"""The consent window of zelvo-dialog on a private X display, driven by xdotool."""
import shutil
import subprocess

import pytest


SITE = "https://tramites.example.gob:8443"


def open_consent(xdisplay, dialogs, origin=SITE):
    dialog = dialogs("consent", "--origin", origin, "--application", "el lector del DNI electrónico")
    window = xdisplay.wait_window("^Permiso de acceso$")
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


@pytest.mark.parametrize("keys, answer", [
    (("Escape",), (1, "0\n")),
    (("Return",), (1, "0\n")),                                   # "Rechazar" is the default
    (("Tab", "space"), (0, "0\n")),                              # "Permitir"
    (("Tab", "Tab", "Tab", "space", "Tab", "Tab", "space"), (0, "1\n")),  # tick the box, then "Permitir"
    (("Tab", "Tab", "Tab", "space", "Escape"), (1, "1\n")),      # refused and remembered
])
def test_each_way_out_gives_its_answer(xdisplay, dialogs, keys, answer):
    dialog, _ = open_consent(xdisplay, dialogs)
    xdisplay.key(*keys)
    code, out, err = dialog.finish()
    assert (code, out) == answer, err


def test_closing_the_window_refuses(xdisplay, dialogs):
    dialog, window = open_consent(xdisplay, dialogs)
    xdisplay.close_window(window)
    assert dialog.finish()[:2] == (1, "0\n")
