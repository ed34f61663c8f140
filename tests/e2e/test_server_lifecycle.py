"""How a server run begins and ends: the listening address, the port checks, the
idle time-out and the stop signals."""
import asyncio
import os
import signal
import socket
import time

import pytest

from server_support import BOX, config, connect, echo_mode, free_port, run_async, start
from zelvo_harness import WAIT


def reachable(address, port):
    try:
        with socket.create_connection((address, port), timeout=2):
            return True
    except OSError:
        return False


def test_the_server_listens_on_loopback_only_unless_configured(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port), name="default"), echo_mode(), port)
    # 127.0.0.2 is loopback too, but not the address the server is bound to.
    assert reachable("127.0.0.1", port) and not reachable("127.0.0.2", port)
    os.kill(launcher.proc.pid, signal.SIGTERM)
    assert launcher.wait()[0] == 0

    port = free_port()
    other = launcher_factory(config(port, bindaddress="127.0.0.2"), name="other")
    other.start(echo_mode())
    assert reachable_soon("127.0.0.2", port, other)
    assert not reachable("127.0.0.1", port)
    assert http_get_on("127.0.0.2", port).startswith(b"HTTP/1.1 ")
    os.kill(other.proc.pid, signal.SIGTERM)
    assert other.wait()[0] == 0


def reachable_soon(address, port, launcher):
    end = time.monotonic() + WAIT
    while time.monotonic() < end and launcher.proc.poll() is None:
        if reachable(address, port):
            return True
        time.sleep(0.05)
    return False


def http_get_on(address, port):
    with socket.create_connection((address, port), timeout=10) as s:
        s.sendall(b"GET /no-existe HTTP/1.1\r\nHost: x\r\n\r\n")
        return s.recv(4096)


def test_a_bad_bind_address_is_a_server_error(launcher_factory):
    port = free_port()
    _, _, err = launcher_factory(config(port, bindaddress="no es una dirección")).run(echo_mode())
    assert BOX + "No se pudo crear una instancia del servidor." in err


def test_invalid_and_busy_ports_are_refused(launcher_factory):
    launcher = launcher_factory(config(65535), name="invalid")
    code, _, err = launcher.run(echo_mode())
    assert BOX + "No se puede ejecutar la aplicación en un puerto no válido." in err
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        port = busy.getsockname()[1]
        code, _, err = launcher_factory(config(port), name="busy").run(echo_mode())
        assert BOX + "El puerto %d no está disponible." % port in err


def test_the_idle_time_out_stops_a_server_nobody_connected_to(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port, idletimeout="300")), echo_mode(), port)
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "Se terminó el tiempo de espera por inactividad" in launcher.log_text()


def test_a_connection_ends_the_idle_wait(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port, idletimeout="1000")), echo_mode(), port)

    async def page():
        async with connect(port) as ws:
            # Well past the time-out, the connection is still served.
            for i in range(20):
                await ws.send("hola %d" % i)
                assert await ws.recv() == "hola %d recibido" % i
            await asyncio.sleep(1.5)
            await ws.send("sigo")
            return await ws.recv()

    assert run_async(page()) == "sigo recibido"
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "Se terminó el tiempo de espera por inactividad" not in launcher.log_text()


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT])
def test_a_stop_signal_ends_a_waiting_server_well(launcher_factory, signum):
    port = free_port()
    # A long idle time-out: the signal, not the timer, ends the run.
    launcher = start(launcher_factory(config(port, idletimeout="600000")), echo_mode(), port)
    os.kill(launcher.proc.pid, signum)
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "Ejecución del servidor terminada correctamente" in launcher.log_text()
