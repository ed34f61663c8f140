"""Firefox ESR, which gives up on a WebSocket handshake after 20 s, on another site's page
using html/zelvo.js while the user takes 30 s in the consent window: the page keeps trying,
and the answer, given for the site, admits the try that follows it."""
import contextlib
import http.server
import json
import os
import shutil
import signal
import subprocess
import threading
import time
import urllib.parse

import pytest

from zelvo_harness import (BUILD, ROOT, StandIn, free_port, linux_only, request, wait_for, wait_listening,
                           write_registry)

pytestmark = [pytest.mark.skipif(shutil.which("firefox-esr") is None, reason="Firefox ESR is not installed"),
              linux_only("the browser run starts the Linux launcher")]

PAGE = """<!doctype html><meta charset="utf-8"><title>Trámites</title><script src="zelvo.js"></script>
<script>
const report = (what) => fetch("/informe?" + encodeURIComponent(JSON.stringify(what)));
Zelvo.connect(null, {port: %d}).then(async (c) => {
  c.send("hola");
  report({value: await c.receive()});
  await c.close();
}, (e) => report({error: e.code || String(e)}));
</script>
"""

PREFS = {
    "browser.shell.checkDefaultBrowser": False, "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False, "browser.aboutwelcome.enabled": False,
    "app.update.enabled": False, "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False, "browser.safebrowsing.update.enabled": False,
}


@contextlib.contextmanager
def reporting_site(pages):
    """A site on 127.0.0.1 serving `pages` and keeping what its pages report at /informe."""
    reports = []

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path, _, query = self.path.partition("?")
            if path == "/informe":
                reports.append(json.loads(urllib.parse.unquote(query)))
            body = pages.get(path, "").encode()
            self.send_response(200 if path in pages or path == "/informe" else 404)
            self.send_header("Content-Type", "text/javascript" if path.endswith(".js") else "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d" % server.server_address[1], reports
    finally:
        server.shutdown()
        server.server_close()


def test_the_page_connects_when_the_user_answers_after_firefox_gave_up(launcher_factory, tmp_path):
    port = free_port()
    dialog = StandIn(tmp_path / "dialog").answer("consent", 0, "0\n", delay=30)
    registry = write_registry(tmp_path / "echo.reg", {"SOFTWARE\\Zelvo\\echo": {
        "RuntimeLib": str(BUILD / "tests" / "fixtures" / "echo-plugin.so")}})
    client = (ROOT / "html" / "zelvo.js").read_text(encoding="utf-8")
    with reporting_site({"/": PAGE % port, "/zelvo.js": client}) as (origin, reports):
        launcher = launcher_factory({"port": str(port), "idletimeout": "0", "basekey": "SOFTWARE\\Zelvo\\",
                                     "allowedorigins": []}, registry=registry, env=dialog.env)
        launcher.start(request("run/", {"type": "windows", "name": "echo"}))
        assert wait_listening(port, launcher.proc)
        profile = tmp_path / "profile"
        profile.mkdir()
        (profile / "user.js").write_text("".join("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v))
                                                 for k, v in PREFS.items()))
        env = dict(os.environ, HOME=str(tmp_path), MOZ_HEADLESS="1", XDG_CACHE_HOME=str(tmp_path / "cache"))
        with open(tmp_path / "firefox.log", "wb") as log:
            firefox = subprocess.Popen(["firefox-esr", "--headless", "--no-remote", "--new-instance", "--profile",
                                        str(profile), origin + "/"], env=env, stdin=subprocess.DEVNULL,
                                       stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            assert wait_for(lambda: dialog.calls(), timeout=60), "the page's WebSocket never reached the launcher"
            asked = time.monotonic()
            assert wait_for(lambda: reports, timeout=120), (tmp_path / "firefox.log").read_text(errors="replace")
            answered_after = time.monotonic() - asked
        finally:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(firefox.pid, signal.SIGKILL)
            firefox.wait(timeout=30)
    assert reports == [{"value": "hola"}]
    assert answered_after >= 30
    assert [call[0] for call in dialog.calls()] == ["consent"]  # asked once, for the site
    code, _, err = launcher.wait()
    assert code == 0, err
    log = launcher.log_text()
    # Firefox had given up on its first socket (it keeps the connection open): that one was
    # refused at the answer, and the application started once, for the try that followed.
    answer = log.index("El usuario permitió el sitio " + origin)
    assert log.index("pudo dejar de esperar", answer) < log.index("Se aceptará la petición de conexión", answer)
    assert log.count("Comenzando ejecución de aplicación de usuario en un hilo") == 1
