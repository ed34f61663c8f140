"""The plug-in's Java native method from a real JVM: the probe loads the plug-in
with System.load and calls tavrel.quillet.QuilletWrapper.getQuilletJar, which
answers through setPath or raises a Java exception."""
import os
import signal
import subprocess
from pathlib import Path

import pytest

from signing_support import (install_plugin, day_log, day_log_name, make_quillet_jar, read_only_available, read_only_prefix,
                             sanitizer_preload, write_properties, PLUGIN, WRAPPER_JAR)
from zelvo_harness import STAGE, WAIT


PROBE = STAGE / "java" / "quillet-jni-probe.jar"
QUILLET = "Verifique la instalación del software Quillet. "


def probe(plugins, home, *extra, prefix=(), state=None):
    """Runs the probe's JVM on the plug-in in `plugins`; returns (kind, text):
    ("path", ...) or ("exception:<class>", ...)."""
    assert PROBE.exists(), "build the java folder first"
    env = dict(os.environ)
    env["HOME"] = str(home)
    env["XDG_STATE_HOME"] = str(state or Path(home) / "state")
    env.update(sanitizer_preload(Path(plugins) / PLUGIN))
    cp = "%s:%s" % (PROBE, STAGE / "java" / WRAPPER_JAR)
    proc = subprocess.Popen(list(prefix) + ["java", "-cp", cp, "QuilletJarProbe", str(Path(plugins) / PLUGIN), *extra],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=WAIT * 2)
    except subprocess.TimeoutExpired:
        os.kill(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise
    assert proc.returncode == 0, err.decode("utf-8", "replace")
    line = out.decode().strip().splitlines()[-1]
    kind, _, data = line.rpartition(":")
    return kind, bytes.fromhex(data).decode("utf-8") if data != "null" else None


@pytest.fixture
def setup(tmp_path):
    plugins = install_plugin(tmp_path / "plugins")
    home = tmp_path / "home"
    home.mkdir()
    return plugins, home


def test_setpath_receives_the_jar_path_with_its_non_ascii_characters_intact(setup, tmp_path):
    plugins, home = setup
    jar = make_quillet_jar(tmp_path / "Programas Año" / "Quillet señal €.jar")
    write_properties(home, "# Quillet\nQUILLET_JAR = %s \n" % jar)
    assert probe(plugins, home) == ("path", str(jar))
    log = day_log(plugins, "quillet.jni")
    assert " INFO quilletJarPath:%s\r\n" % jar in log
    assert " INFO {path=%s} jni object written\r\n" % jar in log
    assert [f.name for f in (plugins / "logs").iterdir()] == [day_log_name("quillet.jni")]


@pytest.mark.parametrize("case, expected", [
    ("missing properties", QUILLET + "No se encuentra archivo de propiedades"),
    ("corrupt properties", QUILLET + "El archivo de propiedades está corrupto"),
    ("jar path that does not open", QUILLET + "Path no válido para QUILLET_JAR"),
    ("object without setPath", "jni method 'setPath' doesn't exists in object"),
])
def test_each_failure_raises_java_lang_exception_with_its_text(setup, tmp_path, case, expected):
    plugins, home = setup
    extra = ()
    if case == "corrupt properties":
        write_properties(home, "QUILLET_JAR=a=b\nQUILLET_JAR\n")
    elif case == "jar path that does not open":
        write_properties(home, "QUILLET_JAR=%s\n" % (tmp_path / "no-existe.jar"))
    elif case == "object without setPath":
        write_properties(home, "QUILLET_JAR=%s\n" % make_quillet_jar(tmp_path / "q.jar"))
        extra = ("sin-setPath",)
    assert probe(plugins, home, *extra) == ("exception:java.lang.Exception", expected)
    assert " ERROR %s\r\n" % expected in day_log(plugins, "quillet.jni")


@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_from_a_read_only_folder_the_log_goes_to_the_users_state_folder(setup, tmp_path):
    plugins, home = setup
    jar = make_quillet_jar(tmp_path / "q.jar")
    write_properties(home, "QUILLET_JAR=%s\n" % jar)
    before = sorted(p.name for p in plugins.iterdir())
    state = tmp_path / "state"
    assert probe(plugins, home, prefix=read_only_prefix(plugins), state=state) == ("path", str(jar))
    assert sorted(p.name for p in plugins.iterdir()) == before
    folder = state / "zelvo" / "signing"
    assert (folder.stat().st_mode & 0o777) == 0o700
    assert "jni object written" in day_log(folder, "quillet.jni")

    # With nowhere to write there is no log, but the answer still comes.
    nowhere = Path("/dev/null/state")
    assert probe(plugins, home, prefix=read_only_prefix(plugins), state=nowhere) == ("path", str(jar))
    assert sorted(p.name for p in plugins.iterdir()) == before
