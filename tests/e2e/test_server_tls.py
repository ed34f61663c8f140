"""TLS from one PEM file (certificate and key), with a plain key or one that
"certpass" unlocks; TLS only when both the configuration and the request ask.
The echo plug-in serves: test mode without a browser never asks for TLS."""
import socket
import ssl

import pytest

from server_support import (BOX, config, connect, free_port, make_certificate, plugin_registry, plugin_request,
                            run_async, start)

CERT_ERROR = ("No se pudo crear un servidor con una conexión segura. El certificado SSL es incorrecto o no se "
              "puede acceder a su contenido.")


def tls_config(port, pem, password=""):
    return config(port, ssl={"enabled": "1", "certpath": str(pem), "certpass": password})


def tls_launcher(launcher_factory, tmp_path, port, pem, password="", name="w"):
    return launcher_factory(tls_config(port, pem, password), registry=plugin_registry(tmp_path), name=name)


def client_context(cert):
    context = ssl.create_default_context(cafile=str(cert))
    return context


def echo_over(port, context):
    async def page():
        async with connect(port, ssl_context=context) as ws:
            await ws.send("hola")
            first = await ws.recv()
            await ws.send(b"\x00" * 70000)
            second = await ws.recv()
            await ws.send("__close")
            return first, second
    return run_async(page())


def https_get(port, context, target="/test.html"):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as raw:
        with context.wrap_socket(raw, server_hostname="localhost") as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % target).encode())
            data = b""
            while True:
                try:
                    chunk = s.recv(65536)
                except (ssl.SSLError, ConnectionResetError):
                    break
                if not chunk:
                    break
                data += chunk
            return data


@pytest.mark.parametrize("password", [None, "clave secreta"])
def test_pages_and_websocket_over_tls(launcher_factory, tmp_path, password):
    pem, cert = make_certificate(tmp_path, password)
    port = free_port()
    launcher = start(tls_launcher(launcher_factory, tmp_path, port, pem, password or ""), plugin_request(use_ssl="1"),
                     port)
    context = client_context(cert)
    answer = https_get(port, context)
    assert answer.startswith(b"HTTP/1.1 200") and b"test.js" in answer
    assert echo_over(port, context) == ("hola", b"\x00" * 70000)
    code, _, err = launcher.wait()
    assert code == 0, err
    assert "Se iniciará el servidor con soporte para ssl" in launcher.log_text()
    if password:
        assert password not in launcher.log_text()


def test_a_wrong_password_or_a_missing_file_is_the_certificate_error(launcher_factory, tmp_path):
    pem, _ = make_certificate(tmp_path, "buena")
    for name, (path, password) in {"wrong": (pem, "mala"), "missing": (tmp_path / "no-existe.pem", ""),
                                   "empty": (tmp_path / "vacio.pem", "")}.items():
        (tmp_path / "vacio.pem").write_bytes(b"")
        port = free_port()
        launcher = tls_launcher(launcher_factory, tmp_path, port, path, password, name=name)
        code, _, err = launcher.run(plugin_request(use_ssl="1"))
        assert code == 1
        assert BOX + CERT_ERROR in err, name
        assert "Error cargando certificado. " in launcher.log_text()


def test_tls_needs_both_the_configuration_and_the_request(launcher_factory, tmp_path):
    pem, _ = make_certificate(tmp_path)
    port = free_port()
    # Configured, but the request does not ask for it: plain WebSocket.
    launcher = start(tls_launcher(launcher_factory, tmp_path, port, pem), plugin_request(use_ssl="0"), port)
    assert echo_over(port, None) == ("hola", b"\x00" * 70000)
    assert launcher.wait()[0] == 0
    assert "Se iniciará el servidor con soporte para ssl" not in launcher.log_text()


def test_a_plain_client_on_a_tls_server_does_not_disturb_it(launcher_factory, tmp_path):
    pem, cert = make_certificate(tmp_path)
    port = free_port()
    launcher = start(tls_launcher(launcher_factory, tmp_path, port, pem), plugin_request(use_ssl="1"), port)
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        s.settimeout(20)
        try:
            assert not s.recv(4096).startswith(b"HTTP/1.1 200")
        except (ConnectionResetError, TimeoutError):
            pass
    assert echo_over(port, client_context(cert))[0] == "hola"
    assert launcher.wait()[0] == 0
