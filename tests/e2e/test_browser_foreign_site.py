"""Headless Chromium on a page of another site (a small local HTTP server): its WebSocket
is refused when the user's refusal is remembered, admitted when the site is listed."""
import json
import subprocess

import pytest

from zelvo_harness import BUILD, WAIT, Chromium, chromium_missing, free_port, request, wait_listening, write_registry

pytestmark = pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing()))

PAGE = """<!doctype html><meta charset="utf-8"><title>Sitio ajeno</title><p id="estado">esperando</p>
<script>
const estado = document.getElementById("estado");
const ws = new WebSocket("ws://localhost:%d/");
ws.onopen = () => ws.send("hola");
ws.onmessage = (e) => { estado.textContent = "respuesta: " + e.data; ws.close(); };
ws.onclose = () => { if (estado.textContent === "esperando") estado.textContent = "rechazado"; };
</script>
"""


@pytest.mark.parametrize("remembered, listed, shown", [
    ("refuse", False, "rechazado"),
    (None, True, "respuesta: hola"),
])
def test_a_page_of_another_site(launcher_factory, tmp_path, remembered, listed, shown):
    port, site_port = free_port(), free_port()
    site = "http://127.0.0.1:%d" % site_port
    (tmp_path / "site").mkdir()
    (tmp_path / "site" / "index.html").write_text(PAGE % port, encoding="utf-8")
    server = subprocess.Popen(["/usr/bin/python3", "-m", "http.server", str(site_port), "--bind", "127.0.0.1",
                               "--directory", str(tmp_path / "site")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert wait_listening(site_port, server)
        registry = write_registry(tmp_path / "echo.reg", {"SOFTWARE\\Zelvo\\echo": {
            "RuntimeLib": str(BUILD / "tests" / "fixtures" / "echo-plugin.so")}})
        launcher = launcher_factory({"port": str(port), "idletimeout": "0", "basekey": "SOFTWARE\\Zelvo\\",
                                     "allowedorigins": [site] if listed else []},
                                    registry=registry, env={"ZELVO_DIALOG": str(tmp_path / "no-dialog")})
        if remembered:
            (launcher.workdir / "config" / "zelvo").mkdir(parents=True)
            (launcher.workdir / "config" / "zelvo" / "permisos.json").write_text(json.dumps(
                {"sites": [{"origin": site, "application": "echo", "decision": remembered}]}))
        launcher.start(request("run/", {"type": "windows", "name": "echo"}))
        assert wait_listening(port, launcher.proc)
        assert Chromium(tmp_path / "browser", "estado").show(site + "/index.html").get("estado") == shown
        log = launcher.log_text()
        if remembered:
            assert "El usuario rechazó antes el sitio " + site in log
            assert "No se permite el acceso de la aplicación web del sitio " + site in log
        else:
            assert "El sitio %s está en allowedorigins" % site in log
    finally:
        server.kill()
        server.wait(timeout=WAIT)
