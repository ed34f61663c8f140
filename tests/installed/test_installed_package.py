"""The installed Debian package, started the way a user starts it: a real browser under a
private Xvfb opens the README's example page on a local site, the test presses its button
with xdotool, the browser hands the zelvo: link to the desktop (Chromium through xdg-open,
Firefox ESR through GIO), the installed desktop entry starts /usr/lib/zelvo/launcher and the
page reads the simulated card; the page's text is read back by select all and copy.
tools/launcher_runs.py hears the launcher (a grandchild of the browser) from the kernel's
process connector. Run as root after `apt-get install ./zelvo_*.deb` (.ci/run does); the
configuration and Chromium policy it changes are put back. ZELVO_UPDATE_SCREENSHOTS=1
refreshes docs/installed-*.png."""
import contextlib
import http.server
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "virtual-card"))
sys.path.insert(0, str(ROOT / "tools"))

from launcher_runs import LauncherRuns  # noqa: E402
from pcsc_fixture import PrivatePcscd  # noqa: E402

APP = Path("/usr/lib/zelvo")
LAUNCHER = APP / "launcher"
CONFIG = Path("/etc/zelvo/application.config")
DOC = Path("/usr/share/doc/zelvo")
POLICY = Path("/etc/chromium/policies/managed/zelvo-installed-test.json")
TITLE = "Lectura de la tarjeta Vexa"
EXAMPLE_PORT = 8765  # the port the README's page asks for
# What the README's page shows when it is done, well or not.
ENDS = ("Lectura completada.", "No se pudo", "El componente Zelvo", "Se cerró la conexión", "Respuesta inesperada")
WAIT = 90.0

pytestmark = pytest.mark.skipif(not LAUNCHER.exists() or os.geteuid() != 0,
                                reason="necesita el paquete zelvo instalado y ejecutarse como root")


class Display:
    """A private Xvfb and the few things a person does on it."""

    def __init__(self, work):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1000x720x24", "-nolisten",
                                      "tcp"], pass_fds=[w], stdout=subprocess.DEVNULL,
                                     stderr=open(work / "xvfb.log", "wb"))
        os.close(w)
        with os.fdopen(r) as f:
            self.env = dict(os.environ, DISPLAY=":" + f.readline().strip())

    def run(self, *args):
        return subprocess.run(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=30).stdout.decode("utf-8", "replace")

    def wait(self, what, found, deadline):
        while time.monotonic() < deadline:
            value = what()
            if found(value):
                return value
            time.sleep(0.5)
        pytest.fail("no llegó a verse lo esperado; se veía: %r" % value)

    def page_text(self):
        """Select all and copy: the copy holds the page's text of this moment."""
        self.run("xdotool", "key", "--clearmodifiers", "ctrl+a", "ctrl+c")
        return self.run("xclip", "-o", "-selection", "clipboard")

    def screenshot(self, path):
        self.run("xdotool", "mousemove", "950", "680", "click", "1")  # clears the selection
        time.sleep(0.5)
        self.run("import", "-window", "root", str(path))

    def close(self):
        stop_group(self.proc)


def stop_group(proc):
    """Stops a process this test started, with its process group when it leads one."""
    group = os.getpgid(proc.pid) == proc.pid if proc.poll() is None else False
    for sig in (signal.SIGTERM, signal.SIGKILL):
        if proc.poll() is None:
            os.killpg(proc.pid, sig) if group else proc.send_signal(sig)
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(15)


def site_server(stack):
    """The maker's site: the README's example page at / and the installed zelvo.js."""
    pages = [page for page in re.findall(r"```html\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.S)
             if "<title>%s</title>" % TITLE in page]
    assert len(pages) == 1, "el README debe tener una sola página de ejemplo que lea la tarjeta"
    files = {"/": ("text/html", pages[0].encode()), "/zelvo.js": ("text/javascript", (DOC / "zelvo.js").read_bytes())}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            kind, body = files.get(self.path, ("text/plain", b"no encontrado"))
            self.send_response(200 if self.path in files else 404)
            self.send_header("Content-Type", kind + "; charset=utf-8")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stack.callback(server.server_close)
    stack.callback(server.shutdown)
    return "http://127.0.0.1:%d" % server.server_address[1]


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    """Site, simulated card, display and launcher watch; the site's origin allowed in the
    installed configuration and let open zelvo: links in Chromium, both undone afterwards."""
    work = tmp_path_factory.mktemp("installed")
    with socket.socket() as s:
        if s.connect_ex(("127.0.0.1", EXAMPLE_PORT)) == 0:
            pytest.fail("el puerto %d del ejemplo está ocupado" % EXAMPLE_PORT)
    with contextlib.ExitStack() as stack:
        origin = site_server(stack)
        original = CONFIG.read_bytes()
        stack.callback(CONFIG.write_bytes, original)
        config = json.loads(original)
        config["allowedorigins"] = list(config.get("allowedorigins") or []) + [origin]
        CONFIG.write_text(json.dumps(config, indent=2) + "\n", encoding="utf-8")
        for d in (POLICY.parent.parent, POLICY.parent):
            if not d.exists():
                d.mkdir()
                stack.callback(d.rmdir)
        stack.callback(POLICY.unlink, missing_ok=True)
        POLICY.write_text(json.dumps({"TranslateEnabled": False, "AutoLaunchProtocolsFromOrigins": [
            {"protocol": "zelvo", "allowed_origins": [origin]}]}))
        card = PrivatePcscd(workdir=work / "pcscd", keep=True)
        stack.callback(card.stop)
        card.start()
        display = stack.enter_context(contextlib.closing(Display(work)))
        marker = "ZELVO_INSTALLED_TEST=%s" % work
        watch = stack.enter_context(contextlib.closing(LauncherRuns(LAUNCHER, marker)))
        yield dict(work=work, origin=origin, card=card, display=display, watch=watch, marker=marker)


def test_the_package_registers_the_handler_and_keeps_its_configuration():
    desktop = Path("/usr/share/applications/zelvo-launcher.desktop")
    assert "x-scheme-handler/zelvo=zelvo-launcher.desktop;" in \
        Path("/usr/share/applications/mimeinfo.cache").read_text().splitlines()
    assert subprocess.run(["desktop-file-validate", str(desktop)]).returncode == 0
    conffiles = subprocess.run(["dpkg-query", "-W", "-f=${Conffiles}", "zelvo"], stdout=subprocess.PIPE,
                               text=True).stdout.split()
    assert {"/etc/zelvo/application.config", "/etc/zelvo/registry.d/zelvo.reg"} <= set(conffiles)
    # The user guide is opened in a browser: not compressed.
    assert [p.name for p in DOC.glob("ayuda.md*")] == ["ayuda.md"]
    assert json.loads(CONFIG.read_text())["allowedorigins"] == []
    assert '"Description"="la tarjeta de identidad Vexa' in Path("/etc/zelvo/registry.d/zelvo.reg").read_text()


FIREFOX_PREFS = {
    "browser.shell.checkDefaultBrowser": False, "datareporting.policy.dataSubmissionEnabled": False,
    # zelvo: links go to the system's handler without asking.
    "network.protocol-handler.external.zelvo": True, "network.protocol-handler.warn-external.zelvo": False,
    "security.external_protocol_requires_permission": False,
}


def chromium(profile, url):
    return ["chromium", "--no-sandbox", "--test-type", "--no-first-run", "--no-default-browser-check",
            "--disable-gpu", "--disable-quic", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--password-store=basic", "--user-data-dir=%s" % profile,
            "--window-position=0,0", "--window-size=1000,720", url]


def firefox(profile, url):
    profile.mkdir(parents=True)
    (profile / "user.js").write_text("".join("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v))
                                             for k, v in FIREFOX_PREFS.items()))
    # Action 4: the system's default application, and no question first.
    (profile / "handlers.json").write_text(json.dumps({"defaultHandlersVersion": {}, "mimeTypes": {},
                                                       "schemes": {"zelvo": {"action": 4, "ask": False}}}))
    return ["firefox-esr", "--no-remote", "--new-instance", "--profile", str(profile),
            "--width", "1000", "--height", "720", url]


@pytest.mark.parametrize("browser", [chromium, firefox], ids=["chromium", "firefox"])
def test_the_browser_reads_the_card_through_the_desktop_handler(world, browser):
    name, display = browser.__name__, world["display"]
    home = world["work"] / name
    # A fresh user, without any handler of zelvo: of its own: the installed entry is the one found.
    env = {k: v for k, v in display.env.items() if not k.startswith(("XDG_", "DBUS_", "ZELVO_", "BROWSER"))}
    for key, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                     ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "run")):
        (home / sub).mkdir(parents=True, mode=0o700)
        env[key] = str(home / sub)
    env.update([world["marker"].split("=", 1)], PCSCLITE_CSOCK_NAME=str(world["card"].socket), LANG="C.UTF-8")
    shot = world["work"] / ("installed-%s.png" % name)
    with open(world["work"] / (name + ".log"), "wb") as log:
        proc = subprocess.Popen(browser(home / "profile", world["origin"] + "/"), env=env, stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        deadline = time.monotonic() + WAIT
        window = display.wait(lambda: display.run("xdotool", "search", "--onlyvisible", "--name", TITLE).split(),
                              bool, deadline)
        display.run("xdotool", "windowfocus", "--sync", window[0])
        display.wait(display.page_text, lambda t: "Inserte la tarjeta" in t, deadline)
        time.sleep(2)  # the page gives its button the focus once it has been drawn
        display.run("xdotool", "key", "Return")
        text = display.wait(display.page_text, lambda t: any(end in t for end in ENDS), deadline)
        display.screenshot(shot)
        runs = world["watch"].finished(WAIT)
    finally:
        stop_group(proc)
    holder = world["card"].holder()["abi"]
    assert "Lectura completada." in text and "Titular: %(preNombres)s %(primerAp)s %(segundoAp)s" % holder in text
    assert [(cwd, code) for cwd, _, code in runs] == [("/etc/zelvo", 0)], runs
    # The log went to the user's own state folder; nothing was written beside the programs.
    assert len(list((home / "state" / "zelvo").glob("*.log"))) == 1
    owned = subprocess.run(["dpkg", "-L", "zelvo"], stdout=subprocess.PIPE, text=True).stdout.split()
    assert {str(p) for p in APP.rglob("*")} <= set(owned)
    if os.environ.get("ZELVO_UPDATE_SCREENSHOTS") == "1":
        shutil.copyfile(shot, ROOT / "docs" / shot.name)
