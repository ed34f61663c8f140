"""The browser dialog of zelvo-dialog on a private X display, driven by xdotool."""
from xdisplay import dialogs, xdisplay  # noqa: F401  (fixtures)

TITLE = "Probar Componente - Zelvo"
TITLE_REGEX = "^Probar Componente - Zelvo$"


def open_browser(xdisplay, dialogs, *args):
    dialog = dialogs("browser", "--title", TITLE, *args)
    window = xdisplay.wait_window(TITLE_REGEX)
    xdisplay.wait_focus(window)  # the drop-down has the keyboard
    return dialog, window


def test_executing_at_once_answers_the_first_entry_unsecured(xdisplay, dialogs):
    dialog, window = open_browser(xdisplay, dialogs, "--", "Opera", "Firefox")
    xdisplay.assert_centred(window)
    xdisplay.key("Tab", "Tab", "space")  # past the check box to "Ejecutar"
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Default browser\n0\n"), err


def test_the_chosen_browser_and_the_ticked_box_come_back(xdisplay, dialogs):
    # Shown sorted, the default among them: Chromium, Default browser, Firefox, Opera.
    dialog, _ = open_browser(xdisplay, dialogs, "Opera", "Firefox", "Chromium")
    xdisplay.key("Down", "Down")
    xdisplay.key("Tab", "space")  # tick "Conexión segura"
    xdisplay.key("Tab", "space")  # "Ejecutar"
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Firefox\n1\n"), err


def test_secure_starts_ticked_and_can_be_cleared(xdisplay, dialogs):
    dialog, _ = open_browser(xdisplay, dialogs, "--secure", "Mi navegador")
    xdisplay.key("Down")
    xdisplay.key("Tab", "Tab", "space")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Mi navegador\n1\n"), err

    dialog, _ = open_browser(xdisplay, dialogs, "--secure", "Mi navegador")
    xdisplay.key("Tab", "space", "Tab", "space")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Default browser\n0\n"), err


def test_a_hidden_box_is_out_of_the_way_and_never_secure(xdisplay, dialogs):
    # With no box the next stop after the drop-down is "Ejecutar" itself.
    dialog, _ = open_browser(xdisplay, dialogs, "--hide-secure", "--secure", "--", "--raro", "Zeta")
    xdisplay.key("End")
    xdisplay.key("Tab", "space")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Zeta\n0\n"), err


def test_close_escape_and_the_window_frame_give_1_and_no_answer(xdisplay, dialogs):
    dialog, _ = open_browser(xdisplay, dialogs, "Firefox")
    xdisplay.key("Tab", "Tab", "Tab", "space")  # "Cerrar"
    assert dialog.finish()[:2] == (1, "")

    dialog, _ = open_browser(xdisplay, dialogs, "Firefox")
    xdisplay.key("Escape")
    assert dialog.finish()[:2] == (1, "")

    dialog, window = open_browser(xdisplay, dialogs, "Firefox")
    xdisplay.close_window(window)
    assert dialog.finish()[:2] == (1, "")


def test_names_with_line_breaks_are_not_offered(xdisplay, dialogs):
    dialog, _ = open_browser(xdisplay, dialogs, "Uno\nDos", "Tres")
    xdisplay.key("End")  # the last entry is Tres: the other one is not there
    xdisplay.key("Tab", "Tab", "space")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "Tres\n0\n"), err
    assert "navegador no ofrecido" in err
