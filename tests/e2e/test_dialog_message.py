"""Message boxes of zelvo-dialog, and how it refuses bad arguments."""
import os
import subprocess

import pytest

from xdisplay import DIALOG, dialog_env, dialogs, xdisplay  # noqa: F401  (fixtures)
from zelvo_harness import WAIT


@pytest.mark.parametrize("icon", ["error", "warning", "info"])
def test_a_message_box_is_dismissed_with_return(xdisplay, dialogs, icon):
    dialog = dialogs("message", "--icon", icon, "--title", "Error en aplicación",
                     "--text", "No se puede iniciar la aplicación")
    window = xdisplay.wait_window("^Error en aplicación$")
    xdisplay.wait_focus(window)
    assert dialog.running()
    xdisplay.key("Return")
    code, out, err = dialog.finish()
    assert (code, out) == (0, ""), err


def test_escape_and_the_window_frame_dismiss_it_too(xdisplay, dialogs):
    dialog = dialogs("message", "--icon", "warning", "--title", "Aviso", "--text", "Texto")
    window = xdisplay.wait_window("^Aviso$")
    xdisplay.wait_focus(window)
    xdisplay.key("Escape")
    assert dialog.finish()[:2] == (0, "")

    dialog = dialogs("message", "--icon", "info", "--title", "Aviso", "--text", "Texto")
    window = xdisplay.wait_window("^Aviso$")
    xdisplay.close_window(window)
    assert dialog.finish()[:2] == (0, "")


def test_text_that_is_not_utf8_is_still_shown(xdisplay, dialogs):
    dialog = dialogs("message", "--icon", "info", "--title", "Aviso \udcff", "--text", "mal \udcfe texto")
    window = xdisplay.wait_window("^Aviso")
    xdisplay.wait_focus(window)
    xdisplay.key("Return")
    code, _, err = dialog.finish()
    assert code == 0
    assert "CRITICAL" not in err and "WARNING" not in err, err


def run_plain(args, env):
    done = subprocess.run([str(DIALOG), *args], env=env, capture_output=True, timeout=WAIT)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


@pytest.mark.parametrize("args,error", [
    ([], "Falta el diálogo a mostrar"),
    (["pin", "--type", "Auth"], "Tipo de PIN no válido: Auth"),
    (["browser", "Firefox"], "Falta la opción --title"),
    (["message", "--icon", "error", "--title", "T", "--text"], "Falta el valor de la opción --text"),
    (["pin", "--type", "auth", "--display", ":0"], "Opción desconocida: --display"),
])
def test_bad_arguments_are_refused_in_words_with_code_3(xdisplay, args, error):
    code, out, err = run_plain(args, xdisplay.env)
    assert (code, out) == (3, "")
    assert "zelvo-dialog: " + error in err
    assert "Uso:" in err


def test_without_a_display_it_says_so_and_gives_3():
    if not DIALOG.exists():
        pytest.skip("zelvo-dialog is not built")
    env = dialog_env({k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")})
    code, out, err = run_plain(["pin", "--type", "auth"], env)
    assert (code, out) == (3, "")
    assert "No se puede abrir la pantalla gráfica" in err
