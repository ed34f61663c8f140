"""Pieces of the embedded server's end-to-end tests: launchers in test mode or
serving the echo plug-in, a private copy of the program with its own html/
folder, raw HTTP requests and raw WebSocket frames for the malformed cases."""
import base64
import os
import shutil
import socket
import struct
import subprocess
from pathlib import Path

import websockets

from zelvo_harness import STAGE, WAIT, free_port, request, write_registry

# The fixture plug-ins and the registry base key are the launcher tests' own.
from launcher_support import BASEKEY, BOX, FIXTURES, ORIGIN, fixture  # noqa: E402,F401
from launcher_support import server_config as config  # noqa: E402,F401
from launcher_support import connect, run_async  # noqa: E402,F401
from launcher_support import start_listening as start  # noqa: E402,F401


def echo_mode(**fields):
    """A "test/" request: the built-in echo application, no browser."""
    payload = {"openbrowser": "0"}
    payload.update({k: str(v) for k, v in fields.items()})
    return request("test/", payload)


def plugin_request(name="echo", **fields):
    payload = {"type": "windows", "name": name}
    payload.update({k: str(v) for k, v in fields.items()})
    return request("run/", payload)


def plugin_registry(folder, plugin="echo-plugin.so", name="echo"):
    values = {"RuntimeLib": str(fixture(plugin))} if plugin else {"Other": "x"}
    return write_registry(Path(folder) / "plugins.reg", {BASEKEY + name: values})


def private_program(folder, program="conlaunch"):
    """A copy of the staged program in `folder`, so that the test owns the html/
    folder beside it. Returns (program path, html folder)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / program
    shutil.copy2(STAGE / program, target)
    html = folder / "html"
    html.mkdir(exist_ok=True)
    return target, html


async def closed_code(ws):
    """Reads until the server ends the connection; the close code it sent."""
    try:
        while True:
            await ws.recv()
    except websockets.exceptions.ConnectionClosed as closed:
        return closed.rcvd.code if closed.rcvd else None


# ---- raw HTTP ----

def read_all(sock):
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    return data


def raw_http(port, data, timeout=WAIT, half_close=False):
    """Sends bytes as they stand and reads until the server closes; the whole
    answer. half_close: the client says it has nothing more to send."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            s.sendall(data)
            if half_close:
                s.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may hang up on a request it refuses before it is all sent
        return read_all(s)


def http_get(port, target, method="GET", headers=()):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: localhost:%d" % port, *headers]
    return parse_answer(raw_http(port, ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")))


def parse_answer(data):
    """(status, {lower-case header: value}, body) of one HTTP answer."""
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def upgrade_head(port, extra=("Origin: " + ORIGIN,)):
    lines = ["GET / HTTP/1.1", "Host: localhost:%d" % port, "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13", *extra]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def raw_upgrade(port, extra=("Origin: " + ORIGIN,), timeout=WAIT):
    """An upgrade request with the given extra header lines; the answer as parsed.
    An accepted socket is closed at once (the page went away); after a refusal
    the server must close the connection itself."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(upgrade_head(port, extra))
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
        answer = parse_answer(data)
        if answer[0] != 101:
            answer = parse_answer(data + read_all(s))
        return answer


# ---- raw WebSocket frames ----

class RawSocket:
    """A WebSocket opened by hand, to send frames no client library would."""

    def __init__(self, port, timeout=WAIT):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.sock.sendall(upgrade_head(port))
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                raise AssertionError("connection closed during the handshake: %r" % head)
            head += chunk
        self.status = parse_answer(head)[0]

    def send_frame(self, opcode, payload=b"", fin=True, mask=True, rsv=0, length=None):
        first = (0x80 if fin else 0) | (rsv << 4) | opcode
        size = len(payload) if length is None else length
        mask_bit = 0x80 if mask else 0
        if size < 126:
            head = struct.pack("!BB", first, mask_bit | size)
        elif size < 65536:
            head = struct.pack("!BBH", first, mask_bit | 126, size)
        else:
            head = struct.pack("!BBQ", first, mask_bit | 127, size)
        if mask:
            key = os.urandom(4)
            payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
            head += key
        self.sock.sendall(head + payload)

    def send_raw(self, data):
        self.sock.sendall(data)

    def read_frame(self):
        """(opcode, payload) of the next frame from the server, or None at the end."""
        def exactly(n):
            data = b""
            while len(data) < n:
                try:
                    chunk = self.sock.recv(n - len(data))
                except ConnectionResetError:
                    return None
                if not chunk:
                    return None
                data += chunk
            return data
        head = exactly(2)
        if head is None:
            return None
        size = head[1] & 0x7F
        if size == 126:
            size = struct.unpack("!H", exactly(2))[0]
        elif size == 127:
            size = struct.unpack("!Q", exactly(8))[0]
        payload = exactly(size) if size else b""
        return head[0], payload

    def close_code(self):
        """Reads frames until the server's close frame; its status code (None if none)."""
        while True:
            frame = self.read_frame()
            if frame is None:
                return None
            first, payload = frame
            if first & 0x0F == 8:
                return struct.unpack("!H", payload[:2])[0] if len(payload) >= 2 else 1005

    def close(self):
        self.sock.close()


# ---- TLS ----

def make_certificate(folder, password=None):
    """One PEM file holding a self-signed certificate for localhost and its key
    (encrypted when a password is given)."""
    folder = Path(folder)
    key, cert, pem = folder / "key.pem", folder / "cert.pem", folder / "server.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                   check=True, capture_output=True)
    if password:
        enc = folder / "key-enc.pem"
        subprocess.run(["openssl", "pkey", "-in", str(key), "-out", str(enc), "-aes256",
                        "-passout", "pass:" + password], check=True, capture_output=True)
        key = enc
    pem.write_bytes(cert.read_bytes() + key.read_bytes())
    return pem, cert


def b64(data):
    return base64.b64encode(data).decode()


__all__ = ["free_port", "WAIT"]
