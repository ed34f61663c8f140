"""The holder's files as the card stores them, built from a holder JSON file: the ABI file of
the PKI application and the LDS files EF.COM, DG1 (MRZ), DG2 (photo) and DG7 (signature)."""
import json
from pathlib import Path

import icao

ABI_TAGS = (
    ("cui", 0x5F60),
    ("digito", 0x5F61),
    ("primerAp", 0x5F62),
    ("segundoAp", 0x5F63),
    ("preNombres", 0x5F64),
    ("genero", 0x5F6A),
    ("ubigeo", 0x5F21),
    ("grupoVotacion", 0x5F22),
)

PHOTO_OFFSET = 88
SIGNATURE_OFFSET = 97


class HolderError(ValueError):
    pass


def load(path):
    try:
        data = json.loads(Path(path).read_text(encoding="utf-8"))
    except (OSError, ValueError) as e:
        raise HolderError("no se puede leer el titular %s: %s" % (path, e))
    if not isinstance(data, dict):
        raise HolderError("el titular debe ser un objeto JSON")
    return data


def _need(obj, key, where):
    v = obj.get(key)
    if not isinstance(v, str):
        raise HolderError("falta el texto %s.%s en el titular" % (where, key))
    return v


def mrz(holder):
    """The 88-character TD3 MRZ of the holder."""
    doc = holder.get("document")
    if not isinstance(doc, dict):
        raise HolderError("falta el objeto document en el titular")
    try:
        return icao.td3_mrz(
            doc.get("code", "I<"), _need(doc, "issuing_state", "document"),
            _need(doc, "primary_identifier", "document"),
            _need(doc, "secondary_identifier", "document"),
            _need(doc, "number", "document"), _need(doc, "nationality", "document"),
            icao.yymmdd(_need(doc, "birth", "document")), _need(doc, "sex", "document"),
            icao.yymmdd(_need(doc, "expiry", "document")), doc.get("personal_number", ""))
    except ValueError as e:
        raise HolderError(str(e))


def abi_file(holder, encoding="utf-8", length=None, cut=None):
    """Bytes 0-2: format byte 01 and the big-endian length of what follows; byte 3: length of
    the tag list; the tag list; one tag/length/value object per listed tag; zero padding up
    to `length`. `cut` shortens the file so its declared objects run past its end."""
    abi = holder.get("abi")
    if not isinstance(abi, dict):
        raise HolderError("falta el objeto abi en el titular")
    objects = []
    for key, tag in ABI_TAGS:
        objects.append((tag, _need(abi, key, "abi")))
    for extra in holder.get("abi_extra", []):
        try:
            objects.append((int(extra["tag"], 16), extra["value"]))
        except (KeyError, TypeError, ValueError):
            raise HolderError("abi_extra: cada objeto necesita tag (hex) y value")
    tag_list = b"".join(tag.to_bytes(2, "big") for tag, _ in objects)
    if len(tag_list) > 255:
        raise HolderError("demasiados objetos en el ABI")
    body = bytearray([len(tag_list)]) + tag_list
    for tag, value in objects:
        try:
            raw = value.encode(encoding)
        except UnicodeEncodeError:
            raise HolderError("el valor %r no se puede escribir en %s" % (value, encoding))
        if len(raw) > 255:
            raise HolderError("valor del ABI de más de 255 bytes: %r" % value)
        body += tag.to_bytes(2, "big") + bytes([len(raw)]) + raw
    data = bytes([0x01]) + len(body).to_bytes(2, "big") + bytes(body)
    if length is not None:
        if length < len(data):
            raise HolderError("el ABI ocupa %d bytes, más que abi_length=%d" % (len(data), length))
        data += bytes(length - len(data))
    if cut is not None:
        data = data[:cut]
    return data


def dg1(mrz_text):
    return icao.tlv(0x61, icao.tlv(0x5F1F, mrz_text.encode("ascii")))


def ef_com(holder):
    if holder.get("ef_com_hex"):
        return bytes.fromhex(holder["ef_com_hex"])
    # LDS version 1.7, Unicode 4.0.0, data groups 1, 2 and 7.
    return icao.tlv(0x60, icao.tlv(0x5F01, b"0107") + icao.tlv(0x5F36, b"040000")
                    + icao.tlv(0x5C, bytes([0x61, 0x75, 0x67])))


def _bcd(digits):
    return bytes.fromhex(digits)


def _image_size(jp2):
    """Width and height from the JP2 header box (ihdr), or 0, 0."""
    i = jp2.find(b"ihdr")
    if i < 0 or i + 12 > len(jp2):
        return 0, 0
    h = int.from_bytes(jp2[i + 4:i + 8], "big")
    w = int.from_bytes(jp2[i + 8:i + 12], "big")
    return w, h


def dg2(jp2, sex="F"):
    """DG2: biometric information group template with one face (ISO/IEC 19794-5 record)."""
    w, h = _image_size(jp2)
    gender = {"M": 1, "F": 2}.get(sex, 0)
    image_info = bytes([0x01, 0x01]) + w.to_bytes(2, "big") + h.to_bytes(2, "big") + \
        bytes([0x01, 0x02, 0x00, 0x00, 0x00, 0x00])      # frontal, JPEG 2000, RGB, digital still
    face_info = (20 + len(image_info) + len(jp2)).to_bytes(4, "big") + b"\x00\x00" + \
        bytes([gender, 0x03, 0x04]) + bytes(3) + b"\x00\x01" + bytes(6)
    record = b"FAC\x00010\x00" + (14 + len(face_info) + len(image_info) + len(jp2)) \
        .to_bytes(4, "big") + b"\x00\x01" + face_info + image_info + jp2
    header = icao.tlv(0x80, b"\x01\x01") + icao.tlv(0x81, b"\x02") + icao.tlv(0x82, b"\x00") \
        + icao.tlv(0x87, b"\x01\x01") + icao.tlv(0x88, b"\x00\x08")
    bit = icao.tlv(0xA1, header) + icao.tlv_long(0x5F2E, record)
    group = icao.tlv(0x02, b"\x01") + icao.tlv_long(0x7F60, bit)
    data = icao.tlv_long(0x75, icao.tlv_long(0x7F61, group))
    assert data[PHOTO_OFFSET:] == jp2, "la foto debe empezar en el desplazamiento 88"
    return data


def dg7(jp2, issued="20240315103000", valid="2024031520310820"):
    """DG7: the displayed signature in a biometric template like DG2's, its image record
    in front of the JPEG 2000 file."""
    w, h = _image_size(jp2)
    image_info = (16 + len(jp2)).to_bytes(4, "big") + b"\x01" + w.to_bytes(2, "big") + \
        h.to_bytes(2, "big") + bytes([0x08, 0x00, 0x02]) + bytes(4)   # JPEG 2000, 8-bit grey
    record = b"SIG\x00010\x00" + (14 + len(image_info) + len(jp2)).to_bytes(4, "big") + \
        b"\x00\x01" + image_info + jp2
    header = icao.tlv(0x80, b"\x01\x01") + icao.tlv(0x81, b"\x00\x00\x80") + \
        icao.tlv(0x82, b"\x00") + icao.tlv(0x83, _bcd(issued)) + icao.tlv(0x85, _bcd(valid)) + \
        icao.tlv(0x86, b"\x00\x01") + icao.tlv(0x87, b"\x01\x01") + icao.tlv(0x88, b"\x00\x09")
    bit = icao.tlv(0xA1, header) + icao.tlv_long(0x5F43, record)
    group = icao.tlv(0x02, b"\x01") + icao.tlv_long(0x7F60, bit)
    data = icao.tlv_long(0x67, icao.tlv_long(0x7F61, group))
    assert data[SIGNATURE_OFFSET:] == jp2, "la firma debe empezar en el desplazamiento 97"
    return data


def bcd_date(iso, time="000000"):
    return iso.replace("-", "") + time
