"""Static files: the real launcher serves its html/ folder and nothing outside it,
answers one request per connection, and keeps its footing on malformed HTTP."""
import os
import shutil

import pytest

from zelvo_harness import EXE, STAGE, echo_request, http_get, parse_answer, raw_http, raw_upgrade

SECRET = b"secreto fuera de html"
PAGE = b"<!DOCTYPE html><title>inicio</title>"
DATA = bytes(range(256)) * 64


@pytest.fixture
def served(serve, tmp_path):
    """A private copy of conlaunch whose html/ holds known files and links, with a
    secret file beside the folder; serving in echo mode until the test ends."""
    html = tmp_path / "prog" / "html"
    html.mkdir(parents=True)
    shutil.copy2(STAGE / ("conlaunch" + EXE), tmp_path / "prog" / ("conlaunch" + EXE))
    (html / "index.html").write_bytes(PAGE)
    (html / "estilo.css").write_text("body{}")
    (html / "app.js").write_text("1;")
    (html / "logo.PNG").write_bytes(b"\x89PNG")
    (html / "datos.bin").write_bytes(DATA)
    (html / "sub").mkdir()
    (html / "sub" / "index.html").write_text("sub")
    (html / "vacia").mkdir()
    (tmp_path / "prog" / "secret.txt").write_bytes(SECRET)
    (tmp_path / "secret.txt").write_bytes(SECRET)
    os.symlink(tmp_path / "secret.txt", html / "fuera.txt")
    os.symlink(tmp_path, html / "carpeta-fuera")
    os.symlink("index.html", html / "dentro.html")
    launcher = serve(echo_request(), program=tmp_path / "prog" / ("conlaunch" + EXE))
    yield launcher.port
    launcher.terminate()
    launcher.ended()


SERVED = [  # method, target, status, content type, body
    ("GET", "/index.html", 200, "text/html", PAGE),
    ("GET", "/estilo.css", 200, "text/css", b"body{}"),
    ("GET", "/app.js", 200, "text/javascript", b"1;"),
    ("GET", "/logo.PNG", 200, "image/png", b"\x89PNG"),
    ("GET", "/datos.bin", 200, "application/octet-stream", DATA),  # byte for byte
    ("GET", "/index.html?eyJwb3J0IjoiMSJ9", 200, "text/html", PAGE),  # the page's parameters change nothing
    ("GET", "/", 200, "text/html", PAGE),  # a folder answers with its index
    ("GET", "/sub/", 200, "text/html", b"sub"),
    ("GET", "/dentro.html", 200, "text/html", PAGE),  # a link that stays inside the folder is followed
    ("HEAD", "/index.html", 200, "text/html", b""),
    ("GET", "/vacia/", 404, None, None),
    ("GET", "/no-existe.html", 404, None, None),
]


def test_files_are_served_with_their_type_and_the_connection_closes(served):
    port = served
    for method, target, status, kind, body in SERVED:
        got, headers, data = http_get(port, target, method=method)
        assert got == status, target
        if status == 200:
            assert headers["content-type"].startswith(kind) and data == body, target
            assert headers["content-length"] == str(len(PAGE if method == "HEAD" else body)), target
            assert headers["connection"].lower() == "close"
    status, headers, _ = http_get(port, "/sub")
    assert status == 301 and headers["location"] == "/sub/"
    status, headers, _ = http_get(port, "/index.html", method="POST", headers=("Content-Length: 0",))
    assert status == 405 and "GET" in headers["allow"]


def test_no_request_reads_outside_the_folder(served):
    port = served
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


def test_malformed_requests_are_refused_and_the_server_goes_on(served):
    port = served
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


def test_every_answer_forbids_framing_and_keeps_no_handle_on_its_window(served):
    """Files, errors, refusals, redirects and the handshake alike: no other site may frame
    the launcher's pages or keep a handle on the window that shows them."""
    port = served
    two_hosts = b"GET /index.html HTTP/1.1\r\nHost: localhost\r\nHost: evil.test\r\n\r\n"
    answers = [
        (200, http_get(port, "/index.html")),
        (200, http_get(port, "/index.html", method="HEAD")),
        (404, http_get(port, "/no-existe.html")),
        (400, http_get(port, "/%zz")),
        (301, http_get(port, "/sub")),
        (405, http_get(port, "/index.html", method="POST", headers=("Content-Length: 0",))),
        (403, parse_answer(raw_http(port, b"GET /index.html HTTP/1.1\r\nHost: evil.test\r\n\r\n"))),
        (400, parse_answer(raw_http(port, two_hosts))),
        (400, raw_upgrade(port, extra=("Origin: http://localhost", "Origin: http://localhost"))),
        (403, raw_upgrade(port, extra=())),
        (101, raw_upgrade(port)),  # the run's one page: the server ends after it
    ]
    for expected, (status, headers, _) in answers:
        assert status == expected
        assert "frame-ancestors 'none'" in headers["content-security-policy"], status
        assert headers["x-frame-options"] == "DENY", status
        assert headers["cross-origin-opener-policy"] == "same-origin", status
