"""Which pages reach the hosted application: the launcher's own pages and the
listed sites at once, other sites after the user allows them in the consent
window (here a stand-in of zelvo-dialog), remembered when the user asks."""
import asyncio
import json
import os
import signal
import socket
import time
import urllib.request

import pytest
import websockets

from zelvo_harness import BUILD, SANITIZE, WAIT, free_port, request, wait_listening, write_registry

SITE = "https://tramites.example.gob"
BASEKEY = "SOFTWARE\\Zelvo\\"
DESCRIPTION = "el lector del DNI electrónico"
ECHO = request("run/", {"type": "windows", "name": "echo"})

# The stand-in writes what it was asked (and its pid) to a file and answers as
# the environment says, after an optional pause.
STANDIN = """#!/usr/bin/python3
import json, os, sys, time
if sys.argv[1:2] == ["consent"]:
    open(os.environ["CONSENT_RECORD"], "a").write(json.dumps({"pid": os.getpid(), "args": sys.argv[2:]}) + "\\n")
    time.sleep(float(os.environ.get("CONSENT_DELAY", "0")))
    sys.stdout.write(os.environ.get("CONSENT_OUTPUT", "0\\n"))
    sys.exit(int(os.environ.get("CONSENT_EXIT", "1")))
"""


@pytest.fixture
def site(launcher_factory, tmp_path):
    """Starts launchers sharing one folder (and remembered sites); returns (port, launcher)."""
    standin = tmp_path / "consent-standin"
    standin.write_text(STANDIN)
    standin.chmod(0o755)
    record = tmp_path / "asked.jsonl"
    registry = write_registry(tmp_path / "echo.reg", {BASEKEY + "echo": {
        "RuntimeLib": str(BUILD / "tests" / "fixtures" / "echo-plugin.so"), "Description": DESCRIPTION}})

    def start(exit=1, output="0\n", delay=0, allowed=("http://localhost",), argument=ECHO, idle=0):
        port = free_port()
        config = {"port": str(port), "idletimeout": str(idle), "basekey": BASEKEY, "allowedorigins": list(allowed)}
        env = {"ZELVO_DIALOG": str(standin), "CONSENT_RECORD": str(record), "CONSENT_EXIT": str(exit),
               "CONSENT_OUTPUT": output, "CONSENT_DELAY": str(delay)}
        launcher = launcher_factory(config, registry=registry, env=env)
        launcher.start(argument)
        assert wait_listening(port, launcher.proc)
        return port, launcher

    start.asked = lambda: [json.loads(l) for l in record.read_text().splitlines()] if record.exists() else []
    return start


def page(port, origin):
    """A page's WebSocket: the echo's answer to "hola", or the refusal's status."""
    async def go():
        try:
            async with websockets.connect("ws://localhost:%d/" % port, origin=origin, open_timeout=WAIT) as ws:
                await ws.send("hola")
                return await ws.recv()
        except websockets.exceptions.InvalidStatusCode as refused:
            return refused.status_code
    return asyncio.run(go())


def stop(launcher):
    os.kill(launcher.proc.pid, signal.SIGTERM)
    code, _, err = launcher.wait()
    assert code == 0, err
    return launcher.log_text()


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
        # The server waits on for another page; no application was started for this one.
        assert page(port, "http://localhost") == "hola"
    log = stop(launcher)
    if answer == 403:
        assert "No se permite el acceso de la aplicación web del sitio " + SITE in log

    port, launcher = site(exit=0, output="0\n")  # asked again, the user allows once
    assert page(port, SITE) == ("hola" if asked_again else answer)
    assert len(site.asked()) == (2 if asked_again else 1)
    stop(launcher)


@pytest.mark.parametrize("origin, listed, answer", [
    ("https://Tramites.example.gob:443", [SITE], "hola"),
    ("https://sede.example.gob", ["https://*.example.gob"], "hola"),
    ("null", ["null"], "hola"),
    ("null", [], 403),                            # never asked about
    ("http://sede.example.gob", ["https://*.example.gob"], 403),  # asked: the stand-in refuses
    ("http://localhost:{port}", [], "hola"),   # the launcher's own page
    ("http://127.0.0.1:{port}", [], "hola"),
])
def test_listed_sites_and_own_pages_need_no_question(site, origin, listed, answer):
    port, launcher = site(allowed=listed)
    origin = origin.format(port=port)
    assert page(port, origin) == answer
    asked = [a["args"][1] for a in site.asked()]
    assert asked == ([origin] if answer == 403 and origin != "null" else [])
    stop(launcher)


def test_the_server_goes_on_while_the_user_decides_and_a_stop_closes_the_window(site):
    port, launcher = site(delay=120, argument=request("test/", {"openbrowser": "0"}))
    sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
    sock.sendall(("GET / HTTP/1.1\r\nHost: localhost:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nOrigin: %s\r\n\r\n"
                  % (port, SITE)).encode())
    end = time.monotonic() + WAIT
    while not site.asked() and time.monotonic() < end:
        time.sleep(0.05)
    dialog = site.asked()[0]["pid"]
    assert site.asked()[0]["args"][3] == "la aplicación de prueba de Zelvo (eco)"
    assert urllib.request.urlopen("http://localhost:%d/test.html" % port, timeout=WAIT).status == 200
    assert page(port, "http://localhost") == 403  # one page at a time
    began = time.monotonic()
    os.kill(launcher.proc.pid, signal.SIGTERM)
    launcher.proc.stdin.write(b"\n")
    launcher.proc.stdin.flush()
    launcher.proc.wait(timeout=WAIT)
    assert time.monotonic() - began < (3.0 if SANITIZE else 1.0)  # the sanitizers' own work at exit
    assert launcher.proc.returncode == 0
    with pytest.raises(ProcessLookupError):
        os.kill(dialog, 0)
    sock.close()


def test_the_idle_time_out_waits_for_the_users_answer(site):
    port, launcher = site(exit=0, delay=2.5, idle=1000)
    assert page(port, SITE) == "hola"
    code, _, err = launcher.wait()
    assert code == 0, err
