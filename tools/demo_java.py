"""./dev demo java: the echo sample run by the launcher's Java host.

The launcher gets a configuration naming the SDK and echo jars of the build and
the echo loader, and a registry file naming this machine's JVM; a WebSocket
client then sends a text and a binary message and closes, which ends the Java
application and the launcher."""
import asyncio
import os
import re
import shutil
from pathlib import Path

from demo import DemoLauncher
from zelvo_harness import b64json, free_port, wait_listening

JRE_KEY = "SOFTWARE\\\\JavaSoft\\\\Java Runtime Environment"


def this_machines_jvm(build):
    """The libjvm.so CMake found for the build, else the one of `java` on PATH."""
    cache = Path(build) / "CMakeCache.txt"
    if cache.exists():
        m = re.search(r"^JAVA_JVM_LIBRARY:FILEPATH=(.+)$", cache.read_text(), re.M)
        if m and Path(m.group(1)).exists():
            return m.group(1)
    java = shutil.which("java")
    if not java:
        return None
    lib = Path(os.path.realpath(java)).parent.parent / "lib" / "server" / "libjvm.so"
    return str(lib) if lib.exists() else None


async def exchange(port):
    import websockets
    async with websockets.connect("ws://127.0.0.1:%d/" % port, origin="http://localhost:%d" % port) as ws:
        await ws.send("hola desde la página")
        print("  enviado: texto           -> respuesta: %s" % await ws.recv())
        await ws.send(b"\x01\x02\x03\x04\x05")
        print("  enviado: 5 bytes binario -> respuesta: %s" % await ws.recv())


def demo_java(build):
    jars = Path(build) / "stage" / "java"
    sdk, echo = jars / "zelvo-sdk.jar", jars / "zelvo-echo.jar"
    if not (sdk.exists() and echo.exists()):
        print("Faltan los jar de Java en %s: compile el componente java." % jars)
        return 1
    jvm = this_machines_jvm(build)
    if not jvm:
        print("No se encontró una JVM en este equipo (instale openjdk-17-jdk-headless).")
        return 1
    port = free_port()
    config = {"port": str(port), "idletimeout": "20000", "basekey": "SOFTWARE\\Zelvo\\",
              "java": {"classpath": "%s:%s" % (sdk, echo), "loaderclass": "tavrel/zelvo/sample/EchoLoader"}}
    registry = ("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\%s]\n\"CurrentVersion\"=\"17\"\n\n"
                "[HKEY_LOCAL_MACHINE\\%s\\\\17]\n\"RuntimeLib\"=\"%s\"\n" % (JRE_KEY, JRE_KEY, jvm))
    # A sanitizer build leaves the JVM's own signal handling alone.
    env = {"ASAN_OPTIONS": "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0"}
    launcher = DemoLauncher(build, config, registry_text=registry, env=env)
    try:
        launcher.start("zelvo://run/" + b64json({"type": "java", "name": "echo", "archive": [echo.name],
                                                 "code": "demo"}))
        if not wait_listening(port, launcher.proc):
            print("El lanzador no abrió el puerto %d." % port)
            code, err = launcher.finish()
            print(err)
            return 1
        print("Lanzador con la aplicación Java de eco (JVM %s) en 127.0.0.1:%d" % (jvm, port))
        asyncio.run(exchange(port))
        code, err = launcher.finish()
        print("El lanzador terminó con el código de salida %d" % code)
        if code != 0:
            print(err)
        for f in launcher.log_files():
            print("Registro: %s" % f)
        return 0 if code == 0 else 1
    finally:
        launcher.stop()
