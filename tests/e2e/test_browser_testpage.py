"""Headless Chromium opens the test page that the launcher serves in test mode:
the page connects, sends a text and a small file and shows both echoes."""
import json
import os
import signal
import subprocess
from pathlib import Path

import pytest

from server_support import b64, config, echo_mode, free_port, start
from zelvo_harness import WAIT

HERE = Path(__file__).resolve().parent
CHROMIUM = Path("/usr/bin/chromium")

pytestmark = [
    pytest.mark.skipif(not (HERE / "node_modules" / "playwright-core").is_dir(),
                       reason="playwright-core no está instalado (cd tests/e2e && npm install)"),
    pytest.mark.skipif(not CHROMIUM.exists(), reason="falta /usr/bin/chromium"),
]


def page_url(port):
    # As the launcher builds it: Base64 of compact JSON, keys in order.
    params = json.dumps({"idletimeout": "0", "port": str(port), "use_ssl": ""}, separators=(",", ":"))
    return "http://localhost:%d/test.html?%s" % (port, b64(params.encode()))


def test_the_test_page_echoes_a_text_and_a_file(launcher_factory):
    port = free_port()
    launcher = start(launcher_factory(config(port)), echo_mode(), port)
    driver = subprocess.Popen(["node", str(HERE / "browser_testpage.js"), page_url(port)], cwd=HERE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = driver.communicate(timeout=WAIT * 4)
    finally:
        if driver.poll() is None:
            os.kill(driver.pid, signal.SIGTERM)
            driver.wait(timeout=30)
    assert driver.returncode == 0, err.decode("utf-8", "replace")
    shown = json.loads(out.decode("utf-8").strip().splitlines()[-1])
    assert shown["estado"] == "Conectado"
    assert shown["respuestas"] == ["hola recibido", "Binario recibido: 7 bytes"]
    assert shown["final"] == "Conexión cerrada"
    # The page closed the connection: the launcher ends well.
    code, _, err = launcher.wait()
    assert code == 0, err
    log = launcher.log_text()
    assert "Cerrando conexión websocket a petición de la aplicación web" in log
