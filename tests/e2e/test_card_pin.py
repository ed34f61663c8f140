"""Changing a PIN end to end: the launcher hosting vexa-tools.so and the simulated card
behind a private pcscd, with a scripted stand-in for the dialog program, and once
with the real zelvo-dialog on a private X display, typed by xdotool as a user does."""
import concurrent.futures

import pytest

from vexa_bridge import CardRuns
from zelvo_harness import WAIT, StandIn
from zelvo_harness import linux_only

pytestmark = linux_only("the card plug-in's Windows build is not part of this build yet")

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


@pytest.mark.parametrize("command, dialog_answer, asked, reply", [
    # Cancelled (1), closed (2), a program that cannot be started or cannot show a
    # window (3: no graphical session, then the error's message box): a cancellation.
    ("changepin auth", (1, ""), True, CANCELLED),
    ("changepin auth", (2, ""), True, CANCELLED),
    ("changepin sign", None, False, CANCELLED),
    ("changepin sign", (3, ""), 2, CANCELLED),
    ("changepin auth", (0, "1234\n12ab\n"), True,
     {"status": "1", "body": {"message": "Respuesta no válida del diálogo de ingreso de PIN"}}),
    ("changepin", (0, ""), False, {"status": "1", "body": {"message": "Tipo de PIN a cambiar no indicado"}}),
    ("  changepin   Auth ", (0, ""), False, {"status": "1", "body": {"message": "Tipo de PIN a cambiar no válido"}}),
])
def test_nothing_reaches_the_card_without_two_valid_pins(changepin, pcscd, tmp_path, command, dialog_answer, asked,
                                                         reply):
    card, dialog = changepin
    if dialog_answer is None:
        card.env = {"ZELVO_DIALOG": str(tmp_path / "no-such-dialog")}
    else:
        dialog.answer("pin", *dialog_answer)
    before = pcscd.trace_position()
    assert card(command) == reply
    assert pcscd.exchanges(before) == [] and len(dialog.calls()) == asked
    assert asked != 2 or dialog.calls()[1] == ["message", "--icon", "warning", "--title", "Error", "--text",
                                               "Error creando dialogo 3"]


def test_changepin_auth_typed_into_the_real_dialog(tmp_path, xdisplay, pcscd):
    pcscd.restart_card(fresh_state=True)
    # The launcher's children see the test display; no ZELVO_DIALOG, so the
    # plug-in finds the zelvo-dialog staged beside the launcher.
    env = {k: xdisplay.env[k] for k in ("DISPLAY", "NO_AT_BRIDGE", "GSETTINGS_BACKEND", "GTK_THEME", "LANG")}
    card = CardRuns(tmp_path, pcscd, env=dict(env, ZELVO_DIALOG=""))
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        reply = pool.submit(card, "changepin auth")
        window = xdisplay.wait_window("^Cambiar PIN de autenticación$")
        xdisplay.wait_focus(window)
        for i, text in enumerate((pcscd.holder()["pins"]["1"], "24681357", "24681357")):
            xdisplay.type(text)
            xdisplay.key("Tab" if i < 2 else "Return")
        reply = reply.result(timeout=WAIT * 3)
    assert reply["body"] == {"message": "PIN actualizado correctamente", "code": "0"}
    assert pcscd.state()["credentials"]["1"] == {"pin": "24681357", "tries": 3}
    # The signature PIN is left alone, and the PINs appear in no log.
    assert pcscd.state()["credentials"]["4"]["pin"] == pcscd.holder()["pins"]["4"]
    assert "24681357" not in card.last.plugin_log() + card.last.log_text() + card.last.output()
