"""Readers, cards and card answers that go wrong, end to end: each gives one
clear JSON error reply and the launcher still ends cleanly."""
import os
import signal
import subprocess

import pytest

from card_support import CardBridge, error_message, pcsc_fixture
from zelvo_harness import BUILD, WAIT

CARD_HOLDER = BUILD / "tests" / "card_holder"


def assert_clean_error(result, message):
    reply, closed, code, _ = result
    assert error_message(reply) == message
    assert (closed, code) == (True, 0)


def test_no_reader(tmp_path):
    with pcsc_fixture.private_pcscd(mode="noreader") as p:
        assert_clean_error(CardBridge(tmp_path, p).command("read abi"),
                           "No se obtuvo la lista de lectores de tarjetas inteligentes")


def test_reader_without_card(tmp_path):
    with pcsc_fixture.private_pcscd(mode="nocard") as p:
        bridge = CardBridge(tmp_path, p)
        reply, closed, code, _ = bridge.command("read dg1")
        # pcsc-lite reports an empty slot as "no smart card", not as a removed one.
        assert error_message(reply) in ("Conexión no realizada", "Tarjeta no disponible")
        assert (closed, code) == (True, 0)
        assert "[SCardConnect] " + reply["body"]["message"] + " / " in bridge.plugin_log()


@pytest.fixture(scope="module")
def pcscd():
    with pcsc_fixture.private_pcscd() as p:
        yield p


@pytest.fixture
def card(pcscd, tmp_path):
    pcscd.reset_card_settings()
    return CardBridge(tmp_path, pcscd)


def test_card_held_exclusively_by_another_process(card, pcscd):
    assert CARD_HOLDER.exists(), "build card_holder"
    holder = subprocess.Popen([str(CARD_HOLDER)], env=pcscd.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    try:
        assert holder.stdout.readline() == b"held\n", holder.stderr.read()
        assert_clean_error(card.command("read abi"), "Tarjeta ocupada por otro proceso")
    finally:
        holder.stdin.close()
        try:
            holder.wait(WAIT)
        except subprocess.TimeoutExpired:
            os.kill(holder.pid, signal.SIGKILL)
            holder.wait()


@pytest.mark.parametrize("fault, what", [("bad_mac", "MAC"), ("bad_rnd_ifd", "RND.IFD")])
def test_wrong_external_authenticate_answer(card, pcscd, fault, what):
    pcscd.set_card(ea_fault=fault)
    before = pcscd.trace_position()
    assert_clean_error(card.command("read dg2"),
                       "La tarjeta respondió a la autenticación con datos no válidos (%s)" % what)
    # Refused at once: no protected command follows.
    assert not any(c.startswith("0C") for c, _ in pcscd.exchanges(before))


def test_mac_error_under_secure_messaging(card, pcscd):
    pcscd.set_card(sm_bad_mac_at=3)
    assert_clean_error(card.command("read dg7"), "IllegalStateException: Invalid MAC")


def test_card_removed_in_the_middle_of_a_read(card, pcscd):
    pcscd.set_card(remove_after_apdus=12)
    try:
        reply, closed, code, _ = card.command("read abi dg2")
        # The reader either fails the transmission or hands back an empty answer,
        # which secure messaging refuses.
        assert error_message(reply) in ("Comando APDU no ejecutado", "IllegalArgumentException: Invalid response APDU")
        assert (closed, code) == (True, 0)
    finally:
        pcscd.insert_card()
    # The card is back: the next library load reads it again.
    pcscd.reset_card_settings()
    reply, _, _, _ = card.command("read dg1")
    assert reply["status"] == "0"
