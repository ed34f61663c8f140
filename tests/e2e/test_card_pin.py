"""Changing a PIN through the launcher, the card plug-in and the simulated card, with a
scripted dialog stand-in and with the real zelvo-dialog typed by xdotool (on Windows the
Win32 zelvo-dialog.exe, and message boxes are the launcher's own windows)."""
import concurrent.futures
import os
import shutil
from pathlib import Path

import pytest

from vexa_bridge import CardRuns
from zelvo_harness import WAIT, WINDOWS, StandIn, host_path

PKI_SELECT = "00A4040010A0000000770100700A1000F100000100"


@pytest.fixture
def changepin(pcscd, tmp_path):
    """(commands to the plug-in, its dialog stand-in) against a card with fresh PINs."""
    pcscd.reset_card_settings()
    pcscd.restart_card(fresh_state=True)
    dialog = StandIn(tmp_path / "dialog")
    return CardRuns(tmp_path, pcscd, env=dialog.env), dialog


def pin_of(pcscd, credential):
    return pcscd.state()["credentials"][str(credential)]


def test_change_the_authentication_pin(changepin, pcscd):
    card, dialog = changepin
    old = pcscd.holder()["pins"]["1"]
    dialog.answer("pin", 0, "%s\n87654321\n" % old)
    before = pcscd.trace_position()
    assert card("changepin auth") == {"status": "0", "body": {"message": "PIN actualizado correctamente", "code": "0"}}
    assert pin_of(pcscd, 1) == {"pin": "87654321", "tries": 3}
    assert dialog.calls() == [["pin", "--type", "auth"]]
    padded = old.encode().hex().upper().ljust(16, "F")
    assert [c for c, _ in pcscd.exchanges(before)] == [PKI_SELECT, "0020000108" + padded,
                                                        "0024000110" + padded + "3837363534333231"]
    assert "87654321" not in card.last.plugin_log()  # the PINs never reach the log


def test_wrong_and_blocked_pin(changepin, pcscd):
    card, dialog = changepin
    dialog.answer("pin", 0, "0000\n5678\n")
    assert card("changepin sign")["body"] == {"message": "PIN incorrecto. Quedan 2 intentos", "code": "1"}
    assert pin_of(pcscd, 4) == {"pin": pcscd.holder()["pins"]["4"], "tries": 2}
    assert dialog.calls()[-1] == ["pin", "--type", "sign"]

    pcscd.set_card(blocked_pins=[4])
    before = pcscd.trace_position()
    dialog.answer("pin", 0, "%s\n5678\n" % pcscd.holder()["pins"]["4"])
    assert card("changepin sign")["body"] == {"message": "PIN bloqueado", "code": "2"}
    assert not any(c.startswith("0024") for c, _ in pcscd.exchanges(before))


CANCELLED = {"status": "0", "body": {"message": "Se ha cancelado la actualización del PIN", "code": "-1"}}


@pytest.mark.parametrize("command, dialog_answer, asked, box, reply", [
    # Cancelled (1), closed (2), a program that cannot be started (-1) or cannot show
    # a window (3: no graphical session), then the error's message box: a cancellation.
    ("changepin auth", (1, ""), True, None, CANCELLED),
    ("changepin auth", (2, ""), True, None, CANCELLED),
    ("changepin sign", None, False, -1, CANCELLED),
    ("changepin sign", (3, ""), True, 3, CANCELLED),
    ("changepin auth", (0, "1234\n12ab\n"), True, None,
     {"status": "1", "body": {"message": "Respuesta no válida del diálogo de ingreso de PIN"}}),
    ("changepin", (0, ""), False, None, {"status": "1", "body": {"message": "Tipo de PIN a cambiar no indicado"}}),
    ("  changepin   Auth ", (0, ""), False, None,
     {"status": "1", "body": {"message": "Tipo de PIN a cambiar no válido"}}),
])
def test_nothing_reaches_the_card_without_two_valid_pins(changepin, pcscd, tmp_path, command, dialog_answer, asked,
                                                         box, reply):
    card, dialog = changepin
    if dialog_answer is None:
        card.env = {"ZELVO_DIALOG": host_path(tmp_path / "no-such-dialog")}
    else:
        dialog.answer("pin", *dialog_answer)
    before = pcscd.trace_position()
    assert card(command) == reply
    assert pcscd.exchanges(before) == []
    pins = [c for c in dialog.calls() if c[0] == "pin"]
    assert len(pins) == asked
    if box is None:
        return
    text = "Error creando dialogo %d" % box
    assert "Error: %s\n" % text in card.last.output("stderr.txt").replace("\r\n", "\n")
    if WINDOWS:  # MessageBoxW in the launcher's process
        assert card.last.boxes == ["Error"]
    elif dialog_answer is not None:  # the dialog program shows it, as every box on Linux
        assert dialog.calls()[1:] == [["message", "--icon", "warning", "--title", "Error", "--text", text]]


@pytest.fixture
def pin_display(request):
    """The display on which the PIN window appears: the module's Xvfb for the GTK
    program; on Windows the Wine session's, where its programs draw their windows."""
    if WINDOWS:
        import windows_target
        return windows_target.session().display
    return request.getfixturevalue("xdisplay")


NEW_PIN = "24681357"


@pytest.mark.parametrize("entered, reply, tries", [
    ("current", {"message": "PIN actualizado correctamente", "code": "0"}, 3),
    ("wrong", {"message": "PIN incorrecto. Quedan 2 intentos", "code": "1"}, 2),
    (None, {"message": "Se ha cancelado la actualización del PIN", "code": "-1"}, 3),  # Escape
], ids=["changed", "wrong-pin", "cancelled"])
def test_changepin_auth_typed_into_the_real_dialog(tmp_path, pin_display, pcscd, entered, reply, tries):
    pcscd.restart_card(fresh_state=True)
    old = pcscd.holder()["pins"]["1"]
    # The launcher's children see the test display; no ZELVO_DIALOG, so the
    # plug-in finds the zelvo-dialog staged beside the launcher.
    keys = () if WINDOWS else ("DISPLAY", "NO_AT_BRIDGE", "GSETTINGS_BACKEND", "GTK_THEME", "LANG")
    card = CardRuns(tmp_path, pcscd, env=dict({k: pin_display.env[k] for k in keys}, ZELVO_DIALOG=""))
    before = pcscd.trace_position()
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        answer = pool.submit(card, "changepin auth")
        window = pin_display.wait_window("^Cambiar PIN de autenticación$")
        if WINDOWS:  # no window manager hands the keyboard to a Wine window: offered as one would
            pin_display.offer_focus(window)
        pin_display.wait_focus(window)
        if entered is None:
            pin_display.key("Escape")
        else:
            for i, text in enumerate(("0000" if entered == "wrong" else old, NEW_PIN, NEW_PIN)):
                pin_display.type(text)
                if i < 2:
                    pin_display.key("Tab")
            screenshot(pin_display, window, tmp_path, entered)
            pin_display.key("Return")
        answer = answer.result(timeout=WAIT * 3)
    assert answer == {"status": "0", "body": reply}
    assert pcscd.state()["credentials"]["1"] == {"pin": NEW_PIN if reply["code"] == "0" else old, "tries": tries}
    # The signature PIN is left alone, a cancel sends nothing, and the PINs appear in no log.
    assert pcscd.state()["credentials"]["4"]["pin"] == pcscd.holder()["pins"]["4"]
    assert entered is not None or pcscd.exchanges(before) == []
    assert NEW_PIN not in card.last.plugin_log() + card.last.log_text() + card.last.output()


def screenshot(display, window, folder, entered):
    """The filled-in window, in the test's folder; with ZELVO_SCREENSHOTS=DIR also
    there, as (windows-)pin-change.png."""
    if entered != "current":
        return
    path = folder / "pin-change.png"
    display.screenshot(path, window, margin=16)
    if os.environ.get("ZELVO_SCREENSHOTS"):
        shutil.copy2(path, Path(os.environ["ZELVO_SCREENSHOTS"]) / (("windows-" if WINDOWS else "") + "pin-change.png"))
