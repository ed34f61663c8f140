"""The self-check, publish and test modes through the real conlaunch, with a scripted dialog
program, stand-in browsers that record their arguments, and headless Chromium."""
import base64
import hashlib
import json
import os
import socket
import subprocess

import pytest

from zelvo_harness import (WAIT, WINDOWS, Chromium, StandIn, assert_box, chromium_missing, free_port, host_path,
                           linux_only, make_certificate, request, talk, write_registry)

STARTED = "¡Launcher iniciado correctamente!"
INVALID = "No se puede ejecutar la aplicación en un puerto no válido."
CLIENTS = "SOFTWARE\\Clients\\StartMenuInternet\\"
PUBLISH = "Publicar Propiedades - Zelvo"
TEST = "Probar Componente - Zelvo"


def check(**payload):
    return request("check/", payload)


# ---- self-check ----

def test_the_start_check_shows_its_box_through_the_dialog_program(launcher_factory, tmp_path):
    dialog = StandIn(tmp_path / "dialog")
    l = launcher_factory(config={}, env=dialog.env)
    code, _, err = l.run(check(type="otro"))
    assert code == 0
    assert_box(l, dialog, err, "info", " Zelvo", STARTED)
    assert "[SelfCheckRunnable::run@" in l.log_text()


FREE, BUSY = "Puerto %s se encuentra DISPONIBLE.", "El puerto %s no está disponible."


@pytest.mark.parametrize("port, text, icon", [
    *[(port, INVALID, "error") for port in ("81", "1023", "65535", "0", "-1", "x", 8080, None)],  # before any probe
    *[(port, None, None) for port in ("1024", "65534", "80", "443")],  # valid: probed, free or not
    ("free", FREE, "info"), ("busy", BUSY, "error"),
])
def test_the_port_check(launcher_factory, tmp_path, port, text, icon):
    dialog = StandIn(tmp_path / "dialog")
    l = launcher_factory(config={}, env=dialog.env)
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        port = {"free": str(free_port()), "busy": str(busy.getsockname()[1])}.get(port, port)
        code, _, err = l.run(check(**({"type": "port"} if port is None else {"type": "port", "port": port})))
    assert code == 0
    if text is None:
        assert FREE % port in err or BUSY % port in err
    else:
        assert_box(l, dialog, err, icon, " Zelvo", text if text == INVALID else text % port)
        assert (" ERROR [" in l.log_text()) == (icon == "error")


# ---- publish and test modes with a browser ----

class Desk:
    """A user's desktop for one test: its own applications folders, a dialog
    stand-in, a stand-in browser and a stand-in xdg-open on PATH."""

    def __init__(self, tmp_path):
        self.root = tmp_path / "desk"
        for folder in ("user/applications", "system/applications", "bin"):
            (self.root / folder).mkdir(parents=True)
        self.dialog = StandIn(self.root / "dialog" / "dialog-standin")
        self.browser = StandIn(self.root / "bin" / "mi-navegador")
        # The default handler: xdg-open, also under Wine (whose shell hands URLs to it).
        self.default = StandIn(self.root / "bin" / "xdg-open", linux=True)
        self.env = dict(self.dialog.env, XDG_DATA_HOME=str(self.root / "user"),
                        XDG_DATA_DIRS=str(self.root / "system"),
                        PATH=str(self.root / "bin") + ":" + os.environ.get("PATH", "/usr/bin:/bin"))

    def choose(self, name, secure=False):
        self.dialog.answer("browser", 0, "%s\n%d\n" % (name, 1 if secure else 0))

    def desktop_entry(self, file, name, exec_line, categories="Network;WebBrowser;", folder="user"):
        (self.root / folder / "applications" / file).write_text(
            "[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nCategories=%s\n" % (name, exec_line, categories),
            encoding="utf-8")

    def launcher(self, factory, config, browsers=()):
        """browsers: [(subkey, name or None, command or None)] in the registry."""
        keys = {}
        for sub, name, command in browsers:
            keys[CLIENTS + sub] = {"@": name} if name is not None else {"Otro": "x"}
            if command is not None:
                keys[CLIENTS + sub + "\\shell\\open\\command"] = {"@": command}
        return factory(config=config, registry=write_registry(self.root / "browsers.reg", keys), env=self.env)


def decoded_query(url):
    return json.loads(base64.b64decode(url.split("?")[-1]))


def test_publish_opens_the_page_with_the_properties_in_the_chosen_browser(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador")
    l = desk.launcher(launcher_factory, {"port": "8443", "ssl": {"enabled": "1"}},
                      [("Mi", "Mi navegador", '"%s" --nueva-ventana' % host_path(desk.browser.program))])
    code, _, err = l.run(request("set/", {"url": "https://ejemplo.test/cookies"}))
    assert code == 0, err
    assert desk.dialog.calls() == [["browser", "--title", PUBLISH, "--hide-secure", "--", "Mi navegador"]]
    expected = base64.b64encode(b'{"zelvo_port":"8443","zelvo_ssl_enabled":"1"}').decode()
    assert desk.browser.calls(1) == [["--nueva-ventana", "https://ejemplo.test/cookies?" + expected]]
    assert "Petición para publicar la información del aplicativo utilizando cookies" in l.log_text()


def test_a_url_with_quotes_and_shell_characters_arrives_as_one_argument(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador")
    l = desk.launcher(launcher_factory, {"port": "9000"}, [("Mi", "Mi navegador", host_path(desk.browser.program))])
    marker = tmp_path / "no-debe-existir"
    url = "http://x.test/a%%20b?c=\"d\"&e='f'$(touch${IFS}%s);`touch${IFS}%s`|cat>%s" % (marker, marker, marker)
    assert l.run(request("set/", {"url": url}))[0] == 0
    assert desk.browser.calls(1) == [[url + "?" + base64.b64encode(b'{"zelvo_port":"9000"}').decode()]]
    assert not marker.exists()


def test_publish_without_tls_a_numeric_port_and_the_default_browser(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Default browser")
    l = desk.launcher(launcher_factory, {"port": 8443, "ssl": {"enabled": "0"}},
                      [("Mi", "Mi navegador", host_path(desk.browser.program))])
    assert l.run(request("set/", {"url": "http://x.test/"}))[0] == 0
    (args,) = desk.default.calls(1)  # the default handler, xdg-open
    assert args[0].startswith("http://x.test/?") and decoded_query(args[0]) == {"zelvo_port": "0"}
    assert desk.browser.calls() == []


@pytest.mark.parametrize("verb, payload", [("set/", {"url": "http://x.test/"}), ("test/", {"openbrowser": "1"})])
def test_closing_the_browser_dialog_opens_nothing_and_starts_no_server(launcher_factory, tmp_path, verb, payload):
    desk = Desk(tmp_path)
    desk.dialog.answer("browser", 1, "")
    l = desk.launcher(launcher_factory, {"port": str(free_port()), "idletimeout": "0"},
                      [("Mi", "Mi navegador", host_path(desk.browser.program))])
    assert l.run(request(verb, payload))[0] == 0
    assert desk.browser.calls() == [] and desk.default.calls() == []
    assert "Iniciando la ejecución del servidor" not in l.log_text()


def test_a_dialog_that_cannot_be_shown_gives_its_box(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.dialog.answer("browser", 3, "")
    l = desk.launcher(launcher_factory, {"port": "9000"})
    code, _, err = l.run(request("set/", {"url": "http://x.test/"}))
    assert code == 0
    assert_box(l, desk.dialog, err, "warning", "Error", "No se puede iniciar la aplicación")


@linux_only("the desktop entries; on Windows browsers register only in the registry")
def test_the_browser_list_comes_from_the_registry_then_the_desktop_entries(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.desktop_entry("zorro.desktop", "Zorro", '"%s" --perfil "a b" %%U' % desk.browser.program)
    desk.desktop_entry("editor.desktop", "Editor", "/bin/false %u", categories="Utility;")
    desk.desktop_entry("sistema.desktop", "Del sistema", "/bin/false %u", folder="system")
    desk.desktop_entry("zorro.desktop", "Zorro viejo", "/bin/false %u", folder="system")
    desk.choose("Zorro")
    l = desk.launcher(launcher_factory, {"port": "9000"}, [
        ("b", "Beta", "/bin/false"), ("sin-orden", "Sin orden", None), ("sin-nombre", None, "/bin/false"),
        ("largo", "Largo", "/" + "l" * 1100), ("dup", "Beta", "/bin/true"), ("-x", "--hide-secure", "/bin/false"),
    ])
    assert l.run(request("set/", {"url": "http://x.test/"}))[0] == 0
    (call,) = desk.dialog.calls()
    assert call[:5] == ["browser", "--title", PUBLISH, "--hide-secure", "--"]
    assert sorted(call[5:8]) == ["--hide-secure", "Beta", "Beta"] and call[8:] == ["Zorro", "Del sistema"]
    (args,) = desk.browser.calls(1)
    assert args[:2] == ["--perfil", "a b"] and args[2].startswith("http://x.test/?")


def test_mode_opens_the_test_page_and_serves_it(launcher_factory, tmp_path):
    desk = Desk(tmp_path)
    desk.choose("Mi navegador", secure=True)  # TLS is not configured: plain anyway
    port = free_port()
    l = desk.launcher(launcher_factory, {"port": str(port), "idletimeout": "0"},
                      [("Mi", "Mi navegador", '"%s" %%u' % host_path(desk.browser.program))])
    l.start(request("test/", {"openbrowser": "true", "idletimeout": "60000"}))
    ((url,),) = desk.browser.calls(1)
    assert url.startswith("http://localhost:%d/test.html?" % port)
    assert decoded_query(url) == {"idletimeout": "60000", "port": str(port), "use_ssl": ""}
    assert desk.dialog.calls() == [["browser", "--title", TEST, "--", "Mi navegador"]]
    assert talk(port, "hola") == ["hola recibido"]
    log = l.ended()
    assert "Abriendo navegador" in log and "La opcion use_ssl es 1" in log


# ---- headless Chromium, chosen in the dialog, runs the test page ----

def spki_hash(cert):
    pub = subprocess.run(["openssl", "x509", "-in", str(cert), "-pubkey", "-noout"], check=True,
                         stdout=subprocess.PIPE, timeout=60).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=pub, check=True,
                         stdout=subprocess.PIPE, timeout=60).stdout
    return base64.b64encode(hashlib.sha256(der).digest()).decode()


@pytest.mark.skipif(chromium_missing() is not None, reason=str(chromium_missing()))
@linux_only("a Linux browser as the chosen browser's command")
@pytest.mark.parametrize("ticked", [True, False])
def test_headless_chromium_chosen_in_the_dialog_runs_the_test_page(launcher_factory, tmp_path, ticked):
    """With TLS configured, the dialog's secure box decides between https/wss and http/ws."""
    pem, cert = make_certificate(tmp_path)
    desk = Desk(tmp_path)
    desk.choose("Chromium de prueba", secure=ticked)
    port = free_port()
    browser = Chromium(tmp_path / "browser", "test", spki_hash(cert) if ticked else "-")
    l = desk.launcher(launcher_factory, {"port": str(port), "idletimeout": str(int(WAIT * 3000)),
                                         "ssl": {"enabled": "1", "certpath": str(pem)}},
                      [("chromium", "Chromium de prueba", browser.command())])
    l.start(request("test/", {"openbrowser": "true"}))
    try:
        code, _, err = l.wait(timeout=WAIT * 6)
    finally:
        shown = browser.shown()
    assert "error" not in shown, shown
    assert shown["url"].startswith(("https" if ticked else "http") + "://localhost:%d/test.html?" % port)
    assert decoded_query(shown["url"])["use_ssl"] == ("1" if ticked else "")
    assert shown["websocket"] == "%s://localhost:%d/" % ("wss" if ticked else "ws", port)
    assert shown["answers"] == ["hola recibido", "Binario recibido: 11 bytes"]
    # The page's own button closes the connection: the launcher ends well.
    assert shown["final"] == "Conexión cerrada" and code == 0, err
    assert "Cerrando conexión websocket a petición de la aplicación web" in l.log_text()
