"""Starting a Java application through the real launcher and the real JVM: the
search for libjvm.so, the JVM's options and class path, and every way the start
fails (message on standard error, 403 to the page, exit code 1)."""
import json
import shutil
from pathlib import Path

import pytest

from java_support import (BASEKEY, BOX, JDK17, JRE_KEY, NONATIVES, SDK, TEST_PACKAGE, TESTS, classpath,
                          java_launcher, java_registry, java_request, jvm_library, refused_start, used_jvm)
from launcher_support import connect, run_async, start_listening
from zelvo_harness import write_registry

REPORT = TEST_PACKAGE + "ReportLoader"
NOT_INSTALLED = "Java no está correctamente instalado."


async def ask(port, *questions):
    """Sends each question to the report application and returns its answers; then closes."""
    answers = []
    async with connect(port) as ws:
        for q in questions:
            await ws.send(q)
            answers.append(await ws.recv())
    return answers


def served(launcher, port, *questions, argument=None):
    """Runs one session with the report application; checks the launcher ends with 0."""
    start_listening(launcher, argument or java_request(), port)
    answers = run_async(ask(port, *questions))
    code, _, err = launcher.wait()
    assert code == 0, err
    return answers


# ---- the JVM's options ----

def test_without_vmoptions_the_jvm_gets_only_the_class_path(launcher_factory, tmp_path):
    cp = classpath(SDK, TESTS)
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, cp)
    arguments, seen_cp = served(l, port, "argumentos", "propiedad:java.class.path")
    # The JVM reports its options without the class path, which it keeps as a property.
    assert json.loads(arguments) == []
    assert seen_cp == cp
    log = l.log_text()
    assert "Opción 0 de la JVM: -Djava.class.path=" + cp in log
    assert "Opción 1 de la JVM" not in log


def test_three_vmoptions_follow_the_class_path_in_their_order(launcher_factory, tmp_path):
    cp = classpath(SDK, TESTS)
    later_cp = classpath(TESTS, SDK)
    options = ["-Xmx96m", "-Dzelvo.prueba=ñandú", "-Djava.class.path=" + later_cp]
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, cp, vmoptions=options)
    arguments, seen_cp, prop = served(l, port, "argumentos", "propiedad:java.class.path", "propiedad:zelvo.prueba")
    assert [a for a in json.loads(arguments) if not a.startswith("-Djava.class.path")] == options[:2]
    # A later option wins: the configured class path came first.
    assert seen_cp == later_cp
    assert prop == "ñandú"
    log = l.log_text()
    expected = ["-Djava.class.path=" + cp] + options
    for i, text in enumerate(expected):
        assert "Opción %d de la JVM: %s\n" % (i, text) in log
    assert "Opción 4 de la JVM" not in log


def test_the_additional_files_class_path_is_appended_and_both_archives_are_searched(launcher_factory, tmp_path):
    extra = tmp_path / "extra.config"
    extra.write_text(json.dumps({"java": {"classpath": str(TESTS), "vmoptions": ["-Dzelvo.origen=adicional"]}}))
    reg = java_registry(tmp_path / "extra.reg", extra={BASEKEY + "javatest": {"application.config": str(extra)}})
    # The message class is only in the configured archive, the loader only in the added one.
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK), registry=reg,
                            vmoptions=["-Dzelvo.origen=principal"])
    seen_cp, origin = served(l, port, "propiedad:java.class.path", "propiedad:zelvo.origen")
    assert seen_cp == "%s:%s" % (SDK, TESTS)
    assert origin == "adicional"


def test_an_empty_configured_class_path_gets_the_separator_before_the_added_one(launcher_factory, tmp_path):
    extra = tmp_path / "extra.config"
    extra.write_text(json.dumps({"java": {"classpath": classpath(SDK, TESTS)}}))
    reg = java_registry(tmp_path / "extra.reg", extra={BASEKEY + "javatest": {"application.config": str(extra)}})
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, "", registry=reg)
    assert served(l, port, "propiedad:java.class.path") == [":%s:%s" % (SDK, TESTS)]


# ---- where libjvm.so comes from ----

def needs_jdk17():
    if not (JDK17 / "lib" / "server" / "libjvm.so").exists():
        pytest.skip("this machine has no %s" % JDK17)


def test_a_registered_client_library_that_is_missing_falls_back_to_server(launcher_factory, tmp_path):
    needs_jdk17()
    reg = java_registry(tmp_path / "c.reg", runtime_lib=JDK17 / "lib" / "client" / "libjvm.so")
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS), registry=reg,
                            env={"JAVA_HOME": "/nonexistent", "PATH": "/usr/bin:/bin"})
    (path,) = served(l, port, "entorno:PATH")
    assert used_jvm(l) == str(JDK17 / "lib" / "server" / "libjvm.so")
    # The folder holding client/ and server/ joins PATH, with its final '/'.
    assert path == "/usr/bin:/bin:%s/lib/" % JDK17


def test_java_home_is_used_when_the_registry_has_no_java_runtime(launcher_factory, tmp_path):
    needs_jdk17()
    empty = write_registry(tmp_path / "empty.reg", {})
    # No java on PATH: only JAVA_HOME can lead to the JVM (trailing '/' accepted).
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS), registry=empty,
                            env={"JAVA_HOME": str(JDK17) + "/", "PATH": str(tmp_path)})
    served(l, port, "informe")
    assert used_jvm(l) == str(JDK17 / "lib" / "server" / "libjvm.so")


def test_a_java_home_without_a_jvm_leaves_the_choice_to_the_systems_java(launcher_factory, tmp_path):
    empty = write_registry(tmp_path / "empty.reg", {})
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS), registry=empty,
                            env={"JAVA_HOME": str(tmp_path), "PATH": "/usr/bin:/bin"})
    served(l, port, "informe")
    found = used_jvm(l)
    assert found and found.endswith("/lib/server/libjvm.so") and Path(found).exists(), found


@pytest.mark.skipif(Path("/usr/lib/jvm/default-java").exists(), reason="the system has a default Java")
def test_no_registry_no_java_home_and_no_java_on_path_is_not_installed(launcher_factory, tmp_path):
    empty = write_registry(tmp_path / "empty.reg", {})
    env = {"PATH": str(tmp_path), "JAVA_HOME": ""}
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS), registry=empty, env=env)
    status, code, err, log = refused_start(l, java_request(), port)
    assert (status, code) == (403, 1)
    assert BOX + NOT_INSTALLED in err
    assert "No se obtuvo un valor válido para jvm.dll" in log


def fake_jvm(folder, source=None):
    """folder/lib/server/libjvm.so: a copy of `source`, or a file that is no library."""
    lib = Path(folder) / "lib" / "server" / "libjvm.so"
    lib.parent.mkdir(parents=True)
    if source:
        shutil.copyfile(source, lib)
    else:
        lib.write_text("no es una biblioteca\n")
    return lib


def some_system_library():
    for candidate in ("/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib/x86_64-linux-gnu/libz.so.1"):
        if Path(candidate).exists():
            return candidate
    pytest.skip("no zlib to stand for a library without the JVM")


# (case, how the registry names the runtime, vmoptions, text, log record)
START_FAILURES = [
    ("registered path in capitals", "capitals", None, NOT_INSTALLED, "No se obtuvo un valor válido para jvm.dll"),
    ("registered path missing", "missing", None, NOT_INSTALLED, "No se obtuvo un valor válido para jvm.dll"),
    ("registered version without RuntimeLib", "no-runtimelib", None, NOT_INSTALLED,
     "No se obtuvo un valor válido para jvm.dll"),
    ("not a library", "not-a-library", None, "No se pueden cargar los componentes para ejecutar Java.",
     "No se puede cargar la libreria "),
    ("library without JNI_CreateJavaVM", "other-library", None, "No se encontró el procedimiento para ejecutar Java",
     "No se puede cargar la función para iniciar la JVM, error "),
    ("option the JVM does not know", "real", ["-Xzelvo-desconocida"], "No se puede cargar una instancia de Java.",
     "Error llamando a JNI_CreateJavaVM "),
]


@pytest.mark.parametrize("case, runtime, vmoptions, text, record", START_FAILURES, ids=[c[0] for c in START_FAILURES])
def test_each_jvm_start_failure_is_shown_refused_and_exits_1(launcher_factory, tmp_path, case, runtime, vmoptions,
                                                              text, record):
    real = jvm_library()
    runtime_lib = {
        "capitals": str(real.parent / "LIBJVM.SO"),
        "missing": str(tmp_path / "nada" / "client" / "libjvm.so"),
        "no-runtimelib": None,
        "not-a-library": str(fake_jvm(tmp_path / "falso") if runtime == "not-a-library" else ""),
        "other-library": str(fake_jvm(tmp_path / "otro", some_system_library()) if runtime == "other-library" else ""),
        "real": str(real),
    }[runtime]
    if runtime_lib is None:
        reg = write_registry(tmp_path / "r.reg", {JRE_KEY: {"CurrentVersion": "17"}})
    else:
        reg = java_registry(tmp_path / "r.reg", runtime_lib=runtime_lib)
    # A registered runtime is final: a good JAVA_HOME does not rescue a bad entry.
    l, port = java_launcher(launcher_factory, tmp_path, REPORT, classpath(SDK, TESTS), vmoptions=vmoptions,
                            registry=reg, env={"JAVA_HOME": str(real.parent.parent.parent)})
    status, code, err, log = refused_start(l, java_request(), port)
    assert (status, code) == (403, 1), err
    assert BOX + text in err
    assert record in log


# ---- the Java application does not start ----

MESSAGE_CLASS = "tavrel/zelvo/NativeDesktopApplicationMessage"
APP_FAILURES = [
    ("message class missing", [TESTS], "ReportLoader",
     "No se encontró la clase para el intercambio de mensajes (%s)." % MESSAGE_CLASS, "No se encontró la clase "),
    ("message class without natives", [NONATIVES, SDK, TESTS], "ReportLoader",
     "Ocurrió una excepción registrando los métodos nativos para el intercambio de mensajes.",
     "Excepción registrando los métodos nativos para el intercambio de mensajes"),
    ("loader class missing", [SDK, TESTS], "NoSuchLoader",
     "No se encontró la clase para cargar la aplicación (tavrel/zelvo/tests/NoSuchLoader).",
     "No se puede cargar la clase tavrel/zelvo/tests/NoSuchLoader"),
    ("run with another signature", [SDK, TESTS], "NoRunLoader",
     "No se encontró el método para cargar la aplicación (tavrel/zelvo/tests/NoRunLoader.run())",
     "No se encontró el método run de la clase tavrel/zelvo/tests/NoRunLoader"),
    ("run throws with a message", [SDK, TESTS], "ThrowingLoader",
     "No se ejecutó la aplicación. La aplicación de prueba no arranca", "Obtenido mensaje de la excepción"),
    ("run throws without a message", [SDK, TESTS], "SilentThrowingLoader",
     "Excepción ejecutando la aplicación. No se puede obtener el mensaje de la excepción.",
     "Excepción ejecutando método run"),
    ("run returns null", [SDK, TESTS], "NullLoader", "No se ejecutó la aplicación. Ha ocurrido un error desconocido.",
     "La llamada al método run de la clase tavrel/zelvo/tests/NullLoader devolvió un objeto nulo"),
]


@pytest.mark.parametrize("case, jars, loader, text, record", APP_FAILURES, ids=[c[0] for c in APP_FAILURES])
def test_each_application_start_failure_is_shown_refused_and_exits_1(launcher_factory, tmp_path, case, jars, loader,
                                                                      text, record):
    l, port = java_launcher(launcher_factory, tmp_path, TEST_PACKAGE + loader, classpath(*jars))
    status, code, err, log = refused_start(l, java_request(), port)
    assert (status, code) == (403, 1), err
    assert BOX + text in err
    assert record in log
    # The JVM still goes down in order after a failed start.
    assert "Se terminó de descargar la JVM" in log
