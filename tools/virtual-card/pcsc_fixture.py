"""A private pcscd with the vpcd reader driver and the simulated Vexa card, for tests.

    from pcsc_fixture import private_pcscd
    with private_pcscd(card={"pki_read_style": "6c"}) as p:
        env = p.env                    # PCSCLITE_CSOCK_NAME for client processes
        ... p.exchanges(), p.state(), p.set_card(ea_fault="bad_mac") ...

pcscd always serves /run/pcscd/pcscd.comm, so the daemon runs in its own mount namespace
with a private folder bound over /run/pcscd; its clients find the socket through
PCSCLITE_CSOCK_NAME. The namespace also hides the USB drivers folder so the daemon claims no
real reader. One vpcd entry opens two slots, on its port and the next; the card uses the
first ("Virtual PCD 00 00"). Both processes are stopped by their process id.

Modes: "card" (the card in the first slot), "nocard" (reader present, slot empty; the card
can be started later with start_card), "noreader" (the daemon without any reader)."""
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from contextlib import contextmanager
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import images  # noqa: E402

PYTHON = "/usr/bin/python3"
FRIENDLY_NAME = "Virtual PCD"
# pcscd names a reader's slots "<friendly name> <reader number> <slot>".
READER = FRIENDLY_NAME + " 00 00"
DRIVERS_DIR = "/usr/lib/pcsc/drivers"
DEFAULT_VPCD_LIB = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
EXCHANGE = re.compile(r"^([0-9A-F]+) -> ([0-9A-F]*)$")


class FixtureError(RuntimeError):
    pass


def vpcd_library():
    """The vpcd driver file named by the system's reader.conf.d entry, resolved."""
    conf = Path("/etc/reader.conf.d/vpcd")
    path = DEFAULT_VPCD_LIB
    try:
        for line in conf.read_text().splitlines():
            parts = line.split()
            if len(parts) == 2 and parts[0] == "LIBPATH":
                path = parts[1]
    except OSError:
        pass
    real = os.path.realpath(path)
    if not os.path.isfile(real):
        raise FixtureError("no se encuentra el controlador vpcd (%s); instale vsmartcard-vpcd"
                           % path)
    return real


def _port_free(port):
    # vpcd listens on every interface, so test the wildcard address.
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
        except OSError:
            return False
    return True


def free_port_pair(rng=random):
    for _ in range(200):
        port = rng.randrange(20000, 60000, 2)
        if _port_free(port) and _port_free(port + 1):
            return port
    raise FixtureError("no hay dos puertos libres seguidos")


def _listening_ports():
    ports = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            lines = Path(table).read_text().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            f = line.split()
            if len(f) > 3 and f[3] == "0A":
                ports.add(int(f[1].rsplit(":", 1)[1], 16))
    return ports


def stop_process(proc, grace):
    """SIGTERM, then SIGKILL after `grace` seconds; always reaps."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.kill(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        try:
            os.kill(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


def _tail(path, n=15):
    try:
        return "\n".join(Path(path).read_text(errors="replace").splitlines()[-n:])
    except OSError:
        return "(sin registro)"


# Written to pcscd's log before each start: what an earlier daemon logged does not count.
DAEMON_START = b"=== pcscd (re)starts\n"


class PrivatePcscd:
    def __init__(self, workdir=None, port=None, mode="card", holder=None, card=None,
                 cache_dir=None, wait=30.0, keep=None, friendly_name=FRIENDLY_NAME):
        if mode not in ("card", "nocard", "noreader"):
            raise ValueError("modo desconocido: %r" % mode)
        self.mode = mode
        self._made_dir = workdir is None
        self.workdir = Path(workdir or tempfile.mkdtemp(prefix="vexa-pcscd-"))
        self.keep = (not self._made_dir) if keep is None else keep
        self._fixed_port = port
        self.port = port
        self.holder_path = Path(holder) if holder else HERE / "holder.json"
        self.card_settings = dict(card or {})
        self.cache_dir = Path(cache_dir) if cache_dir else images.default_cache_dir()
        self.wait = wait
        self.pcscd = None
        self.card = None
        self.run_dir = self.workdir / "run"
        self.conf_dir = self.workdir / "reader.conf.d"
        self.socket = self.run_dir / "pcscd.comm"
        self.trace = self.workdir / "trace.txt"
        self.state_path = self.workdir / "pin-state.json"
        self.control = self.workdir / "control.json"
        self.card_log = self.workdir / "card.log"
        self.pcscd_log = self.workdir / "pcscd.log"
        if not friendly_name or any(c in friendly_name for c in '"\n'):
            raise ValueError("nombre de lector no válido: %r" % friendly_name)
        self.friendly_name = friendly_name
        self.reader = friendly_name + " 00 00"
        self.photo = self.signature = None

    # ------------------------------------------------------------ public view

    @property
    def env(self):
        """Environment for client processes: os.environ plus PCSCLITE_CSOCK_NAME."""
        e = dict(os.environ)
        e["PCSCLITE_CSOCK_NAME"] = str(self.socket)
        return e

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    # ------------------------------------------------------------ start / stop

    def start(self):
        for d in (self.run_dir, self.conf_dir):
            d.mkdir(parents=True, exist_ok=True)
        self.photo, self.signature = images.holder_images(self.cache_dir)
        self._write_control()
        try:
            for attempt in range(5):
                if self._fixed_port is None:
                    self.port = free_port_pair()
                if self._start_pcscd():
                    break
                stop_process(self.pcscd, 10)
                self.pcscd = None
                if self._fixed_port is not None or attempt == 4:
                    raise FixtureError("vpcd no pudo abrir el puerto %d:\n%s"
                                       % (self.port, _tail(self.pcscd_log)))
            if self.mode == "card":
                self.start_card()
        except BaseException:
            self.stop()
            raise
        return self

    def _start_pcscd(self):
        """Starts the daemon; False when the reader could not open its port (taken)."""
        for f in self.conf_dir.iterdir():
            f.unlink()
        for f in self.run_dir.iterdir():
            f.unlink()
        lib_link = self.workdir / "libifdvpcd.so"
        if self.mode != "noreader":
            lib_link.touch()
            (self.conf_dir / "vpcd").write_text(
                'FRIENDLYNAME "%s"\nDEVICENAME   /dev/null:%d\nLIBPATH      %s\n'
                'CHANNELID    %d\n' % (self.friendly_name, self.port, lib_link, self.port),
                encoding="utf-8")
        empty = self.workdir / "no-usb-drivers"
        empty.mkdir(exist_ok=True)
        os.makedirs("/run/pcscd", exist_ok=True)
        script = ('set -e; mount --bind "$ZV_RUN" /run/pcscd; '
                  'if [ -n "$ZV_LIB" ]; then mount --bind "$ZV_LIB" "$ZV_LIBLINK"; fi; '
                  'mount --bind "$ZV_EMPTY" "$ZV_DRIVERS"; '
                  'exec pcscd --foreground --debug --config "$ZV_CONF"')
        env = dict(os.environ)
        env.update(ZV_RUN=str(self.run_dir), ZV_CONF=str(self.conf_dir), ZV_EMPTY=str(empty),
                   ZV_DRIVERS=DRIVERS_DIR, ZV_LIBLINK=str(lib_link),
                   ZV_LIB=vpcd_library() if self.mode != "noreader" else "")
        cmd = ["unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c", script]
        if os.geteuid() != 0:
            cmd[1:1] = ["--user", "--map-root-user"]
        log = open(self.pcscd_log, "ab")
        log.write(DAEMON_START)
        log.flush()
        try:
            # unshare and sh exec into pcscd: the process id is the daemon's.
            self.pcscd = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                          stderr=subprocess.STDOUT)
        finally:
            log.close()
        end = time.monotonic() + self.wait
        while time.monotonic() < end:
            if self.pcscd.poll() is not None:
                raise FixtureError("pcscd terminó al arrancar (código %s):\n%s"
                                   % (self.pcscd.returncode, _tail(self.pcscd_log)))
            text = self.pcscd_log.read_text(errors="replace")
            if "daemon ready" in text and self.socket.exists():
                if self.mode == "noreader":
                    return True
                return self.port in _listening_ports()
            time.sleep(0.05)
        raise FixtureError("pcscd no quedó listo en %.0f s:\n%s" % (self.wait, _tail(self.pcscd_log)))

    def start_card(self):
        """Starts the card process (again, after stop_card) and waits until the reader shows it."""
        if self.mode == "noreader":
            raise FixtureError("sin lector no hay dónde poner la tarjeta")
        if self.card is not None and self.card.poll() is None:
            return
        seen = self._ready_count()
        cmd = [PYTHON, str(HERE / "virtual_card.py"), "--port", str(self.port),
               "--holder", str(self.holder_path), "--state", str(self.state_path),
               "--trace", str(self.trace), "--control", str(self.control),
               "--log", str(self.card_log), "--cache-dir", str(self.cache_dir)]
        errors = open(self.card_log, "ab")      # a crash's traceback lands in the card's log
        try:
            self.card = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=errors)
        finally:
            errors.close()
        self.wait_ready(seen)

    def restart_card(self, holder=None, fresh_state=False):
        """Starts the card process anew (it reads its holder and PIN state at start)."""
        self.stop_card()
        # A new card that connects before pcscd has seen the old one go looks like no
        # change at all: never powered up, never ready.
        self._wait_removal_seen()
        if holder is not None:
            self.holder_path = Path(holder)
        if fresh_state and self.state_path.exists():
            self.state_path.unlink()
        self.start_card()

    def restart_pcscd(self):
        """Stops the daemon and starts it again on the same port; a running card reconnects."""
        seen = self._ready_count()
        stop_process(self.pcscd, 10)
        self.pcscd = None
        if not self._start_pcscd():
            raise FixtureError("vpcd no pudo volver a abrir el puerto %d" % self.port)
        if self.card is not None:
            self.wait_ready(seen)

    def stop_card(self):
        stop_process(self.card, 5)
        self.card = None

    def stop(self):
        self.stop_card()
        stop_process(self.pcscd, 10)
        self.pcscd = None
        if not self.keep:
            shutil.rmtree(self.workdir, ignore_errors=True)

    # ------------------------------------------------------------ the card

    def _ready_count(self):
        try:
            return self.card_log.read_text(errors="replace").count("lista: el lector muestra")
        except OSError:
            return 0

    def wait_ready(self, seen=None):
        """Waits until the card has been (re)inserted and powered up by pcscd after `seen`
        earlier ready lines in its log."""
        seen = self._ready_count() if seen is None else seen
        end = time.monotonic() + self.wait
        while time.monotonic() < end:
            if self.card is None or self.card.poll() is not None:
                raise FixtureError("la tarjeta simulada terminó:\n%s" % _tail(self.card_log))
            if self._ready_count() > seen:
                return
            time.sleep(0.05)
        raise FixtureError("el lector no mostró la tarjeta en %.0f s:\n%s\n%s"
                           % (self.wait, _tail(self.card_log), _tail(self.pcscd_log)))

    def _write_control(self):
        tmp = self.control.with_name("control.json.tmp")
        tmp.write_text(json.dumps(self.card_settings), encoding="utf-8")
        os.replace(tmp, self.control)

    def set_card(self, **settings):
        """Changes card settings (see settings.py); the card applies them before its next
        APDU. A value of None returns a setting to its default."""
        for k, v in settings.items():
            if v is None:
                self.card_settings.pop(k, None)
            else:
                self.card_settings[k] = v
        self._write_control()

    def reset_card_settings(self):
        self.card_settings = {}
        self._write_control()

    def remove_card(self):
        """Takes the card out of the reader (it stays out until insert_card) and waits until
        pcscd has seen it go: a client connecting right after finds the slot empty."""
        seen = self.trace_text().count("REMOVED")
        self.set_card(present=False)
        end = time.monotonic() + self.wait
        while time.monotonic() < end and self.trace_text().count("REMOVED") == seen:
            time.sleep(0.05)
        self._wait_removal_seen()

    def _reader_events(self):
        """(insertions, removals) the running pcscd has logged for the reader so far."""
        try:
            text = self.pcscd_log.read_text(errors="replace").rsplit(DAEMON_START.decode(), 1)[-1]
        except OSError:
            return 0, 0
        return text.count("Card inserted into"), text.count("Card Removed From")

    def _wait_removal_seen(self):
        """Waits until pcscd has logged as many removals as insertions; the insertions."""
        end = time.monotonic() + self.wait
        while time.monotonic() < end:
            inserted, removed = self._reader_events()
            if removed >= inserted:
                return inserted
            time.sleep(0.05)
        raise FixtureError("pcscd no vio la retirada de la tarjeta:\n%s" % _tail(self.pcscd_log))

    def insert_card(self):
        """Puts the card back after remove_card or a removal by remove_after_apdus. pcscd
        must first have seen it go, else a quick return would look like no change at all.
        A card that never left only loses its removal switches."""
        events = [l for l in self.trace_lines() if l in ("CONNECTED", "REMOVED")]
        if not events or events[-1] != "REMOVED":
            self.set_card(present=True, remove_after_apdus=None)
            return
        end = time.monotonic() + self.wait
        inserted = self._wait_removal_seen()
        seen = self._ready_count()
        self.set_card(present=True, remove_after_apdus=None)
        while time.monotonic() < end + self.wait:
            if self._reader_events()[0] > inserted:
                return
            if self.card is None or self.card.poll() is not None:
                raise FixtureError("la tarjeta simulada terminó:\n%s" % _tail(self.card_log))
            time.sleep(0.05)
        self.wait_ready(seen)

    # ------------------------------------------------------------ what the card saw

    def trace_text(self):
        try:
            return self.trace.read_text(encoding="ascii", errors="replace")
        except OSError:
            return ""

    def trace_lines(self, since=0):
        return self.trace_text().splitlines()[since:]

    def trace_position(self):
        return len(self.trace_lines())

    def exchanges(self, since=0):
        """[(command hex, response hex)] in upper case, as the card received and answered."""
        out = []
        for line in self.trace_lines(since):
            m = EXCHANGE.match(line)
            if m:
                out.append((m.group(1), m.group(2)))
        return out

    def secure_exchanges(self, since=0):
        """[(plain command hex, plain response hex)] inside secure messaging."""
        out = []
        for line in self.trace_lines(since):
            if line.startswith("SM "):
                cmd, _, resp = line[3:].partition(" -> ")
                out.append((cmd, resp))
        return out

    def state(self):
        return json.loads(self.state_path.read_text(encoding="utf-8"))

    def holder(self):
        return json.loads(self.holder_path.read_text(encoding="utf-8"))


@contextmanager
def private_pcscd(**kw):
    p = PrivatePcscd(**kw)
    p.start()
    try:
        yield p
    finally:
        p.stop()


# ---------------------------------------------------------------- pytest

try:
    import pytest
except ImportError:      # the script and the demo run without pytest
    pytest = None

if pytest is not None:
    @pytest.fixture
    def vexa_card_factory():
        """make(mode="card", holder=None, **card_settings) -> a started PrivatePcscd; all are
        stopped after the test. A test process reaches one daemon with libpcsclite in-process
        (the library reads PCSCLITE_CSOCK_NAME once); further daemons through child processes."""
        made = []

        def make(mode="card", holder=None, **card):
            p = PrivatePcscd(mode=mode, holder=holder, card=card)
            made.append(p)
            p.start()
            return p

        yield make
        for p in made:
            p.stop()

    @pytest.fixture
    def vexa_card(vexa_card_factory):
        """The simulated card with default settings behind its own pcscd."""
        return vexa_card_factory()

    @pytest.fixture(scope="module")
    def vexa_card_module():
        """One simulated card for a whole test module (change it with set_card /
        restart_card); PCSCLITE_CSOCK_NAME is set in this process's environment."""
        p = PrivatePcscd()
        p.start()
        old = os.environ.get("PCSCLITE_CSOCK_NAME")
        os.environ["PCSCLITE_CSOCK_NAME"] = str(p.socket)
        try:
            yield p
        finally:
            p.stop()
            if old is None:
                os.environ.pop("PCSCLITE_CSOCK_NAME", None)
            else:
                os.environ["PCSCLITE_CSOCK_NAME"] = old
