"""The embedded server through the real launcher, in echo test mode or hosting the
echo plug-in, with real WebSocket clients: who is admitted, how a run begins and
ends, and messages both ways (lengths, frames, order, limits, bad frames)."""
import asyncio
import os
import signal
import socket
import struct
import time

import pytest
import websockets

from zelvo_harness import (BOX, ORIGIN, SANITIZE, WAIT, RawSocket, connect, echo_request, free_port, linux_only, raw_http,
                           raw_upgrade, run_async, run_request, server_config, session, stopped_while_talking, talk,
                           wait_listening)


# ---- admission ----

NO_WEB = "No se encuentra la cabecera origin"
NO_ORIGIN = "La petición de conexión no tiene una cabecera Origin"


@pytest.mark.parametrize("extra, admitted, record", [
    *[(("%s: %s" % (name, ORIGIN),), True, None) for name in ("Origin", "ORIGIN", "origin")],
    # A name that only begins the word makes it a page's request, yet the site is the one
    # named in "Origin" itself: without it, nobody can say which site asks.
    *[(("%s: %s" % (name, ORIGIN),), False, NO_ORIGIN) for name in ("Ori", "o")],
    ((), False, NO_WEB), (("Origins: " + ORIGIN,), False, NO_WEB), (("Originator: x", "Host2: y"), False, NO_WEB),
])
def test_only_a_page_that_names_its_origin_is_admitted(serve, extra, admitted, record):
    """A page sends an Origin header; a refusal is 403, "Connection: forbidden", no body."""
    l = serve(echo_request())
    status, headers, body = raw_upgrade(l.port, extra=extra)
    if admitted:
        assert status == 101 and headers["upgrade"].lower() == "websocket"
    else:
        assert (status, headers["connection"], headers["content-length"], body) == (403, "forbidden", "0", b"")
        assert talk(l.port, "hola") == ["hola recibido"]  # still waiting for a page
    # The one connection of the run has ended: the server stops by itself.
    log = l.ended()
    for text in (NO_WEB, NO_ORIGIN):
        assert (text in log) == (text == record), text


def test_a_second_websocket_is_refused_and_the_first_goes_on(serve):
    l = serve(echo_request())

    async def pages():
        async with connect(l.port) as first:
            await first.send("uno")
            assert await first.recv() == "uno recibido"
            with pytest.raises(websockets.exceptions.InvalidStatusCode) as refused:
                async with connect(l.port):
                    pass
            assert refused.value.status_code == 403
            await first.send("dos")
            return await first.recv()

    assert run_async(pages()) == "dos recibido"
    assert "No se aceptará la petición de conexión de la aplicación web" in l.ended()


def test_a_plugin_that_ends_at_once_closes_right_after_the_handshake(serve):
    l = serve(run_request(), plugin="echo-plugin.so", env={"ECHO_CONNECT": "return"})
    assert session(l.port) == ([], 1005)  # no status: the plug-in just ended
    l.ended()


def test_messages_sent_before_the_handshake_answer_follow_it(serve):
    """The plug-in sends while registering its senders, so before it reports its start
    and the handshake is answered, and again on entering onConnect: the page reads the
    answer first (else the client could not open) and then every message, in order."""
    l = serve(run_request(), plugin="echo-plugin.so", env={"ECHO_GREETINGS": "25"})
    assert talk(l.port, replies=50) == ["saludo %d" % i for i in range(50)]
    log = l.ended()
    # The first ones were queued while the connection was not yet open.
    assert log.index("Mensaje saludo 0\n") < log.index("Conexión websocket establecida")


def test_the_page_closing_ends_a_plugin_that_was_slow_to_wait(serve):
    """The close reaches the plug-in before its onConnect begins to wait; the
    launcher must still end it instead of joining a thread that never ends."""
    l = serve(run_request(), plugin="echo-plugin.so", env={"ECHO_CONNECT": "late"})
    assert talk(l.port) == []
    assert "Cerrando conexión websocket a petición de la aplicación web" in l.ended()


@pytest.mark.parametrize("argument, plugin, answer", [(echo_request(), None, "hola recibido"),
                                                      (run_request(), "echo-plugin.so", "hola")],
                         ids=["echo-mode", "plugin"])
def test_a_stop_signal_while_connected_closes_the_page_and_ends_well(serve, argument, plugin, answer):
    l = serve(argument, plugin=plugin)
    assert stopped_while_talking(l, "hola")[0] == answer
    l.ended()


# ---- how a run begins and ends ----

def test_the_server_listens_on_loopback_only_unless_configured(serve, launcher_factory):
    l = serve(echo_request())
    # 127.0.0.2 is loopback too, but not the address the server is bound to.
    assert not wait_listening(l.port, address="127.0.0.2", timeout=0)
    l.terminate()
    l.ended()

    port = free_port()
    other = launcher_factory(server_config(port, bindaddress="127.0.0.2"), name="other").start(echo_request())
    assert wait_listening(port, other.proc, address="127.0.0.2") and not wait_listening(port, timeout=0)
    assert raw_http(port, b"GET /no-existe HTTP/1.1\r\nHost: x\r\n\r\n", address="127.0.0.2").startswith(b"HTTP/1.1 ")
    other.terminate()
    other.ended()


@pytest.mark.parametrize("config, box", [
    ({"bindaddress": "no es una dirección"}, "No se pudo crear una instancia del servidor."),
    ({"port": "65535"}, "No se puede ejecutar la aplicación en un puerto no válido."),
    ({"port": "81"}, "No se puede ejecutar la aplicación en un puerto no válido."),
    ({"port": "busy"}, "El puerto %d no está disponible."),
])
def test_a_server_that_cannot_start_fails_the_run_with_its_box(launcher_factory, config, box):
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        if config.get("port") == "busy":
            config = {"port": str(busy.getsockname()[1])}
            box %= busy.getsockname()[1]
        code, _, err = launcher_factory(dict(server_config(free_port()), **config)).run(echo_request())
    assert code == 1 and BOX + box in err


@pytest.mark.parametrize("configured, asked", [
    ("300", {}),
    ("0", {"port": "other", "idletimeout": "400", "use_ssl": "1"}),
    ("300", {"port": "0"}),  # "0" keeps the configured port
    ("300", {"idletimeout": "-1"}),  # a page cannot switch the time-out off...
    ("300", {"idletimeout": "-1", "run": True}),  # ...in either kind of request
])
def test_the_idle_time_out_stops_a_server_nobody_connected_to(launcher_factory, configured, asked):
    l, asked = launcher_factory(server_config(free_port(), idletimeout=configured)), dict(asked)
    if asked.get("port") == "other":
        l.port = asked["port"] = free_port()
    if asked.pop("run", False):
        l.start(run_request(**asked))
    else:
        l.start(echo_request(**asked), "--otro", "argumento")  # further arguments are ignored
    assert wait_listening(l.port, l.proc)
    log = l.ended()
    assert "Se terminó el tiempo de espera por inactividad" in log
    overridden = "(overridden by webapp) " if asked.get("port", "0") != "0" else ""
    assert "server.port %s%d" % (overridden, l.port) in log
    expected = "(overridden by webapp) 400" if asked.get("idletimeout") == "400" else configured
    assert "server.idletimeout %s\n" % expected in log


def test_a_connection_ends_the_idle_wait(serve):
    l = serve(echo_request(), idletimeout="3000")

    async def page():
        async with connect(l.port) as ws:
            await asyncio.sleep(3.5)  # well past the time-out, the connection is still served
            await ws.send("sigo")
            return await ws.recv()

    assert run_async(page()) == "sigo recibido"
    assert "Se terminó el tiempo de espera por inactividad" not in l.ended()


@pytest.mark.parametrize("signum", [signal.SIGTERM, pytest.param(signal.SIGINT, marks=linux_only("a signal"))])
def test_a_stop_signal_ends_a_waiting_server_well(serve, signum):
    """SIGTERM or SIGINT; on Windows the close message "taskkill /pid" sends."""
    l = serve(echo_request(), idletimeout="600000")  # the signal, not the timer, ends the run
    if signum == signal.SIGTERM:
        l.terminate()
    else:
        os.kill(l.proc.pid, signum)
    assert "Ejecución del servidor terminada correctamente" in l.ended()


# ---- messages ----

def test_the_echo_application_gets_whole_texts_and_counts_binaries(serve):
    l = serve(echo_request())
    answers = talk(l.port, "hola", "a\x00b", "", "ñandú €", b"12345", b"")
    # The application gets the whole length, NUL included; its answer goes back
    # through the text sender, which stops at the NUL.
    assert answers == ["hola recibido", "a", " recibido", "ñandú € recibido", "Binario recibido: 5 bytes",
                       "Binario recibido: 0 bytes"]
    log = l.ended()
    for record in ("Enviando mensaje en texto de 3 bytes", "Enviando mensaje en texto de 11 bytes",
                   "Petición para realizar un test del aplicativo", "No se abrirá el navegador", "openbrowser 0"):
        assert record in log
    assert "Abriendo navegador" not in log


def test_each_message_goes_out_as_exactly_one_frame(serve):
    l = serve(run_request(), plugin="echo-plugin.so")
    raw = RawSocket(l.port)
    assert raw.status == 101
    payload = os.urandom(3 << 20)
    raw.send_frame(2, payload)
    assert raw.read_frame() == (0x82, payload)  # FIN set, binary, the whole message
    # A message the page sends in fragments reaches the plug-in once, whole.
    raw.send_frame(1, b"ho", fin=False)
    raw.send_frame(0, b"la", fin=False)
    raw.send_frame(0, b"!")
    assert raw.read_frame() == (0x81, b"hola!")
    raw.send_frame(8, b"\x03\xe8")
    assert raw.close_code() == 1000
    raw.close()
    l.ended()


def test_sends_from_a_plugin_thread_interleave_with_answers_in_order(serve):
    # Info level: the console's copy of 600 messages would fill the pipe read only at the end.
    l = serve(run_request(), plugin="echo-plugin.so", log={"level": "4"})
    got, code = session(l.port, "__thread 300", *["eco %d" % i for i in range(300)], "__close", timeout=120)
    assert [t for t in got if t.startswith("hilo")] == ["hilo %d" % i for i in range(300)]
    assert [t for t in got if t.startswith("eco")] == ["eco %d" % i for i in range(300)]
    # The plug-in ended by itself: an empty close frame, then the process ends well.
    assert code == 1005
    assert "Mensaje de cierre recibido de aplicación de usuario" in l.ended()


def test_a_message_over_the_limit_closes_with_1009_and_the_process_ends_well(serve):
    l = serve(echo_request(), maxmessagesize="1000")
    assert session(l.port, b"x" * 1000, b"x" * 1001) == (["Binario recibido: 1000 bytes"], 1009)
    assert "supera el tamaño máximo de 1000 bytes" in l.ended()


@pytest.mark.parametrize("frame, code", [
    pytest.param(dict(opcode=1, payload=b"sin mascara", mask=False), 1002, id="unmasked"),
    pytest.param(dict(opcode=3, payload=b"x"), 1002, id="reserved-opcode"),
    pytest.param(dict(opcode=11, payload=b"x"), 1002, id="reserved-control-opcode"),
    pytest.param(dict(opcode=1, payload=b"x", rsv=4), 1002, id="rsv-bit"),
    pytest.param(dict(opcode=9, payload=b"p" * 126), 1002, id="long-ping"),
    pytest.param(dict(opcode=9, payload=b"p", fin=False), 1002, id="fragmented-ping"),
    pytest.param(dict(opcode=0, payload=b"x"), 1002, id="continuation-first"),
    pytest.param(dict(opcode=1, payload=b"\xff\xfe"), 1007, id="text-not-utf8"),
    pytest.param(dict(opcode=8, payload=b"\x03"), 1002, id="close-one-byte"),
    pytest.param(dict(opcode=2, payload=b"", length=1 << 62), 1009, id="huge-length"),
])
def test_bad_frames_end_the_connection_cleanly(serve, frame, code):
    l = serve(echo_request())
    raw = RawSocket(l.port)
    raw.send_frame(**frame)
    assert (raw.status, raw.close_code()) == (101, code)
    raw.close()
    l.ended()  # the application is told and the process ends well


@pytest.mark.parametrize("argument, env, frame", [
    pytest.param(echo_request(), None, dict(opcode=8, payload=struct.pack("!H", 1000)), id="the-page-closes"),
    pytest.param(echo_request(), None, dict(opcode=1, payload=b"x", mask=False), id="a-protocol-error"),
    pytest.param(run_request(), {"ECHO_CONNECT": "return"}, None, id="the-application-ends"),
])
def test_after_a_close_frame_the_launcher_ends_whatever_the_page_does(serve, argument, env, frame):
    """The page never closes TCP: the launcher closes it, tells the application and ends."""
    l = serve(argument, plugin="echo-plugin.so" if env else None, env=env)
    raw = RawSocket(l.port)
    assert raw.status == 101
    l.proc.stdin.write(b"\n")  # the console build's closing prompt, answered before it comes
    l.proc.stdin.flush()
    began = time.monotonic()
    if frame:
        raw.send_frame(**frame)
    reply = raw.read_frame()
    assert reply is not None and reply[0] & 0x0F == 8
    if not frame:
        began = time.monotonic()  # the server's own close frame
    assert raw.read_frame() is None  # the server closed TCP
    l.proc.wait(timeout=WAIT)
    assert time.monotonic() - began < (6.0 if SANITIZE else 3.0)
    raw.close()
    assert l.proc.returncode == 0
    if frame and frame["opcode"] == 8:
        assert "Cerrando conexión websocket a petición de la aplicación web" in l.log_text()


def test_a_page_that_vanishes_mid_message_ends_the_run(serve):
    l = serve(echo_request())
    raw = RawSocket(l.port)
    raw.sock.sendall(b"\x82\xfe\x10\x00abcd" + b"x" * 100)  # 4096 bytes promised, 100 sent
    raw.close()
    l.ended()
