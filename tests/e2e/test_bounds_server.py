"""The server's bounds through the real launcher: room for the page among idle and
slow clients, bounded memory whichever side is fast, and a stop that ends."""
import asyncio
import contextlib
import socket
import time

import pytest
import websockets

from zelvo_harness import SANITIZE, WAIT, fixture, free_port, request, upgrade_head, wait_listening, write_registry

# Peak memory allowed above the launcher's size before the page came, in MiB:
# far below what each test's traffic would take without bounds.
GROWTH = 200 if SANITIZE else 64


def mib(l, field="VmHWM"):
    with open("/proc/%d/status" % l.proc.pid) as f:
        return next(int(line.split()[1]) // 1024 for line in f if line.startswith(field + ":"))


def started(launcher_factory, tmp_path, plugin=None):
    # The desktop build: a console log of every message would fill a pipe nobody reads.
    port = free_port()
    lib = {"SOFTWARE\\Zelvo\\p": {"RuntimeLib": fixture(plugin)}} if plugin else {}
    config = {"port": str(port), "idletimeout": "60000", "basekey": "SOFTWARE\\Zelvo\\", "maxmessagesize": str(4 << 20)}
    l = launcher_factory(config=config, registry=write_registry(tmp_path / "r.reg", lib), program="launcher",
                         env={"ASAN_OPTIONS": "detect_leaks=1:quarantine_size_mb=16"})
    l.start(request("run/", {"type": "windows", "name": "p"}) if plugin else request("test/", {}))
    assert wait_listening(port, l.proc)
    return l, port, mib(l, "VmRSS")


def page(port, **options):
    return websockets.connect("ws://localhost:%d/" % port, origin="http://localhost", **options)


def closed_by_server(s):
    with contextlib.suppress(ConnectionResetError):
        return s.recv(1) == b""
    return True


def test_idle_and_slow_clients_do_not_keep_the_page_out(launcher_factory, tmp_path):
    l, port, _ = started(launcher_factory, tmp_path)
    idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(70)]
    slow = [socket.create_connection(("127.0.0.1", port), timeout=15) for _ in range(10)]

    async def drip():  # one header byte a second on each slow connection
        for byte in b"GET / HTTP/1.1\r\nHost: localhost\r\nX-Lento: " + b"a" * 30:
            for s in slow:
                with contextlib.suppress(OSError):
                    s.send(bytes([byte]))
            await asyncio.sleep(1)

    async def crowded():
        dripping = asyncio.ensure_future(drip())
        async with page(port, open_timeout=8) as ws:  # at once: before any time-out could make room
            await ws.send("hola")
            assert await asyncio.wait_for(ws.recv(), WAIT) == "hola recibido"
            # A request that has not arrived whole 10 s after its accept is cut off.
            assert all(closed_by_server(s) for s in slow)
        dripping.cancel()

    asyncio.run(crowded())
    assert l.wait()[0] == 0
    assert "conexiones abiertas; se cierra la conexión inactiva más antigua" in l.log_text()


def test_a_page_that_never_reads_is_not_read_from(launcher_factory, tmp_path):
    l, port, before = started(launcher_factory, tmp_path)
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", port))
        s.sendall(upgrade_head(port))
        s.settimeout(3)
        assert s.recv(12) == b"HTTP/1.1 101"  # frames may follow only the handshake's answer
        text = b"\x81\xff" + (1 << 20).to_bytes(8, "big") + b"\0\0\0\0" + b"a" * (1 << 20)  # masked with zeros
        with pytest.raises(TimeoutError):
            for _ in range(400):
                s.sendall(text)
        assert mib(l) - before < GROWTH


def test_a_plugin_sending_without_pause_waits_for_a_slow_page(launcher_factory, tmp_path):
    l, port, before = started(launcher_factory, tmp_path, "flood-plugin.so")

    async def read_slowly():
        async with page(port, max_size=None, max_queue=1) as ws:
            for _ in range(30):
                assert len(await ws.recv()) == 1 << 20 and mib(l) - before < GROWTH
                await asyncio.sleep(0.1)
            ws.transport.abort()  # the page vanishes while the plug-in still sends

    asyncio.run(asyncio.wait_for(read_slowly(), WAIT))
    assert l.wait()[0] == 0


def test_a_plugin_that_ignores_its_close_is_not_waited_for(launcher_factory, tmp_path):
    l, port, _ = started(launcher_factory, tmp_path, "ignore-close-plugin.so")

    async def session():
        async with page(port) as ws:
            l.terminate()
            await ws.wait_closed()
        return time.monotonic()

    since = asyncio.run(asyncio.wait_for(session(), WAIT))
    assert l.wait()[0] == 1 and time.monotonic() - since < 10  # the grace time is 5 s
    assert 'El plug-in de la aplicación "p" no terminó en 5 s tras la orden de detener' in l.log_text()
