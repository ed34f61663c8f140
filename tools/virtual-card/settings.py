"""The simulated card's switches: how it answers reads, how its files are shaped, and the
faults tests ask for. They come from the command line and can be changed while the card runs
through a control JSON file (same keys), which the card reads again whenever it changes."""
import argparse
import json
import os

DEFAULTS = {
    # READ BINARY asking more than is left in the file: "short" (what is left, 9000),
    # "short6282" (what is left, 6282) or "6c" (6Cxx telling the exact length).
    "pki_read_style": "short",
    "lds_read_style": "short6282",
    # READ BINARY exactly at the end of a file: "6b00" or "6282" (no data).
    "end_of_file": "6b00",
    # ABI file: total length (padded with zero bytes), a cut (declared objects run past the
    # end), and the character encoding of its values ("utf-8" or "latin-1").
    "abi_length": None,
    "abi_cut": None,
    "abi_encoding": "utf-8",
    # LDS files cut short while their first bytes still declare the full length, e.g.
    # {"DG2": 60} (shorter than the photo offset) or {"DG7": 500}.
    "lds_cut": {},
    # EXTERNAL AUTHENTICATE answer: None, "bad_mac" or "bad_rnd_ifd".
    "ea_fault": None,
    # Under secure messaging, counted from 1 for each protected command since the last BAC:
    # spoil the MAC of that answer, or refuse that command with a bare 6988.
    "sm_bad_mac_at": None,
    "sm_reject_at": None,
    # Leave the reader after answering this many APDUs (counted from start, or from the
    # moment this value is set again in the control file).
    "remove_after_apdus": None,
    # Card in the reader; false takes it out, true puts it back.
    "present": True,
    # Credentials (1, 4) blocked when the setting is applied.
    "blocked_pins": [],
    # Fixed random values for known-answer runs (hex), else fresh random bytes.
    "rnd_ic": None,
    "k_ic": None,
}

CHOICES = {
    "pki_read_style": ("short", "short6282", "6c"),
    "lds_read_style": ("short", "short6282", "6c"),
    "end_of_file": ("6b00", "6282"),
    "abi_encoding": ("utf-8", "latin-1"),
    "ea_fault": (None, "bad_mac", "bad_rnd_ifd"),
}

INT_KEYS = ("abi_length", "abi_cut", "sm_bad_mac_at", "sm_reject_at", "remove_after_apdus")


def validate(values):
    """Checks a partial settings dict; returns it normalised or raises ValueError."""
    out = {}
    for key, value in values.items():
        if key not in DEFAULTS:
            raise ValueError("ajuste desconocido: %r" % key)
        if key in CHOICES and value not in CHOICES[key]:
            raise ValueError("valor no válido para %s: %r" % (key, value))
        if key in INT_KEYS and value is not None:
            if not isinstance(value, int) or isinstance(value, bool) or value < 0:
                raise ValueError("%s debe ser un entero no negativo" % key)
        if key == "present" and not isinstance(value, bool):
            raise ValueError("present debe ser true o false")
        if key == "blocked_pins":
            if not isinstance(value, list) or any(v not in (1, 4) for v in value):
                raise ValueError("blocked_pins debe ser una lista de 1 y 4")
        if key == "lds_cut":
            if not isinstance(value, dict) or any(
                    k not in ("COM", "DG1", "DG2", "DG7") or not isinstance(v, int)
                    or isinstance(v, bool) or v < 0 for k, v in value.items()):
                raise ValueError("lds_cut debe ser un objeto como {\"DG2\": 60}")
        if key in ("rnd_ic", "k_ic") and value is not None:
            size = 8 if key == "rnd_ic" else 16
            try:
                if len(bytes.fromhex(value)) != size:
                    raise ValueError
            except (TypeError, ValueError):
                raise ValueError("%s debe tener %d bytes en hexadecimal" % (key, size))
        out[key] = value
    return out


def add_arguments(parser):
    """Command-line flags for every setting (shared by the card and the pcscd script)."""
    g = parser.add_argument_group("ajustes y fallos de la tarjeta")
    g.add_argument("--pki-read-style", choices=CHOICES["pki_read_style"])
    g.add_argument("--lds-read-style", choices=CHOICES["lds_read_style"])
    g.add_argument("--end-of-file", choices=CHOICES["end_of_file"])
    g.add_argument("--abi-length", type=int, metavar="N", help="longitud total del fichero ABI")
    g.add_argument("--abi-cut", type=int, metavar="N", help="corta el fichero ABI a N bytes")
    g.add_argument("--abi-latin1", action="store_true", help="valores del ABI en Latin-1")
    g.add_argument("--lds-cut", action="append", metavar="DGn=N", type=_cut,
                   help="corta un fichero LDS (COM, DG1, DG2, DG7) a N bytes")
    g.add_argument("--ea-fault", choices=("bad_mac", "bad_rnd_ifd"))
    g.add_argument("--sm-bad-mac-at", type=int, metavar="N")
    g.add_argument("--sm-reject-at", type=int, metavar="N")
    g.add_argument("--remove-after", type=int, metavar="N", dest="remove_after_apdus")
    g.add_argument("--blocked-pin", type=int, choices=(1, 4), action="append", dest="blocked_pins")
    g.add_argument("--rnd-ic", metavar="HEX")
    g.add_argument("--k-ic", metavar="HEX")


def _cut(text):
    name, sep, size = text.partition("=")
    if not sep or not size.isdigit():
        raise argparse.ArgumentTypeError("se espera FICHERO=N, por ejemplo DG2=60: %r" % text)
    return name.upper(), int(size)


def from_args(args):
    values = {}
    for key in DEFAULTS:
        v = getattr(args, key, None)
        if v is not None:
            values[key] = dict(v) if key == "lds_cut" else v
    if getattr(args, "abi_latin1", False):
        values["abi_encoding"] = "latin-1"
    return validate(values)


class Settings:
    """Defaults, then the command line, then the control file (read again when it changes)."""

    def __init__(self, base=None, control_path=None):
        self.base = dict(DEFAULTS)
        self.base.update(validate(base or {}))
        self.control_path = control_path
        self._stamp = None
        self.values = dict(self.base)
        self.generation = 0      # rises each time the control file brings new values
        self.error = None        # last control file problem, for the card's log
        self.refresh()

    def __getitem__(self, key):
        return self.values[key]

    def refresh(self):
        """Returns True when the control file changed and was applied."""
        if not self.control_path:
            return False
        try:
            st = os.stat(self.control_path)
            stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        except FileNotFoundError:
            stamp = None
        if stamp == self._stamp:
            return False
        self._stamp = stamp
        if stamp is None:
            return False
        try:
            with open(self.control_path, encoding="utf-8") as f:
                data = json.load(f)
            if not isinstance(data, dict):
                raise ValueError("el fichero de control debe ser un objeto JSON")
            merged = dict(self.base)
            merged.update(validate(data))
        except (OSError, ValueError) as e:
            # A half-written or wrong file keeps the values in force.
            self.error = "fichero de control no válido: %s" % e
            return False
        self.error = None
        self.values = merged
        self.generation += 1
        return True
