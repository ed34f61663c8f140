"""Pieces of the card plug-in's end-to-end tests: a private pcscd with the
simulated card (tools/virtual-card), the launcher in server mode hosting the
staged vexa-tools.so, one command sent over a real WebSocket, and readers of
the images and the card's trace. Every process is stopped by its process id."""
import asyncio
import json
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import websockets

from zelvo_harness import STAGE, WAIT, Launcher, free_port, request, wait_listening, write_registry

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "virtual-card"))
import pcsc_fixture  # noqa: E402

BASEKEY = "SOFTWARE\\Zelvo\\"
ORIGIN = "http://localhost"
PLUGIN = STAGE / "plugins" / "vexa-tools.so"
PKI_AID = "A000000077010070 0A1000F100000100".replace(" ", "")
EXTERNAL_AUTHENTICATE = "00820000"


class CardBridge:
    """Runs one launcher per command, each loading the plug-in afresh, against
    the card of `pcscd` (a pcsc_fixture.PrivatePcscd)."""

    def __init__(self, tmp_path, pcscd, env=None):
        self.tmp = Path(tmp_path)
        self.pcscd = pcscd
        self.env = {"PCSCLITE_CSOCK_NAME": str(pcscd.socket)}
        self.env.update(env or {})
        self.registry = write_registry(self.tmp / "zelvo.reg", {BASEKEY + "vexa": {"RuntimeLib": str(PLUGIN)}})
        self.runs = 0
        self.launcher = None

    def command(self, text, before_reply=None):
        """Sends `text` right after the handshake. Returns (reply as JSON, whether the
        server closed the socket, launcher exit code, launcher stderr)."""
        self.runs += 1
        port = free_port()
        workdir = self.tmp / ("run%d" % self.runs)
        # Info level: a verbose launcher copies every reply (images of tens of KB) to its
        # console, whose pipe this harness reads only at the end.
        config = {"port": str(port), "idletimeout": str(int(WAIT * 1000)), "basekey": BASEKEY,
                  "log": {"level": "4", "directory": str(workdir / "logs")}}
        self.launcher = Launcher(workdir, config=config, registry=self.registry, env=self.env)
        try:
            self.launcher.start(request("run/", {"type": "windows", "name": "vexa"}))
            if not wait_listening(port, self.launcher.proc):
                code, out, err = self.launcher.wait()
                raise AssertionError("launcher did not listen (exit %s)\n%s\n%s" % (code, out, err))
            replies, closed = asyncio.run(asyncio.wait_for(self._exchange(port, text), WAIT * 3))
            code, _, err = self.launcher.wait()
        finally:
            self.launcher.stop()
        assert len(replies) == 1, replies
        return json.loads(replies[0]), closed, code, err

    async def _exchange(self, port, text):
        replies = []
        async with websockets.connect("ws://localhost:%d/" % port, origin=ORIGIN, max_size=None,
                                      open_timeout=WAIT, close_timeout=WAIT, ping_interval=None) as ws:
            await ws.send(text)
            try:
                while True:
                    replies.append(await ws.recv())
            except websockets.exceptions.ConnectionClosed:
                return replies, True

    def plugin_log(self):
        """The plug-in's day log of the last run (HOME/.vexatools/)."""
        home = Path(self.launcher.env["HOME"]) / ".vexatools"
        return "".join(p.read_text(encoding="utf-8", errors="replace") for p in sorted(home.glob("*.log")))


def ok_body(reply):
    assert reply["status"] == "0", reply
    return reply["body"]


def error_message(reply):
    assert reply["status"] == "1", reply
    assert list(reply["body"]) == ["message"], reply
    return reply["body"]["message"]


# ---------------------------------------------------------------- images

def _unfilter(raw, height, stride, bpp):
    rows = []
    prev = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + pred) & 0xFF
            elif kind != 0:
                raise ValueError("filtro PNG desconocido %d" % kind)
        rows.append(bytes(line))
        prev = line
    return b"".join(rows)


def read_png(data):
    """(width, height, channels, bit depth, sBIT bytes, pixel bytes) of a
    non-interlaced 8- or 16-bit PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "no es PNG"
    pos = 8
    idat = b""
    sbit = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        assert zlib.crc32(kind + body) == crc, "CRC de %r" % kind
        if kind == b"IHDR":
            width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"sBIT":
            sbit = body
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    assert interlace == 0
    channels = {0: 1, 4: 2, 2: 3, 6: 4}[color]
    bpp = max(1, channels * depth // 8)
    stride = (width * channels * depth + 7) // 8
    pixels = _unfilter(zlib.decompress(idat), height, stride, bpp)
    return width, height, channels, depth, sbit, pixels


def read_pnm(data):
    """(width, height, channels, pixel bytes) of a binary PGM or PPM with maxval 255."""
    magic, rest = data[:2], data[2:]
    fields = []
    pos = 0
    while len(fields) < 3:
        while rest[pos:pos + 1].isspace():
            pos += 1
        if rest[pos:pos + 1] == b"#":
            pos = rest.index(b"\n", pos)
            continue
        end = pos
        while not rest[end:end + 1].isspace():
            end += 1
        fields.append(int(rest[pos:end]))
        pos = end
    pos += 1
    width, height, maxval = fields
    assert maxval == 255
    channels = {b"P5": 1, b"P6": 3}[magic]
    return width, height, channels, rest[pos:pos + width * height * channels]


def opj_reference(jp2_path, out_dir, channels):
    """What opj_decompress makes of the same JP2 file, as (width, height, channels, pixels)."""
    jp2_path = Path(jp2_path)
    out = Path(out_dir) / (jp2_path.stem + (".ppm" if channels == 3 else ".pgm"))
    done = subprocess.run(["opj_decompress", "-i", str(jp2_path), "-o", str(out)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=WAIT * 3)
    assert done.returncode == 0 and out.exists(), done.stdout.decode("utf-8", "replace")
    return read_pnm(out.read_bytes())
