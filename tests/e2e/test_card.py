"""Reading the simulated card through the real launcher and card plug-in, and readers, cards
and answers that go wrong, each one clear JSON error. Under ZELVO_TARGET=windows the replies
are also compared byte for byte with the Linux build's (ZELVO_LINUX_STAGE)."""
import base64
import json
import os
import signal
import struct
import subprocess
from pathlib import Path

import pytest

import holder as holder_files  # tools/virtual-card, put on the path by conftest
import pcsc_fixture
from vexa_bridge import READ_ALL, CardRuns
from zelvo_harness import ROOT, WAIT, escaped
from zelvo_harness import windows_only

ABI_KEYS = ["cui", "digito", "primerAp", "segundoAp", "preNombres", "ubigeo", "genero", "grupoVotacion"]
PKI_SELECT = "00A4040010A0000000770100700A1000F100000100"


def ok_body(reply):
    assert reply["status"] == "0", reply
    return reply["body"]


def error_message(reply):
    assert reply["status"] == "1" and list(reply["body"]) == ["message"], reply
    return reply["body"]["message"]


def png_header(data):
    """(colour type, bit depth, sBIT) of a PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    chunks, pos = {}, 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks.setdefault(kind, data[pos + 8:pos + 8 + length])
        pos += 12 + length
    return chunks[b"IHDR"][9], chunks[b"IHDR"][8], chunks.get(b"sBIT")


@pytest.mark.parametrize("text, expected", [
    ("read", {"status": "0", "body": {}}),
    ("  read  foo DG1 ", {"status": "0", "body": {}}),
    ("READ", {"status": "1", "body": {"message": "Comando READ desconocido"}}),
    (" \t \n", {"status": "1", "body": {"message": "Comando vacío"}}),
    # A line break cannot forge a record of its own.
    ("read\n2026-01-01 00:00:00.000 INFO  [1] [A::b@1] falso", {"status": "0", "body": {}}),
    # Over 64 KiB: refused whole, no word of it read or run.
    ("read" + " dg1" * 20000, {"status": "1", "body": {"message": "Comando demasiado largo"}}),
])
def test_commands_that_do_not_need_the_card_are_answered_every_time(card, pcscd, text, expected):
    # Again and again: the reply and the plug-in's close may come before onConnect has
    # marked the connection open; it must not wait for ever then.
    before = pcscd.trace_position()
    for _ in range(3):
        assert card(text) == expected
    assert pcscd.exchanges(before) == []
    # The plug-in's record quotes the message as it stands, escaped onto one line; one over
    # 1,024 bytes is cut there and its length given.
    quoted = text if len(text) <= 1024 else text[:1024] + "... (%d bytes)" % len(text)
    records = [line for line in card.last.plugin_log().splitlines() if "[onTextMessage@" in line]
    assert [r.split("] ", 2)[2] for r in records if "Mensaje de texto recibido" in r] == \
        ["Mensaje de texto recibido: " + escaped(quoted)]


def test_read_everything(card, pcscd, tmp_path):
    before = pcscd.trace_position()
    body = ok_body(card("read dg7 abi dg2 dg1 dg2"))
    holder = pcscd.holder()
    assert list(body) == ABI_KEYS + ["mrz", "fechaNac", "fechaExp", "dg2", "dg7"]
    assert {k: body[k] for k in ABI_KEYS} == holder["abi"]
    assert body["mrz"] == holder_files.mrz(holder)
    assert (body["fechaNac"], body["fechaExp"]) == ("15/03/85", "20/08/31")
    # Two images, one Basic Access Control.
    assert sum(1 for c, _ in pcscd.exchanges(before) if c.startswith("00820000")) == 1
    assert pcscd.trace_lines(before).count("BAC") == 1
    assert "Ya se ha realizado BAC" in card.last.plugin_log() and "LDS ya ha sido seleccionado" in card.last.plugin_log()
    # Each image is the PNG of what opj_decompress makes of the card's JPEG 2000 file.
    for key, jp2, colour, kind in (("dg2", pcscd.photo, 2, "ppm"), ("dg7", pcscd.signature, 0, "pgm")):
        png = tmp_path / (key + ".png")
        png.write_bytes(base64.b64decode(body[key]))
        channels = 3 if colour == 2 else 1
        assert png_header(png.read_bytes()) == (colour, 8, bytes([8] * channels)), key
        reference = tmp_path / ("%s.%s" % (key, kind))
        subprocess.run(["opj_decompress", "-i", str(jp2), "-o", str(reference)], check=True, capture_output=True,
                       timeout=WAIT * 3)
        same = subprocess.run(["compare", "-metric", "AE", str(png), str(reference), "null:"], capture_output=True,
                              text=True, timeout=WAIT * 3)
        assert (same.returncode, same.stderr.strip()) == (0, "0"), key


@pytest.mark.parametrize("settings, length, reads", [
    ({}, None, [(0, "00")]),
    ({"abi_encoding": "latin-1"}, None, [(0, "00")]),  # values stored as Latin-1 arrive as UTF-8
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
    assert ok_body(card("read abi")) == pcscd.holder()["abi"]
    exchanges = pcscd.exchanges(before)
    # The PKI application, the master file and the ABI file, exactly; then the reads.
    assert [c for c, _ in exchanges if c.startswith("00A4")] == [PKI_SELECT, "00A40000023F00", "00A4000002FD01"]
    assert [(int(c[4:8], 16), c[8:10]) for c, _ in exchanges if c.startswith("00B0")] == reads
    data = b"".join(bytes.fromhex(r[:-4]) for c, r in exchanges if c.startswith("00B0") and r.endswith("9000"))
    assert length is None or len(data) == length


def test_abi_file_whose_objects_run_past_its_end(card, pcscd):
    pcscd.set_card(abi_cut=40)
    body, holder = ok_body(card("read abi")), pcscd.holder()["abi"]
    # Whatever lies wholly inside the cut file is kept; nothing is half a value.
    assert list(body) == ABI_KEYS and "" in body.values()
    assert all(body[key] in ("", holder[key]) for key in ABI_KEYS)


def test_a_photo_declaring_12000x12000_pixels_is_an_empty_image(tmp_path):
    # 226 bytes of JPEG 2000 whose decoding would take 580 MB: refused on its header,
    # as the warning record shows. A reader of its own keeps the module's card as it is.
    holder = json.loads((ROOT / "tools/virtual-card/holder.json").read_text(encoding="utf-8"))
    holder["photo_file"] = str(ROOT / "plugins/card/fuzz/corpus/fuzz_png/declares-12000x12000.jp2")
    (tmp_path / "holder.json").write_text(json.dumps(holder), encoding="utf-8")
    with pcsc_fixture.private_pcscd(workdir=tmp_path / "pcscd", holder=tmp_path / "holder.json") as reader:
        runs = CardRuns(tmp_path, reader)
        assert runs("read dg2") == {"status": "0", "body": {"dg2": ""}}
    assert "Imagen rechazada: 12000 x 12000" in runs.last.plugin_log()


# ---- faults ----

@pytest.mark.parametrize("mode, messages", [
    # Windows 8 and later stop the smart-card service when no reader is attached:
    # there SCardEstablishContext fails and the reply is "Componente de smartcard no
    # inicializado". Under Wine the bridge gives pcsc-lite's answer, as on Linux.
    ("noreader", ["No se obtuvo la lista de lectores de tarjetas inteligentes"]),
    # pcsc-lite reports an empty slot as "no smart card", not as a removed one;
    # Windows' own service may say "removed".
    ("nocard", ["Conexión no realizada", "Tarjeta no disponible"]),
])
def test_no_reader_or_no_card(tmp_path, mode, messages):
    with pcsc_fixture.private_pcscd(mode=mode, workdir=tmp_path / "pcscd") as reader:
        runs = CardRuns(tmp_path, reader)
        message = error_message(runs("read dg1"))
    assert message in messages
    if mode == "nocard":
        # Then the system's words (none under Wine, which has no text for the
        # smart-card codes) and the code.
        assert "[SCardConnect] " + message + " / " in runs.last.plugin_log()
        assert "(0x8010000c)" in runs.last.plugin_log()


def test_a_reader_named_outside_ascii_is_listed_and_connected_to(tmp_path):
    # Beyond the Basic Multilingual Plane too: on Windows the name comes in UTF-16
    # and goes back for the connection.
    with pcsc_fixture.private_pcscd(workdir=tmp_path / "pcscd", friendly_name="Lector ñandú € 𝄞") as reader:
        runs = CardRuns(tmp_path, reader)
        assert ok_body(runs("read dg1"))["fechaNac"] == "15/03/85"
    assert "Lector disponible Lector ñandú € 𝄞 00 00\n" in runs.last.plugin_log()


def test_card_held_exclusively_by_another_process(card, pcscd):
    # A Linux client of the same pcscd: the Windows build meets it through the bridge.
    holder = subprocess.Popen([pcsc_fixture.PYTHON, str(ROOT / "tools" / "virtual-card" / "pcsc_client.py"), "hold"],
                              env=pcscd.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert holder.stdout.readline() == b"held\n", holder.stderr.read()
        assert error_message(card("read abi")) == "Tarjeta ocupada por otro proceso"
    finally:
        holder.stdin.close()
        try:
            holder.wait(WAIT)
        except subprocess.TimeoutExpired:
            os.kill(holder.pid, signal.SIGKILL)
            holder.wait()


@pytest.mark.parametrize("settings, command, message", [
    ({"ea_fault": "bad_mac"}, "read dg2", "La tarjeta respondió a la autenticación con datos no válidos (MAC)"),
    ({"ea_fault": "bad_rnd_ifd"}, "read dg2", "La tarjeta respondió a la autenticación con datos no válidos (RND.IFD)"),
    ({"sm_bad_mac_at": 3}, "read dg7", "IllegalStateException: Invalid MAC"),
    ({"sm_reject_at": 1}, "read dg2", "RuntimeException: Exception during transmission of wrapped APDU."),
])
def test_a_wrong_card_answer_is_one_clear_error(card, pcscd, settings, command, message):
    pcscd.set_card(**settings)
    before = pcscd.trace_position()
    assert error_message(card(command)) == message
    if "ea_fault" in settings:  # refused at once: no protected command follows
        assert not any(c.startswith("0C") for c, _ in pcscd.exchanges(before))


def test_card_removed_in_the_middle_of_a_read(card, pcscd):
    pcscd.set_card(remove_after_apdus=12)
    try:
        # The reader either fails the transmission or hands back an empty answer,
        # which secure messaging refuses.
        assert error_message(card("read abi dg2")) in ("Comando APDU no ejecutado",
                                                       "IllegalArgumentException: Invalid response APDU")
    finally:
        pcscd.insert_card()
    # The card is back: the next library load reads it again.
    pcscd.reset_card_settings()
    assert card("read dg1")["status"] == "0"


# ---- the same bytes on both systems ----

LINUX_STAGE = Path(os.environ.get("ZELVO_LINUX_STAGE", ROOT / "build" / "stage"))


def linux_reply(pcscd, folder, command):
    """The Linux build's raw reply to `command` against the same card."""
    if not (LINUX_STAGE / "conlaunch").exists():
        pytest.skip("no Linux build to compare with in %s (ZELVO_LINUX_STAGE)" % LINUX_STAGE)
    env = dict(os.environ, ZELVO_TARGET="linux", ZELVO_STAGE=str(LINUX_STAGE), ZELVO_BUILD=str(LINUX_STAGE.parent))
    done = subprocess.run([pcsc_fixture.PYTHON, str(Path(__file__).parent / "vexa_bridge.py"), str(pcscd.socket),
                           str(folder), command], env=env, capture_output=True, timeout=WAIT * 6)
    assert done.returncode == 0, done.stderr.decode("utf-8", "replace")[-3000:]
    return done.stdout.decode("utf-8")


@windows_only("compares the Windows build's replies with the Linux build's")
@pytest.mark.parametrize("settings", [
    {},
    {"abi_cut": 40},                      # an ABI file whose objects run past its end
    {"ea_fault": "bad_mac"},              # Basic Access Control refused
    {"sm_bad_mac_at": 3},                 # a protected answer with a wrong MAC
], ids=["whole", "abi-cut", "bac-refused", "bad-mac"])
def test_the_reply_is_the_linux_builds_byte_for_byte(card, pcscd, tmp_path, settings):
    pcscd.set_card(**settings)
    expected = linux_reply(pcscd, tmp_path / "linux", READ_ALL)
    assert card.raw(READ_ALL) == expected
