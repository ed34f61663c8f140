"""The Windows Installer packages under wine64 in a prefix of the module's own without a
display: what an installation writes, the installed launcher through the zelvo: protocol,
the administrator's sites, upgrade, refused downgrade, removal, signing, and the x86
package's tables (32-bit code cannot run here)."""
import getpass
import os
import re
import shutil
import struct
import subprocess
from pathlib import Path

import pytest

from wine import WinePrefix
from zelvo_harness import ROOT, b64json, free_port, host_path, talk, wait_for, wait_listening, windows_only

pytestmark = windows_only("the Windows Installer packages")

BUILD = Path(os.environ.get("ZELVO_WINDOWS_BUILD", ROOT / "build-windows-x64"))
X86_BUILD = Path(os.environ.get("ZELVO_WINDOWS_X86_BUILD", ROOT / "build-windows-x86"))
PACKAGE_SCRIPT = ROOT / "packaging" / "windows" / "package.cmake"
INSTALLED = "C:\\Program Files\\Zelvo\\"
BASEKEY = "HKLM\\SOFTWARE\\Zelvo"
PROTOCOL = "HKLM\\SOFTWARE\\Classes\\zelvo"
# The same texts as the Debian package's registry file.
APPLICATIONS = {
    "vexa": ("vexa-tools.dll", "la tarjeta de identidad Vexa (lectura de datos y cambio de PIN)"),
    "quillet": ("quillet-wrapper.dll", "la firma de documentos con Quillet"),
}
SITES = "https://tramites.example.gob https://*.sede.example.gob"
OLDER = "0.9.0"
# msiexec's ERROR_INSTALL_FAILURE (1603) as a Unix exit status.
REFUSED = 1603 & 0xFF
CONFIGURATION_BESIDE = "Archivo de configuración: C:\\\\Program Files\\\\Zelvo\\\\application.config"


def settings(build):
    return build / "packaging" / "windows" / "msi-settings.cmake"


def version():
    return re.search(r"set\(ZELVO_VERSION \[=\[([^]]+)\]=\]\)", settings(BUILD).read_text()).group(1)


def package(out, release=None, env=None, build=BUILD):
    """`build`'s package in `out`, as `./dev windows package` makes it (`release`:
    the same files as another version)."""
    command = ["cmake", "-DZELVO_MSI_SETTINGS=%s" % settings(build), "-DZELVO_MSI_OUT=%s" % out]
    if release:
        command.append("-DZELVO_MSI_VERSION=" + release)
    done = subprocess.run(command + ["-P", str(PACKAGE_SCRIPT)], env=dict(os.environ, **(env or {})),
                          capture_output=True, timeout=600)
    assert done.returncode == 0, (done.stdout + done.stderr).decode("utf-8", "replace")
    return Path(out)


def table(msi, name):
    """The rows of one table of a package, as tuples of text."""
    out = subprocess.run(["msiinfo", "export", str(msi), name], capture_output=True, check=True, timeout=60).stdout
    lines = out.decode("cp1252").split("\r\n") if b"\r\n" in out else out.decode("cp1252").split("\n")
    return [tuple(line.split("\t")) for line in lines[3:] if line]


def pe_machine(path):
    """The machine field of a PE file's header: 0x8664 x86-64, 0x14c i386."""
    data = Path(path).read_bytes()
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[offset:offset + 4] == b"PE\0\0"
    return struct.unpack_from("<H", data, offset + 4)[0]


class Machine:
    """The Windows computer the packages are installed on."""

    def __init__(self, folder):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.wine = WinePrefix(folder / "prefix", env=env).start()
        self.drive = self.wine.path / "drive_c"
        self.installed = self.drive / "Program Files" / "Zelvo"
        self.user = self.drive / "users" / getpass.getuser()

    def msiexec(self, *words):
        return self.wine.run("msiexec", *words, timeout=600).returncode

    def install(self, msi, **properties):
        return self.msiexec("/i", host_path(msi), "/qn", *("%s=%s" % p for p in properties.items()))

    def remove(self, msi):
        return self.msiexec("/x", host_path(msi), "/qn")

    def values(self, key):
        """The values of a key of the registry ({name: data}; "(Default)" for the
        default value), or None when the key does not exist."""
        done = self.wine.run("reg", "query", key)
        if done.returncode != 0:
            return None
        found = {}
        for line in done.stdout.decode("utf-8", "replace").splitlines():
            m = re.match(r"^    (.+?)    (REG_\w+)    ?(.*)$", line)
            if m:
                found[m.group(1)] = m.group(3)
        return found

    def products(self):
        """(name, version) of every product installed, from the system's list."""
        uninstall = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
        done = self.wine.run("reg", "query", uninstall)
        codes = re.findall(r"\\(\{[0-9A-F-]+\})", done.stdout.decode("utf-8", "replace"))
        rows = [self.values(uninstall + "\\" + code) or {} for code in codes]
        return [(r.get("DisplayName"), r.get("DisplayVersion")) for r in rows]

    def files(self):
        return sorted(p.relative_to(self.installed).as_posix() for p in self.installed.rglob("*") if p.is_file())

    def shortcuts(self):
        return [p for p in self.drive.rglob("Ayuda de Zelvo.lnk")]

    def user_folder(self, kind):
        return self.user / "AppData" / kind / "Zelvo"

    def launcher_log(self):
        return "".join(p.read_text(encoding="utf-8", errors="replace")
                       for p in sorted(self.user_folder("Local").glob("*.log")))

    def nothing_of_zelvo(self):
        """What is left of an installation: files, registry keys, Start-menu entry, product."""
        left = [str(p) for p in self.shortcuts()] + ([str(self.installed)] if self.installed.exists() else [])
        left += [key for key in (BASEKEY, PROTOCOL) if self.values(key) is not None]
        return left + ["%s %s" % p for p in self.products() if p[0] == "Zelvo"]


@pytest.fixture(scope="module")
def machine(tmp_path_factory):
    m = Machine(tmp_path_factory.mktemp("windows"))
    yield m
    m.wine.stop()


@pytest.fixture(scope="module")
def packages(tmp_path_factory):
    folder = tmp_path_factory.mktemp("msi")
    return {"new": package(folder / "zelvo-nuevo.msi"), "old": package(folder / "zelvo-antiguo.msi", OLDER)}


@pytest.fixture(autouse=True)
def removed_afterwards(request, packages):
    """Every test starts on a computer without Zelvo."""
    yield
    if "machine" in request.fixturenames:
        m = request.getfixturevalue("machine")
        for msi in (packages["new"], packages["old"]):
            m.remove(msi)


def test_an_installation_writes_files_values_protocol_and_guide_and_its_removal_takes_them_away(machine, packages,
                                                                                              tmp_path):
    assert machine.install(packages["new"]) == 0
    assert machine.products() == [("Zelvo", version())]
    assert {"launcher.exe", "conlaunch.exe", "zelvo-dialog.exe", "application.config", "ayuda.html",
            "html/test.html", "html/zelvo.js", "plugins/vexa-tools.dll", "plugins/quillet-wrapper.dll",
            "plugins/config.ini", "plugins/quillet-wrapper-1.0.dist.jar", "java/zelvo-sdk.jar",
            "java/zelvo-echo.jar"} <= set(machine.files())
    for name, (dll, description) in APPLICATIONS.items():
        assert machine.values(BASEKEY + "\\" + name) == {"RuntimeLib": INSTALLED + "plugins\\" + dll,
                                                          "Description": description}
    assert machine.values(BASEKEY) == {}, "no sites when ZELVO_SITES was never given"
    assert machine.values(PROTOCOL) == {"(Default)": "URL:Protocolo de Zelvo", "URL Protocol": ""}
    assert machine.values(PROTOCOL + "\\DefaultIcon") == {"(Default)": '"%slauncher.exe",0' % INSTALLED}
    assert machine.values(PROTOCOL + "\\shell\\open\\command") == {"(Default)": '"%slauncher.exe" "%%1"' % INSTALLED}
    guide = (machine.installed / "ayuda.html").read_text(encoding="utf-8")
    assert "<h1>Zelvo: guía del usuario</h1>" in guide and "Zelvo %s" % version() in guide
    assert len(machine.shortcuts()) == 1

    # The installed console launcher, from a folder without configuration.
    (tmp_path / "otra").mkdir()
    done = machine.wine.run(INSTALLED + "conlaunch.exe", "zelvo://check/e30=", cwd=tmp_path / "otra")
    assert done.returncode == 0, done.stderr
    assert "Zelvo: ¡Launcher iniciado correctamente!" in done.stderr.decode("utf-8", "replace")
    assert CONFIGURATION_BESIDE in machine.launcher_log()

    # The users' own files stay: logs and remembered decisions.
    remembered = machine.user_folder("Roaming") / "permisos.json"
    remembered.parent.mkdir(parents=True, exist_ok=True)
    remembered.write_text('{"sites": []}\n', encoding="utf-8")
    assert machine.remove(packages["new"]) == 0
    assert machine.nothing_of_zelvo() == []
    assert remembered.exists() and list(machine.user_folder("Local").glob("*.log"))


def test_a_zelvo_link_opened_through_the_shell_runs_the_installed_launcher_and_a_listed_site_needs_no_question(
        machine, packages, tmp_path):
    assert machine.install(packages["new"], ZELVO_SITES=SITES) == 0
    assert machine.values(BASEKEY) == {"AllowedOrigins": SITES}
    shutil.rmtree(machine.user_folder("Local"), ignore_errors=True)  # only this run's log
    port = free_port()
    link = "zelvo://test/" + b64json({"port": str(port), "idletimeout": "60000", "openbrowser": "0"})
    (tmp_path / "navegador").mkdir()
    # What a browser does with the link: the shell looks the protocol up and starts its command.
    assert machine.wine.run("start", link, cwd=tmp_path / "navegador").returncode == 0
    assert wait_listening(port), "the installed launcher did not start"
    # No question: without a display none could be answered, and the page gets its echo.
    assert talk(port, "hola", origin="https://pagos.sede.example.gob") == ["hola recibido"]
    assert wait_for(lambda: "Ejecución del servidor terminada correctamente" in machine.launcher_log())
    log = machine.launcher_log()
    assert CONFIGURATION_BESIDE in log
    assert "Sitios autorizados por el administrador en el registro (AllowedOrigins): 2" in log
    assert "El sitio https://pagos.sede.example.gob está en allowedorigins" in log


def test_an_older_package_then_a_newer_one_leaves_one_product_and_the_administrators_settings(machine, packages):
    assert machine.install(packages["old"], ZELVO_SITES=SITES) == 0
    assert machine.products() == [("Zelvo", OLDER)]
    assert "Zelvo %s</footer>" % OLDER in (machine.installed / "ayuda.html").read_text(encoding="utf-8")
    edited = '{"port": "9123", "basekey": "SOFTWARE\\\\Zelvo\\\\", "log": {"level": "6"}}\n'
    (machine.installed / "application.config").write_text(edited, encoding="utf-8")

    # The newer one, without ZELVO_SITES: the sites and the edited configuration stay.
    assert machine.install(packages["new"]) == 0
    assert machine.products() == [("Zelvo", version())]
    assert "Zelvo %s</footer>" % version() in (machine.installed / "ayuda.html").read_text(encoding="utf-8")
    assert (machine.installed / "application.config").read_text(encoding="utf-8") == edited
    assert machine.values(BASEKEY) == {"AllowedOrigins": SITES}

    # The older one over the newer is refused and changes nothing.
    files = machine.files()
    assert machine.install(packages["old"]) == REFUSED
    assert machine.products() == [("Zelvo", version())]
    assert machine.files() == files
    assert "Zelvo %s</footer>" % version() in (machine.installed / "ayuda.html").read_text(encoding="utf-8")

    assert machine.remove(packages["new"]) == 0
    assert machine.nothing_of_zelvo() == []


def test_an_upgrade_that_could_not_keep_the_configuration_stops_before_it_removes_anything(machine, packages):
    assert machine.install(packages["old"]) == 0
    too_big = '{"a": "%s"}' % ("x" * (1 << 20))  # more than the launcher reads
    (machine.installed / "application.config").write_text(too_big, encoding="utf-8")
    assert machine.install(packages["new"]) == REFUSED
    assert machine.products() == [("Zelvo", OLDER)]
    assert (machine.installed / "application.config").read_text(encoding="utf-8") == too_big


def test_a_certificate_signs_every_program_dll_and_the_package(tmp_path, packages):
    key, cert = tmp_path / "firma.key", tmp_path / "firma.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out",
                    str(cert), "-days", "2", "-subj", "/CN=Zelvo (pruebas)", "-addext", "keyUsage=digitalSignature",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True, timeout=120)
    signed = package(tmp_path / "firmado.msi", env={"ZELVO_SIGN_CERT": str(cert), "ZELVO_SIGN_KEY": str(key)})

    def verified(path):
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(path)],
                              capture_output=True, timeout=120)
        return done.returncode == 0 and b"Signature verification: ok" in done.stdout

    files = tmp_path / "dentro"
    subprocess.run(["msiextract", "-C", str(files), str(signed)], check=True, capture_output=True, timeout=120)
    actions = tmp_path / "acciones.dll"
    with open(actions, "wb") as out:
        subprocess.run(["msiinfo", "extract", str(signed), "Binary.ZelvoActions"], stdout=out, check=True,
                       timeout=120)
    binaries = sorted(p for p in files.rglob("*") if p.suffix in (".exe", ".dll")) + [actions]
    assert {p.name for p in binaries} == {"launcher.exe", "conlaunch.exe", "zelvo-dialog.exe", "vexa-tools.dll",
                                          "quillet-wrapper.dll", "acciones.dll"}
    assert [p.name for p in binaries + [signed] if not verified(p)] == []
    assert not verified(packages["new"]), "without a certificate nothing is signed"


def test_the_x86_package_holds_32_bit_components_and_the_same_registry_values(tmp_path, packages):
    if not settings(X86_BUILD).exists():
        pytest.skip("build-windows-x86 is not built (./dev windows)")
    x86, x64 = package(tmp_path / "x86.msi", build=X86_BUILD), packages["new"]
    # msidbComponentAttributes64bit: set on every component of the x64 package only.
    assert {int(row[3]) & 256 for row in table(x86, "Component")} == {0}
    assert {int(row[3]) & 256 for row in table(x64, "Component")} == {256}
    assert ("INSTALLDIR", "ProgramFilesFolder", "Zelvo") in table(x86, "Directory")
    assert ("INSTALLDIR", "ProgramFiles64Folder", "Zelvo") in table(x64, "Directory")
    registry = lambda msi: sorted(row[1:5] for row in table(msi, "Registry"))  # noqa: E731
    assert registry(x86) == registry(x64)
    assert ("2", "SOFTWARE\\Zelvo\\vexa", "RuntimeLib", "[PLUGINSDIR]vexa-tools.dll") in registry(x86)
    # The installed sites are looked for in the package's own registry view.
    assert [row[4] for row in table(x86, "RegLocator")] == ["2"]
    assert [row[4] for row in table(x64, "RegLocator")] == ["18"]
    assert sorted(row[2] for row in table(x86, "File")) == sorted(row[2] for row in table(x64, "File"))
    # The programs and the installer's own actions are 32-bit code.
    inside = tmp_path / "x86"
    subprocess.run(["msiextract", "-C", str(inside), str(x86)], check=True, capture_output=True, timeout=120)
    assert pe_machine(next(inside.rglob("launcher.exe"))) == 0x14C
    actions = tmp_path / "acciones-x86.dll"
    with open(actions, "wb") as out:
        subprocess.run(["msiinfo", "extract", str(x86), "Binary.ZelvoActions"], stdout=out, check=True, timeout=120)
    assert pe_machine(actions) == 0x14C
    suminfo = subprocess.run(["msiinfo", "suminfo", str(x86)], capture_output=True, check=True, timeout=60).stdout
    assert b"Template: Intel;" in suminfo
