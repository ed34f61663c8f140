"""Headless Chromium on a page of another site (a small local HTTP server): its WebSocket
is refused when the user's refusal is remembered, admitted when the site is listed."""
import json

import pytest

from zelvo_harness import BUILD, Chromium, chromium_missing, free_port, request, site, wait_listening, write_registry
from zelvo_harness import linux_only

pytestmark = [pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing())), linux_only("the browser runs start the Linux launcher")]

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
    port = free_port()
    with site(tmp_path / "site", {"index.html": PAGE % port}) as origin:
        registry = write_registry(tmp_path / "echo.reg", {"SOFTWARE\\Zelvo\\echo": {
            "RuntimeLib": str(BUILD / "tests" / "fixtures" / "echo-plugin.so")}})
        launcher = launcher_factory({"port": str(port), "idletimeout": "0", "basekey": "SOFTWARE\\Zelvo\\",
                                     "allowedorigins": [origin] if listed else []},
                                    registry=registry, env={"ZELVO_DIALOG": str(tmp_path / "no-dialog")})
        if remembered:
            (launcher.workdir / "config" / "zelvo").mkdir(parents=True)
            (launcher.workdir / "config" / "zelvo" / "permisos.json").write_text(json.dumps(
                {"sites": [{"origin": origin, "application": "echo", "decision": remembered}]}))
        launcher.start(request("run/", {"type": "windows", "name": "echo"}))
        assert wait_listening(port, launcher.proc)
        assert Chromium(tmp_path / "browser", "estado").show(origin + "/index.html").get("estado") == shown
        log = launcher.log_text()
        if remembered:
            assert "El usuario rechazó antes el sitio " + origin in log
            assert "No se permite el acceso de la aplicación web del sitio " + origin in log
        else:
            assert "El sitio %s está en allowedorigins" % origin in log
