"""The page client html/zelvo.js in headless Chromium on another site's page, against real
launchers in test mode (the echo application): it connects, sends and receives; it tells a
launcher that refuses the page's WebSocket (here: busy with another connection) apart from one
that never started; it builds the zelvo: URL as the launcher reads it and names bad requests
in Spanish."""
import base64
import json
import socket

import pytest

from zelvo_harness import ROOT, WAIT, Chromium, chromium_missing, echo_request, free_port, site, upgrade_head
from zelvo_harness import linux_only

pytestmark = [pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing())), linux_only("the page client's browser runs start the Linux launcher")]

PAGE = '<!doctype html><meta charset="utf-8"><title>Trámites</title><script src="zelvo.js"></script>'


def url_of(payload):
    return "zelvo://run/" + base64.b64encode(json.dumps(payload, separators=(",", ":"), ensure_ascii=False)
                                             .encode()).decode()


def test_the_page_client_connects_and_names_each_failure(serve, tmp_path):
    client = (ROOT / "html" / "zelvo.js").read_text(encoding="utf-8")
    with site(tmp_path / "site", {"index.html": PAGE, "zelvo.js": client}) as origin:
        page = serve(echo_request(), name="page", allowedorigins=[origin])
        busy = serve(echo_request(), name="busy", allowedorigins=["http://localhost", origin])
        nobody = free_port()
        # The busy launcher's one WebSocket, taken by a raw upgrade.
        with socket.create_connection(("127.0.0.1", busy.port), timeout=WAIT) as holder:
            holder.sendall(upgrade_head(busy.port))
            assert holder.recv(4096).startswith(b"HTTP/1.1 101")
            expressions = [
                """Zelvo.connect(null, {port: %d}).then(async (c) => { c.send("hola"); const echo = await c.receive();
                     await c.close(); return [echo, await c.receive().catch((e) => [e.code, e.closeCode])]; })"""
                % page.port,
                "Zelvo.connect(null, {port: %d})" % busy.port,
                'Zelvo.connect({type: "windows", name: "vexa", port: %d}, {timeout: 1500})' % nobody,
                "Promise.resolve(document.querySelector('iframe').src)",
                'Promise.resolve(Zelvo.requestUrl({type: "windows", port: 8765, use_ssl: true, nota: "año"}))',
                "new Promise(() => Zelvo.requestUrl({type: {windows: 1}}))",
                'Zelvo.connect(null, {port: "80800"})',
            ]
            browser = Chromium(tmp_path / "browser", "eval")
            (tmp_path / "browser" / "expressions.json").write_text(json.dumps(expressions))
            shown = browser.show(origin + "/index.html")
    assert "error" not in shown, shown
    echo, refused, not_started, frame, url, bad_value, bad_port = shown["outcomes"]
    assert echo["value"] == ["hola recibido", ["closed", 1000]]
    assert (refused["error"], refused["code"]) == ("ZelvoError", "refused")
    assert refused["message"].startswith("El componente Zelvo no aceptó la conexión de esta página")
    assert not_started["code"] == "not-started"
    assert not_started["message"].startswith("No se pudo iniciar el componente Zelvo en este equipo")
    assert frame["value"] == url_of({"type": "windows", "name": "vexa", "port": str(nobody)})
    assert url["value"] == url_of({"type": "windows", "port": "8765", "use_ssl": "1", "nota": "año"})
    assert (bad_value["code"], bad_port["code"]) == ("bad-request", "bad-request")
    assert "«type»" in bad_value["message"] and "«80800»" in bad_port["message"]
