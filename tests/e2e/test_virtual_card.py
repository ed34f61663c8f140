"""The simulated Vexa card through a real private pcscd and libpcsclite: its PKI application
(selection, ABI file reads, PIN rules and the state file), its LDS application (plain DG1,
Basic Access Control and secure messaging checked by the test's own terminal, the published
ICAO worked example byte for byte) and its fault switches."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
CARD_DIR = ROOT / "tools" / "virtual-card"
sys.path.insert(0, str(CARD_DIR))

import mrtd_terminal as term                                          # noqa: E402
import pcsc_client                                                    # noqa: E402
import settings as card_settings                                      # noqa: E402
from pcsc_fixture import PYTHON, vexa_card_factory, vexa_card_module  # noqa: E402,F401

PKI_AID = bytes.fromhex("A000000077010070 0A1000F100000100".replace(" ", ""))
LDS_AID = bytes.fromhex("A0000002471001")
HOLDER = json.loads((CARD_DIR / "holder.json").read_text(encoding="utf-8"))
JP2_SIGNATURE = bytes.fromhex("0000000C6A5020200D0A870A")


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


@pytest.fixture
def card(vexa_card_module):
    """A connection to the module's card, fresh PIN state and default settings."""
    p = vexa_card_module
    p.reset_card_settings()
    if p.state_path.exists() and p.state()["credentials"] != {
            str(c): {"pin": HOLDER["pins"][str(c)], "tries": 3} for c in (1, 4)}:
        p.restart_card(fresh_state=True)
    with pcsc_client.Context() as ctx:
        s = Session(p, ctx.connect(p.reader), ctx)
        try:
            yield s
        finally:
            s.conn.disconnect(pcsc_client.SCARD_RESET_CARD)


class Session:
    def __init__(self, pcscd, conn, ctx=None):
        self.pcscd, self.conn, self.ctx = pcscd, conn, ctx

    def reconnect(self):
        """A new card handle after the card process or the card itself changed."""
        self.conn.disconnect()
        self.conn = self.ctx.connect(self.pcscd.reader)

    def send(self, apdu):
        r = self.conn.transmit(h(apdu) if isinstance(apdu, str) else apdu)
        return r[:-2], int.from_bytes(r[-2:], "big")

    def ok(self, apdu):
        data, sw = self.send(apdu)
        assert sw == 0x9000, "%s -> %04X" % (apdu if isinstance(apdu, str) else apdu.hex(), sw)
        return data

    # ---- PKI side
    def select_abi(self):
        self.ok(b"\x00\xA4\x04\x00" + bytes([len(PKI_AID)]) + PKI_AID)
        self.ok("00A4000002 3F00")
        self.ok("00A4000002 FD01")

    def read_whole(self):
        """Chunks of 256 until one is shorter, re-reading once with the length a 6Cxx gives;
        [(offset, status)] of every read is returned beside the content."""
        out, reads = b"", []
        while True:
            off = len(out)
            data, sw = self.send(bytes([0x00, 0xB0, off >> 8, off & 0xFF, 0x00]))
            if sw >> 8 == 0x6C:
                reads.append((off, sw))
                data, sw = self.send(bytes([0x00, 0xB0, off >> 8, off & 0xFF, sw & 0xFF]))
            reads.append((off, sw))
            if sw not in (0x9000, 0x6282):
                return out, reads
            out += data
            if len(data) != 256:
                return out, reads

    # ---- LDS side
    def bac(self, bac_cls=term.Bac):
        self.ok("00A4040C07" + LDS_AID.hex())
        dg1 = self.ok("00B600005D")
        mrz = dg1[5:].decode("ascii")
        (doc, _), (birth, _), (expiry, _) = term.bac_fields(mrz)
        rnd_ic = self.ok("0084000008")
        bac = bac_cls(doc, birth, expiry, rnd_ic)
        resp = self.conn.transmit(bytes([0x00, 0x82, 0x00, 0x00, 40]) + bac.cryptogram)
        return bac, resp

    def secure(self, sm, ins, p1, p2, data=b"", le=None, **kw):
        return sm.unwrap(self.conn.transmit(sm.wrap(0x00, ins, p1, p2, data, le, **kw)))

    def read_dg(self, sm, sfi):
        """The data group as a reader sizes it: six bytes by short identifier, the length
        from 82 hi lo, then chunks of 231 bytes."""
        first, sw = self.secure(sm, 0xB0, 0x80 | sfi, 0x00, le=6)
        assert sw == 0x9000 and first[1] == 0x82
        total = int.from_bytes(first[2:4], "big") + 4
        out = first
        while len(out) < total:
            n = min(231, total - len(out))
            data, sw = self.secure(sm, 0xB0, len(out) >> 8, len(out) & 0xFF, le=n)
            assert sw == 0x9000, "%04X" % sw
            out += data
        return out


def parse_abi(raw):
    n = raw[3]
    pos = 4 + n
    values = {}
    for _ in range(n // 2):
        tag = int.from_bytes(raw[pos:pos + 2], "big")
        size = raw[pos + 2]
        values[tag] = raw[pos + 3:pos + 3 + size]
        pos += 3 + size
    return values


ABI_KEYS = {0x5F60: "cui", 0x5F61: "digito", 0x5F62: "primerAp", 0x5F63: "segundoAp",
            0x5F64: "preNombres", 0x5F6A: "genero", 0x5F21: "ubigeo", 0x5F22: "grupoVotacion"}


# ------------------------------------------------------------------ PKI application

def test_abi_file_reads_in_every_answer_style(card):
    card.select_abi()
    raw, reads = card.read_whole()
    values = parse_abi(raw)
    for tag, key in ABI_KEYS.items():
        assert values[tag] == HOLDER["abi"][key].encode("utf-8"), key
    assert values[0x5F65] == "ÁNCASH".encode("utf-8")      # the extra, unknown object
    assert raw[0] == 0x01 and int.from_bytes(raw[1:3], "big") == len(raw) - 3
    assert reads == [(0, 0x9000)]

    # 300 bytes: two reads, the second short.
    card.pcscd.set_card(abi_length=300)
    raw300, reads = card.read_whole()
    assert len(raw300) == 300 and raw300.startswith(raw) and reads == [(0, 0x9000), (256, 0x9000)]

    # The exact length announced with 6Cxx, then read with that Le.
    card.pcscd.set_card(pki_read_style="6c")
    raw300b, reads = card.read_whole()
    assert raw300b == raw300 and reads == [(0, 0x9000), (256, 0x6C2C), (256, 0x9000)]
    card.pcscd.set_card(abi_length=None, abi_cut=32, pki_read_style="6c")
    assert card.send("00B0000000") == (b"", 0x6C20)
    assert len(card.ok("00B0000020")) == 32

    # A file of exactly 512 bytes ends with one more read at its end offset.
    for style, last in (("6b00", (512, 0x6B00)), ("6282", (512, 0x6282))):
        card.pcscd.set_card(abi_length=512, abi_cut=None, pki_read_style="short", end_of_file=style)
        raw512, reads = card.read_whole()
        assert len(raw512) == 512 and reads[-1] == last and len(reads) == 3


def test_abi_switches_latin1_and_cut(card):
    card.select_abi()
    card.pcscd.set_card(abi_encoding="latin-1")
    raw, _ = card.read_whole()
    name = parse_abi(raw)[0x5F62]
    assert name == HOLDER["abi"]["primerAp"].encode("latin-1")
    with pytest.raises(UnicodeDecodeError):
        name.decode("utf-8")
    card.pcscd.set_card(abi_encoding="utf-8", abi_cut=40)
    raw, _ = card.read_whole()
    assert len(raw) == 40 and int.from_bytes(raw[1:3], "big") > 37


def test_pin_rules_and_state_file(card):
    p = card.pcscd
    card.ok(b"\x00\xA4\x04\x00" + bytes([len(PKI_AID)]) + PKI_AID)

    def verify(cid, pin):
        return card.send(bytes([0x00, 0x20, 0x00, cid, 0x08]) + pin.encode() + b"\xFF" * (8 - len(pin)))[1]

    assert card.send("0020000100")[1] == 0x63C3           # tries left, nothing verified
    assert verify(1, "0000") == 0x63C2
    assert p.state()["credentials"]["1"]["tries"] == 2
    assert verify(1, "1234") == 0x9000
    assert p.state()["credentials"]["1"]["tries"] == 3    # a right PIN restores the tries
    assert card.send("0020000100")[1] == 0x9000
    for left in (2, 1, 0):
        assert verify(1, "9999") == 0x63C0 | left
    assert verify(1, "1234") == 0x6983                     # blocked, even with the right PIN
    assert card.send("0020000100")[1] == 0x6983
    assert card.send("0020000208" + "31323334FFFFFFFF")[1] == 0x6A88   # no credential 2

    # CHANGE REFERENCE DATA, credential 4: current PIN, new PIN, each filled with FF.
    apdu = h("0024000410 313233343536FFFF 3837363534333231")
    assert card.send(apdu)[1] == 0x9000
    assert (apdu.hex().upper(), "9000") in p.exchanges()
    assert p.state()["credentials"]["4"] == {"pin": "87654321", "tries": 3}
    assert verify(4, "123456") == 0x63C2
    assert verify(4, "87654321") == 0x9000
    assert card.send("0024000410 3131313131FFFFFF 3939393939FFFFFF")[1] == 0x63C2  # wrong current
    assert card.send("0024000410 3837363534333231 31FFFFFFFFFFFFFF")[1] == 0x6A80  # new too short
    assert p.state()["credentials"]["4"]["tries"] == 2

    # The state file outlives the card process.
    p.restart_card()
    card.reconnect()
    card.ok(b"\x00\xA4\x04\x00" + bytes([len(PKI_AID)]) + PKI_AID)
    assert verify(1, "1234") == 0x6983
    assert verify(4, "87654321") == 0x9000
    p.set_card(blocked_pins=[4])
    assert verify(4, "87654321") == 0x6983


# ------------------------------------------------------------------ LDS application

def test_icao_worked_example_byte_for_byte(vexa_card_module, tmp_path):
    """The published example of ICAO Doc 9303 Part 11 (document L898902C<, born 690806,
    expiring 940623) with its fixed random values."""
    p = vexa_card_module
    holder = json.loads(json.dumps(HOLDER))
    holder["document"].update(number="L898902C", birth="1969-08-06", expiry="1994-06-23")
    holder["ef_com_hex"] = "60145F0104303130365F36063034303030305C026175"
    path = tmp_path / "icao-holder.json"
    path.write_text(json.dumps(holder), encoding="utf-8")
    p.reset_card_settings()
    p.set_card(rnd_ic="4608F91988702212", k_ic="0B4F80323EB3191CB04970CB4052790B")
    p.restart_card(holder=path)
    try:
        seed = term.key_seed("L898902C<", "690806", "940623")
        assert seed == h("239AB9CB282DAF66231DC5A4DF6BFBAE")
        assert term.parity(term.kdf(seed, 1)) == h("AB94FDECF2674FDFB9B391F85D7F76F2")
        assert term.parity(term.kdf(seed, 2)) == h("7962D9ECE03D1ACD4C76089DCE131543")
        bac = term.Bac("L898902C<", "690806", "940623", h("4608F91988702212"),
                       h("781723860C06C226"), h("0B795240CB7049B01C19B33E32804F0B"))
        assert bac.cryptogram == h("72C29C2371CC9BDB65B779B8E8D37B29ECC154AA56A8799FAE2F498F"
                                   "76ED92F25F1448EEA8AD90A7")
        with pcsc_client.Context() as ctx, ctx.connect(p.reader) as conn:
            s = Session(p, conn)
            s.ok("00A4040C07" + LDS_AID.hex())
            assert s.ok("0084000008") == h("4608F91988702212")
            resp = conn.transmit(bytes([0x00, 0x82, 0x00, 0x00, 40]) + bac.cryptogram)
            assert resp == h("46B9342A41396CD7386BF5803104D7CEDC122B9132139BAF2EEDC94EE1"
                             "78534F2F2D235D074D7449 9000")
            sm = bac.answer(resp)
            assert term.parity(sm.ks_enc) == h("979EC13B1CBFE9DCD01AB0FED307EAE5")
            assert term.parity(sm.ks_mac) == h("F1CB1F1FB5ADF208806B89DC579DC1F8")
            assert sm.ssc == 0x887022120C06C226
            for cmd, answer in (
                    ("0CA4020C158709016375432908C044F68E08BF8B92D635FF24F800",
                     "990290008E08FA855A5D4C50A8ED9000"),
                    ("0CB000000D9701048E08ED6705417E96BA5500",
                     "8709019FF0EC34F9922651990290008E08AD55CC17140B2DED9000"),
                    ("0CB000040D9701128E082EA28A70F3C7B53500",
                     "871901FB9235F4E4037F2327DCC8964F1F9B8C30F42C8E2FFF224A990290008E08"
                     "C8B2787EAEA07D749000")):
                assert conn.transmit(h(cmd)).hex().upper() == answer
        assert "BAC" in p.trace_lines()
        assert ("00A4020C02011E", "9000") in p.secure_exchanges()
    finally:
        p.reset_card_settings()
        p.restart_card(holder=CARD_DIR / "holder.json")


def test_plain_dg1_bac_and_secure_reads(card):
    p = card.pcscd
    bac, resp = card.bac()
    dg1_plain = card.ok("00B600005D")
    assert dg1_plain[:5] == h("615B5F1F58") and len(dg1_plain) == 93
    mrz = dg1_plain[5:].decode("ascii")
    for value, digit in term.bac_fields(mrz):
        assert term.check_digit(value) == digit
    assert mrz.startswith("I<UTONUNEZ<PENALOZA<<MARIA<JOSE<") and mrz[44:53] == "40912345<"
    assert mrz[57:63] == "850315" and mrz[65:71] == "310820"
    sm = bac.answer(resp)

    dg1 = card.secure(sm, 0xB0, 0x81, 0, le=0x5D)
    assert dg1 == (dg1_plain, 0x9000)
    dg2 = card.read_dg(sm, 2)
    dg7 = card.read_dg(sm, 7)
    assert dg2[:2] == h("7582") and dg2[88:] == Path(p.photo).read_bytes()
    assert dg7[:2] == h("6782") and dg7[97:] == Path(p.signature).read_bytes()
    assert dg2[88:100] == JP2_SIGNATURE and dg7[97:109] == JP2_SIGNATURE
    assert 10000 < len(dg2) < 40000

    # A short file identifier makes that file the current one; offsets are in P1 P2.
    assert card.secure(sm, 0xB0, 0x87, 10, le=5) == (dg7[10:15], 0x9000)
    assert card.secure(sm, 0xB0, 0x01, 0x00, le=16) == (dg7[256:272], 0x9000)
    # The end of a file: the rest with 6282, then 6B00 at the end offset.
    end = len(dg7)
    assert card.secure(sm, 0xB0, (end - 3) >> 8, (end - 3) & 0xFF, le=10) == (dg7[-3:], 0x6282)
    assert card.secure(sm, 0xB0, end >> 8, end & 0xFF, le=1) == (b"", 0x6B00)
    p.set_card(lds_read_style="6c")
    assert card.secure(sm, 0xB0, (end - 3) >> 8, (end - 3) & 0xFF, le=10) == (b"", 0x6C03)
    p.set_card(lds_read_style=None, end_of_file="6282")
    assert card.secure(sm, 0xB0, end >> 8, end & 0xFF, le=1) == (b"", 0x6282)
    # A file cut short while its header still declares the full length.
    p.set_card(end_of_file=None, lds_cut={"DG7": 300})
    assert card.secure(sm, 0xB0, 0x87, 0, le=4) == (dg7[:4], 0x9000)
    assert card.secure(sm, 0xB0, 0, 237, le=231) == (dg7[237:300], 0x6282)
    assert card.secure(sm, 0xB0, 468 >> 8, 468 & 0xFF, le=231) == (b"", 0x6B00)
    p.set_card(lds_cut=None)

    # The session survives a plain command and the selection of the PKI application, as a
    # reader that reads the ABI file between two photo reads does.
    card.ok("00B600005D")
    card.select_abi()
    card.read_whole()
    card.ok("00A4040C07" + LDS_AID.hex())
    assert card.secure(sm, 0xB0, 0x82, 88, le=12) == (JP2_SIGNATURE, 0x9000)
    assert card.secure(sm, 0xB0, 0x81, 0, le=5) == (dg1_plain[:5], 0x9000)

    # Data groups are refused without secure messaging.
    assert card.send("00B0820006")[1] == 0x6982
    # A wrong command MAC ends the session.
    assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x81, 0, le=5, spoil_mac=True)) == h("6988")
    assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x81, 0, le=5)) == h("6988")
    assert p.trace_lines().count("BAC") >= 1


def test_bac_refuses_a_wrong_terminal(card):
    class WrongKeys(term.Bac):
        def __init__(self, doc, birth, expiry, rnd_ic):
            super().__init__("X00000000", birth, expiry, rnd_ic)

    _, resp = card.bac(WrongKeys)
    assert resp == h("6300")
    # One attempt per challenge.
    bac, resp = card.bac()
    assert card.conn.transmit(bac.command()[:-1]) == h("6985")


# ------------------------------------------------------------------ fault switches

@pytest.mark.parametrize("fault,message", [("bad_mac", "MAC de la tarjeta"),
                                           ("bad_rnd_ifd", "copia de RND.IFD")])
def test_wrong_external_authenticate_answer(card, fault, message):
    card.pcscd.set_card(ea_fault=fault)
    bac, resp = card.bac()
    assert resp[-2:] == h("9000") and len(resp) == 42
    with pytest.raises(term.TerminalError, match=message):
        bac.answer(resp)


def test_bad_mac_and_rejected_command_under_secure_messaging(card):
    card.pcscd.set_card(sm_bad_mac_at=2)
    bac, resp = card.bac()
    sm = bac.answer(resp)
    card.secure(sm, 0xB0, 0x81, 0, le=6)
    with pytest.raises(term.TerminalError, match="MAC de la respuesta"):
        card.secure(sm, 0xB0, 0x81, 0, le=6)

    card.pcscd.set_card(sm_bad_mac_at=None, sm_reject_at=1)
    bac, resp = card.bac()
    sm = bac.answer(resp)
    assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x81, 0, le=6)) == h("6988")


def test_card_removed_in_the_middle_of_a_read(card):
    p = card.pcscd
    bac, resp = card.bac()
    sm = bac.answer(resp)
    p.set_card(remove_after_apdus=3)
    for _ in range(3):
        card.secure(sm, 0xB0, 0x82, 0, le=200)
    # The reader gives the command in flight an empty answer (or an error); what follows fails.
    try:
        assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x82, 200, le=200)) == b""
    except pcsc_client.PcscError:
        pass
    with pytest.raises(pcsc_client.PcscError) as e:
        card.conn.transmit(sm.wrap(0x00, 0xB0, 0x82, 200, le=200))
    assert "REMOVED" in p.trace_lines()
    card.conn.disconnect()          # pcscd shows a new card once the old handles are gone
    p.insert_card()
    card.reconnect()
    card.ok("00A4040C07" + LDS_AID.hex())


def run_client(pcscd, *args):
    env = pcscd.env
    r = subprocess.run([PYTHON, str(CARD_DIR / "pcsc_client.py"), *args], env=env,
                       capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout, r.stderr


def test_reader_without_card_and_no_reader(vexa_card_factory):
    empty = vexa_card_factory(mode="nocard")
    assert run_client(empty, "list")[1].split("\n")[0] == empty.reader
    code, _, err = run_client(empty, "send", "00A4040C07" + LDS_AID.hex())
    assert code == 1 and "SCardConnect" in err
    empty.start_card()
    code, out, _ = run_client(empty, "send", "00A4040C07" + LDS_AID.hex())
    assert (code, out.strip()) == (0, "9000")

    none = vexa_card_factory(mode="noreader")
    assert run_client(none, "list")[:2] == (0, "")


def test_settings_are_checked_and_a_broken_control_file_keeps_the_values(tmp_path):
    for bad in ({"ea_fault": "x"}, {"abi_length": -1}, {"blocked_pins": [2]},
                {"rnd_ic": "00"}, {"nope": 1}, {"present": "yes"}, {"lds_cut": {"DG3": 1}}):
        with pytest.raises(ValueError):
            card_settings.validate(bad)
    control = tmp_path / "control.json"
    control.write_text('{"pki_read_style": "6c"}', encoding="utf-8")
    s = card_settings.Settings({"end_of_file": "6282"}, control)
    assert s["pki_read_style"] == "6c" and s["end_of_file"] == "6282"
    control.write_text('{"pki_read_style": ', encoding="utf-8")
    assert not s.refresh() and s["pki_read_style"] == "6c" and "no válido" in s.error
