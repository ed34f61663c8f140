"""A browser gets only a plain web address; a dialog only its standard streams
(on Linux its descriptors 0, 1 and 2; on Windows no inherited handle beyond its
three standard ones, no socket among them)."""
import asyncio
import json

import pytest
import websockets

from zelvo_harness import (LIBRARY, STAGE, WAIT, WINDOWS, StandIn, free_port, host_path, request, wait_listening,
                           write_registry)

NAV = "SOFTWARE\\Clients\\StartMenuInternet\\nav"
PAGE = "https://tramites.example/cookies?a=1"
INVALID = "La dirección web que se pidió abrir no es válida."


def standin(tmp_path, keys):
    """Every dialog and the browser: records its arguments and what it inherited,
    picks "Navegador", cancels a PIN."""
    program = StandIn(tmp_path / "standin").answer("browser", 0, "Navegador\n0\n").answer("pin", 1)
    keys[NAV + "\\shell\\open\\command"] = {"@": '"%s" abrir %%u' % host_path(program.program)}
    return write_registry(tmp_path / "r.reg", dict(keys, **{NAV: {"@": "Navegador"}})), program


def only_standard_streams(record, started_by_shell=False):
    if WINDOWS:
        # What the shell starts (ShellExecuteW) gets, under Wine, handles for the
        # Unix streams Wine itself hands every new process: no socket among them.
        return record["sockets"] == 0 and (started_by_shell or record["handles"] == 0)
    return record["fds"] == ["0", "1", "2"]


@pytest.mark.parametrize("url", [PAGE, "--user-data-dir=/tmp/x", "javascript:alert(1)", "file:///etc/passwd",
                                 "https://a.example/a b", "http://a.example/\n--x", "http:///x", "ftp://a.example/"])
def test_publish_hands_a_browser_only_web_addresses(launcher_factory, tmp_path, url):
    registry, program = standin(tmp_path, {})
    l = launcher_factory(config={"port": "8443"}, registry=registry, env=program.env)
    code, _, err = l.run(request("set/", {"url": url}))
    if url == PAGE:
        records = program.records(2)
        assert code == 0 and records[1]["args"] == ["abrir", PAGE + "?eyJ6ZWx2b19wb3J0IjoiODQ0MyJ9"]
        assert only_standard_streams(records[0]) and only_standard_streams(records[1], started_by_shell=True), records
        return
    assert code == 1 and "Error en aplicación: " + INVALID in err
    if WINDOWS:  # the launcher's own box; the dialog program was asked for the browser only
        assert l.boxes == ["Error en aplicación"] and program.calls() == []
    else:
        assert program.calls(1) == [["message", "--icon", "error", "--title", "Error en aplicación", "--text", INVALID]]


def test_a_dialog_of_the_card_plugin_holds_only_the_standard_streams(launcher_factory, tmp_path):
    port = free_port()
    registry, program = standin(tmp_path, {"SOFTWARE\\Zelvo\\vexa": {"RuntimeLib": STAGE / "plugins" /
                                                                     ("vexa-tools" + LIBRARY)}})
    l = launcher_factory(config={"port": str(port), "basekey": "SOFTWARE\\Zelvo\\"}, registry=registry,
                         env=program.env)
    assert wait_listening(port, l.start(request("run/", {"type": "windows", "name": "vexa"})).proc)

    async def change_pin():
        async with websockets.connect("ws://localhost:%d/" % port, origin="http://localhost") as ws:
            await ws.send("changepin auth")
            return json.loads(await ws.recv())

    assert asyncio.run(asyncio.wait_for(change_pin(), WAIT))["body"]["code"] == "-1"
    records = program.records(1)
    assert [r["args"] for r in records] == [["pin", "--type", "auth"]] and only_standard_streams(records[0]), records
    assert l.wait()[0] == 0
