#!/usr/bin/python3
"""The simulated Vexa card as a program: it connects as a TCP client to the vpcd reader
driver on 127.0.0.1 and answers what the driver sends.

Driver protocol (every message): two bytes of length, big-endian, then the payload. A
one-byte payload is a control message: 00 power off, 01 power on, 02 reset, 04 send the ATR
(the only one answered). Any other payload is a command APDU, answered with the response
APDU in the same framing."""
import argparse
import os
import select
import signal
import socket
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import card as card_mod          # noqa: E402
import holder as holder_files    # noqa: E402
import images                    # noqa: E402
import settings as settings_mod  # noqa: E402

POLL = 0.2          # how often an idle card looks at its control file


class Log:
    def __init__(self, path):
        self.f = open(path, "a", encoding="utf-8", buffering=1) if path else sys.stderr

    def __call__(self, text):
        t = time.time()
        stamp = time.strftime("%H:%M:%S", time.localtime(t)) + ".%03d" % (int(t * 1000) % 1000)
        self.f.write("%s %s\n" % (stamp, text))
        self.f.flush()


class Stop(Exception):
    pass


class VpcdLink:
    """One card in one vpcd slot; reconnects when the driver goes away."""

    def __init__(self, card, settings, port, log, host="127.0.0.1"):
        self.card, self.settings, self.port, self.log, self.host = card, settings, port, log, host
        self.removed = False          # taken out by remove_after_apdus, until the control changes
        self.apdus = 0
        self.generation = settings.generation
        self.powered = False
        self.atr_after_power = 0

    def check_control(self):
        if self.settings.refresh():
            self.log("ajustes del fichero de control aplicados")
            self.card.apply_settings()
            if self.settings.generation != self.generation:
                self.generation = self.settings.generation
                self.removed = False
                self.apdus = 0
        elif self.settings.error:
            self.log(self.settings.error)
            self.settings.error = None

    def inserted(self):
        return self.settings["present"] and not self.removed

    def run(self):
        warned = False
        while True:
            self.check_control()
            if not self.inserted():
                time.sleep(POLL)
                continue
            try:
                sock = socket.create_connection((self.host, self.port), timeout=2)
            except OSError as e:
                if not warned:
                    self.log("esperando al lector vpcd en %s:%d (%s)" % (self.host, self.port, e))
                    warned = True
                time.sleep(0.1)
                continue
            warned = False
            self.log("conectada al lector vpcd en %s:%d" % (self.host, self.port))
            self.card.trace_line("CONNECTED")
            try:
                self.serve(sock)
            except (ConnectionError, OSError) as e:
                self.log("el lector cerró la conexión (%s); reconectando" % e)
            finally:
                sock.close()
                self.card.power_off()
                self.powered = False
            time.sleep(0.1)

    def serve(self, sock):
        sock.settimeout(None)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        quickack = getattr(socket, "TCP_QUICKACK", None)
        while True:
            readable, _, _ = select.select([sock], [], [], POLL)
            if not readable:
                self.check_control()
                if not self.inserted():
                    self.log("tarjeta retirada del lector")
                    self.card.trace_line("REMOVED")
                    return
                continue
            msg = self.recv_message(sock, quickack)
            if len(msg) == 1:
                self.control(sock, msg[0])
                continue
            self.check_control()
            limit = self.settings["remove_after_apdus"]
            if limit is not None and self.apdus >= limit:
                self.removed = True
                self.log("tarjeta retirada tras %d APDU" % self.apdus)
            if not self.inserted():
                # Taken out while the reader waits for this answer: it never comes.
                self.card.trace_line("REMOVED")
                return
            self.apdus += 1
            resp = self.card.process(msg)
            sock.sendall(len(resp).to_bytes(2, "big") + resp)

    @staticmethod
    def recv_exact(sock, n, quickack):
        buf = b""
        while len(buf) < n:
            chunk = sock.recv(n - len(buf))
            if not chunk:
                raise ConnectionError("fin de la conexión")
            buf += chunk
            if quickack is not None:
                # The kernel leaves quick-ack mode on its own; ask again after every read.
                sock.setsockopt(socket.IPPROTO_TCP, quickack, 1)
        return buf

    def recv_message(self, sock, quickack):
        size = int.from_bytes(self.recv_exact(sock, 2, quickack), "big")
        if size == 0:
            raise ConnectionError("mensaje vacío del lector")
        return self.recv_exact(sock, size, quickack)

    def control(self, sock, code):
        if code == 0x00:
            self.log("apagada")
            self.card.power_off()
            self.card.trace_line("POWER OFF")
            self.powered = False
        elif code == 0x01:
            self.log("encendida")
            self.card.power_on()
            self.card.trace_line("POWER ON")
            self.powered = True
            self.atr_after_power = 0
        elif code == 0x02:
            self.log("reiniciada")
            self.card.power_on()
            self.card.trace_line("RESET")
            self.powered = True
        elif code == 0x04:
            sock.sendall(len(card_mod.ATR).to_bytes(2, "big") + card_mod.ATR)
            if self.powered:
                self.atr_after_power += 1
                if self.atr_after_power == 2:
                    # The first ATR after power-up is part of the power-up itself; pcscd asks
                    # again only after it has handled it, so the reader now shows the card.
                    self.log("lista: el lector muestra la tarjeta")
        else:
            self.log("mensaje de control desconocido %02X" % code)


def build_card(args, log):
    holder = holder_files.load(args.holder)
    photo_path, signature_path = images.holder_images(args.cache_dir)
    if holder.get("photo_file"):
        photo_path = Path(args.holder).parent / holder["photo_file"]
    if holder.get("signature_file"):
        signature_path = Path(args.holder).parent / holder["signature_file"]
    settings = settings_mod.Settings(settings_mod.from_args(args), args.control)
    if settings.error:
        raise ValueError(settings.error)
    card = card_mod.VexaCard(holder, settings, args.state, args.trace, log,
                             photo_path.read_bytes(), signature_path.read_bytes())
    log("foto %s, firma %s" % (photo_path, signature_path))
    return card, settings


def main(argv=None):
    p = argparse.ArgumentParser(description="Tarjeta Vexa simulada para el lector vpcd.")
    p.add_argument("--port", type=int, required=True, help="puerto del lector vpcd (127.0.0.1)")
    p.add_argument("--holder", default=str(HERE / "holder.json"), help="JSON del titular")
    p.add_argument("--state", help="fichero JSON del estado de los PIN")
    p.add_argument("--trace", help="fichero de traza de APDU")
    p.add_argument("--control", help="fichero JSON de control (ajustes en caliente)")
    p.add_argument("--log", help="fichero de registro (por defecto, la salida de error)")
    p.add_argument("--cache-dir", help="carpeta de las imágenes JP2 generadas")
    settings_mod.add_arguments(p)
    args = p.parse_args(argv)
    log = Log(args.log)

    def on_signal(signum, frame):
        raise Stop()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        card, settings = build_card(args, log)
        log("tarjeta iniciada (pid %d, puerto %d)" % (os.getpid(), args.port))
        VpcdLink(card, settings, args.port, log).run()
    except Stop:
        log("tarjeta detenida")
        return 0
    except (ValueError, OSError, RuntimeError) as e:
        log("error: %s" % e)
        return 2


if __name__ == "__main__":
    sys.exit(main())
