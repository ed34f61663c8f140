"""The page client html/zelvo.js in headless Chromium, against real launchers in test mode
(the echo application): it connects, sends and receives; it tells a launcher that refuses the
page's WebSocket (here: busy with another connection) apart from one that never started; it
builds the zelvo: URL as the launcher reads it and names bad requests in Spanish."""
import base64
import json
import os
import signal
import socket
import subprocess
from pathlib import Path

import pytest

from launcher_support import server_config, start_listening
from launcher_support import test_request as echo_request
from zelvo_harness import WAIT, free_port

HERE = Path(__file__).resolve().parent


def url_of(payload):
    return "zelvo://run/" + base64.b64encode(json.dumps(payload, separators=(",", ":"), ensure_ascii=False)
                                             .encode()).decode()


@pytest.mark.skipif(not (HERE / "node_modules" / "playwright-core").is_dir() or not Path("/usr/bin/chromium").exists(),
                    reason="faltan playwright-core (cd tests/e2e && npm install) o /usr/bin/chromium")
def test_the_page_client_connects_and_names_each_failure(launcher_factory, tmp_path):
    page_port, busy_port, nobody = free_port(), free_port(), free_port()
    start_listening(launcher_factory(server_config(page_port), name="page"), echo_request(), page_port)
    start_listening(launcher_factory(server_config(busy_port), name="busy"), echo_request(), busy_port)
    # The busy launcher's one WebSocket, taken by a raw upgrade from its own origin.
    holder = socket.create_connection(("127.0.0.1", busy_port), timeout=WAIT)
    holder.sendall(("GET / HTTP/1.1\r\nHost: localhost:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                    "Origin: http://localhost:%d\r\n\r\n" % (busy_port, busy_port)).encode())
    assert holder.recv(4096).startswith(b"HTTP/1.1 101")
    expressions = [
        """Zelvo.connect(null, {port: %d}).then(async (c) => { c.send("hola"); const echo = await c.receive();
             await c.close(); return [echo, await c.receive().catch((e) => [e.code, e.closeCode])]; })""" % page_port,
        "Zelvo.connect(null, {port: %d})" % busy_port,
        'Zelvo.connect({type: "windows", name: "vexa", port: %d}, {timeout: 1500})' % nobody,
        "Promise.resolve(document.querySelector('iframe').src)",
        'Promise.resolve(Zelvo.requestUrl({type: "windows", port: 8765, use_ssl: true, nota: "año"}))',
        "new Promise(() => Zelvo.requestUrl({type: {windows: 1}}))",
        'Zelvo.connect(null, {port: "80800"})',
    ]
    pids = tmp_path / "chromium.pids"
    driver = subprocess.Popen(["node", str(HERE / "page_client_browser.js"), "http://localhost:%d/test.html" % page_port,
                               str(tmp_path / "profile"), str(pids)] + expressions, cwd=HERE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = driver.communicate(timeout=WAIT * 4)
    finally:
        holder.close()
        for pid in [driver.pid] + [int(p) for p in (pids.read_text().split() if pids.exists() else [])]:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    assert driver.returncode == 0, err.decode("utf-8", "replace")
    echo, busy, not_started, frame, url, bad_value, bad_port = json.loads(out.decode().splitlines()[-1])
    assert echo["value"] == ["hola recibido", ["closed", 1000]]
    assert (busy["error"], busy["code"]) == ("ZelvoError", "refused")
    assert busy["message"].startswith("El componente Zelvo no aceptó la conexión de esta página")
    assert not_started["code"] == "not-started"
    assert not_started["message"].startswith("No se pudo iniciar el componente Zelvo en este equipo")
    assert frame["value"] == url_of({"type": "windows", "name": "vexa", "port": str(nobody)})
    assert url["value"] == url_of({"type": "windows", "port": "8765", "use_ssl": "1", "nota": "año"})
    assert (bad_value["code"], bad_port["code"]) == ("bad-request", "bad-request")
    assert "«type»" in bad_value["message"] and "«80800»" in bad_port["message"]
