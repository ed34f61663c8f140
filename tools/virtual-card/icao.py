"""ICAO Doc 9303 and ISO/IEC 7816-4 building blocks for the simulated card: MRZ check
digits and the TD3 layout, BER-TLV encoding, padding method 2, the retail MAC (ISO/IEC
9797-1 MAC algorithm 3 with DES), two-key triple DES in CBC mode with a zero vector, and
the BAC key derivation."""
import hashlib
import unicodedata

from Cryptodome.Cipher import DES, DES3

MRZ_CHARS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ<"
ZERO_IV = bytes(8)


# ---------------------------------------------------------------- MRZ

def mrz_value(ch):
    if ch.isdigit():
        return int(ch)
    if "A" <= ch <= "Z":
        return ord(ch) - ord("A") + 10
    if ch == "<":
        return 0
    raise ValueError("carácter no válido en la MRZ: %r" % ch)


def check_digit(text):
    weights = (7, 3, 1)
    return str(sum(mrz_value(c) * weights[i % 3] for i, c in enumerate(text)) % 10)


def mrz_field(text, width):
    """Upper-case MRZ text of exactly `width` characters: accents dropped, anything outside
    the MRZ set turned into fillers."""
    plain = unicodedata.normalize("NFKD", text)
    plain = "".join(c for c in plain if not unicodedata.combining(c)).upper().strip()
    out = "".join(c if c in MRZ_CHARS else "<" for c in plain)
    if len(out) > width:
        raise ValueError("texto demasiado largo para la MRZ (%d > %d): %r" % (len(out), width, text))
    return out + "<" * (width - len(out))


def mrz_name(primary, secondary, width=39):
    """Name field: surnames, two fillers, given names; blanks inside each become fillers.
    Cut (never overflowed) to the field's width, as issuers truncate long names."""
    p = "<".join(mrz_field(w, len(w)) for w in primary.split())
    s = "<".join(mrz_field(w, len(w)) for w in secondary.split())
    name = (p + "<<" + s)[:width]
    return name + "<" * (width - len(name))


def yymmdd(iso_date):
    """'1985-03-15' -> '850315'."""
    y, m, d = iso_date.split("-")
    if len(y) != 4 or len(m) != 2 or len(d) != 2 or not (y + m + d).isdigit():
        raise ValueError("fecha no válida (se espera AAAA-MM-DD): %r" % iso_date)
    return y[2:] + m + d


def td3_mrz(code, state, primary, secondary, number, nationality, birth, sex, expiry,
            personal=""):
    """Two 44-character lines of the TD3 layout; dates as YYMMDD."""
    line1 = mrz_field(code, 2) + mrz_field(state, 3) + mrz_name(primary, secondary)
    doc = mrz_field(number, 9)
    pers = mrz_field(personal, 14)
    # An empty personal number is all fillers and then its check digit may be a filler too.
    pers_cd = "<" if pers == "<" * 14 else check_digit(pers)
    sex = mrz_field(sex, 1)
    part_doc = doc + check_digit(doc)
    part_birth = birth + check_digit(birth)
    part_exp = expiry + check_digit(expiry)
    composite = check_digit(part_doc + part_birth + part_exp + pers + pers_cd)
    line2 = (part_doc + mrz_field(nationality, 3) + part_birth + sex + part_exp + pers + pers_cd
             + composite)
    assert len(line1) == 44 and len(line2) == 44
    return line1 + line2


def td3_bac_fields(mrz):
    """(document number as printed, date of birth, date of expiry) of an 88-character MRZ."""
    line2 = mrz[44:]
    return line2[0:9], line2[13:19], line2[21:27]


# ---------------------------------------------------------------- TLV

def ber_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, value):
    """tag: an int of one or two bytes (0x5F1F) or bytes."""
    if isinstance(tag, int):
        tag = tag.to_bytes(2 if tag > 0xFF else 1, "big")
    return tag + ber_length(len(value)) + value


def tlv_long(tag, value):
    """TLV whose length is always written in the three-byte form 82 hi lo (used for data groups
    that readers size from their first bytes)."""
    if isinstance(tag, int):
        tag = tag.to_bytes(2 if tag > 0xFF else 1, "big")
    if len(value) > 0xFFFF:
        raise ValueError("objeto demasiado grande")
    return tag + b"\x82" + len(value).to_bytes(2, "big") + value


def read_length(buf, pos):
    """BER length at buf[pos]; returns (length, next position). Raises ValueError when the
    encoding is malformed or runs past the buffer."""
    if pos >= len(buf):
        raise ValueError("longitud ausente")
    first = buf[pos]
    pos += 1
    if first < 0x80:
        return first, pos
    n = first & 0x7F
    if n == 0 or n > 3 or pos + n > len(buf):
        raise ValueError("longitud mal codificada")
    return int.from_bytes(buf[pos:pos + n], "big"), pos + n


# ---------------------------------------------------------------- crypto

def pad(data):
    """ISO/IEC 9797-1 padding method 2."""
    data = bytes(data) + b"\x80"
    return data + bytes(-len(data) % 8)


def unpad(data):
    i = len(data) - 1
    while i >= 0 and data[i] == 0:
        i -= 1
    if i < 0 or data[i] != 0x80:
        raise ValueError("relleno no válido")
    return bytes(data[:i])


def tdes_key(key16):
    """A 16-byte two-key triple-DES key as pycryptodome takes it (K1 K2 K1)."""
    return bytes(key16[:16]) + bytes(key16[:8])


def tdes_encrypt(key16, data):
    return DES3.new(tdes_key(key16), DES3.MODE_CBC, iv=ZERO_IV).encrypt(bytes(data))


def tdes_decrypt(key16, data):
    return DES3.new(tdes_key(key16), DES3.MODE_CBC, iv=ZERO_IV).decrypt(bytes(data))


def retail_mac(key16, data):
    """ISO/IEC 9797-1 MAC algorithm 3 with DES; `data` is already padded to 8 bytes."""
    if len(data) % 8:
        raise ValueError("datos sin relleno")
    k1, k2 = bytes(key16[:8]), bytes(key16[8:16])
    h = DES.new(k1, DES.MODE_CBC, iv=ZERO_IV).encrypt(bytes(data))[-8:]
    h = DES.new(k2, DES.MODE_ECB).decrypt(h)
    return DES.new(k1, DES.MODE_ECB).encrypt(h)


def key_seed(doc_number, birth, expiry):
    info = doc_number + check_digit(doc_number) + birth + check_digit(birth) + expiry + \
        check_digit(expiry)
    return hashlib.sha1(info.encode("ascii")).digest()[:16]


def derive_key(seed, counter):
    """16-byte key Ka||Kb (parity bits left as they come)."""
    return hashlib.sha1(bytes(seed) + counter.to_bytes(4, "big")).digest()[:16]


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))
