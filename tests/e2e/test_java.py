"""Java applications through the real launcher and the real JVM, with a real
WebSocket client: the search for libjvm.so, the JVM's options and class path,
every way the start fails (message on standard error, 403 to the page, exit code
1), messages both ways, faults inside the application's methods, and how the
application and the launcher end."""
import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from zelvo_harness import (BASEKEY, BOX, BUILD, JVM_ENV, ROOT, STAGE, WAIT, closed_code, connect, free_port,
                           raw_upgrade, request, run_async, server_config, session, stopped_while_talking, talk,
                           write_registry)
from zelvo_harness import linux_only

pytestmark = linux_only("a Java runtime: none exists for Windows on these machines")

JAVA = STAGE / "java"
SDK, ECHO, TESTS, NONATIVES = (JAVA / n for n in ("zelvo-sdk.jar", "zelvo-echo.jar", "zelvo-java-tests.jar",
                                                  "zelvo-java-tests-nonatives.jar"))
JRE_KEY = "SOFTWARE\\JavaSoft\\Java Runtime Environment"
ECHO_LOADER = "tavrel/zelvo/sample/EchoLoader"
TEST_PACKAGE = "tavrel/zelvo/tests/"
REPORT = TEST_PACKAGE + "ReportLoader"
JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")
NOT_INSTALLED = "Java no está correctamente instalado."
NO_JVM = "No se obtuvo un valor válido para jvm.dll"


def classpath(*jars):
    for jar in jars:
        assert Path(jar).exists(), "jar missing: %s (build java)" % jar
    return ":".join(str(j) for j in jars)


def jvm_library():
    """The libjvm.so CMake found for this build, else the one of `java` on PATH."""
    cache = BUILD / "CMakeCache.txt"
    m = re.search(r"^JAVA_JVM_LIBRARY:FILEPATH=(.+)$", cache.read_text(), re.M) if cache.exists() else None
    if m and Path(m.group(1)).exists():
        return Path(m.group(1))
    return Path(os.path.realpath(shutil.which("java"))).parent.parent / "lib" / "server" / "libjvm.so"


def java_registry(path, runtime_lib=None, extra=None):
    """A registry file whose Java runtime entry names `runtime_lib` (default: this machine's JVM)."""
    keys = {JRE_KEY: {"CurrentVersion": "17"}, JRE_KEY + "\\17": {"RuntimeLib": str(runtime_lib or jvm_library())}}
    return write_registry(path, dict(keys, **(extra or {})))


def java_request(archive=("zelvo-echo.jar",), code="demo"):
    return request("run/", {"type": "java", "name": "javatest", "archive": list(archive), "code": code})


@pytest.fixture
def java(launcher_factory, tmp_path):
    """java(loader, cp, vmoptions=None, registry=None, env=None): a launcher configured
    for `loader` on a port of its own; the registry names this machine's JVM."""
    def make(loader, cp, vmoptions=None, registry=None, env=None):
        settings = {"classpath": cp, "loaderclass": loader}
        if vmoptions is not None:
            settings["vmoptions"] = vmoptions
        return launcher_factory(server_config(free_port(), java=settings), env=dict(JVM_ENV, **(env or {})),
                                registry=registry or java_registry(tmp_path / "java.reg"))
    return make


def used_jvm(launcher):
    """The libjvm.so path the launcher logged it would load, or None."""
    m = re.search(r"Se usará la JVM (\S+)", launcher.log_text())
    return m.group(1) if m else None


# ---- the JVM's options and class path ----

@pytest.mark.parametrize("options", [[], ["-Xmx96m", "-Dzelvo.prueba=ñandú", "-Djava.class.path={later}"]],
                         ids=["none", "three"])
def test_vmoptions_follow_the_class_path_in_their_order(java, options):
    cp, later = classpath(SDK, TESTS), classpath(TESTS, SDK)
    options = [o.format(later=later) for o in options]
    l = java(REPORT, cp, vmoptions=options or None).serve(java_request())
    arguments, seen_cp, prop = talk(l.port, "argumentos", "propiedad:java.class.path", "propiedad:zelvo.prueba")
    # The JVM reports its options without the class path, which it keeps as a property;
    # a later option wins: the configured class path came first.
    assert [a for a in json.loads(arguments) if not a.startswith("-Djava.class.path")] == options[:2]
    assert (seen_cp, prop) == ((later, "ñandú") if options else (cp, "null"))
    log = l.ended()
    for i, text in enumerate(["-Djava.class.path=" + cp] + options):
        assert "Opción %d de la JVM: %s\n" % (i, text) in log
    assert "Opción %d de la JVM" % (len(options) + 1) not in log


@pytest.mark.parametrize("configured, added, expected", [
    # The message class is only in the configured archive, the loader only in the added one.
    ([SDK], [TESTS], "{SDK}:{TESTS}"),
    ([], [SDK, TESTS], ":{SDK}:{TESTS}"),  # an empty one still gets the separator
])
def test_the_additional_files_class_path_and_options_are_appended(java, tmp_path, configured, added, expected):
    extra = tmp_path / "extra.config"
    extra.write_text(json.dumps({"java": {"classpath": classpath(*added), "vmoptions": ["-Dzelvo.origen=adicional"]}}))
    reg = java_registry(tmp_path / "extra.reg", extra={BASEKEY + "javatest": {"application.config": str(extra)}})
    l = java(REPORT, classpath(*configured), registry=reg, vmoptions=["-Dzelvo.origen=principal"])
    assert talk(l.serve(java_request()).port, "propiedad:java.class.path", "propiedad:zelvo.origen") == [
        expected.format(SDK=SDK, TESTS=TESTS), "adicional"]
    l.ended()


# ---- where libjvm.so comes from ----

@pytest.mark.parametrize("registered, env, expected", [
    # A registered client library that is missing falls back to server/; its
    # folder (holding client/ and server/) joins PATH, with its final '/'.
    ("client", {"JAVA_HOME": "/nonexistent", "PATH": "/usr/bin:/bin"}, "jdk17"),
    # No Java runtime in the registry, no java on PATH: JAVA_HOME leads (trailing '/' accepted).
    (None, {"JAVA_HOME": str(JDK17) + "/", "PATH": "{tmp}"}, "jdk17"),
    # A JAVA_HOME without a JVM leaves the choice to the system's java.
    (None, {"JAVA_HOME": "{tmp}", "PATH": "/usr/bin:/bin"}, "system"),
], ids=["client-missing", "java-home", "java-home-without-jvm"])
def test_the_jvm_is_found(java, tmp_path, registered, env, expected):
    if expected == "jdk17" and not (JDK17 / "lib" / "server" / "libjvm.so").exists():
        pytest.skip("this machine has no %s" % JDK17)
    reg = (java_registry(tmp_path / "c.reg", runtime_lib=JDK17 / "lib" / "client" / "libjvm.so") if registered
           else write_registry(tmp_path / "empty.reg", {}))
    l = java(REPORT, classpath(SDK, TESTS), registry=reg, env={k: v.format(tmp=tmp_path) for k, v in env.items()})
    (path,) = talk(l.serve(java_request()).port, "entorno:PATH")
    l.ended()
    if expected == "jdk17":
        assert used_jvm(l) == str(JDK17 / "lib" / "server" / "libjvm.so")
    else:
        assert used_jvm(l).endswith("/lib/server/libjvm.so") and Path(used_jvm(l)).exists()
    if registered:
        assert path == "/usr/bin:/bin:%s/lib/" % JDK17


def fake_jvm(folder, source=None):
    """folder/lib/server/libjvm.so: a copy of `source`, or a file that is no library."""
    lib = Path(folder) / "lib" / "server" / "libjvm.so"
    lib.parent.mkdir(parents=True)
    if source:
        shutil.copyfile(source, lib)
    else:
        lib.write_text("no es una biblioteca\n")
    return lib


MESSAGE_CLASS = "tavrel/zelvo/NativeDesktopApplicationMessage"
# (id, the registered runtime, text, log record, other settings: vmoptions, jars, loader)
START_FAILURES = [
    ("registered path in capitals", "capitals", NOT_INSTALLED, NO_JVM, {}),
    ("registered path missing", "missing", NOT_INSTALLED, NO_JVM, {}),
    ("registered version without RuntimeLib", None, NOT_INSTALLED, NO_JVM, {}),
    ("no Java anywhere", "nowhere", NOT_INSTALLED, NO_JVM, {}),
    ("not a library", "not-a-library", "No se pueden cargar los componentes para ejecutar Java.",
     "No se puede cargar la libreria ", {}),
    ("library without JNI_CreateJavaVM", "other-library", "No se encontró el procedimiento para ejecutar Java",
     "No se puede cargar la función para iniciar la JVM, error ", {}),
    ("option the JVM does not know", "real", "No se puede cargar una instancia de Java.",
     "Error llamando a JNI_CreateJavaVM ", {"vmoptions": ["-Xzelvo-desconocida"]}),
    ("message class missing", "real", "No se encontró la clase para el intercambio de mensajes (%s)." % MESSAGE_CLASS,
     "No se encontró la clase ", {"jars": [TESTS]}),
    ("message class without natives", "real",
     "Ocurrió una excepción registrando los métodos nativos para el intercambio de mensajes.",
     "Excepción registrando los métodos nativos para el intercambio de mensajes", {"jars": [NONATIVES, SDK, TESTS]}),
    ("loader class missing", "real", "No se encontró la clase para cargar la aplicación "
     "(tavrel/zelvo/tests/NoSuchLoader).", "No se puede cargar la clase tavrel/zelvo/tests/NoSuchLoader",
     {"loader": "NoSuchLoader"}),
    ("run with another signature", "real", "No se encontró el método para cargar la aplicación "
     "(tavrel/zelvo/tests/NoRunLoader.run())", "No se encontró el método run de la clase tavrel/zelvo/tests/NoRunLoader",
     {"loader": "NoRunLoader"}),
    ("run throws with a message", "real", "No se ejecutó la aplicación. La aplicación de prueba no arranca",
     "Obtenido mensaje de la excepción", {"loader": "ThrowingLoader"}),
    ("run throws without a message", "real",
     "Excepción ejecutando la aplicación. No se puede obtener el mensaje de la excepción.",
     "Excepción ejecutando método run", {"loader": "SilentThrowingLoader"}),
    ("run returns null", "real", "No se ejecutó la aplicación. Ha ocurrido un error desconocido.",
     "La llamada al método run de la clase tavrel/zelvo/tests/NullLoader devolvió un objeto nulo",
     {"loader": "NullLoader"}),
]


@pytest.mark.parametrize("case, runtime, text, record, other", START_FAILURES, ids=[c[0] for c in START_FAILURES])
def test_each_start_failure_is_shown_refused_and_exits_1(java, tmp_path, case, runtime, text, record, other):
    real = jvm_library()
    env = {"JAVA_HOME": str(real.parent.parent.parent)}  # a good JAVA_HOME does not rescue a bad registered runtime
    if runtime is None:
        reg = write_registry(tmp_path / "r.reg", {JRE_KEY: {"CurrentVersion": "17"}})
    elif runtime == "nowhere":
        if Path("/usr/lib/jvm/default-java").exists():
            pytest.skip("the system has a default Java")
        reg, env = write_registry(tmp_path / "r.reg", {}), {"PATH": str(tmp_path), "JAVA_HOME": ""}
    else:
        reg = java_registry(tmp_path / "r.reg", runtime_lib={
            "capitals": lambda: real.parent / "LIBJVM.SO",
            "missing": lambda: tmp_path / "nada" / "client" / "libjvm.so",
            "not-a-library": lambda: fake_jvm(tmp_path / "falso"),
            "other-library": lambda: fake_jvm(tmp_path / "otro", "/lib/x86_64-linux-gnu/libz.so.1"),
            "real": lambda: real}[runtime]())
    l = java(TEST_PACKAGE + other.get("loader", "ReportLoader"), classpath(*other.get("jars", [SDK, TESTS])),
             vmoptions=other.get("vmoptions"), registry=reg, env=env)
    status = raw_upgrade(l.serve(java_request()).port)[0]
    code, _, err = l.wait()
    assert (status, code) == (403, 1), err
    assert BOX + text in err and record in l.log_text()
    if runtime == "real" and "vmoptions" not in other:  # the JVM still goes down in order after a failed start
        assert "Se terminó de descargar la JVM" in l.log_text()


# ---- messages ----

def test_a_session_with_the_report_application(java):
    """The request's values, messages from the application's own thread, exceptions
    left by its methods, null messages from Java, and its end by itself."""
    archive = ["primero.jar", "con espacio/ñ.jar", ""]
    l = java(REPORT, classpath(SDK, TESTS)).serve(java_request(archive=archive, code="código €𝄞"))

    async def page():
        async with connect(l.port) as ws:
            async def ask(*messages, answers=1):
                for m in messages:
                    await ws.send(m)
                return [await ws.recv() for _ in range(answers)]
            got = [await ask("informe"), await ask("hilo", answers=2), await ask("excepcion", "después del fallo"),
                   await ask(b"\xff roto", b"\x01 bien"), await ask("nulos", answers=2)]
            await ws.send("fin")
            return got, await closed_code(ws)

    (report,), thread, text, binary, nulls = run_async(page())[0]
    assert json.loads(report) == {"archive": archive, "code": "código €𝄞"}
    assert thread == ["desde un hilo propio", b"\x01\x02\x03"]
    assert (text, binary) == (["después del fallo"], [b"\x01 bien"])
    npe = "java.lang.NullPointerException: El mensaje no puede ser nulo"
    assert nulls == ["texto: " + npe, "binario: " + npe]
    log = l.ended()
    assert ("Excepción en el método onMessage(String) del objeto desktopApplication: "
            "java.lang.IllegalStateException: fallo de prueba en onMessage") in log
    assert ("Excepción en el método onMessage(byte[]) del objeto desktopApplication: "
            "java.lang.IllegalArgumentException: fallo de prueba en onMessage(byte[])") in log


def test_malformed_utf8_in_the_request_reaches_the_loader_as_replacement_characters(java):
    # Raw bytes in the JSON: a stray byte, a cut 3-byte sequence, an encoded surrogate, an overlong '/'.
    payload = (b'{"type":"java","name":"javatest","archive":["a\xffb"],'
               b'"code":"x\xe2\x82y\xed\xa0\x80z\xc0\xaf"}')
    l = java(REPORT, classpath(SDK, TESTS)).serve("zelvo://run/" + base64.b64encode(payload).decode())
    assert json.loads(talk(l.port, "informe")[0]) == {"archive": ["a\ufffdb"], "code": "x\ufffdy\ufffdz\ufffd"}
    l.ended()


def test_the_echo_sample_answers_text_and_binary_and_ends_with_the_page(java):
    l = java(ECHO_LOADER, classpath(SDK, ECHO)).serve(java_request())
    binary = bytes(range(256)) * 40 + b"\x00"
    messages = ["hola", "a\x00cortado", "€ y 𝄞 fuera del plano básico", "", binary, b""]
    assert talk(l.port, *messages) == ["hola", "a", "€ y 𝄞 fuera del plano básico", "", binary, b""]
    # The page closed: the application's thread ended, then the JVM and the launcher.
    log = l.ended()
    assert log.index("Descargando la JVM") < log.index("Se terminó de descargar la JVM")


@pytest.mark.parametrize("loader, missing, kept, dropped", [
    ("NoTextLoader", "onMessage(String)", b"binario", "texto"),
    ("NoBinaryLoader", "onMessage(byte[])", "texto", b"binario"),
])
def test_a_message_for_a_missing_method_is_dropped_with_a_record(java, loader, missing, kept, dropped):
    l = java(TEST_PACKAGE + loader, classpath(SDK, TESTS)).serve(java_request())
    # The dropped one goes first: had it come back, it would be the first answer.
    assert talk(l.port, dropped, kept, replies=1) == [kept]
    log = l.ended()
    assert "Método %s no encontrado en objeto desktopApplication\n" % missing in log
    assert "Método %s no encontrado en objeto desktopApplication, se descarta el mensaje" % missing in log


def test_an_application_without_threads_ends_at_once_and_closes_the_page(java):
    l = java(TEST_PACKAGE + "NoCloseLoader", classpath(SDK, TESTS)).serve(java_request())
    assert session(l.port)[0] == []
    assert "Método onClose() no encontrado en objeto desktopApplication" in l.ended()


def test_a_stop_signal_ends_a_running_java_application_in_order(java):
    l = java(ECHO_LOADER, classpath(SDK, ECHO)).serve(java_request())
    assert stopped_while_talking(l, "antes")[0] == "antes"
    # The launcher's own handler stopped the server, not the JVM's shutdown.
    assert "Se terminó de descargar la JVM" in l.ended()


def test_the_java_demo_runs_the_echo_through_the_java_host():
    proc = subprocess.Popen([sys.executable, str(ROOT / "tools" / "demo.py"), "--build", str(BUILD), "java"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        out, _ = proc.communicate(timeout=3 * WAIT)
    finally:
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()
    text = out.decode("utf-8", "replace")
    assert proc.returncode == 0, text
    for line in ("respuesta: hola desde la página", "respuesta: b'\\x01\\x02\\x03\\x04\\x05'", "código de salida 0"):
        assert line in text
