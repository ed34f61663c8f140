"""The simulated Vexa card through a real pcscd, checked against what does not share its
code: the ICAO Doc 9303 worked example byte for byte, and BAC and secure-messaging answers
checked by the test's own terminal (mrtd_terminal.py). The ABI file and the other switches
are read through the plug-in by its end-to-end tests."""
import json
from pathlib import Path

import pytest

import mrtd_terminal as term
import pcsc_client  # tools/virtual-card, put on the path by conftest
from zelvo_harness import ROOT
from zelvo_harness import linux_only

pytestmark = linux_only("the simulated card itself, whatever build reads it")

CARD_DIR = ROOT / "tools" / "virtual-card"
PKI_AID = bytes.fromhex("A0000000770100700A1000F100000100")
SELECT_LDS = "00A4040C07A0000002471001"
HOLDER = json.loads((CARD_DIR / "holder.json").read_text(encoding="utf-8"))
JP2_SIGNATURE = bytes.fromhex("0000000C6A5020200D0A870A")


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


class Session:
    def __init__(self, conn):
        self.conn = conn

    def send(self, apdu):
        r = self.conn.transmit(h(apdu) if isinstance(apdu, str) else apdu)
        return r[:-2], int.from_bytes(r[-2:], "big")

    def ok(self, apdu):
        data, sw = self.send(apdu)
        assert sw == 0x9000, "%s -> %04X" % (apdu if isinstance(apdu, str) else apdu.hex(), sw)
        return data

    def bac(self, doc=None):
        """Selects the LDS application, reads the MRZ in the clear and runs BAC with
        keys from it (or from another document number); (Bac, the card's answer)."""
        self.ok(SELECT_LDS)
        mrz = self.ok("00B600005D")[5:].decode("ascii")
        (number, _), (birth, _), (expiry, _) = term.bac_fields(mrz)
        bac = term.Bac(doc or number, birth, expiry, self.ok("0084000008"))
        return bac, self.conn.transmit(bac.command())

    def secure(self, sm, ins, p1, p2, le, **kw):
        return sm.unwrap(self.conn.transmit(sm.wrap(0x00, ins, p1, p2, le, **kw)))

    def read_dg(self, sm, sfi):
        """The data group as the plug-in sizes it: six bytes by short identifier, the
        length from 82 hi lo, then chunks of 231 bytes."""
        out, sw = self.secure(sm, 0xB0, 0x80 | sfi, 0x00, le=6)
        assert sw == 0x9000 and out[1] == 0x82
        total = int.from_bytes(out[2:4], "big") + 4
        while len(out) < total:
            data, sw = self.secure(sm, 0xB0, len(out) >> 8, len(out) & 0xFF, le=min(231, total - len(out)))
            assert sw == 0x9000, "%04X" % sw
            out += data
        return out


@pytest.fixture
def card(pcscd):
    pcscd.reset_card_settings()
    with pcsc_client.Context() as ctx:
        conn = ctx.connect(pcscd.reader)
        try:
            yield Session(conn)
        finally:
            conn.disconnect(pcsc_client.SCARD_RESET_CARD)


def test_icao_worked_example_byte_for_byte(pcscd, tmp_path):
    """The published example of ICAO Doc 9303 Part 11 (document L898902C<, born 690806,
    expiring 940623) with its fixed random values."""
    holder = json.loads(json.dumps(HOLDER))
    holder["document"].update(number="L898902C", birth="1969-08-06", expiry="1994-06-23")
    holder["ef_com_hex"] = "60145F0104303130365F36063034303030305C026175"
    (tmp_path / "icao-holder.json").write_text(json.dumps(holder), encoding="utf-8")
    pcscd.reset_card_settings()
    pcscd.set_card(rnd_ic="4608F91988702212", k_ic="0B4F80323EB3191CB04970CB4052790B")
    pcscd.restart_card(holder=tmp_path / "icao-holder.json")
    try:
        seed = term.key_seed("L898902C<", "690806", "940623")
        assert seed == h("239AB9CB282DAF66231DC5A4DF6BFBAE")
        assert term.parity(term.kdf(seed, 1)) == h("AB94FDECF2674FDFB9B391F85D7F76F2")
        assert term.parity(term.kdf(seed, 2)) == h("7962D9ECE03D1ACD4C76089DCE131543")
        bac = term.Bac("L898902C<", "690806", "940623", h("4608F91988702212"),
                       h("781723860C06C226"), h("0B795240CB7049B01C19B33E32804F0B"))
        assert bac.cryptogram == h("72C29C2371CC9BDB65B779B8E8D37B29ECC154AA56A8799FAE2F498F"
                                   "76ED92F25F1448EEA8AD90A7")
        with pcsc_client.Context() as ctx, ctx.connect(pcscd.reader) as conn:
            s = Session(conn)
            s.ok(SELECT_LDS)
            assert s.ok("0084000008") == h("4608F91988702212")
            resp = conn.transmit(bac.command())
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
        assert "BAC" in pcscd.trace_lines() and ("00A4020C02011E", "9000") in pcscd.secure_exchanges()
    finally:
        pcscd.reset_card_settings()
        pcscd.restart_card(holder=CARD_DIR / "holder.json")


def test_bac_and_secure_reads_of_the_data_groups(card, pcscd):
    bac, resp = card.bac()
    dg1_plain = card.ok("00B600005D")
    assert dg1_plain[:5] == h("615B5F1F58") and len(dg1_plain) == 93
    mrz = dg1_plain[5:].decode("ascii")
    for value, digit in term.bac_fields(mrz):
        assert term.check_digit(value) == digit
    assert mrz.startswith("I<UTONUNEZ<PENALOZA<<MARIA<JOSE<") and mrz[44:53] == "40912345<"
    assert (mrz[57:63], mrz[65:71]) == ("850315", "310820")
    sm = bac.answer(resp)
    assert card.secure(sm, 0xB0, 0x81, 0, le=0x5D) == (dg1_plain, 0x9000)
    # The images in JPEG 2000 after their headers.
    dg2, dg7 = card.read_dg(sm, 2), card.read_dg(sm, 7)
    assert dg2[:2] == h("7582") and dg2[88:] == Path(pcscd.photo).read_bytes()
    assert dg7[:2] == h("6782") and dg7[97:] == Path(pcscd.signature).read_bytes()
    assert dg2[88:100] == JP2_SIGNATURE and dg7[97:109] == JP2_SIGNATURE and 10000 < len(dg2) < 40000

    # A short file identifier makes that file the current one; offsets are in P1 P2.
    assert card.secure(sm, 0xB0, 0x87, 10, le=5) == (dg7[10:15], 0x9000)
    assert card.secure(sm, 0xB0, 0x01, 0x00, le=16) == (dg7[256:272], 0x9000)
    # The end of a file: the rest with 6282, then 6B00 at the end offset (or as switched).
    end = len(dg7)
    assert card.secure(sm, 0xB0, (end - 3) >> 8, (end - 3) & 0xFF, le=10) == (dg7[-3:], 0x6282)
    assert card.secure(sm, 0xB0, end >> 8, end & 0xFF, le=1) == (b"", 0x6B00)
    pcscd.set_card(lds_read_style="6c")
    assert card.secure(sm, 0xB0, (end - 3) >> 8, (end - 3) & 0xFF, le=10) == (b"", 0x6C03)
    pcscd.set_card(lds_read_style=None, end_of_file="6282")
    assert card.secure(sm, 0xB0, end >> 8, end & 0xFF, le=1) == (b"", 0x6282)
    # A file cut short while its header still declares the full length.
    pcscd.set_card(end_of_file=None, lds_cut={"DG7": 300})
    assert card.secure(sm, 0xB0, 0x87, 0, le=4) == (dg7[:4], 0x9000)
    assert card.secure(sm, 0xB0, 0, 237, le=231) == (dg7[237:300], 0x6282)
    assert card.secure(sm, 0xB0, 468 >> 8, 468 & 0xFF, le=231) == (b"", 0x6B00)
    pcscd.set_card(lds_cut=None)

    # The session survives a plain command and the selection of the PKI application, as
    # when the plug-in reads the ABI file between two photo reads.
    card.ok("00B600005D")
    card.ok(b"\x00\xA4\x04\x00" + bytes([len(PKI_AID)]) + PKI_AID)
    card.ok(SELECT_LDS)
    assert card.secure(sm, 0xB0, 0x82, 88, le=12) == (JP2_SIGNATURE, 0x9000)
    # Data groups are refused without secure messaging; a wrong command MAC ends the session.
    assert card.send("00B0820006")[1] == 0x6982
    assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x81, 0, 5, spoil_mac=True)) == h("6988")
    assert card.conn.transmit(sm.wrap(0x00, 0xB0, 0x81, 0, 5)) == h("6988")


def test_bac_refuses_a_wrong_terminal_and_a_second_attempt(card):
    assert card.bac(doc="X00000000")[1] == h("6300")
    bac, _ = card.bac()
    assert card.conn.transmit(bac.command()) == h("6985")  # one attempt per challenge
