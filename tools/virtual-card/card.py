"""The simulated Vexa card: an ISO/IEC 7816-4 card with two applications, the PKI
application (master file, the ABI file, two PIN credentials) and the ICAO Doc 9303 LDS
application (plain DG1 read, Basic Access Control, secure messaging, DG1/DG2/DG7).

`VexaCard.process` takes one command APDU and gives the response APDU; power events come
from the reader link (vpcd.py). Every exchange is written to the trace file."""
import functools
import json
import operator
import os
import threading
import traceback
from pathlib import Path

import holder as holder_files
import icao

PKI_AID = bytes.fromhex("A000000077010070 0A1000F100000100".replace(" ", ""))
LDS_AID = bytes.fromhex("A0000002471001")
# T=0 and T=1, eight historical bytes.
ATR_BODY = bytes.fromhex("3B888001") + b"VEXA-ID1"
ATR = ATR_BODY + bytes([functools.reduce(operator.xor, ATR_BODY[1:], 0)])   # TCK

MAX_TRIES = 3
CREDENTIALS = (1, 4)


def sw(code):
    return code.to_bytes(2, "big")


class ApduError(Exception):
    def __init__(self, code):
        super().__init__("%04X" % code)
        self.code = code


class Command:
    """A parsed command APDU (short or extended length)."""

    def __init__(self, cla, ins, p1, p2, data=b"", ne=0):
        self.cla, self.ins, self.p1, self.p2 = cla, ins, p1, p2
        self.data = bytes(data)
        self.ne = ne

    @classmethod
    def parse(cls, raw):
        raw = bytes(raw)
        if len(raw) < 4:
            raise ApduError(0x6700)
        cla, ins, p1, p2 = raw[:4]
        body = raw[4:]
        if not body:
            return cls(cla, ins, p1, p2)
        if len(body) == 1:
            return cls(cla, ins, p1, p2, ne=body[0] or 256)
        if body[0] != 0:
            lc = body[0]
            if len(body) == 1 + lc:
                return cls(cla, ins, p1, p2, body[1:])
            if len(body) == 2 + lc:
                return cls(cla, ins, p1, p2, body[1:-1], body[-1] or 256)
            raise ApduError(0x6700)
        if len(body) == 3:
            return cls(cla, ins, p1, p2, ne=int.from_bytes(body[1:3], "big") or 65536)
        lc = int.from_bytes(body[1:3], "big")
        if lc == 0:
            raise ApduError(0x6700)
        if len(body) == 3 + lc:
            return cls(cla, ins, p1, p2, body[3:])
        if len(body) == 5 + lc:
            return cls(cla, ins, p1, p2, body[3:3 + lc], int.from_bytes(body[-2:], "big") or 65536)
        raise ApduError(0x6700)

    def encode(self):
        out = bytes([self.cla, self.ins, self.p1, self.p2])
        ext = len(self.data) > 255 or self.ne > 256
        if self.data:
            out += (b"\x00" + len(self.data).to_bytes(2, "big")) if ext else bytes([len(self.data)])
            out += self.data
        if self.ne:
            if ext:
                out += (b"" if self.data else b"\x00") + (self.ne % 65536).to_bytes(2, "big")
            else:
                out += bytes([self.ne % 256])
        return out


def read_binary(content, offset, ne, style, end_of_file):
    """ISO/IEC 7816-4 READ BINARY of `ne` bytes at `offset`; returns (data, sw)."""
    if ne == 0:
        raise ApduError(0x6700)
    size = len(content)
    if offset > size or (offset == size and end_of_file == "6b00"):
        raise ApduError(0x6B00)
    if offset == size:
        return b"", 0x6282
    left = size - offset
    if ne <= left:
        return content[offset:offset + ne], 0x9000
    if style == "6c" and left < 256:
        raise ApduError(0x6C00 | left)
    return content[offset:], 0x6282 if style == "short6282" else 0x9000


class PinStore:
    """Credentials 1 and 4: PIN and remaining tries, kept in a JSON state file."""

    def __init__(self, path, initial):
        self.path = Path(path) if path else None
        self.creds = {}
        if self.path and self.path.exists():
            try:
                data = json.loads(self.path.read_text(encoding="utf-8"))
                for cid in CREDENTIALS:
                    c = data["credentials"][str(cid)]
                    self.creds[cid] = {"pin": str(c["pin"]), "tries": int(c["tries"])}
            except (OSError, ValueError, KeyError, TypeError):
                self.creds = {}
        if not self.creds:
            for cid in CREDENTIALS:
                self.creds[cid] = {"pin": str(initial.get(str(cid), "1234")), "tries": MAX_TRIES}
            self.save()

    def save(self):
        if not self.path:
            return
        data = {"credentials": {str(k): v for k, v in self.creds.items()}}
        tmp = self.path.with_name(self.path.name + ".tmp")
        tmp.write_text(json.dumps(data, indent=2) + "\n", encoding="utf-8")
        os.replace(tmp, self.path)

    def block(self, cid):
        self.creds[cid]["tries"] = 0
        self.save()


def pin_field(raw):
    """8 bytes of a PIN filled with FF -> the PIN text, or None when the format is wrong."""
    raw = bytes(raw)
    text = raw.rstrip(b"\xff")
    if b"\xff" in text or not text.isdigit():
        return None
    return text.decode("ascii")


class SmSession:
    def __init__(self, ks_enc, ks_mac, ssc):
        self.ks_enc, self.ks_mac, self.ssc = ks_enc, ks_mac, ssc
        self.commands = 0

    def ssc_bytes(self):
        return self.ssc.to_bytes(8, "big")

    def step(self):
        self.ssc = (self.ssc + 1) % (1 << 64)


class Application:
    name = "?"

    def __init__(self, card):
        self.card = card
        self.current_ef = None

    def on_select(self):
        self.current_ef = None

    def select_file(self, cmd):
        raise ApduError(0x6A82)

    def execute(self, cmd, secure):
        raise ApduError(0x6D00)


class PkiApplication(Application):
    """Master file 3F00 with the ABI file FD01; VERIFY and CHANGE REFERENCE DATA."""
    name = "PKI"

    def __init__(self, card):
        super().__init__(card)
        self.in_mf = False
        self.verified = set()

    def on_select(self):
        super().on_select()
        self.in_mf = False

    def select_file(self, cmd):
        fid = cmd.data
        if cmd.p1 == 0x00 and fid in (b"", b"\x3F\x00"):
            self.in_mf = True
            self.current_ef = None
            return b""
        if cmd.p1 in (0x00, 0x02) and fid == b"\xFD\x01" and self.in_mf:
            self.current_ef = "ABI"
            return b""
        raise ApduError(0x6A82)

    def execute(self, cmd, secure):
        if cmd.ins == 0xB0:
            return self.read(cmd)
        if cmd.ins == 0x20:
            return self.verify(cmd)
        if cmd.ins == 0x24:
            return self.change(cmd)
        raise ApduError(0x6D00)

    def read(self, cmd):
        if cmd.p1 & 0x80:
            raise ApduError(0x6A82)      # no file here has a short identifier
        if self.current_ef != "ABI":
            raise ApduError(0x6986)
        s = self.card.settings
        return read_binary(self.card.abi(), (cmd.p1 << 8) | cmd.p2, cmd.ne, s["pki_read_style"],
                           s["end_of_file"])

    def _credential(self, cmd):
        if cmd.p1 != 0x00:
            raise ApduError(0x6A86)
        if cmd.p2 not in CREDENTIALS:
            raise ApduError(0x6A88)
        return self.card.pins.creds[cmd.p2]

    def _wrong(self, cid, cred):
        cred["tries"] = max(0, cred["tries"] - 1)
        self.verified.discard(cid)
        self.card.pins.save()
        return b"", 0x63C0 | cred["tries"]

    def verify(self, cmd):
        cred = self._credential(cmd)
        cid = cmd.p2
        if not cmd.data:
            # Status query: tries left, or 9000 when already verified.
            if cred["tries"] == 0:
                raise ApduError(0x6983)
            return b"", 0x9000 if cid in self.verified else 0x63C0 | cred["tries"]
        if len(cmd.data) > 8:
            raise ApduError(0x6700)
        if cred["tries"] == 0:
            raise ApduError(0x6983)
        if pin_field(cmd.data) != cred["pin"]:
            return self._wrong(cid, cred)
        cred["tries"] = MAX_TRIES
        self.verified.add(cid)
        self.card.pins.save()
        return b"", 0x9000

    def change(self, cmd):
        """P1 00: current and new PIN (16 bytes); P1 01: new PIN only, after VERIFY. A new
        PIN must be 4 to 8 digits; a badly formed one costs no try."""
        cid = cmd.p2
        if cmd.p1 == 0x01:
            if cid not in CREDENTIALS:
                raise ApduError(0x6A88)
            cred = self.card.pins.creds[cid]
            if len(cmd.data) != 8:
                raise ApduError(0x6700)
            if cred["tries"] == 0:
                raise ApduError(0x6983)
            if cid not in self.verified:
                raise ApduError(0x6982)
            new = pin_field(cmd.data)
            if new is None or not 4 <= len(new) <= 8:
                raise ApduError(0x6A80)
        else:
            cred = self._credential(cmd)
            if len(cmd.data) != 16:
                raise ApduError(0x6700)
            if cred["tries"] == 0:
                raise ApduError(0x6983)
            new = pin_field(cmd.data[8:])
            if new is None or not 4 <= len(new) <= 8:
                raise ApduError(0x6A80)
            if pin_field(cmd.data[:8]) != cred["pin"]:
                return self._wrong(cid, cred)
        cred["pin"] = new
        cred["tries"] = MAX_TRIES
        self.card.pins.save()
        return b"", 0x9000


class LdsApplication(Application):
    """EF.COM, DG1, DG2 and DG7 behind Basic Access Control; DG1 also through B6 in plain."""
    name = "LDS"
    FILES = {  # name: (file identifier, short file identifier)
        "COM": (0x011E, 0x1E),
        "DG1": (0x0101, 0x01),
        "DG2": (0x0102, 0x02),
        "DG7": (0x0107, 0x07),
    }

    def __init__(self, card):
        super().__init__(card)
        self.challenge = None

    def on_select(self):
        super().on_select()

    def _by_fid(self, fid):
        for name, (f, _) in self.FILES.items():
            if f == fid:
                return name
        raise ApduError(0x6A82)

    def _by_sfi(self, sfi):
        for name, (_, s) in self.FILES.items():
            if s == sfi:
                return name
        raise ApduError(0x6A82)

    def select_file(self, cmd):
        if cmd.p1 not in (0x00, 0x02) or len(cmd.data) != 2:
            raise ApduError(0x6A82)
        self.current_ef = self._by_fid(int.from_bytes(cmd.data, "big"))
        return b""

    def execute(self, cmd, secure):
        if cmd.ins == 0xB0:
            return self.read(cmd, secure)
        if cmd.ins == 0xB6:
            return self.read_dg1(cmd)
        if cmd.ins == 0x84:
            return self.get_challenge(cmd)
        if cmd.ins == 0x82:
            return self.external_authenticate(cmd)
        raise ApduError(0x6D00)

    def read(self, cmd, secure):
        if cmd.p1 & 0x80:
            if cmd.p1 & 0x60:
                raise ApduError(0x6A86)
            name = self._by_sfi(cmd.p1 & 0x1F)
            offset = cmd.p2
        else:
            name = self.current_ef
            offset = (cmd.p1 << 8) | cmd.p2
        if name is None:
            raise ApduError(0x6986)
        if not secure:
            raise ApduError(0x6982)     # the data groups need Basic Access Control
        self.current_ef = name
        s = self.card.settings
        return read_binary(self.card.lds_file(name), offset, cmd.ne, s["lds_read_style"],
                           s["end_of_file"])

    def read_dg1(self, cmd):
        """The card's own plain read of data group 1 (61 5B 5F1F 58 and the MRZ)."""
        content = self.card.lds_file("DG1")
        offset = (cmd.p1 << 8) | cmd.p2
        if offset >= len(content):
            raise ApduError(0x6B00)
        left = len(content) - offset
        ne = cmd.ne
        if ne == 256 and left < 256:
            ne = left
        if ne != left and ne > left:
            raise ApduError(0x6C00 | left)
        return content[offset:offset + ne], 0x9000

    def get_challenge(self, cmd):
        if cmd.p1 or cmd.p2:
            raise ApduError(0x6A86)
        if cmd.ne != 8:
            raise ApduError(0x6700)
        fixed = self.card.settings["rnd_ic"]
        self.challenge = bytes.fromhex(fixed) if fixed else os.urandom(8)
        return self.challenge, 0x9000

    def external_authenticate(self, cmd):
        """Basic Access Control, card side (ICAO Doc 9303 Part 11)."""
        if cmd.p1 or cmd.p2:
            raise ApduError(0x6A86)
        if len(cmd.data) != 40:
            raise ApduError(0x6700)
        challenge, self.challenge = self.challenge, None     # one attempt per challenge
        if challenge is None:
            raise ApduError(0x6985)
        k_enc, k_mac = self.card.bac_keys()
        e_ifd, m_ifd = cmd.data[:32], cmd.data[32:]
        if icao.retail_mac(k_mac, icao.pad(e_ifd)) != m_ifd:
            self.card.log("EXTERNAL AUTHENTICATE: MAC del terminal incorrecto")
            raise ApduError(0x6300)
        s = icao.tdes_decrypt(k_enc, e_ifd)
        rnd_ifd, rnd_ic, k_ifd = s[:8], s[8:16], s[16:32]
        if rnd_ic != challenge:
            self.card.log("EXTERNAL AUTHENTICATE: RND.IC no coincide con el desafío")
            raise ApduError(0x6300)
        fixed = self.card.settings["k_ic"]
        k_ic = bytes.fromhex(fixed) if fixed else os.urandom(16)
        fault = self.card.settings["ea_fault"]
        copy_ifd = rnd_ifd
        if fault == "bad_rnd_ifd":
            copy_ifd = bytes([rnd_ifd[0] ^ 0x01]) + rnd_ifd[1:]
        e_ic = icao.tdes_encrypt(k_enc, rnd_ic + copy_ifd + k_ic)
        m_ic = icao.retail_mac(k_mac, icao.pad(e_ic))
        if fault == "bad_mac":
            m_ic = m_ic[:7] + bytes([m_ic[7] ^ 0x01])
        seed = icao.xor(k_ifd, k_ic)
        self.card.sm = SmSession(icao.derive_key(seed, 1), icao.derive_key(seed, 2),
                                 int.from_bytes(rnd_ic[4:] + rnd_ifd[4:], "big"))
        self.card.mark("BAC")
        self.card.log("BAC completado")
        return e_ic + m_ic, 0x9000


class VexaCard:
    def __init__(self, holder, settings, state_path=None, trace_path=None, log=None,
                 photo=b"", signature=b""):
        self.holder = holder
        self.settings = settings
        self._log = log or (lambda text: None)
        self.trace = open(trace_path, "a", encoding="ascii", buffering=1) if trace_path else None
        self.trace_lock = threading.Lock()
        self.mrz = holder_files.mrz(holder)
        doc = holder.get("document", {})
        issued = doc.get("issued", "2024-03-15")
        self.files = {
            "COM": holder_files.ef_com(holder),
            "DG1": holder_files.dg1(self.mrz),
            "DG2": holder_files.dg2(photo, doc.get("sex", "")),
            "DG7": holder_files.dg7(signature, holder_files.bcd_date(issued, "103000"),
                                    holder_files.bcd_date(issued)[:8]
                                    + holder_files.bcd_date(doc.get("expiry", issued))[:8]),
        }
        self.pins = PinStore(state_path, holder.get("pins", {}))
        self._abi_key = None
        self._abi = b""
        self.abi()          # a holder the ABI cannot be built from fails at start-up
        self._blocked_applied = []
        self.apply_settings()
        self.pki = PkiApplication(self)
        self.lds = LdsApplication(self)
        self.power_off(quiet=True)

    # ------------------------------------------------------------ helpers

    def log(self, text):
        self._log(text)

    def mark(self, text):
        self._pending_marks.append(text)

    def trace_line(self, text):
        if self.trace:
            with self.trace_lock:
                self.trace.write(text + "\n")

    def abi(self):
        s = self.settings
        key = (s["abi_encoding"], s["abi_length"], s["abi_cut"])
        if key != self._abi_key:
            try:
                self._abi = holder_files.abi_file(self.holder, *key)
            except holder_files.HolderError as e:
                if self._abi_key is None:
                    raise
                # A setting the holder cannot be shaped to keeps the last good file.
                self.log("ajuste del ABI no aplicable: %s" % e)
            self._abi_key = key
        return self._abi

    def lds_file(self, name):
        cut = self.settings["lds_cut"].get(name)
        return self.files[name] if cut is None else self.files[name][:cut]

    def bac_keys(self):
        doc, birth, expiry = icao.td3_bac_fields(self.mrz)
        seed = icao.key_seed(doc, birth, expiry)
        return icao.derive_key(seed, 1), icao.derive_key(seed, 2)

    def apply_settings(self):
        """Applies the settings that change stored state (blocked PINs)."""
        blocked = self.settings["blocked_pins"]
        if blocked != self._blocked_applied:
            for cid in blocked:
                self.pins.block(cid)
            self._blocked_applied = list(blocked)
        self.abi()

    # ------------------------------------------------------------ power

    def power_off(self, quiet=False):
        self.selected = None
        self.sm = None
        self.pki.on_select()
        self.pki.verified.clear()
        self.lds.on_select()
        self.lds.challenge = None
        self._pending_marks = []

    def power_on(self):
        self.power_off()

    # ------------------------------------------------------------ APDUs

    def process(self, raw):
        self._pending_marks = []
        inner = None
        try:
            cmd = Command.parse(raw)
            if cmd.cla & 0x0C == 0x0C and not cmd.cla & 0x80:
                resp, inner = self.process_secure(cmd)
            else:
                data, status = self.execute(cmd, secure=False)
                resp = data + sw(status)
        except ApduError as e:
            resp = sw(e.code)
        except Exception as e:      # a fault of the card's own: answer it, keep running
            self.log("error interno con %s: %s" % (bytes(raw).hex().upper(),
                                                   traceback.format_exc()))
            self.sm = None
            resp = sw(0x6F00)
        self.trace_line("%s -> %s" % (bytes(raw).hex().upper(), resp.hex().upper()))
        if inner:
            self.trace_line("SM %s -> %s" % inner)
        for m in self._pending_marks:
            self.trace_line(m)
        return resp

    def execute(self, cmd, secure):
        """A plain command (or the content of a protected one): (data, status word)."""
        try:
            if cmd.cla != 0x00:
                raise ApduError(0x6E00)
            if cmd.ins == 0xA4:
                return self.select(cmd), 0x9000
            if self.selected is None:
                raise ApduError(0x6D00)
            return self.selected.execute(cmd, secure)
        except ApduError as e:
            return b"", e.code

    def select(self, cmd):
        if cmd.p1 == 0x04:
            for aid, app in ((PKI_AID, self.pki), (LDS_AID, self.lds)):
                if cmd.data == aid:
                    # A selection keeps the secure-messaging session: the card ties it to the
                    # card session, not to one application.
                    self.selected = app
                    app.on_select()
                    return self.fci(aid, cmd)
            raise ApduError(0x6A82)
        if self.selected is None:
            if cmd.p1 == 0x00 and cmd.data in (b"", b"\x3F\x00"):
                return b""
            raise ApduError(0x6A82)
        self.selected.select_file(cmd)
        return b""

    def fci(self, aid, cmd):
        if cmd.p2 & 0x0C == 0x0C or cmd.ne == 0:
            return b""
        return icao.tlv(0x6F, icao.tlv(0x84, aid))

    # ------------------------------------------------------------ secure messaging

    def process_secure(self, cmd):
        """ICAO Doc 9303 secure messaging: DO'87 (or DO'85), DO'97 and DO'8E in, DO'87,
        DO'99 and DO'8E out; SSC raised once for the command and once for the answer."""
        sm = self.sm
        if sm is None:
            raise ApduError(0x6988)
        sm.commands += 1
        s = self.settings
        if s["sm_reject_at"] and sm.commands == s["sm_reject_at"]:
            self.log("mensajería segura: comando %d rechazado (6988) por ajuste" % sm.commands)
            self.sm = None
            raise ApduError(0x6988)
        objects = {}
        macced = b""
        pos = 0
        body = cmd.data
        try:
            while pos < len(body):
                tag = body[pos]
                length, vpos = icao.read_length(body, pos + 1)
                if vpos + length > len(body):
                    raise ValueError("objeto más largo que el comando")
                value = body[vpos:vpos + length]
                if tag == 0x8E:
                    objects[0x8E] = value
                    if vpos + length != len(body):
                        raise ValueError("datos tras DO'8E")
                    break
                if tag not in (0x85, 0x87, 0x97) or tag in objects:
                    raise ValueError("objeto inesperado %02X" % tag)
                objects[tag] = value
                macced += body[pos:vpos + length]
                pos = vpos + length
        except ValueError as e:
            self.log("mensajería segura: %s" % e)
            self.sm = None
            raise ApduError(0x6988)
        if 0x8E not in objects:
            self.sm = None
            raise ApduError(0x6987)
        sm.step()
        header = icao.pad(bytes([cmd.cla, cmd.ins, cmd.p1, cmd.p2]))
        mac = icao.retail_mac(sm.ks_mac, icao.pad(sm.ssc_bytes() + header + macced))
        if mac != objects[0x8E]:
            self.log("mensajería segura: MAC del comando incorrecto; sesión terminada")
            self.sm = None
            raise ApduError(0x6988)
        data = b""
        try:
            if 0x87 in objects or 0x85 in objects:
                enc = objects.get(0x87, objects.get(0x85))
                if 0x87 in objects:
                    if not enc or enc[0] != 0x01:
                        raise ValueError("DO'87 sin indicador 01")
                    enc = enc[1:]
                if not enc or len(enc) % 8:
                    raise ValueError("criptograma de longitud no válida")
                data = icao.unpad(icao.tdes_decrypt(sm.ks_enc, enc))
            ne = 0
            if 0x97 in objects:
                le = objects[0x97]
                if len(le) == 1:
                    ne = le[0] or 256
                elif len(le) == 2:
                    ne = int.from_bytes(le, "big") or 65536
                else:
                    raise ValueError("DO'97 de longitud no válida")
        except ValueError as e:
            self.log("mensajería segura: %s" % e)
            self.sm = None
            raise ApduError(0x6988)
        inner = Command(cmd.cla & ~0x0C & 0xFF, cmd.ins, cmd.p1, cmd.p2, data, ne)
        rdata, status = self.execute(inner, secure=True)
        sm.step()
        out = b""
        if rdata:
            enc = icao.tdes_encrypt(sm.ks_enc, icao.pad(rdata))
            out += icao.tlv(0x87, b"\x01" + enc)
        out += icao.tlv(0x99, sw(status))
        mac = icao.retail_mac(sm.ks_mac, icao.pad(sm.ssc_bytes() + out))
        if s["sm_bad_mac_at"] and sm.commands == s["sm_bad_mac_at"]:
            self.log("mensajería segura: MAC de la respuesta %d estropeado por ajuste" % sm.commands)
            mac = mac[:7] + bytes([mac[7] ^ 0x01])
        out += icao.tlv(0x8E, mac)
        return out + sw(status), (inner.encode().hex().upper(),
                                  (rdata + sw(status)).hex().upper())
