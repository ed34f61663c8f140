"""Which pages reach the hosted application: own pages and listed sites at once, others
after the user allows them in the consent window (a stand-in), remembered when asked; one
question a run, the answer holding for the site."""
import asyncio
import json
import os
import socket
import time
import urllib.request

import pytest
import websockets

from zelvo_harness import (BOX, SANITIZE, WAIT, WINDOWS, StandIn, fixture, free_port, linux_only, process_alive,
                           raw_upgrade, request, upgrade_head, wait_for, wait_listening, write_registry)

SITE = "https://tramites.example.gob"
BASEKEY = "SOFTWARE\\Zelvo\\"
DESCRIPTION = "el lector del DNI electrónico"
ECHO = request("run/", {"type": "windows", "name": "echo"})
PLUGIN = fixture("echo-plugin.so")

@pytest.fixture
def site(launcher_factory, tmp_path):
    """Starts launchers sharing one folder (and remembered sites) with a stand-in
    of the consent window; returns (port, launcher)."""
    dialog = StandIn(tmp_path / "consent-standin")
    keys = {
        BASEKEY + "echo": {"RuntimeLib": PLUGIN, "Description": DESCRIPTION},
        BASEKEY + "Vexa": {"RuntimeLib": PLUGIN},  # no Description: the window names the key
    }
    runs = []

    def start(exit=1, output="0\n", delay=0, allowed=("http://localhost",), argument=ECHO, idle=0, dialog_shown=True,
              sites=None, **config):
        """sites: the administrator's registry value "AllowedOrigins" under the base key."""
        machine = dict(keys, **({BASEKEY.rstrip("\\"): {"AllowedOrigins": sites}} if sites is not None else {}))
        registry = write_registry(tmp_path / ("echo%d.reg" % len(runs)), machine)
        port = free_port()
        config = dict({"port": str(port), "idletimeout": str(idle), "basekey": BASEKEY,
                       "allowedorigins": list(allowed)}, **config)
        dialog.answer("consent", exit, output, delay)
        launcher = launcher_factory(config, registry=registry, env=dialog.env if dialog_shown else {},
                                    name="w%d" % len(runs))
        # Every run shares the first run's configuration folder: the remembered answers.
        launcher.env["XDG_CONFIG_HOME"] = str(tmp_path / "config")
        runs.append(launcher)
        launcher.start(argument)
        assert wait_listening(port, launcher.proc)
        if start.remembered is None:
            start.remembered = launcher.config_dir() / "permisos.json"
        return port, launcher

    start.asked = lambda: [{"args": r["args"][1:], "pid": r["pid"]} for r in dialog.records()
                           if r["args"][:1] == ["consent"]]
    start.answered = dialog.answered
    start.remembered = None if WINDOWS else tmp_path / "config" / "zelvo" / "permisos.json"
    return start


def page(port, origin, timeout=WAIT):
    """A page's WebSocket: the echo's answer to "hola", or the refusal's status."""
    async def go():
        try:
            async with websockets.connect("ws://localhost:%d/" % port, origin=origin, open_timeout=timeout) as ws:
                await ws.send("hola")
                return await ws.recv()
        except websockets.exceptions.InvalidStatusCode as refused:
            return refused.status_code
    return asyncio.run(go())


def stop(launcher):
    launcher.terminate()
    code, _, err = launcher.wait()
    assert code == 0, err
    return launcher.log_text()


def end_time(launcher, timeout=WAIT):
    """When the process ended (the console build's closing prompt answered in advance)."""
    launcher.proc.stdin.write(b"\n")
    launcher.proc.stdin.flush()
    launcher.proc.wait(timeout=timeout)
    return time.time()


def refused_run(launcher):
    """The run a refusal ended: exit code 1, the record, and no message box."""
    code, _, err = launcher.wait()
    assert code == 1, err
    assert BOX not in err
    log = launcher.log_text()
    assert "Ejecución del servidor terminada: no se permitió el acceso del sitio" in log
    return log


# exit code and output of the consent window, what the page gets, and whether a
# second launch asks again
@pytest.mark.parametrize("exit, output, answer, asked_again", [
    (1, "0\n", 403, True),                   # refused
    (0, "0\n", "hola", True),                # allowed once
    (0, "1\n", "hola", False),               # allowed and remembered
    (1, "1\n", 403, False),                  # refused and remembered
    (0, "sí\n", 403, True),                  # a malformed answer refuses
    (5, "1\n", 403, True),                   # so does a crash
])
def test_the_users_answer_and_whether_it_is_remembered(site, exit, output, answer, asked_again):
    port, launcher = site(exit=exit, output=output)
    assert page(port, SITE) == answer
    assert [a["args"] for a in site.asked()] == [["--origin", SITE, "--application", DESCRIPTION]]
    if answer == 403:
        # A refusal ends the run at once: a page that tries again starts a launcher of its own.
        assert end_time(launcher) - site.answered()[0] < (5.0 if SANITIZE else 2.0)
        assert "No se permite el acceso de la aplicación web del sitio " + SITE in refused_run(launcher)
    else:
        stop(launcher)

    port, launcher = site(exit=0, output="0\n")  # asked again, the user allows once
    assert page(port, SITE) == ("hola" if asked_again else answer)
    assert len(site.asked()) == (2 if asked_again else 1)
    if asked_again or answer == "hola":
        stop(launcher)
    else:
        # The remembered refusal: 403 without a window, and the run ends as after the answer.
        assert "El usuario rechazó antes el sitio " + SITE in refused_run(launcher)


@pytest.mark.parametrize("origin, listed, answer", [
    ("https://Tramites.example.gob:443", [SITE], "hola"),
    ("https://sede.example.gob", ["https://*.example.gob"], "hola"),
    ("null", ["null"], "hola"),
    ("null", [], 403),                            # never asked about
    ("http://sede.example.gob", ["https://*.example.gob"], 403),  # asked: the stand-in refuses
    ("https://x.co.uk", ["https://*.co.uk"], 403),  # a wildcard over a public suffix is left out: asked
    ("http://localhost:{port}", [], "hola"),   # the launcher's own page
    ("http://127.0.0.1:{port}", [], "hola"),
])
def test_listed_sites_and_own_pages_need_no_question(site, origin, listed, answer):
    port, launcher = site(allowed=listed)
    origin = origin.format(port=port)
    assert page(port, origin) == answer
    asked = [a["args"][1] for a in site.asked()]
    assert asked == ([origin] if answer == 403 and origin != "null" else [])
    log = refused_run(launcher) if asked else stop(launcher)
    assert ('abarca el sufijo público co.uk' in log) == ("*.co.uk" in str(listed))


@pytest.mark.parametrize("origin, sites, answer", [
    (SITE, "https://otro.example.gob  " + SITE, "hola"),
    ("https://sede.example.gob", "\thttps://*.example.gob\t", "hola"),
    ("https://x.co.uk", "https://*.co.uk", 403),          # a wildcard over a public suffix is left out: asked
    (SITE, "tramites.example.gob https://*.gob " + SITE, "hola"),  # unreadable entries are left out, the rest count
    (SITE, "", 403),
])
def test_the_administrators_sites_in_the_registry_need_no_question(site, origin, sites, answer):
    port, launcher = site(allowed=[], sites=sites)
    assert page(port, origin) == answer
    assert [a["args"][1] for a in site.asked()] == ([origin] if answer == 403 else [])
    log = refused_run(launcher) if answer == 403 else stop(launcher)
    count = len(sites.split())
    assert "Sitios autorizados por el administrador en el registro (AllowedOrigins): %d" % count in log
    assert ("abarca el sufijo público co.uk" in log) == ("*.co.uk" in sites)
    for bad in ("tramites.example.gob", "https://*.gob"):
        assert ('El sitio "%s" de allowedorigins no es válido' % bad in log) == (bad in sites.split())


def test_the_server_goes_on_while_the_user_decides_and_a_stop_closes_the_window(site):
    port, launcher = site(delay=120, argument=request("test/", {"openbrowser": "0"}))
    sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
    sock.sendall(upgrade_head(port, ("Origin: " + SITE,)))
    assert wait_for(site.asked)
    dialog = site.asked()[0]["pid"]
    assert site.asked()[0]["args"][3] == "la aplicación de prueba de Zelvo (eco)"
    assert urllib.request.urlopen("http://localhost:%d/test.html" % port, timeout=WAIT).status == 200
    assert page(port, "http://localhost") == 403  # one page at a time
    assert page(port, "https://otro.example") == 403  # and one question
    began = time.time()
    launcher.terminate()
    # The sanitizers' own work at exit; Wine's process start for taskkill.
    assert end_time(launcher) - began < (3.0 if SANITIZE or WINDOWS else 1.0)
    assert launcher.proc.returncode == 0
    assert not process_alive(dialog)
    assert len(site.asked()) == 1
    sock.close()


def test_the_idle_time_out_waits_for_the_users_answer(site):
    port, launcher = site(exit=0, delay=4, idle=3000)
    assert page(port, SITE) == "hola"
    code, _, err = launcher.wait()
    assert code == 0, err


def test_an_unanswered_window_closes_after_a_minute_as_a_refusal_not_remembered(site):
    port, launcher = site(exit=0, output="1\n", delay=3600)
    sock = socket.create_connection(("127.0.0.1", port), timeout=120)
    sock.sendall(upgrade_head(port, ("Origin: " + SITE,)))
    assert wait_for(site.asked)
    asked = time.time()
    status = sock.recv(4096).split(b"\r\n")[0]  # the page waits with the window
    took = end_time(launcher, timeout=120) - asked
    assert status == b"HTTP/1.1 403 Forbidden"
    assert 59 <= took < 90, took
    assert not process_alive(site.asked()[0]["pid"])
    log = refused_run(launcher)
    assert "El diálogo de permiso no se respondió en 60 segundos" in log
    assert not site.remembered.exists()
    sock.close()


@pytest.mark.parametrize("closes", [True, False], ids=["closes-its-socket", "gives-up-keeping-it-open"])
def test_the_answer_is_for_the_site_when_its_page_left_meanwhile(site, closes):
    # The idle time-out passes while the user decides; the answer starts it again. A page
    # left waiting longer than a browser waits (Firefox keeps the connection open when it
    # gives up, after 20 s) is not trusted to be there.
    port, launcher = site(exit=0, delay=3 if closes else 11, idle=2000)
    first = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
    first.sendall(upgrade_head(port, ("Origin: " + SITE,)))
    assert wait_for(site.asked)
    if closes:
        first.close()  # the browser gave up on its socket
        assert wait_for(lambda: "ya no espera" in launcher.log_text())
    assert wait_for(lambda: "El usuario permitió el sitio " + SITE in launcher.log_text())
    if not closes:
        assert first.recv(4096).startswith(b"HTTP/1.1 403 ")
        first.close()
    # Another unlisted site is not asked about in this run; the allowed one connects.
    assert page(port, "https://otro.example") == 403
    assert page(port, SITE) == "hola"
    assert len(site.asked()) == 1
    code, _, err = launcher.wait()
    assert code == 0, err
    # One application, for the page that came back; none for the one that had left.
    assert launcher.log_text().count("Comenzando ejecución de aplicación de usuario en un hilo") == 1


@pytest.mark.parametrize("argument, box", [
    (request("run/", {"type": "windows", "name": "nada"}), "No se pueden obtener la ruta de la aplicación."),
    (request("run/", {"type": "java", "name": "nada"}), "No se encontró la clase para cargar la aplicación ()."),
], ids=["native", "java"])
def test_an_application_that_cannot_start_opens_no_window(site, argument, box):
    port, launcher = site(argument=argument)
    assert page(port, SITE) == 403
    code, _, err = launcher.wait()
    assert code == 1 and BOX + box in err
    assert site.asked() == []


def test_the_window_names_the_registry_key_and_a_refusal_holds_for_every_spelling(site):
    port, launcher = site(exit=1, output="1\n", argument=request("run/", {"type": "windows", "name": "VEXA"}))
    assert page(port, SITE) == 403
    assert site.asked()[0]["args"] == ["--origin", SITE, "--application", "Vexa"]
    refused_run(launcher)
    for name in ("vexa", "vexa\\", "VeXa\\\\"):
        port, launcher = site(exit=0, argument=request("run/", {"type": "windows", "name": name}))
        assert page(port, SITE) == 403, name
        assert "El usuario rechazó antes el sitio " + SITE in refused_run(launcher), name
    assert len(site.asked()) == 1
    assert json.loads(site.remembered.read_text())["sites"] == [
        {"origin": SITE, "application": "Vexa", "decision": "refuse"}]


@pytest.mark.parametrize("extra, status, asked", [
    # "Or" makes it a page's request; the site asked about is the one in "Origin".
    (("Or: http://localhost:{port}", "Origin: https://evil.example"), 403, "https://evil.example"),
    (("Or: http://localhost:{port}",), 403, None),         # no "Origin" itself: no window
    (("Origin: http://localhost:{port}", "origin: https://evil.example"), 400, None),
    (("Host: localhost:{port}", "Origin: http://localhost:{port}"), 400, None),  # a second Host
])
def test_the_site_is_the_one_the_origin_header_names(site, extra, status, asked):
    port, launcher = site()
    assert raw_upgrade(port, tuple(e.format(port=port) for e in extra))[0] == status
    if asked:
        assert [a["args"][1] for a in site.asked()] == [asked]
        refused_run(launcher)
    else:
        assert site.asked() == []
        assert page(port, "http://localhost") == "hola"  # the run goes on
        launcher.wait()


@linux_only("a FIFO in the file's place")
def test_a_fifo_as_the_remembered_file_holds_nothing_up(site):
    site.remembered.parent.mkdir(parents=True)
    os.mkfifo(site.remembered)  # nobody ever writes to it
    # Without a session to ask in, the site is refused at once and the server waits on.
    port, launcher = site(idle=3000, dialog_shown=False)
    assert page(port, SITE) == 403
    code, _, err = launcher.wait()  # the idle time-out ends the run
    assert code == 0, err
    log = launcher.log_text()
    assert "El archivo de sitios recordados no es un archivo válido" in log
    assert "Se terminó el tiempo de espera por inactividad" in log
