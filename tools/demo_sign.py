"""./dev demo sign: a sample PDF signed through the bridge by the stand-in signer.

The launcher runs in server mode with the signing plug-in, copied with its
config.ini and the stand-in wrapper jar into a private folder; the user's
Quillet installation is made up in a private HOME. The stand-in signs nothing:
it appends a visible marker to the document (see java/signing/README.md)."""
import asyncio
import base64
import json
import shutil
import tempfile
from pathlib import Path

from demo import DemoLauncher
from signing_support import make_quillet_jar, sample_pdf, write_properties
from zelvo_harness import b64json, free_port, wait_listening

PLUGIN_FILES = ("quillet-wrapper.so", "config.ini", "quillet-wrapper-1.0.dist.jar")
BASEKEY = "SOFTWARE\\Zelvo\\"


async def sign_exchange(port, options, document):
    import websockets
    async with websockets.connect("ws://127.0.0.1:%d/" % port, origin="http://localhost:%d" % port, max_size=None,
                                  open_timeout=30, close_timeout=30) as ws:
        await ws.send(json.dumps(options))
        print("  enviado: opciones de firma (texto)  %s" % json.dumps({k: v for k, v in options.items()
                                                                    if k != "stampImageBase64"},
                                                                   ensure_ascii=False))
        await ws.send(document)
        print("  enviado: documento PDF (binario)    %d bytes" % len(document))
        return await asyncio.wait_for(ws.recv(), 120)


def demo_sign(build):
    stage = Path(build) / "stage"
    missing = [n for n in PLUGIN_FILES if not (stage / "plugins" / n).exists()]
    if missing or not (stage / "conlaunch").exists():
        print("Falta construir el lanzador o el complemento de firma: %s" % ", ".join(missing or ["conlaunch"]))
        return 1
    work = Path(tempfile.mkdtemp(prefix="zelvo-demo-sign-"))
    plugins = work / "plugins"
    plugins.mkdir()
    for name in PLUGIN_FILES:
        shutil.copy2(stage / "plugins" / name, plugins / name)
    home = work / "home"
    jar = make_quillet_jar(work / "quillet" / "quillet.jar")
    write_properties(home, "QUILLET_JAR=%s\n" % jar)
    lib = str(plugins / "quillet-wrapper.so").replace("\\", "\\\\").replace('"', '\\"')
    registry = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\%squillet]\n\"RuntimeLib\"=\"%s\"\n" % (
        BASEKEY, lib)
    port = free_port()
    config = {"port": str(port), "idletimeout": "30000", "basekey": BASEKEY}
    launcher = DemoLauncher(build, config, registry_text=registry,
                            env={"HOME": str(home), "XDG_STATE_HOME": str(work / "state")})
    try:
        launcher.start("zelvo://run/" + b64json({"type": "windows", "name": "quillet"}))
        if not wait_listening(port, launcher.proc):
            print("El lanzador no abrió el puerto %d." % port)
            print(launcher.finish()[1])
            return 1
        print("Lanzador en modo servidor con el complemento de firma en 127.0.0.1:%d" % port)
        document = sample_pdf("Documento de ejemplo firmado con Zelvo")
        stamp = base64.b64encode(b"\xff\xd8\xff\xe0 sello de ejemplo").decode()
        reply = asyncio.run(sign_exchange(port, {"reason": "Demostración de Zelvo", "stampImageBase64": stamp},
                                          document))
        code, _ = launcher.finish()
        if isinstance(reply, bytes):
            out = work / "documento-firmado.pdf"
            out.write_bytes(reply)
            print("  recibido: documento firmado         %d bytes" % len(reply))
            print("Documento devuelto por el puente: %s" % out)
            print("(Firmado por el sustituto de pruebas: no lleva firma real, solo una marca visible.)")
        else:
            print("  recibido: error %s" % reply)
        print("El lanzador terminó con el código de salida %d" % code)
        for f in launcher.log_files() + sorted((plugins / "logs").glob("*.log")):
            print("Registro: %s" % f)
        return 0 if code == 0 and isinstance(reply, bytes) else 1
    finally:
        launcher.stop()
