"""Headless Chromium on a page of another site (a small local HTTP server): its WebSocket
is refused when the user's refusal is remembered (and the launcher ends), admitted when
the site is listed; and it cannot make the launcher's own pages act, neither by sending
the browser to them nor by framing them."""
import json

import pytest

from zelvo_harness import (BUILD, Chromium, chromium_missing, echo_request, free_port, linux_only, request, site,
                           wait_listening, write_registry)

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
            assert launcher.wait()[0] == 1  # the refusal ended the run
        else:
            assert "El sitio %s está en allowedorigins" % origin in log


SENDS = '<!doctype html><title>Ajeno</title><script>location = "http://localhost:%d/card.html?auto=1";</script>'
FRAMES = '<!doctype html><title>Ajeno</title><iframe src="http://localhost:%d/card.html?auto=1"></iframe>'


@pytest.mark.parametrize("foreign, shown", [
    (SENDS, "card.html?auto=1"),   # the card page opens, and does nothing until the user clicks
    (FRAMES, "/index.html"),       # the card page is not shown inside another site
], ids=["sends-the-browser", "frames-the-page"])
def test_another_site_cannot_make_the_launchers_pages_act(serve, tmp_path, foreign, shown):
    launcher = serve(echo_request())
    with site(tmp_path / "site", {"index.html": foreign % launcher.port}) as origin:
        result = Chromium(tmp_path / "browser", "visit").show(origin + "/index.html")
    assert "error" not in result, result
    assert result["url"].endswith(shown)
    if foreign is FRAMES:
        assert all(not url.startswith("http://localhost") for url in result["frames"]), result
    log = launcher.log_text()
    assert "Petición HTTP GET /card.html?auto=1" in log  # the browser did ask for it
    assert "Página del propio lanzador" not in log and "Se aceptará la petición de conexión" not in log
    # (The headers of every kind of answer: test_server_http.)
