"""Changing a PIN end to end: the launcher hosting vexa-tools.so, the simulated
card behind a private pcscd, and a scripted stand-in for the dialog program."""
import json
from pathlib import Path

import pytest

from card_support import CardBridge, error_message, ok_body, pcsc_fixture

STANDIN = Path(__file__).resolve().parent / "pin_dialog_standin.py"
PKI_SELECT = "00A4040010A0000000770100700A1000F100000100"


@pytest.fixture(scope="module")
def pcscd():
    with pcsc_fixture.private_pcscd() as p:
        yield p


class Dialog:
    def __init__(self, folder):
        self.answer = Path(folder) / "answer.json"
        self.log = Path(folder) / "calls.jsonl"
        self.env = {"ZELVO_DIALOG": str(STANDIN), "STANDIN_ANSWER": str(self.answer), "STANDIN_LOG": str(self.log)}

    def will(self, exit_code, stdout=""):
        self.answer.write_text(json.dumps({"exit": exit_code, "stdout": stdout}), encoding="utf-8")

    def calls(self):
        return [json.loads(l) for l in self.log.read_text().splitlines()] if self.log.exists() else []


@pytest.fixture
def dialog(tmp_path):
    return Dialog(tmp_path)


@pytest.fixture
def card(pcscd, tmp_path, dialog):
    pcscd.reset_card_settings()
    pcscd.restart_card(fresh_state=True)
    return CardBridge(tmp_path, pcscd, env=dialog.env)


def pin_of(pcscd, credential):
    return pcscd.state()["credentials"][str(credential)]


def test_change_the_authentication_pin(card, pcscd, dialog):
    old = pcscd.holder()["pins"]["1"]
    dialog.will(0, "%s\n87654321\n" % old)
    before = pcscd.trace_position()
    reply, closed, code, _ = card.command("changepin auth")
    assert ok_body(reply) == {"message": "PIN actualizado correctamente", "code": "0"}
    assert (closed, code) == (True, 0)
    assert pin_of(pcscd, 1) == {"pin": "87654321", "tries": 3}
    assert dialog.calls() == [["pin", "--type", "auth"]]
    padded = old.encode().hex().upper().ljust(16, "F")
    sent = [c for c, _ in pcscd.exchanges(before)]
    assert sent == [PKI_SELECT, "0020000108" + padded, "0024000110" + padded + "3837363534333231"]
    # The PINs never reach the log.
    assert "87654321" not in card.plugin_log()


def test_wrong_and_blocked_pin(card, pcscd, dialog):
    dialog.will(0, "0000\n5678\n")
    reply, _, _, _ = card.command("changepin sign")
    assert ok_body(reply) == {"message": "PIN incorrecto. Quedan 2 intentos", "code": "1"}
    assert pin_of(pcscd, 4) == {"pin": pcscd.holder()["pins"]["4"], "tries": 2}
    assert dialog.calls()[-1] == ["pin", "--type", "sign"]

    pcscd.set_card(blocked_pins=[4])
    before = pcscd.trace_position()
    dialog.will(0, "%s\n5678\n" % pcscd.holder()["pins"]["4"])
    reply, _, _, _ = card.command("changepin sign")
    assert ok_body(reply) == {"message": "PIN bloqueado", "code": "2"}
    assert not any(c.startswith("0024") for c, _ in pcscd.exchanges(before))


@pytest.mark.parametrize("exit_code", [1, 2])
def test_cancel_sends_nothing_to_the_card(card, pcscd, dialog, exit_code):
    dialog.will(exit_code)
    before = pcscd.trace_position()
    reply, closed, code, _ = card.command("changepin auth")
    assert ok_body(reply) == {"message": "Se ha cancelado la actualización del PIN", "code": "-1"}
    assert (closed, code) == (True, 0)
    assert pcscd.exchanges(before) == []


def test_dialog_that_cannot_run_or_answers_nonsense(card, pcscd, dialog, tmp_path):
    before = pcscd.trace_position()
    dialog.will(0, "1234\n12ab\n")
    reply, _, code, _ = card.command("changepin auth")
    assert error_message(reply) == "Respuesta no válida del diálogo de ingreso de PIN"
    # A program that cannot be started counts as a cancellation.
    (tmp_path / "missing").mkdir()
    missing = CardBridge(tmp_path / "missing", pcscd, env={"ZELVO_DIALOG": str(tmp_path / "no-such-dialog")})
    reply, _, _, _ = missing.command("changepin sign")
    assert ok_body(reply)["code"] == "-1"
    assert pcscd.exchanges(before) == []


def test_pin_type_errors(card, pcscd, dialog):
    before = pcscd.trace_position()
    reply, _, _, _ = card.command("changepin")
    assert error_message(reply) == "Tipo de PIN a cambiar no indicado"
    reply, _, _, _ = card.command("  changepin   Auth ")
    assert error_message(reply) == "Tipo de PIN a cambiar no válido"
    assert dialog.calls() == []
    assert pcscd.exchanges(before) == []
