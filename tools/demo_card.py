"""./dev demo (card): the identity card read end to end through the bridge.

A private pcscd with the simulated Vexa card, the launcher in server mode hosting the card
plug-in, and a WebSocket client sending "read abi dg1 dg2 dg7". The holder's data and dates
are printed; the photo and the signature are written as PNG files. Everything started here is
stopped by its process id."""
import base64
import binascii
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tools" / "virtual-card"))

from pcsc_fixture import FixtureError, PrivatePcscd   # noqa: E402
from vexa_bridge import READ_ALL, BridgeError, VexaBridge, missing_parts   # noqa: E402

FIELDS = (("primerAp", "Primer apellido"), ("segundoAp", "Segundo apellido"),
          ("preNombres", "Nombres"), ("cui", "CUI"), ("digito", "Dígito de control"),
          ("genero", "Sexo"), ("ubigeo", "Ubigeo"), ("grupoVotacion", "Grupo de votación"),
          ("fechaNac", "Fecha de nacimiento"), ("fechaExp", "Fecha de caducidad"))
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def write_png(text, path):
    """Writes a Base64 PNG of the reply; the path, or a reason why there is none."""
    if not text:
        return None, "la tarjeta no dio imagen"
    try:
        data = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        return None, "el Base64 recibido no es válido"
    if not data.startswith(PNG_SIGNATURE):
        return None, "lo recibido no es un PNG"
    path.write_bytes(data)
    return path, None


def demo_card(build):
    stage = Path(build) / "stage"
    work = Path(tempfile.mkdtemp(prefix="zelvo-demo-card-"))
    pcscd = PrivatePcscd(workdir=work / "pcscd", keep=False)
    bridge = None
    try:
        missing = missing_parts(stage)
        if missing:
            print("Falta construir: %s" % ", ".join(missing))
            return 1
        pcscd.start()
        print("pcscd privado (pid %d) con la tarjeta Vexa simulada (pid %d) en el lector %r"
              % (pcscd.pcscd.pid, pcscd.card.pid, pcscd.reader))
        bridge = VexaBridge(stage, work / "launcher", pcscd.env)
        bridge.serve_card()
        print("Lanzador en modo servidor con vexa-tools (pid %d) en 127.0.0.1:%d"
              % (bridge.proc.pid, bridge.port))
        print("  enviado: %s" % READ_ALL)
        reply = bridge.ask(READ_ALL)
        code, _, err = bridge.finish()
        print("El lanzador terminó con el código de salida %d" % code)
        body = reply.get("body") if isinstance(reply, dict) else None
        if not isinstance(body, dict) or reply.get("status") != "0":
            message = body.get("message") if isinstance(body, dict) else reply
            print("La lectura falló: %s" % message)
            return 1
        print("Titular:")
        for key, label in FIELDS:
            print("  %-20s %s" % (label + ":", body.get(key, "(no recibido)")))
        mrz = body.get("mrz", "")
        if mrz:
            print("  %-20s %s" % ("MRZ:", mrz[:44]))
            print("  %-20s %s" % ("", mrz[44:]))
        images = work / "imagenes"
        images.mkdir()
        ok = True
        for key, name, label in (("dg2", "foto.png", "Foto"), ("dg7", "firma.png", "Firma")):
            path, why = write_png(body.get(key, ""), images / name)
            if path:
                print("%s: %s (%d bytes)" % (label, path, path.stat().st_size))
            else:
                print("%s: no se escribió (%s)" % (label, why))
                ok = False
        exchanges = pcscd.exchanges()
        bac = pcscd.trace_lines().count("BAC")
        print("La tarjeta respondió %d APDU; Basic Access Control: %d %s."
              % (len(exchanges), bac, "vez" if bac == 1 else "veces"))
        return 0 if ok and code == 0 else 1
    except (FixtureError, BridgeError, OSError) as e:
        print("La demostración de la tarjeta no pudo completarse: %s" % (e or type(e).__name__))
        if bridge is not None and bridge.proc is not None:
            bridge.stop()
            print(bridge.output()[-2000:])
        return 1
    finally:
        if bridge is not None:
            bridge.stop()
        pcscd.stop()
