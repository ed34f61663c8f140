"""Static files: the real launcher serves its html/ folder and nothing outside it,
answers one request per connection, and keeps its footing on malformed HTTP."""
import os
import signal

import pytest

from server_support import config, echo_mode, free_port, http_get, private_program, raw_http, start

SECRET = b"secreto fuera de html"
PAGE = b"<!DOCTYPE html><title>inicio</title>"


@pytest.fixture
def served(launcher_factory, tmp_path):
    """A private copy of conlaunch whose html/ holds known files and links, with a
    secret file beside the folder; serving in echo mode until the test ends."""
    program, html = private_program(tmp_path / "prog")
    (html / "index.html").write_bytes(PAGE)
    (html / "estilo.css").write_text("body{}")
    (html / "app.js").write_text("1;")
    (html / "logo.PNG").write_bytes(b"\x89PNG")
    (html / "datos.bin").write_bytes(bytes(range(256)) * 64)
    (html / "sub").mkdir()
    (html / "sub" / "index.html").write_text("sub")
    (html / "vacia").mkdir()
    (tmp_path / "prog" / "secret.txt").write_bytes(SECRET)
    (tmp_path / "secret.txt").write_bytes(SECRET)
    os.symlink(tmp_path / "secret.txt", html / "fuera.txt")
    os.symlink(tmp_path, html / "carpeta-fuera")
    os.symlink("index.html", html / "dentro.html")
    port = free_port()
    launcher = launcher_factory(config(port))
    launcher.program = program
    start(launcher, echo_mode(), port)
    yield port, html
    os.kill(launcher.proc.pid, signal.SIGTERM)
    code, out, err = launcher.wait()
    assert code == 0, err


def test_files_are_served_with_their_type_and_the_connection_closes(served):
    port, html = served
    status, headers, body = http_get(port, "/index.html")
    assert status == 200 and body == PAGE
    assert headers["content-type"].startswith("text/html")
    assert headers["content-length"] == str(len(PAGE))
    assert headers.get("connection", "").lower() == "close"
    for target, kind in (("/estilo.css", "text/css"), ("/app.js", "text/javascript"), ("/logo.PNG", "image/png"),
                         ("/datos.bin", "application/octet-stream")):
        status, headers, body = http_get(port, target)
        assert status == 200 and headers["content-type"].startswith(kind), target
    # Binary content comes back byte for byte.
    assert http_get(port, "/datos.bin")[2] == (html / "datos.bin").read_bytes()
    # A query string (the test page's parameters) does not change the file.
    assert http_get(port, "/index.html?eyJwb3J0IjoiMSJ9")[2] == PAGE


def test_folders_answer_with_their_index_and_head_has_no_body(served):
    port, _ = served
    assert http_get(port, "/")[2] == PAGE
    assert http_get(port, "/sub/")[2] == b"sub"
    status, headers, _ = http_get(port, "/sub")
    assert status == 301 and headers["location"] == "/sub/"
    assert http_get(port, "/vacia/")[0] == 404
    status, headers, body = http_get(port, "/index.html", method="HEAD")
    assert status == 200 and body == b"" and headers["content-length"] == str(len(PAGE))
    assert http_get(port, "/no-existe.html")[0] == 404
    status, headers, _ = http_get(port, "/index.html", method="POST", headers=("Content-Length: 0",))
    assert status == 405 and "GET" in headers["allow"]


def test_no_request_reads_outside_the_folder(served):
    port, _ = served
    attempts = [
        "/../secret.txt", "/../../secret.txt", "/sub/../../secret.txt", "/./../secret.txt",
        "/%2e%2e/secret.txt", "/%2E%2E/secret.txt", "/.%2e/secret.txt", "/%2e%2e%2fsecret.txt",
        "/..%2fsecret.txt", "/..%2Fsecret.txt", "/sub/%2e%2e/%2e%2e/secret.txt", "/%252e%252e/secret.txt",
        "/..\\secret.txt", "/%5c..%5csecret.txt", "/..%5csecret.txt", "/secret.txt%00.html",
        "/%2fetc%2fpasswd", "//etc/passwd", "/etc/passwd", "http://localhost/../secret.txt",
        "../secret.txt", "*", "/%", "/%zz", "/%2", "/fuera.txt", "/carpeta-fuera/secret.txt",
        "/carpeta-fuera/", "/%66uera.txt",
    ]
    for target in attempts:
        status, _, body = http_get(port, target)
        assert status in (400, 404), (target, status)
        assert SECRET not in body and b"root:" not in body, target
    # A link that stays inside the folder is followed.
    assert http_get(port, "/dentro.html")[2] == PAGE


def test_malformed_requests_are_refused_and_the_server_goes_on(served):
    port, _ = served
    malformed = [
        b"\x00\x01\x02garbage\r\n\r\n",
        b"GET\r\n\r\n",
        b"GET / HTTP/9.9\r\n\r\n",
        b"GET /index.html HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n",
        b"GET /index.html HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        b"GET /index.html HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n",
        b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n",
        b"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n" + b"x" * 65536,
        b"GET /index.html HTTP/1.1\r\nHost: x",  # head never ends; the client leaves
    ]
    for data in malformed:
        answer = raw_http(port, data, half_close=True)
        assert SECRET not in answer
        assert not answer.startswith(b"HTTP/1.1 200"), data[:40]
    # Two requests on one connection: one answer, then the server closes.
    two = b"GET /estilo.css HTTP/1.1\r\nHost: localhost\r\n\r\nGET /app.js HTTP/1.1\r\nHost: localhost\r\n\r\n"
    answer = raw_http(port, two)
    assert answer.count(b"HTTP/1.1 ") == 1 and answer.endswith(b"body{}")
    assert http_get(port, "/index.html")[2] == PAGE
