"""html/zelvo.js in headless Chromium on another site's page against real launchers: it
connects, sends and receives, asks for the test application, tells a refusing launcher from
one that never started, builds the zelvo: URL and names bad requests in Spanish."""
import base64
import json
import re
import socket

import pytest

from zelvo_harness import (Chromium, ROOT, StandIn, WAIT, chromium_missing, echo_request, free_port, linux_only,
                           run_request, site, upgrade_head)

pytestmark = [pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing())), linux_only("the page client's browser runs start the Linux launcher")]

PAGE = '<!doctype html><meta charset="utf-8"><title>Trámites</title><script src="zelvo.js"></script>'


def url_of(payload, verb="run"):
    return "zelvo://%s/" % verb + base64.b64encode(json.dumps(payload, separators=(",", ":"), ensure_ascii=False)
                                                   .encode()).decode()


def test_the_page_client_connects_and_names_each_failure(serve, tmp_path):
    client = (ROOT / "html" / "zelvo.js").read_text(encoding="utf-8")
    dialog = StandIn(tmp_path / "dialog").answer("consent", 1, "0\n", delay=1)
    with site(tmp_path / "site", {"index.html": PAGE, "zelvo.js": client}) as origin:
        page = serve(echo_request(), name="page", allowedorigins=[origin])
        testing = serve(echo_request(), name="testing", allowedorigins=[origin])
        busy = serve(echo_request(), name="busy", allowedorigins=["http://localhost", origin])
        refusing = serve(run_request(), name="refusing", plugin="echo-plugin.so", allowedorigins=[],
                         env=dialog.env)
        nobody, nobody2 = free_port(), free_port()
        # The busy launcher's one WebSocket, taken by a raw upgrade.
        with socket.create_connection(("127.0.0.1", busy.port), timeout=WAIT) as holder:
            holder.sendall(upgrade_head(busy.port))
            assert holder.recv(4096).startswith(b"HTTP/1.1 101")
            expressions = [
                """Zelvo.connect(null, {port: %d}).then(async (c) => { c.send("hola"); const echo = await c.receive();
                     await c.close(); return [echo, await c.receive().catch((e) => [e.code, e.closeCode])]; })"""
                % page.port,
                "Zelvo.connect(null, {port: %d, busyTimeout: 2000})" % busy.port,
                'Zelvo.connect({type: "windows", name: "vexa", port: %d}, {timeout: 1500})' % nobody,
                "Promise.resolve(document.querySelector('iframe').src)",
                'Promise.resolve(Zelvo.requestUrl({type: "windows", port: 8765, use_ssl: true, nota: "año"}))',
                "new Promise(() => Zelvo.requestUrl({type: {windows: 1}}))",
                'Zelvo.connect(null, {port: "80800"})',
                # The test application, asked for with its own verb; the launcher answered in time.
                """(async () => { let waited = 0;
                     const c = await Zelvo.connect({port: %d}, {verb: "test", onWaiting: () => waited++});
                     c.send("hola"); const echo = await c.receive(); await c.close();
                     return [echo, [...document.querySelectorAll("iframe")].pop().src, waited]; })()"""
                % testing.port,
                # No launcher: the page hears after 2 s that it may have to accept the browser's question.
                """(async () => { let waited = 0;
                     const e = await Zelvo.connect({type: "windows", name: "vexa", port: %d},
                                                   {timeout: 4000, onWaiting: () => waited++}).catch((e) => e);
                     return [e.code, waited]; })()""" % nobody2,
                # The user refuses the site: the launcher ends, and the page hears it refused.
                "Zelvo.connect(null, {port: %d}).catch((e) => e.code)" % refusing.port,
                'Zelvo.connect(null, {port: 8765, verb: "set"})',
            ]
            browser = Chromium(tmp_path / "browser", "eval")
            (tmp_path / "browser" / "expressions.json").write_text(json.dumps(expressions))
            shown = browser.show(origin + "/index.html")
    assert "error" not in shown, shown
    (echo, refused, not_started, frame, url, bad_value, bad_port, test_verb, waiting, said_no,
     bad_verb) = shown["outcomes"]
    assert echo["value"] == ["hola recibido", ["closed", 1000]]
    assert (refused["error"], refused["code"]) == ("ZelvoError", "refused")
    assert refused["message"].startswith("El componente Zelvo no aceptó la conexión de esta página")
    assert not_started["code"] == "not-started"
    assert not_started["message"].startswith("No se pudo iniciar el componente Zelvo en este equipo")
    assert frame["value"] == url_of({"type": "windows", "name": "vexa", "port": str(nobody)})
    assert url["value"] == url_of({"type": "windows", "port": "8765", "use_ssl": "1", "nota": "año"})
    assert (bad_value["code"], bad_port["code"], bad_verb["code"]) == ("bad-request",) * 3
    assert "«type»" in bad_value["message"] and "«80800»" in bad_port["message"] and "«set»" in bad_verb["message"]
    assert test_verb["value"] == ["hola recibido", url_of({"port": str(testing.port)}, "test"), 0]
    assert waiting["value"] == ["not-started", 1]
    assert said_no["value"] == "refused"
    assert [c[0] for c in dialog.calls()] == ["consent"]
    code, _, _ = refusing.wait()
    assert code == 1


def test_the_readmes_page_of_ones_own_site_runs_the_test_application(serve, tmp_path):
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    pages = [p for p in re.findall(r"```html\n(.*?)```", readme, re.S) if "<title>Prueba del componente Zelvo</title>" in p]
    assert len(pages) == 1
    client = (ROOT / "html" / "zelvo.js").read_text(encoding="utf-8")
    with site(tmp_path / "site", {"index.html": PAGE, "zelvo.js": client}) as origin:
        testing = serve(echo_request(), allowedorigins=[origin])
        # The page as written, on the test's own port.
        (tmp_path / "site" / "index.html").write_text(pages[0].replace('"8765"', '"%d"' % testing.port))
        expressions = ["""new Promise((resolve) => {
            document.getElementById("probar").click();
            const waiting = ["Pulse", "Conectando", "Si el navegador"];
            const done = () => { const t = document.getElementById("estado").textContent;
                                 if (waiting.some((w) => t.startsWith(w))) setTimeout(done, 100); else resolve(t); };
            setTimeout(done, 100); })""", "Promise.resolve(document.querySelector('iframe').src)"]
        browser = Chromium(tmp_path / "browser", "eval")
        (tmp_path / "browser" / "expressions.json").write_text(json.dumps(expressions))
        shown = browser.show(origin + "/index.html")
    assert "error" not in shown, shown
    assert [o.get("value") for o in shown["outcomes"]] == ["Respuesta: hola recibido",
                                                          url_of({"port": str(testing.port)}, "test")]
    assert testing.wait()[0] == 0
