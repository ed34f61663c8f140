"""The holder's photo and signature: drawn here as plain PPM/PGM pictures and compressed to
JPEG 2000 (JP2 container) with opj_compress. The results go to a cache folder so that a
card start does not redraw them; a file name carries a hash of everything that shapes it."""
import hashlib
import math
import os
import random
import shutil
import subprocess
import tempfile
from pathlib import Path

# Cached files are keyed by this file's own text, so a changed drawing is made anew.
DRAWING_VERSION = hashlib.sha1(Path(__file__).read_bytes()).hexdigest()

PHOTO_SIZE = (240, 320)          # width, height
PHOTO_RATE = "11"                # about 20 KB of JP2 for 230 KB of RGB
SIGNATURE_SIZE = (400, 120)
SIGNATURE_RATE = "8"


def default_cache_dir():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return Path(base) / "zelvo-virtual-card"


def _clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def _blend(px, color, alpha):
    return tuple(p + (c - p) * alpha for p, c in zip(px, color))


def _ellipse_alpha(x, y, cx, cy, rx, ry):
    """Coverage of a pixel by an ellipse, softened over about one pixel at the rim."""
    d = math.sqrt(((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2)
    edge = 1.0 / min(rx, ry)
    if d <= 1 - edge:
        return 1.0
    if d >= 1 + edge:
        return 0.0
    return (1 + edge - d) / (2 * edge)


def draw_photo():
    """A face-like portrait: gradient background, shoulders, neck, head, hair, eyes, brows,
    nose and mouth, with a little sensor noise. Returns PPM (P6) bytes."""
    w, h = PHOTO_SIZE
    rnd = random.Random(1985)
    skin = (224, 180, 150)
    hair = (52, 36, 28)
    cloth = (40, 62, 110)
    shapes = [
        # (kind, params, colour) painted in order
        ("ellipse", (120, 345, 118, 95), cloth),             # shoulders
        ("ellipse", (120, 250, 30, 45), (205, 160, 130)),    # neck
        ("ellipse", (120, 98, 78, 70), hair),                # hair behind the head
        ("ellipse", (66, 200, 30, 95), hair),                # long hair at the sides
        ("ellipse", (174, 200, 30, 95), hair),
        ("ellipse", (120, 150, 64, 84), skin),               # face
        ("ellipse", (120, 78, 70, 34), hair),                # fringe
        ("ellipse", (94, 140, 14, 7), (250, 250, 248)),      # eye whites
        ("ellipse", (146, 140, 14, 7), (250, 250, 248)),
        ("ellipse", (94, 140, 6, 6), (70, 45, 30)),          # irises
        ("ellipse", (146, 140, 6, 6), (70, 45, 30)),
        ("ellipse", (94, 140, 2.5, 2.5), (10, 10, 10)),      # pupils
        ("ellipse", (146, 140, 2.5, 2.5), (10, 10, 10)),
        ("ellipse", (94, 123, 16, 3.5), hair),               # brows
        ("ellipse", (146, 123, 16, 3.5), hair),
        ("ellipse", (120, 172, 7, 22), (210, 162, 134)),     # nose ridge
        ("ellipse", (120, 190, 12, 5), (196, 146, 120)),     # nostrils
        ("ellipse", (120, 213, 22, 7), (176, 72, 78)),       # lips
        ("ellipse", (120, 210, 20, 2), (120, 40, 48)),       # mouth line
    ]
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            t = y / h
            px = (170 + 40 * t, 195 + 25 * t, 225 + 10 * t)
            for kind, (cx, cy, rx, ry), col in shapes:
                if abs(x - cx) > rx + 2 or abs(y - cy) > ry + 2:
                    continue
                a = _ellipse_alpha(x, y, cx, cy, rx, ry)
                if a > 0:
                    px = _blend(px, col, a)
            # soft light from the upper left, and noise
            shade = 1.0 + 0.08 * (1 - (x + y) / (w + h))
            n = rnd.gauss(0, 3.5)
            row += bytes(_clamp(c * shade + n) for c in px)
        rows.append(bytes(row))
    return b"P6\n%d %d\n255\n" % (w, h) + b"".join(rows)


def draw_signature():
    """A handwriting-like stroke: a running curve with loops, an underline flourish, drawn
    with a pen of varying width on white. Returns PGM (P5) bytes."""
    w, h = SIGNATURE_SIZE
    img = [[255.0] * w for _ in range(h)]

    def dab(cx, cy, r):
        for y in range(max(0, int(cy - r - 2)), min(h, int(cy + r + 3))):
            for x in range(max(0, int(cx - r - 2)), min(w, int(cx + r + 3))):
                d = math.hypot(x - cx, y - cy)
                a = 1.0 if d <= r - 0.5 else 0.0 if d >= r + 0.5 else r + 0.5 - d
                if a > 0:
                    v = 255 - 230 * a
                    if v < img[y][x]:
                        img[y][x] = v

    # A prolate cycloid writes a row of loops, like joined cursive letters.
    steps = 3000
    turns = 8
    for i in range(steps):
        t = i / steps
        a = t * 2 * math.pi * turns
        x = 30 + 300 * t - 13 * math.sin(a)
        y = 60 + 22 * math.cos(a) * (0.7 + 0.3 * math.sin(t * 11)) - 12 * math.sin(t * math.pi)
        dab(x, y, 1.3 + 0.9 * abs(math.sin(a / 2)))
    for i in range(900):
        t = i / 900
        x = 40 + 320 * t
        y = 98 - 10 * math.sin(t * math.pi) + 3 * math.sin(t * 20)
        dab(x, y, 1.0 + 0.8 * math.sin(t * math.pi))
    data = bytes(_clamp(v) for row in img for v in row)
    return b"P5\n%d %d\n255\n" % (w, h) + data


def _opj_version():
    try:
        out = subprocess.run(["opj_compress", "-h"], capture_output=True, text=True, timeout=30)
        for line in (out.stdout + out.stderr).splitlines():
            if "version" in line.lower():
                return line.strip()
    except (OSError, subprocess.SubprocessError):
        pass
    return "?"


def _compress(raw, suffix, rate, out):
    """Writes a JP2 file from PPM/PGM bytes, atomically (tests may start cards in parallel)."""
    if shutil.which("opj_compress") is None:
        raise RuntimeError("opj_compress no está instalado (paquete libopenjp2-tools)")
    out.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=out.parent) as tmp:
        src = Path(tmp) / ("in" + suffix)
        dst = Path(tmp) / "out.jp2"
        src.write_bytes(raw)
        res = subprocess.run(["opj_compress", "-i", str(src), "-o", str(dst), "-r", rate],
                             capture_output=True, text=True, timeout=120)
        if res.returncode != 0 or not dst.exists():
            raise RuntimeError("opj_compress falló: " + (res.stderr or res.stdout)[-500:])
        os.replace(dst, out)


def _cached(cache_dir, name, rate, draw, suffix):
    key = hashlib.sha1(("%s|%s|%s|%s" % (DRAWING_VERSION, name, rate, _opj_version()))
                       .encode()).hexdigest()[:12]
    path = Path(cache_dir) / ("%s-%s.jp2" % (name, key))
    if not path.exists():
        _compress(draw(), suffix, rate, path)
    return path


def holder_images(cache_dir=None):
    """Paths of (photo JP2, signature JP2), made if missing."""
    cache_dir = Path(cache_dir) if cache_dir else default_cache_dir()
    photo = _cached(cache_dir, "photo", PHOTO_RATE, draw_photo, ".ppm")
    signature = _cached(cache_dir, "signature", SIGNATURE_RATE, draw_signature, ".pgm")
    return photo, signature


if __name__ == "__main__":
    import sys
    for p in holder_images(sys.argv[1] if len(sys.argv) > 1 else None):
        print(p, p.stat().st_size)
