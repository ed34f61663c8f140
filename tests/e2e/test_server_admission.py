"""Who gets a WebSocket: pages only (an Origin header), one at a time, and only
once the hosted application has started; refusals are 403 with
"Connection: forbidden" and an empty body."""
import asyncio
import os
import signal

import pytest
import websockets

from server_support import (BOX, ORIGIN, closed_code, config, connect, echo_mode, free_port, plugin_registry,
                            plugin_request, raw_upgrade, run_async, start)


def assert_refused(answer):
    status, headers, body = answer
    assert status == 403
    assert headers["connection"] == "forbidden"
    assert headers["content-length"] == "0" and body == b""


@pytest.mark.parametrize("header", ["Origin", "ORIGIN", "origin", "Ori", "o"])
def test_a_header_that_begins_the_word_origin_admits_the_page(launcher_factory, header):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)
    status, headers, _ = raw_upgrade(port, extra=("%s: %s" % (header, ORIGIN),))
    assert status == 101 and headers["upgrade"].lower() == "websocket"
    # The one connection of the run has ended: the server stops by itself.
    code, _, err = launcher.wait()
    assert code == 0, err


def test_requests_without_a_page_origin_are_refused_and_the_server_waits_on(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)
    assert_refused(raw_upgrade(port, extra=()))
    assert_refused(raw_upgrade(port, extra=("Origins: " + ORIGIN,)))
    assert_refused(raw_upgrade(port, extra=("Originator: x", "Host2: y")))
    # Still waiting for a page: a proper one is then admitted and served.

    async def page():
        async with connect(port) as ws:
            await ws.send("hola")
            return await ws.recv()

    assert run_async(page()) == "hola recibido"
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "No se encuentra la cabecera origin" in launcher.log_text()


def test_a_second_websocket_is_refused_and_the_first_goes_on(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)

    async def scenario():
        async with connect(port) as first:
            await first.send("uno")
            assert await first.recv() == "uno recibido"
            with pytest.raises(websockets.exceptions.InvalidStatusCode) as refused:
                async with connect(port):
                    pass
            assert refused.value.status_code == 403
            await first.send("dos")
            assert await first.recv() == "dos recibido"

    run_async(scenario())
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "No se aceptará la petición de conexión de la aplicación web" in launcher.log_text()


def test_an_application_that_fails_to_start_gets_the_page_refused(launcher_factory, tmp_path):
    port = free_port()
    launcher = launcher_factory(config(port), registry=plugin_registry(tmp_path, plugin="missing-onClose.so"))
    start(launcher, plugin_request(), port)
    assert_refused(raw_upgrade(port))
    code, _, err = launcher.wait()
    assert code == 1
    assert BOX + "No cargaron los componentes para ejecutar la aplicación del usuario." in err
    assert "No se encontró el método onClose" in launcher.log_text()


def test_a_plugin_that_ends_at_once_closes_right_after_the_handshake(launcher_factory, tmp_path):
    port = free_port()
    launcher = launcher_factory(config(port), registry=plugin_registry(tmp_path, plugin="echo-return-at-once.so"))
    start(launcher, plugin_request(), port)

    async def page():
        async with connect(port) as ws:
            return await closed_code(ws)

    # The close frame carries no status: the plug-in just ended.
    assert run_async(page()) == 1005
    code, _, err = launcher.wait()
    assert code == 0, err


def test_messages_sent_before_the_handshake_answer_follow_it(launcher_factory, tmp_path):
    """The plug-in's thread starts sending at once; the page reads the handshake
    answer first and every message after it, in order."""
    port = free_port()
    launcher = launcher_factory(config(port), registry=plugin_registry(tmp_path))
    start(launcher, plugin_request(), port)

    async def page():
        async with connect(port) as ws:
            await ws.send("__thread 50")
            got = [await ws.recv() for _ in range(50)]
            await ws.send("__close")
            await closed_code(ws)
            return got

    assert run_async(page()) == ["hilo %d" % i for i in range(50)]
    code, _, err = launcher.wait()
    assert code == 0, err


def test_a_stop_signal_while_connected_closes_the_page_and_ends_well(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)

    async def page():
        async with connect(port) as ws:
            await ws.send("hola")
            assert await ws.recv() == "hola recibido"
            os.kill(launcher.proc.pid, signal.SIGTERM)
            return await closed_code(ws)

    run_async(page())
    code, _, err = launcher.wait()
    assert code == 0, err


def test_the_page_closing_ends_a_plugin_that_was_slow_to_wait(launcher_factory, tmp_path):
    """The close reaches the plug-in before its onConnect begins to wait; the
    launcher must still end it instead of joining a thread that never ends."""
    port = free_port()
    launcher = launcher_factory(config(port), registry=plugin_registry(tmp_path, plugin="echo-late-wait.so"))
    start(launcher, plugin_request(), port)

    async def page():
        async with connect(port) as ws:
            await ws.close()

    run_async(page())
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "Cerrando conexión websocket a petición de la aplicación web" in launcher.log_text()
