"""TLS from one PEM file (certificate and key), with a plain key or one that
"certpass" unlocks; TLS only when both the configuration and the request ask.
The echo plug-in serves: test mode without a browser never asks for TLS."""
import socket
import ssl

import pytest

from zelvo_harness import BOX, free_port, make_certificate, raw_http, read_all, run_request, server_config, talk

CERT_ERROR = ("No se pudo crear un servidor con una conexión segura. El certificado SSL es incorrecto o no se "
              "puede acceder a su contenido.")
TLS_LOG = "Se iniciará el servidor con soporte para ssl"


def tls(pem, password=""):
    return {"ssl": {"enabled": "1", "certpath": str(pem), "certpass": password}}


def echoes(port, context=None):
    return talk(port, "hola", b"\x00" * 70000, ssl_context=context) == ["hola", b"\x00" * 70000]


@pytest.mark.parametrize("password", [None, "clave secreta"])
def test_pages_and_websocket_over_tls_and_a_plain_client_does_not_disturb_it(serve, tmp_path, password):
    pem, cert = make_certificate(tmp_path, password)
    l = serve(run_request(use_ssl="1"), plugin="echo-plugin.so", **tls(pem, password or ""))
    try:  # a plain client first: it gets no page and does not disturb the server
        assert not raw_http(l.port, b"GET / HTTP/1.1\r\nHost: x\r\n\r\n").startswith(b"HTTP/1.1 200")
    except TimeoutError:
        pass
    context = ssl.create_default_context(cafile=str(cert))
    with context.wrap_socket(socket.create_connection(("127.0.0.1", l.port), timeout=20),
                             server_hostname="localhost") as s:
        s.sendall(b"GET /test.html HTTP/1.1\r\nHost: localhost\r\n\r\n")
        try:
            answer = read_all(s)
        except ssl.SSLError:
            answer = b""
    assert answer.startswith(b"HTTP/1.1 200") and b"test.js" in answer
    assert echoes(l.port, context)
    log = l.ended()
    assert TLS_LOG in log and not (password and password in log)


@pytest.mark.parametrize("path, password", [("server.pem", "mala"), ("no-existe.pem", ""), ("vacio.pem", "")],
                         ids=["wrong-password", "missing", "empty"])
def test_a_wrong_password_or_a_missing_file_is_the_certificate_error(launcher_factory, tmp_path, path, password):
    make_certificate(tmp_path, "buena")
    (tmp_path / "vacio.pem").write_bytes(b"")
    l = launcher_factory(server_config(free_port(), **tls(tmp_path / path, password)))
    code, _, err = l.run(run_request(use_ssl="1"))
    assert code == 1 and BOX + CERT_ERROR in err
    assert "Error cargando certificado. " in l.log_text()


def test_tls_needs_both_the_configuration_and_the_request(serve, tmp_path):
    pem, _ = make_certificate(tmp_path)
    l = serve(run_request(use_ssl="0"), plugin="echo-plugin.so", **tls(pem))
    assert echoes(l.port)  # configured, but the request does not ask for it: plain WebSocket
    assert TLS_LOG not in l.ended()
