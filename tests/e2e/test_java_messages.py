"""Messages between a page and a Java application through the real launcher and
the real JVM, with a real WebSocket client: the request's values, text and
binary both ways, messages from the application's own thread, faults inside the
application's methods, and how the application and the launcher end."""
import base64
import json
import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from java_support import ECHO, ECHO_LOADER, SDK, TEST_PACKAGE, TESTS, classpath, java_launcher, java_request
from launcher_support import connect, run_async, start_listening, wait_closed
from zelvo_harness import BUILD, WAIT

REPORT = TEST_PACKAGE + "ReportLoader"


def started(factory, tmp_path, loader, cp, argument=None):
    launcher, port = java_launcher(factory, tmp_path, loader, cp)
    start_listening(launcher, argument or java_request(), port)
    return launcher, port


def ended_with_0(launcher):
    code, _, err = launcher.wait()
    assert code == 0, err
    return launcher.log_text()


def test_the_loader_gets_the_requests_archive_and_code(launcher_factory, tmp_path):
    archive = ["primero.jar", "con espacio/ñ.jar", ""]
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS),
                      java_request(archive=archive, code="código €𝄞"))

    async def session():
        async with connect(port) as ws:
            await ws.send("informe")
            return json.loads(await ws.recv())

    assert run_async(session()) == {"archive": archive, "code": "código €𝄞"}
    ended_with_0(l)


def test_malformed_utf8_in_the_request_reaches_the_loader_as_replacement_characters(launcher_factory, tmp_path):
    # Raw bytes in the JSON: a stray byte, a cut 3-byte sequence, an encoded surrogate, an overlong '/'.
    payload = (b'{"type":"java","name":"javatest","archive":["a\xffb"],'
               b'"code":"x\xe2\x82y\xed\xa0\x80z\xc0\xaf"}')
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS),
                      "zelvo://run/" + base64.b64encode(payload).decode())

    async def session():
        async with connect(port) as ws:
            await ws.send("informe")
            return json.loads(await ws.recv())

    report = run_async(session())
    assert report["archive"] == ["a\ufffdb"]
    assert report["code"] == "x\ufffdy\ufffdz\ufffd"
    ended_with_0(l)


def test_the_echo_sample_answers_text_and_binary_and_ends_with_the_page(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, ECHO_LOADER, classpath(SDK, ECHO))
    binary = bytes(range(256)) * 40 + b"\x00"

    async def session():
        async with connect(port) as ws:
            answers = []
            for message in ("hola", "a\x00cortado", "€ y 𝄞 fuera del plano básico", "", binary, b""):
                await ws.send(message)
                answers.append(await ws.recv())
            return answers

    assert run_async(session()) == ["hola", "a", "€ y 𝄞 fuera del plano básico", "", binary, b""]
    # The page closed: the application's thread ended, then the JVM and the launcher.
    log = ended_with_0(l)
    assert log.index("Descargando la JVM") < log.index("Se terminó de descargar la JVM")


def test_messages_from_the_applications_own_thread_reach_the_page(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS))

    async def session():
        async with connect(port) as ws:
            await ws.send("hilo")
            return [await ws.recv(), await ws.recv()]

    assert run_async(session()) == ["desde un hilo propio", b"\x01\x02\x03"]
    ended_with_0(l)


def test_an_exception_left_by_a_method_is_logged_and_the_next_message_is_delivered(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS))

    async def session():
        async with connect(port) as ws:
            await ws.send("excepcion")
            await ws.send("después del fallo")
            text = await ws.recv()
            await ws.send(b"\xff roto")
            await ws.send(b"\x01 bien")
            return [text, await ws.recv()]

    assert run_async(session()) == ["después del fallo", b"\x01 bien"]
    log = ended_with_0(l)
    assert ("Excepción en el método onMessage(String) del objeto desktopApplication: "
            "java.lang.IllegalStateException: fallo de prueba en onMessage") in log
    assert ("Excepción en el método onMessage(byte[]) del objeto desktopApplication: "
            "java.lang.IllegalArgumentException: fallo de prueba en onMessage(byte[])") in log


def test_a_null_message_from_java_is_refused_with_an_exception_in_java(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS))

    async def session():
        async with connect(port) as ws:
            await ws.send("nulos")
            return [await ws.recv(), await ws.recv()]

    npe = "java.lang.NullPointerException: El mensaje no puede ser nulo"
    assert run_async(session()) == ["texto: " + npe, "binario: " + npe]
    ended_with_0(l)


@pytest.mark.parametrize("loader, missing, kept", [
    ("NoTextLoader", "onMessage(String)", b"binario"),
    ("NoBinaryLoader", "onMessage(byte[])", "texto"),
])
def test_a_message_for_a_missing_method_is_dropped_with_a_record(launcher_factory, tmp_path, loader, missing, kept):
    l, port = started(launcher_factory, tmp_path, TEST_PACKAGE + loader, classpath(SDK, TESTS))
    dropped = "texto" if isinstance(kept, bytes) else b"binario"

    async def session():
        async with connect(port) as ws:
            # The dropped one goes first: had it come back, it would be the first answer.
            await ws.send(dropped)
            await ws.send(kept)
            return await ws.recv()

    assert run_async(session()) == kept
    log = ended_with_0(l)
    assert "Método %s no encontrado en objeto desktopApplication\n" % missing in log
    assert "Método %s no encontrado en objeto desktopApplication, se descarta el mensaje" % missing in log


def test_an_application_without_threads_ends_at_once_and_closes_the_page(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, TEST_PACKAGE + "NoCloseLoader", classpath(SDK, TESTS))

    async def session():
        async with connect(port) as ws:
            return await wait_closed(ws)

    assert run_async(session())
    log = ended_with_0(l)
    assert "Método onClose() no encontrado en objeto desktopApplication" in log


def test_the_application_ending_by_itself_closes_the_page(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS))

    async def session():
        async with connect(port) as ws:
            await ws.send("fin")
            return await wait_closed(ws)

    assert run_async(session())
    ended_with_0(l)


def test_a_stop_signal_ends_a_running_java_application_in_order(launcher_factory, tmp_path):
    l, port = started(launcher_factory, tmp_path, ECHO_LOADER, classpath(SDK, ECHO))

    async def session():
        async with connect(port) as ws:
            await ws.send("antes")
            assert await ws.recv() == "antes"
            os.kill(l.proc.pid, signal.SIGTERM)
            return await wait_closed(ws)

    assert run_async(session())
    log = ended_with_0(l)
    # The launcher's own handler stopped the server, not the JVM's shutdown.
    assert "Se terminó de descargar la JVM" in log


def test_the_java_demo_runs_the_echo_through_the_java_host():
    demo = Path(__file__).resolve().parents[2] / "tools" / "demo.py"
    proc = subprocess.Popen([sys.executable, str(demo), "--build", str(BUILD), "java"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        out, _ = proc.communicate(timeout=3 * WAIT)
    finally:
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()
    text = out.decode("utf-8", "replace")
    assert proc.returncode == 0, text
    assert "respuesta: hola desde la página" in text
    assert "respuesta: b'\\x01\\x02\\x03\\x04\\x05'" in text
    assert "código de salida 0" in text
