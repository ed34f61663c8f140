"""The browser modes through the real conlaunch: the browser list handed to the
dialog program (a scripted stand-in here), publish mode ("set/") and test mode
with a browser, each opening its URL with a stand-in browser that records its
arguments. No real browser and no shell are involved."""
import base64
import hashlib
import json
import os
import shutil
import signal
import ssl
import subprocess
from pathlib import Path

import pytest

from launcher_support import BrowserStandIn, DialogStandIn, connect, run_async, wait_for
from zelvo_harness import STAGE, WAIT, free_port, request, write_registry

CLIENTS = "SOFTWARE\\Clients\\StartMenuInternet\\"
PUBLISH = "Publicar Propiedades - Zelvo"
TEST = "Probar Componente - Zelvo"


def browsers_registry(path, browsers):
    """browsers: [(subkey, name or None, command or None)]"""
    keys = {}
    for sub, name, command in browsers:
        keys[CLIENTS + sub] = {"@": name} if name is not None else {"Otro": "x"}
        if command is not None:
            keys[CLIENTS + sub + "\\shell\\open\\command"] = {"@": command}
    return write_registry(path, keys)


class Desk:
    """A user's desktop for one test: its own applications folders, a dialog
    stand-in, a stand-in browser and a stand-in xdg-open on PATH."""

    def __init__(self, tmp_path):
        self.root = tmp_path / "desk"
        (self.root / "user" / "applications").mkdir(parents=True)
        (self.root / "system" / "applications").mkdir(parents=True)
        (self.root / "bin").mkdir()
        self.dialog = DialogStandIn(self.root / "dialog")
        self.browser = BrowserStandIn(self.root / "bin" / "mi-navegador")
        self.default = BrowserStandIn(self.root / "bin" / "xdg-open")
        self.desktop = {"XDG_DATA_HOME": str(self.root / "user"), "XDG_DATA_DIRS": str(self.root / "system"),
                        "PATH": str(self.root / "bin") + ":" + os.environ.get("PATH", "/usr/bin:/bin")}

    @property
    def env(self):
        """The launcher's environment; read after the dialog's answers are set."""
        return dict(self.dialog.env, **self.desktop)

    def choose(self, name, secure=False):
        self.dialog.answer("browser", 0, "%s\n%d\n" % (name, 1 if secure else 0))

    def desktop_entry(self, file, name, exec_line, categories="Network;WebBrowser;", folder="user"):
        (self.root / folder / "applications" / file).write_text(
            "[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nCategories=%s\n" % (name, exec_line, categories),
            encoding="utf-8")


def decoded_query(url):
    return json.loads(base64.b64decode(url.split("?")[-1]))


def launcher_with(launcher_factory, tmp_path, desk, config, browsers=()):
    reg = browsers_registry(tmp_path / "browsers.reg", browsers)
    return launcher_factory(config=config, registry=reg, env=desk.env)


# ---- publish mode ----

def test_publish_opens_the_page_with_the_properties_in_the_chosen_browser(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": "8443", "ssl": {"enabled": "1"}},
                      [("Mi", "Mi navegador", '"%s" --nueva-ventana' % desk.browser.program)])
    code, _, err = l.run(request("set/", {"url": "https://ejemplo.test/cookies"}))
    assert code == 0, err
    assert desk.dialog.calls() == [["browser", "--title", PUBLISH, "--hide-secure", "--", "Mi navegador"]]
    (args,) = desk.browser.calls()
    expected = base64.b64encode(b'{"zelvo_port":"8443","zelvo_ssl_enabled":"1"}').decode()
    assert args == ["--nueva-ventana", "https://ejemplo.test/cookies?" + expected]
    assert "Petición para publicar la información del aplicativo utilizando cookies" in l.log_text()


def test_a_url_with_quotes_and_shell_characters_arrives_as_one_argument(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": "9000"},
                      [("Mi", "Mi navegador", str(desk.browser.program))])
    marker = tmp_path / "no-debe-existir"
    url = "http://x.test/a%%20b?c=\"d\"&e='f'$(touch${IFS}%s);`touch${IFS}%s`|cat>%s" % (marker, marker, marker)
    code, _, err = l.run(request("set/", {"url": url}))
    assert code == 0, err
    (args,) = desk.browser.calls()
    assert args == [url + "?" + base64.b64encode(b'{"zelvo_port":"9000"}').decode()]
    assert not marker.exists()


def test_publish_without_tls_a_numeric_port_and_the_default_browser(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Default browser")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": 8443, "ssl": {"enabled": "0"}},
                      [("Mi", "Mi navegador", str(desk.browser.program))])
    code, _, err = l.run(request("set/", {"url": "http://x.test/"}))
    assert code == 0, err
    (args,) = desk.default.calls()  # the default handler, xdg-open
    assert args[0].startswith("http://x.test/?") and decoded_query(args[0]) == {"zelvo_port": "0"}
    assert not desk.browser.record.exists()


def test_closing_the_dialog_opens_nothing(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.dialog.answer("browser", 1, "")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": "9000"},
                      [("Mi", "Mi navegador", str(desk.browser.program))])
    assert l.run(request("set/", {"url": "http://x.test/"}))[0] == 0
    assert not desk.browser.record.exists() and not desk.default.record.exists()


def test_a_dialog_that_cannot_be_shown_gives_its_box(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.dialog.answer("browser", 3, "")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": "9000"})
    code, _, err = l.run(request("set/", {"url": "http://x.test/"}))
    assert code == 0
    assert "Error: No se puede iniciar la aplicación" in err
    assert desk.dialog.calls()[-1] == ["message", "--icon", "warning", "--title", "Error", "--text",
                                       "No se puede iniciar la aplicación"]


def test_the_browser_list_comes_from_the_registry_then_the_desktop_entries(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.desktop_entry("zorro.desktop", "Zorro", '"%s" --perfil "a b" %%U' % desk.browser.program)
    desk.desktop_entry("editor.desktop", "Editor", "/bin/false %u", categories="Utility;")
    desk.desktop_entry("sistema.desktop", "Del sistema", "/bin/false %u", folder="system")
    desk.desktop_entry("zorro.desktop", "Zorro viejo", "/bin/false %u", folder="system")
    desk.choose("Zorro")
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": "9000"}, [
        ("b", "Beta", "/bin/false"),
        ("sin-orden", "Sin orden", None),
        ("sin-nombre", None, "/bin/false"),
        ("largo", "Largo", "/" + "l" * 1100),
        ("dup", "Beta", "/bin/true"),
        ("-x", "--hide-secure", "/bin/false"),
    ])
    assert l.run(request("set/", {"url": "http://x.test/"}))[0] == 0
    (call,) = desk.dialog.calls()
    assert call[:5] == ["browser", "--title", PUBLISH, "--hide-secure", "--"]
    names = call[5:]
    assert sorted(names[:3]) == ["--hide-secure", "Beta", "Beta"] and names[3:] == ["Zorro", "Del sistema"]
    (args,) = desk.browser.calls()
    assert args[:2] == ["--perfil", "a b"] and args[2].startswith("http://x.test/?")


# ---- test mode with a browser ----

def test_mode_opens_the_test_page_and_serves_it(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador", secure=True)  # TLS is not configured: plain anyway
    port = free_port()
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": str(port), "idletimeout": "0"},
                      [("Mi", "Mi navegador", str(desk.browser.program) + " %u")])
    l.start(request("test/", {"openbrowser": "true", "idletimeout": "60000"}))
    (args,) = desk.browser.calls()
    assert len(args) == 1
    url = args[0]
    assert url.startswith("http://localhost:%d/test.html?" % port)
    assert decoded_query(url) == {"idletimeout": "60000", "port": str(port), "use_ssl": ""}
    assert desk.dialog.calls() == [["browser", "--title", TEST, "--", "Mi navegador"]]

    async def page():
        async with connect(port) as ws:
            await ws.send("hola")
            assert await ws.recv() == "hola recibido"
    run_async(page())
    code, _, err = l.wait()
    assert code == 0, err
    log = l.log_text()
    assert "Abriendo navegador" in log and "La opcion use_ssl es 1" in log


def test_closing_the_dialog_starts_no_server(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.dialog.answer("browser", 1, "")
    port = free_port()
    l = launcher_with(launcher_factory, tmp_path, desk, {"port": str(port), "idletimeout": "0"})
    code, _, err = l.run(request("test/", {"openbrowser": "1"}))
    assert code == 0, err
    assert "Iniciando la ejecución del servidor" not in l.log_text()
    assert not desk.default.record.exists()


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cert")
    key, cert = folder / "key.pem", folder / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out",
                    str(cert), "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    pem = folder / "server.pem"
    pem.write_bytes(cert.read_bytes() + key.read_bytes())
    return pem, cert


@pytest.mark.parametrize("ticked", [True, False])
def test_with_tls_configured_the_secure_box_decides(launcher_factory, tmp_path, certificate, ticked):
    pem, cert = certificate
    desk = Desk(tmp_path)
    desk.choose("Default browser", secure=ticked)
    port = free_port()
    l = launcher_with(launcher_factory, tmp_path, desk, {
        "port": str(port), "idletimeout": "0", "ssl": {"enabled": "1", "certpath": str(pem)}})
    l.start(request("test/", {"openbrowser": "true"}))
    (args,) = desk.default.calls()
    scheme = "https" if ticked else "http"
    assert args[0].startswith("%s://localhost:%d/test.html?" % (scheme, port))
    assert decoded_query(args[0])["use_ssl"] == ("1" if ticked else "")
    context = None
    if ticked:
        context = ssl.create_default_context(cafile=str(cert))

    async def page():
        async with connect(port, tls=ticked, ssl_context=context) as ws:
            await ws.send(b"\x00" * 7)
            assert await ws.recv() == "Binario recibido: 7 bytes"
    run_async(page())
    code, _, err = l.wait()
    assert code == 0, err


# ---- test mode with headless Chromium as the chosen browser ----

HERE = Path(__file__).resolve().parent
PAGE_DRIVER = HERE / "launcher_page_browser.js"


def chromium_missing():
    if not Path("/usr/bin/chromium").exists() or shutil.which("node") is None:
        return "Chromium or node is not installed"
    if not (HERE / "node_modules" / "playwright-core").is_dir():
        return "playwright-core is not installed (./dev installs it)"
    if not (STAGE / "html" / "test.html").exists():
        return "the test page is not staged"
    return None


def spki_hash(cert):
    pub = subprocess.run(["openssl", "x509", "-in", str(cert), "-pubkey", "-noout"], check=True,
                         stdout=subprocess.PIPE, timeout=60).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=pub, check=True,
                         stdout=subprocess.PIPE, timeout=60).stdout
    return base64.b64encode(hashlib.sha256(der).digest()).decode()


def stop_pids(pid_file):
    if not pid_file.exists():
        return
    for word in pid_file.read_text().split():
        try:
            os.kill(int(word), signal.SIGKILL)
        except (ProcessLookupError, ValueError):
            pass


@pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing()))
@pytest.mark.parametrize("ticked", [True, False])
def test_headless_chromium_chosen_in_the_dialog_runs_the_test_page(launcher_factory, tmp_path, certificate, ticked):
    pem, cert = certificate
    desk = Desk(tmp_path)
    desk.choose("Chromium de prueba", secure=ticked)
    port = free_port()
    result, pids = tmp_path / "result.json", tmp_path / "browser.pids"
    wait_ms = int(WAIT * 3000)
    command = '"/usr/bin/node" "%s" "%s" "%s" "%s" "%s" %d %%u' % (
        PAGE_DRIVER, result, tmp_path / "profile", pids, spki_hash(cert) if ticked else "-", wait_ms)
    l = launcher_with(launcher_factory, tmp_path, desk, {
        "port": str(port), "idletimeout": str(wait_ms), "ssl": {"enabled": "1", "certpath": str(pem)}},
        [("chromium", "Chromium de prueba", command)])
    try:
        l.start(request("test/", {"openbrowser": "true"}))
        code, _, err = l.wait(timeout=WAIT * 6)
        assert wait_for(result.exists, timeout=WAIT * 3)
    finally:
        stop_pids(pids)
    shown = json.loads(result.read_text())
    assert "error" not in shown, shown
    scheme = "wss" if ticked else "ws"
    assert shown["url"].startswith(("https" if ticked else "http") + "://localhost:%d/test.html?" % port)
    assert shown["websocket"] == "%s://localhost:%d/" % (scheme, port)
    assert shown["answers"] == ["hola recibido", "Binario recibido: 11 bytes"]
    assert code == 0, err
