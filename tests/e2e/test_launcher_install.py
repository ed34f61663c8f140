"""The installed folder: `cmake --install` of this build into a temporary
prefix, its layout, the registry file and desktop entry it writes, the
installed conlaunch serving a test request with the example configuration as it
stands, and tools/register.py registering it for a user."""
import importlib.util
import json
import os
import re
import shlex
import shutil
import subprocess
from pathlib import Path

import pytest

from launcher_support import connect, run_async
from zelvo_harness import BUILD, WAIT, Launcher, free_port, request, wait_listening

ROOT = Path(__file__).resolve().parents[2]
PLUGINS = {"vexa": "vexa-tools.so", "quillet": "quillet-wrapper.so"}


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    # A blank and a quote in the prefix: the desktop entry must quote its paths.
    p = tmp_path_factory.mktemp("inst") / "mi zelvo's"
    (p / "plugins").mkdir(parents=True)
    # A plug-in already present is registered like one this build installs.
    if not (BUILD / "stage" / "plugins" / PLUGINS["vexa"]).exists():
        shutil.copy2(BUILD / "tests" / "fixtures" / "echo-plugin.so", p / "plugins" / PLUGINS["vexa"])
    done = subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(p)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    assert done.returncode == 0, done.stdout.decode("utf-8", "replace")
    return p


def read_reg(path):
    """{lower-case key: {value name: data}} of a .reg file, as the launcher reads it."""
    keys, key = {}, None
    text = path.read_text(encoding="utf-8")
    assert text.startswith("Windows Registry Editor Version 5.00")
    for line in text.splitlines()[1:]:
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            key = keys.setdefault(line[1:-1].lower(), {})
            continue
        m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"', line)
        assert m and key is not None, line
        key[m.group(1)] = re.sub(r"\\(.)", r"\1", m.group(2))
    return keys


def test_the_prefix_holds_one_complete_folder(prefix):
    for program in ("launcher", "conlaunch"):
        assert os.access(prefix / program, os.X_OK), program
    assert (prefix / "html").is_dir() and (prefix / "plugins").is_dir()
    config = json.loads((prefix / "application.config").read_text(encoding="utf-8"))
    assert config["basekey"] == "SOFTWARE\\Zelvo\\"
    assert config["port"].isdigit() and config["idletimeout"].isdigit()
    assert config["bindaddress"] == "127.0.0.1"


def test_the_registry_file_names_the_installed_plugins_by_absolute_path(prefix):
    keys = read_reg(prefix / "registry.d" / "zelvo.reg")
    for name, file in PLUGINS.items():
        key = ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\" + name).lower()
        installed = prefix / "plugins" / file
        if installed.exists():
            assert keys[key] == {"RuntimeLib": str(installed)}
        else:
            assert key not in keys
    assert any(k.endswith("\\vexa") for k in keys), "the plug-in placed in plugins/ is registered"


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


def test_the_desktop_entry_starts_the_installed_launcher_with_the_url(prefix, tmp_path):
    words, fields = desktop_exec(prefix)
    assert words == [str(prefix / "launcher"), "%u"]
    # What a desktop does with a zelvo: link, in the entry's folder.
    url = request("check/", {})
    l = Launcher(tmp_path / "w")
    try:
        done = subprocess.run([words[0], url], cwd=fields["Path"], env=l.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=WAIT)
    finally:
        l.stop()
    assert done.returncode == 0, done.stderr
    assert " Zelvo: ¡Launcher iniciado correctamente!" in done.stderr.decode()


def test_the_installed_conlaunch_serves_a_test_request_with_the_example_configuration(prefix, tmp_path):
    port = free_port()
    l = Launcher(tmp_path / "w", program="conlaunch")
    l.program = prefix / "conlaunch"
    l.workdir = prefix  # the installed application.config, as it stands
    l.env["ZELVO_REGISTRY"] = str(prefix / "registry.d")
    try:
        l.start(request("test/", {"port": str(port), "idletimeout": "60000"}))
        assert wait_listening(port, l.proc)

        async def talk():
            async with connect(port, origin="http://localhost:%d" % port) as ws:  # the test page's own
                await ws.send("hola")
                assert await ws.recv() == "hola recibido"
                await ws.send(b"12345")
                assert await ws.recv() == "Binario recibido: 5 bytes"
        run_async(talk())
        code, out, err = l.wait()
    finally:
        l.stop()
    assert code == 0, err
    logs = list(prefix.glob("*.log"))
    assert len(logs) == 1 and "Iniciando aplicativo con nivel 4 en archivo %s\n" % logs[0] in out


def load_register():
    spec = importlib.util.spec_from_file_location("register", ROOT / "tools" / "register.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


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
    register = load_register()
    text = register.desktop_with_registry((prefix / "zelvo-launcher.desktop").read_text(), prefix / "registry.d")
    exec_line = next(x for x in text.splitlines() if x.startswith("Exec="))
    words = shlex.split(exec_line[len("Exec="):].replace("\\\\", "\\"))
    assert words == ["env", "ZELVO_REGISTRY=%s:/etc/zelvo/registry.d" % (prefix / "registry.d"),
                     str(prefix / "launcher"), "%u"]
