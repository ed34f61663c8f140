"""The native plug-in host through the real conlaunch, the fixture plug-ins of
tests/fixtures and a real WebSocket client: the registry lookup, the five
exports, every start failure, the relay both ways, sends from a plug-in's own
thread, and each way the connection ends."""
import hashlib
import os
import signal

import pytest

from launcher_support import (BASEKEY, BOX, FIXTURES, connect, fixture, plugin_registry, raw_upgrade, run_async,
                              run_request, server_config, start_listening, status_of, wait_closed)
from zelvo_harness import WAIT, free_port, write_registry

EXPORTS = ["onConnect", "onTextMessage", "onBinaryMessage", "onClose", "registerSendMessageFunction"]


def echo_launcher(launcher_factory, tmp_path, lib="echo-plugin.so", name="echo", config_extra=None, reg_name=None,
                  **kw):
    port = free_port()
    runtime = fixture(lib) if lib and "/" not in str(lib) else lib
    reg = plugin_registry(tmp_path / "registry.reg", runtime, name=reg_name or name)
    cfg = server_config(port, **(config_extra or {}))
    l = launcher_factory(config=cfg, registry=reg, **kw)
    return l, port


def ended(l):
    return l.wait()


# ---- relay ----

def test_texts_and_binaries_are_relayed_both_ways(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path)
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("hola")
            assert await ws.recv() == "hola"
            await ws.send("señal ñ €")
            assert await ws.recv() == "señal ñ €"
            await ws.send("ab\x00cd")  # the host keeps the length; the plug-in sees a C string
            assert await ws.recv() == "ab"
            blob = bytes(range(256)) * 5 + b"\x00\x00"
            await ws.send(blob)
            assert await ws.recv() == blob
            await ws.send(b"")
            assert await ws.recv() == b""
            big = os.urandom(3 * 1024 * 1024)
            await ws.send(big)
            back = await ws.recv()
            assert hashlib.sha256(back).digest() == hashlib.sha256(big).digest()
            await ws.close()

    run_async(talk())
    code, out, err = ended(l)
    assert code == 0, err
    log = l.log_text()
    assert "Petición para ejecutar el aplicativo" in log
    assert "leendo valor RuntimeLib de clave %secho" % BASEKEY in log
    for name in EXPORTS:
        assert "Obteniendo referencia a función " + name in log
    assert "Enviando mensaje en texto de 5 bytes" in log


def test_a_plugin_thread_sends_while_frames_arrive(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path)
    start_listening(l, run_request(), port)
    count = 300

    async def talk():
        async with connect(port) as ws:
            await ws.send("__thread %d" % count)
            for i in range(50):
                await ws.send("eco %d" % i)
            texts = []
            while len(texts) < count + 50:
                texts.append(await ws.recv())
            await ws.close()
            return texts

    texts = run_async(talk())
    assert [t for t in texts if t.startswith("hilo ")] == ["hilo %d" % i for i in range(count)]
    assert [t for t in texts if t.startswith("eco ")] == ["eco %d" % i for i in range(50)]
    assert ended(l)[0] == 0


def test_the_plugin_folder_joins_the_search_path(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path, env={"PATH": "/usr/bin:/bin"})
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("__path")
            return await ws.recv()

    assert run_async(talk()) == "/usr/bin:/bin:" + str(FIXTURES)
    assert ended(l)[0] == 0


def test_a_path_without_a_folder_is_loaded_through_the_library_search(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path, lib="echo-plugin.so",
                            env={"LD_LIBRARY_PATH": str(FIXTURES)})
    plugin_registry(tmp_path / "registry.reg", "echo-plugin.so")
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("x")
            return await ws.recv()

    assert run_async(talk()) == "x"
    assert ended(l)[0] == 0
    assert "No se agregó el directorio actual a la variable path" in l.log_text()


def test_the_basekey_is_joined_to_the_name_as_it_stands(launcher_factory, tmp_path):
    port = free_port()
    reg = write_registry(tmp_path / "r.reg", {"SOFTWARE\\Zelvoecho": {"RuntimeLib": str(fixture("echo-plugin.so"))}})
    cfg = server_config(port)
    cfg["basekey"] = "SOFTWARE\\Zelvo"
    l = launcher_factory(config=cfg, registry=reg)
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("junto")
            return await ws.recv()

    assert run_async(talk()) == "junto"
    assert ended(l)[0] == 0
    assert "de clave SOFTWARE\\Zelvoecho" in l.log_text()


# ---- the ways a connection ends ----

def test_the_plugin_ends_the_connection_by_returning(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path)
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("__close")
            assert await wait_closed(ws)

    run_async(talk())
    code, _, err = ended(l)
    assert code == 0, err


def test_a_plugin_whose_onconnect_returns_at_once_is_closed_after_the_handshake(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path, lib="echo-return-at-once.so")
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            assert await wait_closed(ws)

    run_async(talk())
    assert ended(l)[0] == 0


def test_a_close_before_the_plugin_waits_still_ends_it(launcher_factory, tmp_path):
    # The plug-in sets its state only after a pause, overwriting the page's close:
    # the host repeats the close until onConnect returns.
    l, port = echo_launcher(launcher_factory, tmp_path, lib="echo-late-wait.so")
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.close()

    run_async(talk())
    code, _, err = l.wait(timeout=WAIT)
    assert code == 0, err


def test_a_stop_signal_tells_the_plugin_and_ends_with_0(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path)
    start_listening(l, run_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("uno")
            assert await ws.recv() == "uno"
            os.kill(l.proc.pid, signal.SIGTERM)
            assert await wait_closed(ws)

    run_async(talk())
    code, _, err = ended(l)
    assert code == 0, err


def test_a_second_server_is_refused_while_one_runs(launcher_factory, tmp_path):
    l, port = echo_launcher(launcher_factory, tmp_path)
    start_listening(l, run_request(), port)
    # Same user session (lock folder), another working directory and port.
    other = launcher_factory(config=server_config(free_port(), idletimeout="300"), registry=l.env["ZELVO_REGISTRY"], name="otro",
                             env={"XDG_RUNTIME_DIR": l.env["XDG_RUNTIME_DIR"]})
    code, _, err = other.run(run_request())
    assert code == 1
    assert BOX + "Ya se está ejecutando la aplicación" in err
    assert "Ya se está ejecutando otra instancia de la la aplicación" in other.log_text()

    async def talk():  # the first is untouched
        async with connect(port) as ws:
            await ws.send("sigo")
            assert await ws.recv() == "sigo"

    run_async(talk())
    assert ended(l)[0] == 0
    # Free again once the first ended: this one runs until its idle time-out.
    code, _, err = other.run(run_request(), timeout=WAIT)
    assert code == 0 and "Ya se está ejecutando" not in err


# ---- start failures: the WebSocket is refused, the box shows the reason, exit 1 ----

def refused(l, port):
    head = raw_upgrade(port)
    assert status_of(head) == 403, head
    code, out, err = l.wait()
    assert code == 1
    return out, err, l.log_text()


@pytest.mark.parametrize("missing", EXPORTS)
def test_a_plugin_lacking_an_export_is_not_started(launcher_factory, tmp_path, missing):
    l, port = echo_launcher(launcher_factory, tmp_path, lib="missing-%s.so" % missing)
    start_listening(l, run_request(), port)
    _, err, log = refused(l, port)
    assert BOX + "No cargaron los componentes para ejecutar la aplicación del usuario." in err
    assert "No se pudo cargar la función " + missing in log
    assert "No se encontró el método " + missing in log
    later = EXPORTS[EXPORTS.index(missing) + 1:]
    for name in later:
        assert "Obteniendo referencia a función " + name not in log, "the look-up stops at the first missing one"


def test_a_plugin_file_that_does_not_load(launcher_factory, tmp_path):
    bogus = tmp_path / "no-es-biblioteca.so"
    bogus.write_text("esto no es una biblioteca")
    for lib in (tmp_path / "no-existe.so", bogus):
        l, port = echo_launcher(launcher_factory, tmp_path, lib=lib, name="echo", reg_name="echo")
        plugin_registry(tmp_path / "registry.reg", lib)
        start_listening(l, run_request(), port)
        out, err, _ = refused(l, port)
        assert "No se puede cargar la libreria %s, error " % lib in out
        assert BOX + "No se cargó la aplicación del usuario." in err
        l.stop()


@pytest.mark.parametrize("registry", ["no key", "no value", "other name"])
def test_a_missing_registry_value_gives_no_path(launcher_factory, tmp_path, registry):
    port = free_port()
    reg = tmp_path / "r.reg"
    if registry == "no key":
        write_registry(reg, {})
    elif registry == "no value":
        plugin_registry(reg, None)
    else:
        plugin_registry(reg, fixture("echo-plugin.so"), name="otro")
    l = launcher_factory(config=server_config(port), registry=reg)
    start_listening(l, run_request(), port)
    _, err, log = refused(l, port)
    assert BOX + "No se pueden obtener la ruta de la aplicación." in err
    assert "No se obtuvo el valor de appDllPath" in log


def test_a_registry_value_too_long_is_missing(launcher_factory, tmp_path):
    port = free_port()
    reg = plugin_registry(tmp_path / "r.reg", "/" + "a" * 1100 + ".so")
    l = launcher_factory(config=server_config(port), registry=reg)
    start_listening(l, run_request(), port)
    _, err, _ = refused(l, port)
    assert "No se pueden obtener la ruta de la aplicación." in err
