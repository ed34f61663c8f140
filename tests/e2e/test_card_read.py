"""Reading the simulated card end to end: the real launcher hosting vexa-tools.so,
a private pcscd with the simulated card, and a real WebSocket client."""
import base64
import json

import pytest

from card_support import (EXTERNAL_AUTHENTICATE, CardBridge, error_message, ok_body, opj_reference, pcsc_fixture,
                          read_png)

import holder as holder_files  # tools/virtual-card, put on the path by card_support

ABI_KEYS = ["cui", "digito", "primerAp", "segundoAp", "preNombres", "ubigeo", "genero", "grupoVotacion"]


@pytest.fixture(scope="module")
def pcscd():
    with pcsc_fixture.private_pcscd() as p:
        yield p


@pytest.fixture
def card(pcscd, tmp_path):
    pcscd.reset_card_settings()
    return CardBridge(tmp_path, pcscd)


def read_binaries(exchanges):
    """(offset, Le) of each plain READ BINARY the card received."""
    return [(int(c[4:8], 16), c[8:10]) for c, _ in exchanges if c.startswith("00B0")]


def test_commands_that_do_not_need_the_card(card, pcscd):
    before = pcscd.trace_position()
    for text, expected in (("read", {"status": "0", "body": {}}),
                           ("  read  foo DG1 ", {"status": "0", "body": {}}),
                           ("READ", {"status": "1", "body": {"message": "Comando READ desconocido"}}),
                           (" \t \n", {"status": "1", "body": {"message": "Comando vacío"}})):
        reply, closed, code, _ = card.command(text)
        assert (reply, closed, code) == (expected, True, 0), text
    assert pcscd.exchanges(before) == []


def test_a_command_sent_at_once_is_answered_every_time(card):
    # The reply and the plug-in's close may come before onConnect has marked the
    # connection open; it must not wait for ever then.
    for _ in range(8):
        reply, closed, code, _ = card.command("read")
        assert (reply, closed, code) == ({"status": "0", "body": {}}, True, 0)


def test_read_everything(card, pcscd, tmp_path):
    before = pcscd.trace_position()
    reply, closed, code, _ = card.command("read dg7 abi dg2 dg1 dg2")
    assert closed and code == 0
    body = ok_body(reply)
    holder = pcscd.holder()
    assert list(body) == ABI_KEYS + ["mrz", "fechaNac", "fechaExp", "dg2", "dg7"]
    assert {k: body[k] for k in ABI_KEYS} == holder["abi"]
    assert body["mrz"] == holder_files.mrz(holder)
    assert (body["fechaNac"], body["fechaExp"]) == ("15/03/85", "20/08/31")

    # Two images, one Basic Access Control.
    exchanges = pcscd.exchanges(before)
    assert sum(1 for c, _ in exchanges if c.startswith(EXTERNAL_AUTHENTICATE)) == 1
    assert pcscd.trace_lines(before).count("BAC") == 1
    assert "Ya se ha realizado BAC" in card.plugin_log()
    assert "LDS ya ha sido seleccionado" in card.plugin_log()

    for key, jp2, channels in (("dg2", pcscd.photo, 3), ("dg7", pcscd.signature, 1)):
        width, height, got_channels, depth, sbit, pixels = read_png(base64.b64decode(body[key]))
        assert (got_channels, depth, sbit) == (channels, 8, bytes([8] * channels)), key
        ref = opj_reference(jp2, tmp_path, channels)
        assert (width, height, got_channels) == ref[:3], key
        assert pixels == ref[3], key


@pytest.mark.parametrize("settings, length, reads", [
    # 300 bytes in two reads; the second answered 6C2C and read again with Le 2C.
    ({"abi_length": 300, "pki_read_style": "6c"}, 300, [(0, "00"), (256, "00"), (256, "2C")]),
    ({"abi_length": 288, "pki_read_style": "6c"}, 288, [(0, "00"), (256, "00"), (256, "20")]),
    # Exactly 512 bytes: the read at the end answers 6B00 or 6282 without data.
    ({"abi_length": 512, "end_of_file": "6b00"}, 512, [(0, "00"), (256, "00"), (512, "00")]),
    ({"abi_length": 512, "end_of_file": "6282"}, 512, [(0, "00"), (256, "00"), (512, "00")]),
])
def test_abi_file_read_whole(card, pcscd, settings, length, reads):
    pcscd.set_card(**settings)
    before = pcscd.trace_position()
    reply, closed, code, _ = card.command("read abi")
    body = ok_body(reply)
    assert body == pcscd.holder()["abi"]
    exchanges = pcscd.exchanges(before)
    assert read_binaries(exchanges) == reads
    # The PKI application, the master file and the ABI file, exactly.
    selects = [c for c, _ in exchanges if c.startswith("00A4")]
    assert selects == ["00A4040010A0000000770100700A1000F100000100", "00A40000023F00", "00A4000002FD01"]
    data = b"".join(bytes.fromhex(r[:-4]) for c, r in exchanges if c.startswith("00B0") and r.endswith("9000"))
    assert len(data) == length


def test_abi_values_stored_as_latin1_arrive_as_utf8(card, pcscd):
    pcscd.set_card(abi_encoding="latin-1")
    reply, _, _, _ = card.command("read abi")
    assert ok_body(reply) == pcscd.holder()["abi"]


def test_abi_file_whose_objects_run_past_its_end(card, pcscd):
    pcscd.set_card(abi_cut=40)
    reply, closed, code, _ = card.command("read abi")
    body = ok_body(reply)
    holder = pcscd.holder()["abi"]
    assert list(body) == ABI_KEYS
    # Whatever lies wholly inside the cut file is kept; nothing is half a value.
    for key in ABI_KEYS:
        assert body[key] in ("", holder[key]), key
    assert "" in body.values()
    assert (closed, code) == (True, 0)


def test_error_reply_is_valid_json_with_the_card_stack_message(card, pcscd):
    pcscd.set_card(sm_reject_at=1)
    reply, closed, code, _ = card.command("read dg2")
    assert error_message(reply) == "RuntimeException: Exception during transmission of wrapped APDU."
    assert (closed, code) == (True, 0)
    json.dumps(reply)
