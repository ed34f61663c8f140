"""The PIN dialog of zelvo-dialog on a private X display, typed by xdotool."""
import pytest

from xdisplay import dialogs, xdisplay  # noqa: F401  (fixtures)

AUTH_TITLE = "^Cambiar PIN de autenticación$"
SIGN_TITLE = "^Cambiar PIN de firma$"
REQUIRED = "Información incorrecta."  # the caption of the "es requerido" messages
INVALID = "Información incorrecta"


def caption_regex(caption):
    return "^" + caption.replace(".", r"\.") + "$"


def open_pin(xdisplay, dialogs, kind="auth"):
    dialog = dialogs("pin", "--type", kind)
    window = xdisplay.wait_window(AUTH_TITLE if kind == "auth" else SIGN_TITLE)
    xdisplay.wait_focus(window)
    return dialog, window


def fill(xdisplay, current, new, confirmation):
    """Types the three fields from the first one; the keyboard ends in the third."""
    xdisplay.type(current)
    xdisplay.key("Tab")
    xdisplay.type(new)
    xdisplay.key("Tab")
    xdisplay.type(confirmation)


def test_accepting_returns_the_current_and_the_new_pin(xdisplay, dialogs):
    dialog, _ = open_pin(xdisplay, dialogs)
    fill(xdisplay, "1234", "00987654", "00987654")
    xdisplay.key("Return")  # "Aceptar" is the default button
    code, out, err = dialog.finish()
    assert (code, out) == (0, "1234\n00987654\n"), err


def test_it_is_centred_kept_above_and_out_of_the_task_bar(xdisplay, dialogs):
    dialog, window = open_pin(xdisplay, dialogs, "sign")
    xdisplay.assert_centred(window)
    state = xdisplay.window_property(window, "_NET_WM_STATE")
    assert "_NET_WM_STATE_ABOVE" in state and "_NET_WM_STATE_SKIP_TASKBAR" in state, state
    xdisplay.key("Escape")
    assert dialog.finish()[:2] == (1, "")


def test_the_fields_take_at_most_eight_characters(xdisplay, dialogs):
    dialog, _ = open_pin(xdisplay, dialogs, "sign")
    fill(xdisplay, "123456789", "9876543210", "98765432")
    xdisplay.key("Return")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "12345678\n98765432\n"), err


# Typed fields, the message box's caption and text, and the field the keyboard
# must be back in after the box (None: where it was, the third).
CASES = [
    (("", "5678", "5678"), REQUIRED, "El PIN actual es requerido", 0),
    (("12a4", "5678", "5678"), INVALID, "El PIN actual solo debe tener dígitos (0-9).", 0),
    (("1234", "", "5678"), REQUIRED, "El PIN nuevo es requerido", 1),
    (("1234", "5x78", "5678"), INVALID, "El PIN nuevo solo debe tener dígitos (0-9).", 1),
    (("1234", "5678", ""), REQUIRED, "La confirmación del PIN nuevo es requerido", 2),
    (("1234", "5678", "56 8"), INVALID, "La confirmación del PIN nuevo solo debe tener dígitos (0-9).", 2),
    (("1234", "5678", "5679"), INVALID, "El PIN nuevo no es igual a la confirmación del PIN nuevo.", None),
]


@pytest.mark.parametrize("fields,caption,text,failing", CASES, ids=[c[2] for c in CASES])
def test_each_invalid_entry_is_explained_and_the_dialog_stays_open(xdisplay, dialogs, fields, caption, text, failing):
    dialog, window = open_pin(xdisplay, dialogs)
    fill(xdisplay, *fields)
    xdisplay.key("Return")

    box = xdisplay.wait_window(caption_regex(caption))
    assert dialog.running()
    assert window in xdisplay.windows(AUTH_TITLE)
    xdisplay.wait_focus(box)
    xdisplay.key("Return")
    xdisplay.wait_no_window(caption_regex(caption))
    assert dialog.running()
    assert window in xdisplay.windows(AUTH_TITLE)

    # Whatever is typed now lands in the field that failed: put the right PIN
    # there and the dialog accepts.
    xdisplay.wait_focus(window)
    right = {0: "1234", 1: "5678", 2: "5678", None: "5678"}[failing]
    xdisplay.key("ctrl+a")
    xdisplay.type(right)
    xdisplay.key("Return")
    code, out, err = dialog.finish()
    assert (code, out) == (0, "1234\n5678\n"), err
    # Every message box also leaves its words on standard error.
    assert err.count("%s: %s\n" % (caption, text)) == 1, err


def test_escape_cancels(xdisplay, dialogs):
    dialog, _ = open_pin(xdisplay, dialogs)
    fill(xdisplay, "1234", "5678", "5678")
    xdisplay.key("Escape")
    code, out, err = dialog.finish()
    assert (code, out) == (1, ""), err


def test_the_cancel_button_cancels(xdisplay, dialogs):
    dialog, _ = open_pin(xdisplay, dialogs)
    fill(xdisplay, "1234", "5678", "5678")
    xdisplay.key("Tab", "Tab", "space")  # past "Aceptar" to "Cancelar"
    code, out, err = dialog.finish()
    assert (code, out) == (1, ""), err


def test_closing_the_window_gives_2(xdisplay, dialogs):
    dialog, window = open_pin(xdisplay, dialogs, "sign")
    fill(xdisplay, "1234", "5678", "5678")
    xdisplay.close_window(window)
    code, out, err = dialog.finish()
    assert (code, out) == (2, ""), err
