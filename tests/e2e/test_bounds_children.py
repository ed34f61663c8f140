"""A browser gets only a plain web address; a dialog only its standard streams."""
import asyncio
import json
import time

import pytest
import websockets

from zelvo_harness import STAGE, WAIT, free_port, request, wait_listening, write_registry

# Every dialog and the browser: records its arguments and open descriptors,
# picks "Navegador", cancels a PIN.
STANDIN = """#!/usr/bin/python3
import json, os, sys
fds = sorted(fd for fd in os.listdir("/proc/self/fd") if os.path.exists("/proc/self/fd/" + fd))
open(os.environ["STANDIN_LOG"], "a").write(json.dumps([sys.argv[1:], fds]) + "\\n")
print("Navegador\\n0" if sys.argv[1] == "browser" else "")
sys.exit(1 if sys.argv[1] == "pin" else 0)
"""
NAV = "SOFTWARE\\Clients\\StartMenuInternet\\nav"
PAGE = "https://tramites.example/cookies?a=1"


def standin(tmp_path, keys):
    (tmp_path / "standin").write_text(STANDIN)
    (tmp_path / "standin").chmod(0o755)
    env = {"ZELVO_DIALOG": str(tmp_path / "standin"), "STANDIN_LOG": str(tmp_path / "calls")}
    keys[NAV + "\\shell\\open\\command"] = {"@": env["ZELVO_DIALOG"] + " abrir %u"}
    return write_registry(tmp_path / "r.reg", dict(keys, **{NAV: {"@": "Navegador"}})), env


def calls(tmp_path, count):
    deadline = time.monotonic() + WAIT  # a browser is not waited for
    while len((tmp_path / "calls").read_text().splitlines()) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    return [json.loads(line) for line in (tmp_path / "calls").read_text().splitlines()]


@pytest.mark.parametrize("url", [PAGE, "--user-data-dir=/tmp/x", "javascript:alert(1)", "file:///etc/passwd",
                                 "https://a.example/a b", "http://a.example/\n--x", "http:///x", "ftp://a.example/"])
def test_publish_hands_a_browser_only_web_addresses(launcher_factory, tmp_path, url):
    registry, env = standin(tmp_path, {})
    code, _, _ = launcher_factory(config={"port": "8443"}, registry=registry, env=env).run(request("set/", {"url": url}))
    if url == PAGE:
        assert code == 0 and calls(tmp_path, 2)[1][0] == ["abrir", PAGE + "?eyJ6ZWx2b19wb3J0IjoiODQ0MyJ9"]
    else:
        assert (code, calls(tmp_path, 1)) == (1, [[["message", "--icon", "error", "--title", "Error en aplicación",
                                                    "--text", "La dirección web que se pidió abrir no es válida."], ["0", "1", "2"]]])


def test_a_dialog_of_the_card_plugin_holds_only_the_standard_streams(launcher_factory, tmp_path):
    port = free_port()
    registry, env = standin(tmp_path, {"SOFTWARE\\Zelvo\\vexa": {"RuntimeLib": str(STAGE / "plugins" / "vexa-tools.so")}})
    l = launcher_factory(config={"port": str(port), "basekey": "SOFTWARE\\Zelvo\\"}, registry=registry, env=env)
    assert wait_listening(port, l.start(request("run/", {"type": "windows", "name": "vexa"})).proc)

    async def change_pin():
        async with websockets.connect("ws://localhost:%d/" % port, origin="http://localhost") as ws:
            await ws.send("changepin auth")
            return json.loads(await ws.recv())

    assert asyncio.run(asyncio.wait_for(change_pin(), WAIT))["body"]["code"] == "-1"
    assert calls(tmp_path, 1) == [[["pin", "--type", "auth"], ["0", "1", "2"]]]
    assert l.wait()[0] == 0
