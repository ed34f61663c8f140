"""`cmake --install` into a temporary prefix: its layout, registry file and desktop entry,
the installed conlaunch serving and signing from the read-only folder, and tools/register.py."""
import base64
import json
import os
import re
import shlex
import stat
import subprocess
import sys
import zipfile

import pytest

from signing_support import MARKER, PLUGIN, WRAPPER_JAR, read_only_available, sample_pdf
from zelvo_harness import (BUILD, ROOT, echo_request, escaped, free_port, linux_only, request, run_request,
                           session, talk)

pytestmark = linux_only("the installation in a folder and the desktop's URL handler")



def install(p):
    done = subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(p)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    assert done.returncode == 0, done.stdout.decode("utf-8", "replace")
    return p


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    # A blank and a quote in the prefix: the desktop entry must quote its paths.
    return install(tmp_path_factory.mktemp("inst") / "mi zelvo's")


def test_the_prefix_holds_one_complete_folder(prefix):
    for program in ("launcher", "conlaunch"):
        assert os.access(prefix / program, os.X_OK), program
    assert (prefix / "html").is_dir() and (prefix / "plugins").is_dir()
    config = json.loads((prefix / "application.config").read_text(encoding="utf-8"))
    assert config["basekey"] == "SOFTWARE\\Zelvo\\"
    assert config["port"].isdigit() and config["idletimeout"].isdigit()
    assert config["bindaddress"] == "127.0.0.1"
    # The signing plug-in's folder: the plug-in, its settings and the wrapper jar, not the test probe.
    plugins = prefix / "plugins"
    assert (plugins / PLUGIN).is_file() and not list(plugins.glob("quillet-jni-probe*"))
    assert (plugins / "config.ini").read_bytes() == (ROOT / "plugins" / "signing" / "config.ini").read_bytes()
    with zipfile.ZipFile(plugins / WRAPPER_JAR) as jar:
        assert {"tavrel/quillet/wrapper/StandaloneMain.class", "tavrel/quillet/QuilletWrapper.class"} <= \
            set(jar.namelist())
        manifest = jar.read("META-INF/MANIFEST.MF").decode()
    assert re.search(r"^Main-Class: tavrel.quillet.wrapper.StandaloneMain\r?$", manifest, re.M)


@pytest.mark.parametrize("name, message, reply", [
    ("vexa", "read", {"status": "0", "body": {}}),  # a command that needs no card
    ("quillet", "[]", {"message": "message is not a JSON object"}),
])
def test_the_registry_file_names_the_installed_plugins_by_absolute_path(prefix, serve, name, message, reply):
    """Read by the launcher itself: each plug-in loads from the prefix and answers."""
    l = serve(run_request(name), registry=prefix / "registry.d" / "zelvo.reg", program=prefix / "conlaunch")
    answers, _ = session(l.port, message)
    assert [json.loads(a) for a in answers] == [reply]
    assert "leendo valor RuntimeLib de clave " + escaped("SOFTWARE\\Zelvo\\" + name) in l.ended()


def test_the_registry_file_describes_each_plugin_for_the_consent_window(prefix):
    text = (prefix / "registry.d" / "zelvo.reg").read_text(encoding="utf-8")
    for name, description in (("vexa", "la tarjeta de identidad Vexa (lectura de datos y cambio de PIN)"),
                              ("quillet", "la firma de documentos con Quillet")):
        section = text.split("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\%s]\n" % name)[1].split("\n\n")[0]
        assert '"Description"="%s"' % description in section.splitlines()


def desktop_exec(prefix):
    entry = (prefix / "zelvo-launcher.desktop").read_text(encoding="utf-8")
    fields = dict(line.split("=", 1) for line in entry.splitlines() if "=" in line)
    assert entry.startswith("[Desktop Entry]\n")
    assert fields["Type"] == "Application"
    assert fields["MimeType"] == "x-scheme-handler/zelvo;"
    assert fields["Path"].replace("\\\\", "\\") == str(prefix)
    # The file format's own escapes first, then the Exec quoting rules.
    value = fields["Exec"].replace("\\\\", "\\")
    words = shlex.split(value)
    return words, fields


def test_the_desktop_entry_starts_the_installed_launcher_with_the_url(prefix, launcher_factory):
    words, fields = desktop_exec(prefix)
    assert words == [str(prefix / "launcher"), "%u"]
    # What a desktop does with a zelvo: link, in the entry's folder.
    l = launcher_factory(program=words[0])
    l.workdir = fields["Path"]
    code, _, err = l.run(request("check/", {}))
    assert code == 0 and " Zelvo: ¡Launcher iniciado correctamente!" in err


def test_a_plain_folders_entry_works_when_split_at_blanks_as_xdg_open_does(tmp_path_factory, launcher_factory):
    plain = install(tmp_path_factory.mktemp("inst") / "zelvo")
    exec_line = next(x for x in (plain / "zelvo-launcher.desktop").read_text().splitlines() if x.startswith("Exec="))
    words = exec_line[len("Exec="):].split()
    assert words == ["env", "-C", str(plain), str(plain / "launcher"), "%u"]
    # Started from another folder: env -C alone brings it to its configuration.
    l = launcher_factory(program=words[3], prefix=words[:3])
    code, _, err = l.run(request("check/", {}))
    assert code == 0 and " Zelvo: ¡Launcher iniciado correctamente!" in err


def test_the_installed_conlaunch_serves_a_test_request_with_the_example_configuration(prefix, launcher_factory):
    l = launcher_factory(program=prefix / "conlaunch", env={"ZELVO_REGISTRY": str(prefix / "registry.d")})
    l.workdir, l.port = prefix, free_port()  # the installed application.config, as it stands
    l.serve(echo_request(port=l.port, idletimeout=60000))
    # The test page's own origin: the example configuration lists no site.
    assert talk(l.port, "hola", b"12345", origin="http://localhost:%d" % l.port) == \
        ["hola recibido", "Binario recibido: 5 bytes"]
    code, out, err = l.wait()
    assert code == 0, err
    logs = list(prefix.glob("*.log"))
    assert len(logs) == 1 and "Iniciando aplicativo con nivel 4 en archivo %s\n" % logs[0] in out


@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_signing_from_the_read_only_installed_folder_works_in_the_users_state_folder(prefix, signer_factory):
    plugins = prefix / "plugins"
    before = sorted(p.name for p in plugins.iterdir())
    s = signer_factory(installed=plugins, registry=prefix / "registry.d" / "zelvo.reg",
                       program=prefix / "conlaunch", read_only=True)
    document = sample_pdf()
    (signed,) = s.sign(document, {"reason": "instalado", "stampImageBase64": base64.b64encode(b"JPEG").decode()})
    assert signed.startswith(document) and MARKER in signed
    assert ("%% log4jpath=%s/\n" % s.state).encode() in signed
    assert stat.S_IMODE(s.state.stat().st_mode) == stat.S_IMODE(s.state.parent.stat().st_mode) == 0o700
    # The run's files and the signed output are removed once it has been sent.
    assert sorted(p.name for p in s.state.iterdir() if p.is_file()) == []
    assert "cleaning files" in s.log() and "child.exitCode:0" in s.log()
    assert sorted(p.name for p in plugins.iterdir()) == before, "nothing is written beside the plug-in"


def test_register_copies_the_desktop_entry_and_links_the_registry(prefix, tmp_path):
    env = dict(os.environ, HOME=str(tmp_path / "home"), XDG_DATA_HOME=str(tmp_path / "data"),
               XDG_CONFIG_HOME=str(tmp_path / "config"))
    system = tmp_path / "etc-registry"
    done = subprocess.run(["/usr/bin/python3", str(ROOT / "tools" / "register.py"), str(prefix),
                           "--system-registry", str(system)], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)
    assert done.returncode == 0, done.stdout
    copied = tmp_path / "data" / "applications" / "zelvo-launcher.desktop"
    assert copied.is_file()
    if os.geteuid() == 0:
        link = system / "zelvo.reg"
        assert link.is_symlink() and link.resolve() == (prefix / "registry.d" / "zelvo.reg").resolve()
        assert copied.read_text() == (prefix / "zelvo-launcher.desktop").read_text()


def test_without_root_the_desktop_entry_names_the_registry_itself(prefix):
    sys.path.insert(0, str(ROOT / "tools"))
    import register
    text = register.desktop_with_registry((prefix / "zelvo-launcher.desktop").read_text(), prefix / "registry.d")
    exec_line = next(x for x in text.splitlines() if x.startswith("Exec="))
    words = shlex.split(exec_line[len("Exec="):].replace("\\\\", "\\"))
    assert words == ["env", "ZELVO_REGISTRY=%s:/etc/zelvo/registry.d" % (prefix / "registry.d"),
                     str(prefix / "launcher"), "%u"]
