#!/usr/bin/python3
"""Inspects a Windows build's deliverables without running them (the 32-bit build
cannot run on these machines): machine type, subsystem, that every import is a
Windows system DLL, the plug-ins' exports, and the version information and
manifest each program and DLL carries.

    tools/windows/check-pe.py BUILD_FOLDER      (build-windows-x64 or build-windows-x86)

Exits 1 and names every fault found."""
import re
import subprocess
import sys
from pathlib import Path

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
               "comctl32.dll", "ws2_32.dll", "mswsock.dll", "iphlpapi.dll", "crypt32.dll", "msvcrt.dll",
               "winscard.dll", "bcrypt.dll", "shlwapi.dll", "secur32.dll", "oleaut32.dll", "version.dll"}
PLUGIN_EXPORTS = ["onConnect", "onTextMessage", "onBinaryMessage", "onClose", "registerSendMessageFunction"]
DELIVERABLES = {  # file in the stage: (subsystem or None for a DLL, exports the DLL must have)
    "launcher.exe": ("Windows GUI", None),
    "conlaunch.exe": ("Windows CUI", None),
    "zelvo-dialog.exe": ("Windows GUI", None),
    "plugins/vexa-tools.dll": (None, PLUGIN_EXPORTS + ["test"]),
    "plugins/quillet-wrapper.dll": (None, PLUGIN_EXPORTS + ["Java_tavrel_quillet_QuilletWrapper_getQuilletJar"]),
}


def objdump(triplet, *args):
    return subprocess.run(["%s-objdump" % triplet, *args], capture_output=True, text=True, check=True).stdout


def utf16(text):
    return text.encode("utf-16-le")


def check(path, triplet, subsystem, exports):
    faults = []
    head = objdump(triplet, "-p", str(path))
    wanted = "pei-x86-64" if triplet.startswith("x86_64") else "pei-i386"
    if "file format %s" % wanted not in head:
        faults.append("not %s" % wanted)
    got = re.search(r"^Subsystem\s+\S+\s+\((.*)\)", head, re.M)
    if subsystem and (not got or got.group(1) != subsystem):
        faults.append("subsystem %s, not %s" % (got.group(1) if got else "?", subsystem))
    for dll in re.findall(r"DLL Name: (\S+)", head):
        if dll.lower() not in SYSTEM_DLLS:
            faults.append("imports %s" % dll)
    if exports is not None:
        table = head.split("[Ordinal/Name Pointer] Table", 1)
        section = table[1].split("\n\n", 1)[0] if len(table) > 1 else ""
        names = re.findall(r"\]\s+(\S+)\s*$", section, re.M)
        if sorted(names) != sorted(exports):
            faults.append("exports %s, not %s" % (names, exports))
    resources = Path(path).read_bytes()
    for needed in (utf16("FileDescription"), utf16("Zelvo"), utf16("CompanyName"), b"asInvoker"):
        if needed not in resources:
            faults.append("no %r in its resources" % needed.decode("utf-16-le", "replace") if b"\0" in needed
                          else "no %r in its manifest" % needed.decode())
    return faults


def main():
    build = Path(sys.argv[1])
    cache = (build / "CMakeCache.txt").read_text()
    triplet = "i686-w64-mingw32" if "mingw-i686" in cache else "x86_64-w64-mingw32"
    failed = False
    for name, (subsystem, exports) in DELIVERABLES.items():
        path = build / "stage" / name
        faults = ["missing"] if not path.exists() else check(path, triplet, subsystem, exports)
        print("%-32s %s" % (name, "; ".join(faults) if faults else "ok"))
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
