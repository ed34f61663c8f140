"""The signing plug-in's test pieces (also for its demo): a private plug-in folder, a made
Quillet jar and properties file, a sample PDF, and a launcher hosting the plug-in. On
Windows the signer is tests/windows' javaw.exe, found by the stand-in where.exe put in
place of Wine's stub; the files live in the prefix's user profile."""
import datetime
import json
import re
import shutil
import subprocess
import zipfile
from pathlib import Path

from zelvo_harness import (BASEKEY, BUILD, JVM_ENV, LIBRARY, SANITIZE, STAGE, WAIT, WINDOWS, Launcher, free_port,
                           host_path, run_request, server_config, session, write_registry)

PLUGIN = "quillet-wrapper" + LIBRARY
# The Java runtime's program the plug-in starts, and the Windows stand-ins (tests/windows/signer).
JAVA = "javaw.exe" if WINDOWS else "java"
WINDOWS_STANDINS = BUILD / "tests" / "windows"
WRAPPER_JAR = "quillet-wrapper-1.0.dist.jar"
MARKER = b"% ZELVO STAND-IN SIGNER: NOT A SIGNATURE"


def sample_pdf(text="Documento de prueba de Zelvo", padding=b""):
    """A small valid one-page PDF (with `padding` bytes inside a stream, to grow it)."""
    content = b"BT /F1 18 Tf 72 720 Td (" + text.encode("latin-1") + b") Tj ET\n"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Length %d >>\nstream\n" % len(padding) + padding + b"\nendstream",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def make_quillet_jar(path):
    """Stands for Quillet's own jar: the tests only need a jar that opens."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nCreated-By: zelvo tests\r\n\r\n")
    return path


def write_properties(home, text):
    props = Path(home) / ".quillet" / "quillet.properties"
    props.parent.mkdir(parents=True, exist_ok=True)
    props.write_bytes(text.encode("utf-8") if isinstance(text, str) else text)
    return props


def install_plugin(folder, config_ini=None):
    """The staged plug-in folder's three files in `folder` (Windows: a made wrapper jar)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for name in (PLUGIN, "config.ini") + (() if WINDOWS else (WRAPPER_JAR,)):
        shutil.copy2(STAGE / "plugins" / name, folder / name)
    if WINDOWS:
        make_quillet_jar(folder / WRAPPER_JAR)
    if config_ini is not None:
        (folder / "config.ini").write_text(config_ini, encoding="utf-8")
    return folder


def day_log_name(name="quillet.plugin"):
    return "%s-%s.log" % (name, datetime.date.today().strftime("%Y-%m-%d"))


def day_log(folder, name="quillet.plugin"):
    path = Path(folder) / "logs" / day_log_name(name)
    return path.read_bytes().decode("utf-8", "replace") if path.exists() else ""


def search_path_env(folder):
    """A search path of `folder` alone (on Windows before the system's folders)."""
    return {"WINEPATH": host_path(folder)} if WINDOWS else {"PATH": str(folder)}


def standin_java(folder):
    """On Windows a copy of the stand-in javaw.exe in `folder` (Linux: the system's java)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    if WINDOWS:
        shutil.copy2(WINDOWS_STANDINS / JAVA, folder / JAVA)
    return folder


def running_signers(pids):
    """The signers of `pids` still running; on Windows every javaw.exe in the prefix."""
    if WINDOWS:
        import windows_target
        return [(pid, name) for pid, name in windows_target.windows_processes() if name.lower() == JAVA]
    return [pid for pid in pids if Path("/proc/%s" % pid).exists()]


def read_only_prefix(folder):
    """A command prefix (ending in exec) that makes `folder` read-only in a mount namespace
    of its own: root may write anywhere, so the folder's mode alone cannot show it."""
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c",
            'mount --bind -o ro "$0" "$0" && exec "$@"', str(folder)]


def read_only_available():
    """Whether this machine lets a test make a read-only view of a folder."""
    try:
        return subprocess.run(read_only_prefix("/tmp") + ["true"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=WAIT).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


def sanitizer_preload(library):
    """LD_PRELOAD of the sanitizer runtimes for a JVM loading an ASan-built `library`."""
    if not SANITIZE:
        return {}
    done = subprocess.run(["ldd", str(library)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=WAIT)
    runtimes = re.findall(r"^\s*(lib(?:asan|ubsan)\.so\S*) => (\S+)", done.stdout, re.M)
    return dict(JVM_ENV, LD_PRELOAD=":".join(path for _, path in runtimes))


class Signer(Launcher):
    """A launcher hosting the signing plug-in from a private (or `installed`) folder; with
    `read_only` the plug-in works in $XDG_STATE_HOME/zelvo/signing (Windows: always in
    %LOCALAPPDATA%\\Zelvo\\signing)."""

    def __init__(self, tmp_path, config_ini=None, properties=True, env=None, plugin_dir=None, installed=None,
                 registry=None, program="conlaunch", read_only=False):
        self.tmp = Path(tmp_path)
        self.tmp.mkdir(parents=True, exist_ok=True)
        self.plugins = Path(installed) if installed else install_plugin(plugin_dir or self.tmp / "plugins", config_ini)
        if registry is None:
            registry = write_registry(self.tmp / "zelvo.reg", {BASEKEY + "quillet": {"RuntimeLib": self.plugins / PLUGIN}})
        if WINDOWS:
            env = dict(env or {})
            env.setdefault("WINEPATH", host_path(standin_java(self.tmp / "Java (x86)" / "bin")))
            env.update(self._windows_system())
        super().__init__(self.tmp / "launcher", config=server_config(free_port(), int(WAIT * 1000)),
                         registry=registry, env=env, program=program,
                         prefix=read_only_prefix(self.plugins) if read_only else ())
        self.state = Path(self.env["XDG_STATE_HOME"]) / "zelvo" / "signing"
        self.files = self.state if read_only else self.plugins  # where documents, stamps and logs go
        self.home = Path(self.env["HOME"])
        # The work folder as the plug-in spells it (-Dlog4jpath), with its separator.
        self.files_spelled = str(self.files) + "/"
        if WINDOWS:
            self._windows_folders()
        if properties:
            jar = make_quillet_jar(self.tmp / "quillet" / "quillet.jar")
            write_properties(self.home, "# Quillet\r\nVERSION=1.0\r\nQUILLET_JAR=%s\r\n" % host_path(jar))

    @staticmethod
    def _windows_system():
        """The stand-in where.exe in system32, and the override that makes Wine run it."""
        import windows_target
        prefix = windows_target.session().prefix
        shutil.copy2(WINDOWS_STANDINS / "where.exe", prefix.path / "drive_c" / "windows" / "system32" / "where.exe")
        return {"WINEDLLOVERRIDES": prefix.env["WINEDLLOVERRIDES"] + ";where.exe=n"}

    def _windows_folders(self):
        """The profile and work folder in the prefix, without an earlier test's properties."""
        import windows_target
        wine = windows_target.session()
        self.home = wine.user_folder("Local").parent.parent
        shutil.rmtree(self.home / ".quillet", ignore_errors=True)
        self.state = self.files = wine.user_folder("Local") / "Zelvo" / "signing"
        self.files_spelled = "C:\\users\\%s\\AppData\\Local\\Zelvo\\signing\\" % wine.user

    def exchange(self, *messages):
        """The replies to `messages` in one run, which must end well."""
        self.serve(run_request("quillet"))
        replies, _ = session(self.port, *messages, timeout=WAIT * 3)
        self.ended()
        return replies

    def sign(self, document, options, order="text-first"):
        text = json.dumps(options)
        return self.exchange(*((text, document) if order == "text-first" else (document, text)))

    def log(self):
        return day_log(self.files)
