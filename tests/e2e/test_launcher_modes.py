"""Self-check and echo test mode through the real conlaunch: the message boxes
(on standard error and through a scripted dialog program), the port checks, and
the built-in echo application over a real WebSocket."""
import socket

import pytest

from launcher_support import (DialogStandIn, connect, raw_upgrade, run_async, start_listening, status_of)
from launcher_support import test_request as echo_request
from zelvo_harness import free_port, request, wait_listening

STARTED = "¡Launcher iniciado correctamente!"
INVALID = "No se puede ejecutar la aplicación en un puerto no válido."


def check(**payload):
    return request("check/", {k: v for k, v in payload.items()})


# ---- self-check ----

def test_the_start_check_shows_its_box_through_the_dialog_program(launcher_factory, tmp_path):
    dialog = DialogStandIn(tmp_path / "dlg")
    l = launcher_factory(config={}, env=dialog.env)
    code, _, err = l.run(check(type="otro"))
    assert code == 0
    assert " Zelvo: " + STARTED in err
    assert dialog.calls() == [["message", "--icon", "info", "--title", " Zelvo", "--text", STARTED]]
    assert "[SelfCheckRunnable::run@" in l.log_text()


@pytest.mark.parametrize("port", ["81", "1023", "65535", "0", "-1", "x", 8080, None])
def test_invalid_ports_are_refused_before_any_probe(launcher_factory, tmp_path, port):
    dialog = DialogStandIn(tmp_path / "dlg")
    l = launcher_factory(config={}, env=dialog.env)
    payload = {"type": "port"} if port is None else {"type": "port", "port": port}
    code, _, err = l.run(check(**payload))
    assert code == 0
    assert " Zelvo: " + INVALID in err
    assert dialog.calls() == [["message", "--icon", "error", "--title", " Zelvo", "--text", INVALID]]
    assert " ERROR [" in l.log_text()


def test_a_free_and_a_busy_port(launcher_factory, tmp_path):
    dialog = DialogStandIn(tmp_path / "dlg")
    l = launcher_factory(config={}, env=dialog.env)
    port = free_port()
    code, _, err = l.run(check(type="port", port=str(port)))
    assert code == 0 and "Puerto %d se encuentra DISPONIBLE." % port in err

    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        taken = busy.getsockname()[1]
        code, _, err = l.run(check(type="port", port=str(taken)))
    assert code == 0 and "El puerto %d no está disponible." % taken in err
    icons = [c[2] for c in dialog.calls()]
    assert icons == ["info", "error"]


@pytest.mark.parametrize("port", ["1024", "65534", "80", "443"])
def test_the_edges_of_the_valid_range_reach_the_probe(launcher_factory, port):
    l = launcher_factory(config={})
    code, _, err = l.run(check(type="port", port=port))
    assert code == 0 and INVALID not in err
    assert ("Puerto %s se encuentra DISPONIBLE." % port) in err or ("El puerto %s no está disponible." % port) in err


# ---- echo test mode without a browser ----

def echo_session(port, texts=("hola",), binaries=(b"12345",)):
    async def talk():
        answers = []
        async with connect(port) as ws:
            for t in texts:
                await ws.send(t)
                answers.append(await ws.recv())
            for b in binaries:
                await ws.send(b)
                answers.append(await ws.recv())
            await ws.close()
        return answers
    return run_async(talk())


def test_the_echo_application_answers_and_the_mode_ends_with_the_page(launcher_factory):
    port = free_port()
    l = launcher_factory(config={"port": str(port), "idletimeout": "0"})
    start_listening(l, echo_request(), port)
    answers = echo_session(port, texts=("hola", "ab\x00c", ""), binaries=(b"12345", b""))
    # The answer goes out through the text sender, a C string: it ends at the NUL.
    assert answers == ["hola recibido", "ab", " recibido", "Binario recibido: 5 bytes",
                       "Binario recibido: 0 bytes"]
    code, out, err = l.wait()
    assert code == 0, err
    log = l.log_text()
    assert "Petición para realizar un test del aplicativo" in log
    assert "No se abrirá el navegador" in log and "Abriendo navegador" not in log
    assert "openbrowser 0" in log


def test_the_request_port_and_idle_timeout_replace_the_configured_ones(launcher_factory):
    configured, asked = free_port(), free_port()
    l = launcher_factory(config={"port": str(configured), "idletimeout": "0"})
    start_listening(l, echo_request(port=asked, idletimeout=400), asked)
    code, _, err = l.wait()  # nobody connects: the request's idle time-out ends it
    assert code == 0, err
    log = l.log_text()
    assert "server.port (overridden by webapp) %d" % asked in log
    assert "server.idletimeout (overridden by webapp) 400" in log
    assert "Se terminó el tiempo de espera por inactividad" in log


def test_a_zero_request_port_keeps_the_configured_one_and_extra_arguments_are_ignored(launcher_factory):
    port = free_port()
    l = launcher_factory(config={"port": str(port), "idletimeout": "60000"})
    l.start(echo_request(port=0, use_ssl=1), "--otro", "argumento")
    assert wait_listening(port, l.proc)
    assert echo_session(port, binaries=()) == ["hola recibido"]
    assert l.wait()[0] == 0
    assert "server.port %d" % port in l.log_text()


def test_a_second_page_is_refused_while_the_first_talks(launcher_factory):
    port = free_port()
    l = launcher_factory(config={"port": str(port), "idletimeout": "0"})
    start_listening(l, echo_request(), port)

    async def talk():
        async with connect(port) as ws:
            await ws.send("uno")
            assert await ws.recv() == "uno recibido"
            assert status_of(raw_upgrade(port)) == 403
            await ws.send("dos")
            assert await ws.recv() == "dos recibido"
    run_async(talk())
    assert l.wait()[0] == 0


def test_a_server_that_cannot_start_is_a_failure_of_the_mode(launcher_factory):
    # The box tells why, and the exit code says so too.
    l = launcher_factory(config={"port": "81", "idletimeout": "0"})
    code, _, err = l.run(echo_request())
    assert code == 1
    assert "Error en aplicación: " + INVALID in err
