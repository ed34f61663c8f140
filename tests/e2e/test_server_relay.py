"""Messages both ways through the real launcher: exact lengths, one frame per
message, order under sends from other threads, the size limit, and frames no
browser would send."""
import asyncio
import hashlib
import os

import pytest

from server_support import (RawSocket, closed_code, config, connect, echo_mode, free_port, plugin_registry,
                            plugin_request, run_async, start)


@pytest.fixture
def echo_plugin(launcher_factory, tmp_path):
    """A launcher serving the echo plug-in; yields (port, launcher). quiet: only
    records up to info, so that many messages do not fill the console pipe that
    the test reads only at the end."""
    def make(quiet=False, **cfg):
        port = free_port()
        if quiet:
            cfg["log"] = {"level": "4", "directory": str(tmp_path / "w" / "logs")}
        launcher = launcher_factory(config(port, **cfg), registry=plugin_registry(tmp_path))
        start(launcher, plugin_request(), port)
        return port, launcher
    return make


def finish(launcher):
    code, _, err = launcher.wait()
    assert code == 0, err
    return launcher.log_text()


def test_texts_keep_their_length_to_the_host_and_are_cut_at_nul_by_the_plugin(launcher_factory, echo_plugin):
    port = free_port()
    echo = start(launcher_factory(config(port), name="echo-mode"), echo_mode(), port)

    async def page(p):
        async with connect(p) as ws:
            answers = []
            for text in ("hola", "a\x00b", "", "ñandú €"):
                await ws.send(text)
                answers.append(await ws.recv())
            return answers

    # The built-in echo application gets the whole length, NUL included (its
    # answer goes back through the text sender, which stops at the NUL).
    assert run_async(page(port)) == ["hola recibido", "a", " recibido", "ñandú € recibido"]
    log = finish(echo)
    assert "Enviando mensaje en texto de 3 bytes" in log
    assert "Enviando mensaje en texto de 11 bytes" in log
    # A plug-in receives a NUL-terminated text, so it sees the text up to the NUL.
    port, launcher = echo_plugin()
    assert run_async(page(port)) == ["hola", "a", "", "ñandú €"]
    finish(launcher)


def test_binary_messages_come_back_intact_and_whole(echo_plugin):
    port, launcher = echo_plugin()
    sizes = [0, 1, 125, 126, 65535, 65536, 1 << 20]

    async def page():
        async with connect(port) as ws:
            for size in sizes:
                data = os.urandom(size)
                await ws.send(data)
                assert await ws.recv() == data, size
            # 50 MiB in one message, one frame back.
            big = os.urandom(50 << 20)
            await ws.send(big)
            back = await ws.recv()
            return hashlib.sha256(big).hexdigest(), hashlib.sha256(back).hexdigest(), len(back)

    sent, got, length = run_async(page(), timeout=180)
    assert length == 50 << 20 and got == sent
    finish(launcher)


def test_each_message_goes_out_as_exactly_one_frame(echo_plugin):
    port, launcher = echo_plugin()
    raw = RawSocket(port)
    assert raw.status == 101
    payload = os.urandom(3 << 20)
    raw.send_frame(2, payload)
    first, data = raw.read_frame()
    assert first == 0x82 and data == payload  # FIN set, binary, the whole message
    raw.send_frame(1, b"hola")
    assert raw.read_frame() == (0x81, b"hola")
    # A message the page sends in fragments reaches the plug-in once, whole.
    raw.send_frame(1, b"ho", fin=False)
    raw.send_frame(0, b"la", fin=False)
    raw.send_frame(0, b"!")
    assert raw.read_frame() == (0x81, b"hola!")
    raw.send_frame(8, b"\x03\xe8")
    assert raw.close_code() == 1000
    raw.close()
    finish(launcher)


def test_sends_from_a_plugin_thread_interleave_with_answers_in_order(echo_plugin):
    port, launcher = echo_plugin(quiet=True)
    count = 300

    async def page():
        async with connect(port) as ws:
            await ws.send("__thread %d" % count)
            for i in range(count):
                await ws.send("eco %d" % i)
            got = [await ws.recv() for _ in range(2 * count)]
            await ws.send("__close")
            return got, await closed_code(ws)

    got, code = run_async(page(), timeout=120)
    assert [t for t in got if t.startswith("hilo")] == ["hilo %d" % i for i in range(count)]
    assert [t for t in got if t.startswith("eco")] == ["eco %d" % i for i in range(count)]
    # The plug-in ended by itself: an empty close frame, then the process ends well.
    assert code == 1005
    log = finish(launcher)
    assert "Mensaje de cierre recibido de aplicación de usuario" in log


def test_a_message_over_the_limit_closes_with_1009_and_the_process_ends_well(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port, maxmessagesize="1000")), echo_mode(), port)

    async def page():
        async with connect(port) as ws:
            await ws.send(b"x" * 1000)
            assert await ws.recv() == "Binario recibido: 1000 bytes"
            await ws.send(b"x" * 1001)
            return await closed_code(ws)

    assert run_async(page()) == 1009
    log = finish(launcher)
    assert "supera el tamaño máximo de 1000 bytes" in log


BAD_FRAMES = [
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
]


@pytest.mark.parametrize("frame,code", BAD_FRAMES)
def test_bad_frames_end_the_connection_cleanly(launcher_factory, frame, code):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)
    raw = RawSocket(port)
    assert raw.status == 101
    raw.send_frame(**frame)
    assert raw.close_code() == code
    raw.close()
    # The page's connection has ended: the application is told and the process ends well.
    finish(launcher)


def test_a_page_that_vanishes_mid_message_ends_the_run(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)
    raw = RawSocket(port)
    raw.send_raw(b"\x82\xfe\x10\x00abcd" + b"x" * 100)  # 4096 bytes promised, 100 sent
    raw.close()
    finish(launcher)
