#!/usr/bin/python3
"""Registers an installed Zelvo bridge for the desktop: `./dev install` runs it
after `cmake --install ... --prefix PREFIX`.

  register.py PREFIX [--system-registry DIR]

- The desktop entry PREFIX/zelvo-launcher.desktop, the handler of zelvo: links,
  is copied into the user's applications folder ($XDG_DATA_HOME/applications,
  default ~/.local/share/applications) and made the default handler of
  x-scheme-handler/zelvo with xdg-mime; update-desktop-database refreshes the
  folder's cache. Missing xdg tools only give a note.
- The registry file PREFIX/registry.d/zelvo.reg: as root it is linked into
  /etc/zelvo/registry.d (the folder the launcher reads by default). Otherwise
  the launcher must be told where it is with ZELVO_REGISTRY; the user's copy of
  the desktop entry then sets it for the links the browser opens.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

DESKTOP = "zelvo-launcher.desktop"
SCHEME = "x-scheme-handler/zelvo"
SYSTEM_REGISTRY = Path("/etc/zelvo/registry.d")


def note(text):
    print("register: " + text)


def run_tool(*args):
    """Runs an optional desktop tool; False when it is missing or fails."""
    if shutil.which(args[0]) is None:
        note("%s no está instalado; se omite." % args[0])
        return False
    try:
        done = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        note("%s falló: %s" % (args[0], e))
        return False
    if done.returncode != 0:
        note("%s terminó con el código %d: %s" % (args[0], done.returncode,
                                                  done.stderr.decode("utf-8", "replace").strip()))
        return False
    return True


def user_applications():
    data = os.environ.get("XDG_DATA_HOME") or str(Path.home() / ".local" / "share")
    return Path(data) / "applications"


def desktop_with_registry(text, registry_path):
    """The entry with Exec prefixed by env ZELVO_REGISTRY=..., for users without root."""
    lines = []
    value = "%s:%s" % (registry_path, SYSTEM_REGISTRY)
    for line in text.splitlines():
        if line.startswith("Exec="):
            # xdg-open without a desktop session splits Exec at blanks and keeps
            # quotes, so a plain value goes unquoted.
            if re.search(r'[\s"`$\\\'%]', value) is None:
                line = "Exec=env ZELVO_REGISTRY=%s %s" % (value, line[len("Exec="):])
            else:
                quoted = value.replace("\\", "\\\\\\\\")
                for c in '"`$':
                    quoted = quoted.replace(c, "\\\\" + c)
                line = 'Exec=env "ZELVO_REGISTRY=%s" %s' % (quoted, line[len("Exec="):])
        lines.append(line)
    return "\n".join(lines) + "\n"


def register_desktop(prefix, registry_in_env):
    source = prefix / DESKTOP
    if not source.is_file():
        note("no se encontró %s" % source)
        return False
    target_dir = user_applications()
    target_dir.mkdir(parents=True, exist_ok=True)
    text = source.read_text(encoding="utf-8")
    if registry_in_env:
        text = desktop_with_registry(text, prefix / "registry.d")
    (target_dir / DESKTOP).write_text(text, encoding="utf-8")
    note("entrada de escritorio copiada a %s" % (target_dir / DESKTOP))
    if run_tool("xdg-mime", "default", DESKTOP, SCHEME):
        note("manejador predeterminado de %s: %s" % (SCHEME, DESKTOP))
    run_tool("update-desktop-database", str(target_dir))
    return True


def register_registry(prefix, system_dir):
    source = prefix / "registry.d" / "zelvo.reg"
    if not source.is_file():
        note("no se encontró %s" % source)
        return False
    if os.geteuid() != 0:
        note("sin permisos de administrador no se enlaza %s en %s." % (source, system_dir))
        note("Para usar el lanzador desde una terminal, defina: export ZELVO_REGISTRY=%s:%s"
             % (source.parent, SYSTEM_REGISTRY))
        return False
    system_dir.mkdir(parents=True, exist_ok=True)
    link = system_dir / "zelvo.reg"
    if link.is_symlink() or link.exists():
        link.unlink()
    link.symlink_to(source)
    note("archivo de registro enlazado: %s -> %s" % (link, source))
    return True


def main(argv):
    ap = argparse.ArgumentParser(description="Registra el puente Zelvo instalado en PREFIX.")
    ap.add_argument("prefix")
    ap.add_argument("--system-registry", default=str(SYSTEM_REGISTRY),
                    help="carpeta del registro del sistema (por defecto %(default)s)")
    a = ap.parse_args(argv)
    prefix = Path(a.prefix).resolve()
    linked = register_registry(prefix, Path(a.system_registry))
    register_desktop(prefix, registry_in_env=not linked)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
