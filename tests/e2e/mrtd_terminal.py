"""The terminal side of Basic Access Control and secure messaging (ICAO Doc 9303 Part 11),
written for the tests on its own so that the simulated card is checked against something
that does not share its code: key derivation, the retail MAC, command wrapping and the
checked unwrapping of answers (a check that fails is a failed assertion)."""
import hashlib
import os

from Cryptodome.Cipher import DES, DES3

IV0 = bytes(8)


def check_digit(text):
    values = [int(c) if c.isdigit() else 0 if c == "<" else ord(c) - 55 for c in text]
    return str(sum(v * (7, 3, 1)[i % 3] for i, v in enumerate(values)) % 10)


def bac_fields(mrz):
    """Document number, birth date and expiry date of an 88-character TD3 MRZ, each with the
    check digit printed after it (which the caller can compare with check_digit)."""
    line = mrz[44:]
    return (line[0:9], line[9]), (line[13:19], line[19]), (line[21:27], line[27])


def key_seed(doc, birth, expiry):
    text = doc + check_digit(doc) + birth + check_digit(birth) + expiry + check_digit(expiry)
    return hashlib.sha1(text.encode("ascii")).digest()[:16]


def kdf(seed, counter):
    return hashlib.sha1(seed + counter.to_bytes(4, "big")).digest()[:16]


def parity(key):
    """The same key with odd parity in every byte, as published examples print keys."""
    return bytes((b & 0xFE) | ((bin(b & 0xFE).count("1") + 1) % 2) for b in key)


def pad(data):
    data = data + b"\x80"
    return data + b"\x00" * (-len(data) % 8)


def unpad(data):
    stripped = data.rstrip(b"\x00")
    assert stripped.endswith(b"\x80"), "relleno incorrecto"
    return stripped[:-1]


def enc(key, data):
    return DES3.new(key + key[:8], DES3.MODE_CBC, IV0).encrypt(data)


def dec(key, data):
    return DES3.new(key + key[:8], DES3.MODE_CBC, IV0).decrypt(data)


def mac(key, data):
    """ISO/IEC 9797-1 MAC algorithm 3 over already padded data."""
    a = DES.new(key[:8], DES.MODE_ECB)
    b = DES.new(key[8:16], DES.MODE_ECB)
    h = IV0
    for i in range(0, len(data), 8):
        h = a.encrypt(bytes(x ^ y for x, y in zip(h, data[i:i + 8])))
    return a.encrypt(b.decrypt(h))


def parse_dos(data):
    """[(tag, value)] of a flat sequence of one-byte-tag data objects."""
    out, pos = [], 0
    while pos < len(data):
        assert pos + 1 < len(data), "objeto truncado"
        tag, n = data[pos], data[pos + 1]
        pos += 2
        if n & 0x80:
            n, pos = int.from_bytes(data[pos:pos + (n & 0x7F)], "big"), pos + (n & 0x7F)
        assert pos + n <= len(data), "objeto más largo que la respuesta"
        out.append((tag, data[pos:pos + n]))
        pos += n
    return out


class Bac:
    """One Basic Access Control run; `answer` checks the card's reply fully."""

    def __init__(self, doc, birth, expiry, rnd_ic, rnd_ifd=None, k_ifd=None):
        seed = key_seed(doc, birth, expiry)
        self.k_enc, self.k_mac = kdf(seed, 1), kdf(seed, 2)
        self.rnd_ic = rnd_ic
        self.rnd_ifd = rnd_ifd or os.urandom(8)
        self.k_ifd = k_ifd or os.urandom(16)
        e = enc(self.k_enc, self.rnd_ifd + self.rnd_ic + self.k_ifd)
        self.cryptogram = e + mac(self.k_mac, pad(e))

    def command(self):
        """EXTERNAL AUTHENTICATE with the cryptogram."""
        return bytes([0x00, 0x82, 0x00, 0x00, 40]) + self.cryptogram

    def answer(self, resp):
        assert resp[-2:] == b"\x90\x00" and len(resp) == 42, "respuesta de EXTERNAL AUTHENTICATE %s" % resp.hex()
        e, m = resp[:32], resp[32:40]
        assert mac(self.k_mac, pad(e)) == m, "MAC de la tarjeta incorrecto"
        r = dec(self.k_enc, e)
        assert r[:8] == self.rnd_ic, "RND.IC de la tarjeta incorrecto"
        assert r[8:16] == self.rnd_ifd, "copia de RND.IFD incorrecta"
        seed = bytes(x ^ y for x, y in zip(self.k_ifd, r[16:32]))
        ssc = int.from_bytes(self.rnd_ic[4:] + self.rnd_ifd[4:], "big")
        return SecureChannel(kdf(seed, 1), kdf(seed, 2), ssc)


class SecureChannel:
    def __init__(self, ks_enc, ks_mac, ssc):
        self.ks_enc, self.ks_mac, self.ssc = ks_enc, ks_mac, ssc

    def _next(self):
        self.ssc = (self.ssc + 1) % (1 << 64)
        return self.ssc.to_bytes(8, "big")

    def wrap(self, cla, ins, p1, p2, le, spoil_mac=False):
        """A protected command without data (as READ BINARY is) expecting `le` bytes."""
        header = bytes([cla | 0x0C, ins, p1, p2])
        body = bytes([0x97, 1, le % 256])
        m = mac(self.ks_mac, pad(self._next() + pad(header) + body))
        if spoil_mac:
            m = bytes([m[0] ^ 0x80]) + m[1:]
        body += bytes([0x8E, 8]) + m
        return header + bytes([len(body)]) + body + b"\x00"

    def unwrap(self, resp):
        """Plain data and status word of a protected answer; the MAC is checked."""
        ssc = self._next()
        assert len(resp) > 2, "respuesta sin protección %s" % resp.hex().upper()
        body = resp[:-2]
        dos = parse_dos(body)
        assert dos and dos[-1][0] == 0x8E, "respuesta sin DO'8E"
        assert mac(self.ks_mac, pad(ssc + body[:len(body) - 10])) == dos[-1][1], "MAC de la respuesta incorrecto"
        values = dict(dos[:-1])
        assert values.get(0x99) == resp[-2:], "DO'99 ausente o distinto de la palabra de estado"
        data = b""
        if 0x87 in values:
            assert values[0x87][:1] == b"\x01", "DO'87 sin indicador 01"
            data = unpad(dec(self.ks_enc, values[0x87][1:]))
        return data, int.from_bytes(resp[-2:], "big")
