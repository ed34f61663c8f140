"""What the server answers to requests that are not a page of this user: other
Host names (DNS rebinding), connections of other local users, TLS
renegotiation; and the headers of its static answers."""
import os
import shutil
import subprocess

import pytest

from zelvo_harness import (WAIT, free_port, http_get, linux_only, make_certificate, raw_upgrade, request,
                           run_request, wait_listening)


def echo(launcher_factory, port):
    launcher = launcher_factory({"port": str(port), "idletimeout": "0"})
    launcher.start(request("test/", {"openbrowser": "0"}))
    assert wait_listening(port, launcher.proc)
    return launcher


@pytest.mark.parametrize("host, upgrade, status", [
    ("evil.test:{port}", False, 403),
    ("localhost.evil.test", True, 403),
    ("LOCALHOST:{port}", False, 200),
    ("[::1]:{port}", True, 101),
])
def test_only_loopback_names_are_served(launcher_factory, host, upgrade, status):
    port = free_port()
    launcher = echo(launcher_factory, port)
    host = host.format(port=port)
    got, headers, body = raw_upgrade(port, host=host) if upgrade else http_get(port, "/test.html", host=host)
    assert got == status
    if status == 403:
        assert headers["connection"] == "forbidden" and headers["content-length"] == "0" and body == b""
        launcher.terminate()
        assert launcher.wait()[0] == 0
        assert "Se rechaza una petición dirigida a \"%s\"" % host in launcher.log_text()


def test_static_answers_are_not_sniffed_cached_or_let_do_more_than_the_pages_need(launcher_factory):
    port = free_port()
    echo(launcher_factory, port)
    for target, status in (("/test.html", 200), ("/no-existe", 404), ("/", 200)):
        got, headers, _ = http_get(port, target)
        assert got == status
        assert headers["x-content-type-options"] == "nosniff"
        assert headers["cache-control"] == "no-store"
        assert headers["content-security-policy"] == (
            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self' "
            "ws://localhost:{0} wss://localhost:{0} ws://127.0.0.1:{0} wss://127.0.0.1:{0}; base-uri 'none'; "
            "form-action 'none'; frame-ancestors 'none'".format(port))


CLIENT = """import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
try:
    s.sendall(b"GET /test.html HTTP/1.1\\r\\nHost: localhost\\r\\n\\r\\n")
    print(len(s.recv(65536)))
except ConnectionResetError:
    print(0)
"""


@pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("setpriv"), reason="needs root to run a client as nobody")
@linux_only("Wine's TCP table names no owners; the Windows rule is tested on recorded rows (common's tests)")
def test_another_local_users_connection_is_closed_at_once(launcher_factory):
    port = free_port()
    launcher = echo(launcher_factory, port)
    run = lambda *prefix: subprocess.run([*prefix, "/usr/bin/python3", "-c", CLIENT, str(port)], capture_output=True,
                                         text=True, timeout=WAIT, cwd="/")
    nobody = run("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")
    assert nobody.stdout.strip() == "0", nobody.stderr
    assert int(run().stdout) > 0  # the same user is served
    launcher.terminate()
    assert launcher.wait()[0] == 0
    assert "Se cierra una conexión de otro usuario del equipo (uid %d)" % 65534 in launcher.log_text()


def test_tls_renegotiation_asked_by_the_client_is_refused(serve, tmp_path):
    pem, _ = make_certificate(tmp_path)
    port = serve(run_request(use_ssl="1"), plugin="echo-plugin.so", ssl={"enabled": "1", "certpath": str(pem)}).port
    # s_client renegotiates on a line holding just "R".
    client = subprocess.run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % port, "-tls1_2", "-servername",
                             "localhost"], input="R\n", capture_output=True, text=True, timeout=WAIT)
    assert "RENEGOTIATING" in client.stdout + client.stderr
    assert "no renegotiation" in client.stdout + client.stderr
