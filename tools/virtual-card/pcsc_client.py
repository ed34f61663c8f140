#!/usr/bin/python3
"""A small PC/SC client on libpcsclite.so.1 through ctypes, for tests and for poking at a
card by hand. libpcsclite reads PCSCLITE_CSOCK_NAME once per process, so a process talks to
one daemon; to reach several daemons, run this file as a program once per daemon:

    PCSCLITE_CSOCK_NAME=/path/pcscd.comm pcsc_client.py list
    PCSCLITE_CSOCK_NAME=... pcsc_client.py send 00A4040C07A0000002471001 00B600005D
    PCSCLITE_CSOCK_NAME=... pcsc_client.py hold   # the first reader's card, exclusively, until
                                                  # standard input closes; "held" once it holds it
"""
import ctypes
import sys

SCARD_SCOPE_SYSTEM = 2
SCARD_SHARE_EXCLUSIVE = 1
SCARD_SHARE_SHARED = 2
SCARD_PROTOCOL_T0 = 1
SCARD_PROTOCOL_T1 = 2
SCARD_LEAVE_CARD = 0
SCARD_RESET_CARD = 1
SCARD_UNPOWER_CARD = 2

SCARD_E_NO_SMARTCARD = 0x8010000C
SCARD_E_SHARING_VIOLATION = 0x8010000B
SCARD_E_NO_READERS_AVAILABLE = 0x8010002E
SCARD_W_REMOVED_CARD = 0x80100069

DWORD = ctypes.c_ulong
LONG = ctypes.c_long


class SCARD_IO_REQUEST(ctypes.Structure):
    _fields_ = [("dwProtocol", DWORD), ("cbPciLength", DWORD)]


class PcscError(Exception):
    def __init__(self, func, code, text):
        super().__init__("%s: %s (0x%08X)" % (func, text, code))
        self.func, self.code, self.text = func, code, text


_lib = None


def lib():
    global _lib
    if _lib is None:
        _lib = ctypes.CDLL("libpcsclite.so.1")
        _lib.pcsc_stringify_error.restype = ctypes.c_char_p
        _lib.pcsc_stringify_error.argtypes = [LONG]
        _lib.SCardEstablishContext.argtypes = [DWORD, ctypes.c_void_p, ctypes.c_void_p,
                                               ctypes.POINTER(LONG)]
        _lib.SCardReleaseContext.argtypes = [LONG]
        _lib.SCardListReaders.argtypes = [LONG, ctypes.c_char_p, ctypes.c_char_p,
                                          ctypes.POINTER(DWORD)]
        _lib.SCardConnect.argtypes = [LONG, ctypes.c_char_p, DWORD, DWORD, ctypes.POINTER(LONG),
                                      ctypes.POINTER(DWORD)]
        _lib.SCardReconnect.argtypes = [LONG, DWORD, DWORD, DWORD, ctypes.POINTER(DWORD)]
        _lib.SCardDisconnect.argtypes = [LONG, DWORD]
        _lib.SCardTransmit.argtypes = [LONG, ctypes.POINTER(SCARD_IO_REQUEST), ctypes.c_char_p,
                                       DWORD, ctypes.c_void_p, ctypes.c_char_p,
                                       ctypes.POINTER(DWORD)]
        for f in ("SCardEstablishContext", "SCardReleaseContext", "SCardListReaders",
                  "SCardConnect", "SCardReconnect", "SCardDisconnect", "SCardTransmit"):
            getattr(_lib, f).restype = LONG
    return _lib


def _check(func, rv):
    rv &= 0xFFFFFFFF
    if rv != 0:
        raise PcscError(func, rv, lib().pcsc_stringify_error(rv).decode(errors="replace"))


class Context:
    def __init__(self):
        self.handle = LONG(0)
        _check("SCardEstablishContext",
               lib().SCardEstablishContext(SCARD_SCOPE_SYSTEM, None, None, ctypes.byref(self.handle)))

    def readers(self):
        size = DWORD(0)
        rv = lib().SCardListReaders(self.handle, None, None, ctypes.byref(size)) & 0xFFFFFFFF
        if rv == SCARD_E_NO_READERS_AVAILABLE:
            return []
        _check("SCardListReaders", rv)
        buf = ctypes.create_string_buffer(size.value)
        rv = lib().SCardListReaders(self.handle, None, buf, ctypes.byref(size)) & 0xFFFFFFFF
        if rv == SCARD_E_NO_READERS_AVAILABLE:
            return []
        _check("SCardListReaders", rv)
        return [r.decode() for r in buf.raw[:size.value].split(b"\0") if r]

    def connect(self, reader, share=SCARD_SHARE_SHARED):
        return Card(self, reader, share)

    def release(self):
        if self.handle.value:
            lib().SCardReleaseContext(self.handle)
            self.handle = LONG(0)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


class Card:
    def __init__(self, ctx, reader, share):
        self.handle = LONG(0)
        self.protocol = DWORD(0)
        _check("SCardConnect",
               lib().SCardConnect(ctx.handle, reader.encode(), share,
                                  SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, ctypes.byref(self.handle),
                                  ctypes.byref(self.protocol)))

    def transmit(self, apdu):
        apdu = bytes(apdu)
        pci = SCARD_IO_REQUEST(self.protocol.value, ctypes.sizeof(SCARD_IO_REQUEST))
        out = ctypes.create_string_buffer(65538)
        size = DWORD(len(out))
        _check("SCardTransmit",
               lib().SCardTransmit(self.handle, ctypes.byref(pci), apdu, len(apdu), None, out,
                                   ctypes.byref(size)))
        return out.raw[:size.value]

    def reconnect(self, disposition=SCARD_RESET_CARD):
        _check("SCardReconnect",
               lib().SCardReconnect(self.handle, SCARD_SHARE_SHARED,
                                    SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, disposition,
                                    ctypes.byref(self.protocol)))

    def disconnect(self, disposition=SCARD_LEAVE_CARD):
        if self.handle.value:
            lib().SCardDisconnect(self.handle, disposition)
            self.handle = LONG(0)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.disconnect()


def main(argv):
    if not argv or argv[0] not in ("list", "send", "hold"):
        print(__doc__)
        return 2
    try:
        apdus = [bytes.fromhex(a) for a in argv[1:]] if argv[0] == "send" else []
    except ValueError:
        print("APDU no válida (se espera hexadecimal): %s" % " ".join(argv[1:]), file=sys.stderr)
        return 2
    try:
        with Context() as ctx:
            readers = ctx.readers()
            if argv[0] == "list":
                for r in readers:
                    print(r)
                return 0
            if not readers:
                print("sin lectores", file=sys.stderr)
                return 1
            share = SCARD_SHARE_EXCLUSIVE if argv[0] == "hold" else SCARD_SHARE_SHARED
            with ctx.connect(readers[0], share) as card:
                for apdu in apdus:
                    print(card.transmit(apdu).hex().upper())
                if argv[0] == "hold":
                    print("held", flush=True)
                    sys.stdin.read()
        return 0
    except PcscError as e:
        print(e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
