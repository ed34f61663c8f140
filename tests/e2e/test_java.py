"""Java applications through the real launcher: the search for the JVM library (stand-in
JVMs on both builds), every way the start fails, and with the real JVM (Linux only) the
options, class path, messages both ways, faults in the application and how it ends."""
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

from zelvo_harness import (BASEKEY, BOX, BUILD, JVM_ENV, ROOT, STAGE, WAIT, WINDOWS, closed_code, connect, escaped,
                           fixture, free_port, host_path, raw_upgrade, request, run_async, server_config, session,
                           stopped_while_talking, talk, write_registry)
from zelvo_harness import linux_only, windows_only

# The JVM run itself needs a Java runtime for the build's system.
real_jvm = linux_only("a Java runtime: none exists for Windows on these machines")

JAVA = STAGE / "java"
SDK, ECHO, TESTS, NONATIVES = (JAVA / n for n in ("zelvo-sdk.jar", "zelvo-echo.jar", "zelvo-java-tests.jar",
                                                  "zelvo-java-tests-nonatives.jar"))
JAVASOFT = "SOFTWARE\\JavaSoft\\"
JRE_KEY = JAVASOFT + "Java Runtime Environment"
# The JVM library as the build's system names it, the separators of its paths
# and of its search paths.
JVM = "jvm.dll" if WINDOWS else "libjvm.so"
SEP, PATH_SEP = ("\\", ";") if WINDOWS else ("/", ":")
ECHO_LOADER = "tavrel/zelvo/sample/EchoLoader"
TEST_PACKAGE = "tavrel/zelvo/tests/"
REPORT = TEST_PACKAGE + "ReportLoader"
JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")
NOT_INSTALLED = "Java no está correctamente instalado."
NO_JVM = "No se obtuvo un valor válido para jvm.dll"
NOT_CREATED = "No se puede cargar una instancia de Java."
CREATE_FAILED = "Error llamando a JNI_CreateJavaVM -1"  # what the stand-in JVM answers
MESSAGE_CLASS = "tavrel/zelvo/NativeDesktopApplicationMessage"


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


def runtime_keys(runtime_lib, key=JRE_KEY, version="17"):
    """The keys of one registered Java runtime: `key`'s current version and its RuntimeLib."""
    lib = runtime_lib if isinstance(runtime_lib, Path) else str(runtime_lib)
    return {key: {"CurrentVersion": version}, key + "\\" + version: {"RuntimeLib": lib}}


def java_registry(path, runtime_lib=None, extra=None):
    """A registry file whose Java runtime entry names `runtime_lib` (default: this machine's JVM)."""
    return write_registry(path, dict(runtime_keys(runtime_lib or jvm_library()), **(extra or {})))


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

@real_jvm
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


@real_jvm
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

# A registered client library that is missing, on both builds: the stand-in JVM's test below.
@real_jvm
@pytest.mark.parametrize("env, expected", [
    # No Java runtime in the registry, no java on PATH: JAVA_HOME leads (trailing '/' accepted).
    ({"JAVA_HOME": str(JDK17) + "/", "PATH": "{tmp}"}, "jdk17"),
    # A JAVA_HOME without a JVM leaves the choice to the system's java.
    ({"JAVA_HOME": "{tmp}", "PATH": "/usr/bin:/bin"}, "system"),
], ids=["java-home", "java-home-without-jvm"])
def test_the_jvm_is_found(java, tmp_path, env, expected):
    if expected == "jdk17" and not (JDK17 / "lib" / "server" / "libjvm.so").exists():
        pytest.skip("this machine has no %s" % JDK17)
    l = java(REPORT, classpath(SDK, TESTS), registry=write_registry(tmp_path / "empty.reg", {}),
             env={k: v.format(tmp=tmp_path) for k, v in env.items()})
    assert talk(l.serve(java_request()).port, "propiedad:zelvo.prueba") == ["null"]  # the JVM runs
    l.ended()
    if expected == "jdk17":
        assert used_jvm(l) == str(JDK17 / "lib" / "server" / "libjvm.so")
    else:
        assert used_jvm(l).endswith("/lib/server/libjvm.so") and Path(used_jvm(l)).exists()


def fake_jvm(folder, source=None, kind="server", name=JVM):
    """folder/lib/<kind>/<name>: a copy of `source` (a Path), of a stand-in JVM of
    tests/fixtures (a name), or a file that is no library (None)."""
    lib = Path(folder) / "lib" / kind / name
    lib.parent.mkdir(parents=True, exist_ok=True)
    if source:
        shutil.copyfile(source if isinstance(source, Path) else fixture(source), lib)
    else:
        lib.write_text("no es una biblioteca\n")
    return lib


def other_machine_jvm(folder):
    """A stand-in JVM built for the other machine (tests/windows: the x86 compiler's)."""
    built = BUILD / "tests" / "windows" / "fake-jvm-other-machine.dll"
    if not built.exists():
        pytest.skip("the other machine's JVM stand-in was not built (no i686-w64-mingw32-g++-posix)")
    return fake_jvm(folder, built)


def refused_start(launcher, text, record):
    """The page's WebSocket is refused (403), the launcher shows `text` and ends
    with 1, its log holds `record`; the log."""
    status = raw_upgrade(launcher.serve(java_request()).port)[0]
    code, _, err = launcher.wait()
    assert (status, code) == (403, 1), err
    log = launcher.log_text()
    assert BOX + text in err and record in log, err
    return log


def any_classpath(tmp_path):
    """A class path of two archives as the system writes it (the JVM stand-ins read no archive)."""
    return PATH_SEP.join(host_path(tmp_path / name) for name in ("uno.jar", "dos.jar"))


# (id, the registered runtime, text, log record, how that record ends on Windows: the system's error number)
LOCATOR_FAILURES = [
    ("registered path in capitals", "capitals", NOT_INSTALLED, NO_JVM, ""),
    ("registered path missing", "missing", NOT_INSTALLED, NO_JVM, ""),
    ("registered version without RuntimeLib", None, NOT_INSTALLED, NO_JVM, ""),
    ("no Java anywhere", "nowhere", NOT_INSTALLED, NO_JVM, ""),
    ("not a library", "not-a-library", "No se pueden cargar los componentes para ejecutar Java.",
     "No se puede cargar la libreria ", ", error 193"),  # ERROR_BAD_EXE_FORMAT
    ("library without JNI_CreateJavaVM", "no-create", "No se encontró el procedimiento para ejecutar Java",
     "No se puede cargar la función para iniciar la JVM, error ", ", error 127"),  # ERROR_PROC_NOT_FOUND
    ("JVM that does not start", "fake", NOT_CREATED, CREATE_FAILED, ""),
]


@pytest.mark.parametrize("case, runtime, text, record, number", LOCATOR_FAILURES, ids=[c[0] for c in LOCATOR_FAILURES])
def test_each_failure_to_find_or_load_the_jvm_is_shown_refused_and_exits_1(java, tmp_path, case, runtime, text,
                                                                           record, number):
    # Linux: a good JAVA_HOME does not rescue a bad registered runtime.
    env = {} if WINDOWS else {"JAVA_HOME": str(jvm_library().parent.parent.parent)}
    if runtime is None:
        reg = write_registry(tmp_path / "r.reg", {JRE_KEY: {"CurrentVersion": "17"}})
    elif runtime == "nowhere":
        if not WINDOWS and Path("/usr/lib/jvm/default-java").exists():
            pytest.skip("the system has a default Java")
        reg = write_registry(tmp_path / "r.reg", {})
        env = {} if WINDOWS else {"PATH": str(tmp_path), "JAVA_HOME": ""}
    else:
        reg = java_registry(tmp_path / "r.reg", runtime_lib={
            # The file exists under that name: the name alone is refused.
            "capitals": lambda: fake_jvm(tmp_path / "mayusculas", "fake-jvm.so", name=JVM.upper()),
            "missing": lambda: tmp_path / "nada" / "lib" / "client" / JVM,
            "not-a-library": lambda: fake_jvm(tmp_path / "falso"),
            "no-create": lambda: fake_jvm(tmp_path / "otro", "fake-jvm-no-create.so"),
            "fake": lambda: fake_jvm(tmp_path / "jre", "fake-jvm.so")}[runtime]())
    l = java(REPORT, any_classpath(tmp_path), registry=reg, env=env)
    log = refused_start(l, text, record)
    if WINDOWS and number:
        assert any(record in line and line.endswith(number) for line in log.splitlines()), log


def test_a_missing_client_jvm_falls_back_to_server_which_gets_the_options_and_its_runtime_on_path(java, tmp_path):
    server = fake_jvm(tmp_path / "jre", "fake-jvm.so")
    extra = tmp_path / "extra.config"
    extra.write_text(json.dumps({"java": {"classpath": host_path(tmp_path / "añadido.jar")}}), encoding="utf-8")
    reg = java_registry(tmp_path / "r.reg", runtime_lib=server.parent.parent / "client" / JVM,
                        extra={BASEKEY + "javatest": {"application.config": tmp_path / "extra.config"}})
    record = tmp_path / "jvm.txt"
    env = {"FAKE_JVM_RECORD": host_path(record)}
    if not WINDOWS:  # Windows programs get the system's own PATH from Wine
        env["PATH"] = "/usr/bin:/bin"
    options = ["-Xmx96m", "-Dzelvo.prueba=ñandú €"]
    cp = any_classpath(tmp_path)
    log = refused_start(java(REPORT, cp, vmoptions=options, registry=reg, env=env), NOT_CREATED, CREATE_FAILED)
    assert "Se usará la JVM %s\n" % escaped(host_path(server)) in log
    # Options are handed over in the system's encoding: UTF-8 on Linux, the ANSI
    # code page on Windows (Wine's for the C locale: 1252).
    lines = record.read_bytes().decode("cp1252" if WINDOWS else "utf-8").splitlines()
    # The folder that holds client/ and server/, with its final separator, joins PATH.
    assert lines[0].startswith("PATH=") and lines[0].endswith(PATH_SEP + host_path(tmp_path / "jre" / "lib") + SEP)
    # The additional file's class path follows the configured one after the system's separator.
    assert lines[1:] == ["option=-Djava.class.path=%s%s%s" % (cp, PATH_SEP, host_path(tmp_path / "añadido.jar"))] + [
        "option=" + o for o in options]


@windows_only("the ANSI code page: Linux hands the options over as UTF-8, which writes every character")
def test_an_option_the_ansi_code_page_cannot_write_is_refused(java, tmp_path):
    reg = java_registry(tmp_path / "r.reg", runtime_lib=fake_jvm(tmp_path / "jre", "fake-jvm.so"))
    record = tmp_path / "jvm.txt"
    l = java(REPORT, any_classpath(tmp_path), vmoptions=["-Dzelvo.clave=𝄞"], registry=reg,
             env={"FAKE_JVM_RECORD": host_path(record)})
    refused_start(l, NOT_CREATED, "La opción 1 de la JVM tiene caracteres que Java no puede recibir en este sistema")
    assert not record.exists()  # never handed to the JVM as another text


OTHER_MACHINE = "Java no está correctamente instalado. El Java encontrado es de 32 bits (x86) y esta aplicación " \
                "necesita uno de 64 bits (x64)."
WOW64_JAVASOFT = "SOFTWARE\\WOW6432Node\\JavaSoft\\"


@windows_only("the keys current Java runtimes write, the registry's two views and the machine of a DLL")
@pytest.mark.parametrize("runtimes, outcome", [
    # (key, runtime) in the registry; the runtime used, or the text shown.
    ([(JAVASOFT + "JRE", "fake")], "fake"),
    ([(JAVASOFT + "JDK", "fake")], "fake"),
    # The first key whose runtime can be used wins.
    ([(JRE_KEY, "missing"), (JAVASOFT + "JDK", "fake")], "fake"),
    # A JVM of the other machine cannot be loaded into the launcher: it says so.
    ([(JRE_KEY, "other")], OTHER_MACHINE),
    # A 32-bit runtime registers in the 32-bit view, which the x64 launcher looks in last.
    ([(WOW64_JAVASOFT + "JRE", "other")], OTHER_MACHINE),
    ([(JRE_KEY, "other"), (JAVASOFT + "JDK", "fake")], "fake"),
    ([(WOW64_JAVASOFT + "Java Runtime Environment", "other"), (JAVASOFT + "JDK", "missing")], OTHER_MACHINE),
], ids=["JRE", "JDK", "first-usable", "other-machine", "other-machine-other-view", "other-machine-then-usable",
        "other-view-and-missing"])
def test_the_registry_keys_of_current_runtimes_and_a_jvm_of_the_other_machine(java, tmp_path, runtimes, outcome):
    made = {"fake": lambda: fake_jvm(tmp_path / "jre", "fake-jvm.so"),
            "other": lambda: other_machine_jvm(tmp_path / "x86"),
            "missing": lambda: tmp_path / "nada" / "lib" / "server" / JVM}
    keys, libs = {}, {}
    for key, kind in runtimes:
        libs[kind] = made[kind]()
        keys.update(runtime_keys(libs[kind], key=key, version=("17.0.2" if "JDK" in key else "1.8")))
    l = java(REPORT, any_classpath(tmp_path), registry=write_registry(tmp_path / "r.reg", keys))
    if outcome == "fake":
        log = refused_start(l, NOT_CREATED, CREATE_FAILED)
        assert "Se usará la JVM %s\n" % escaped(host_path(libs["fake"])) in log
    else:
        log = refused_start(l, outcome, NO_JVM)
        assert "La JVM %s es de 32 bits (x86) y este proceso de 64 bits (x64): no se puede cargar" % escaped(
            host_path(libs["other"])) in log
        assert "Cargando jvm.dll" not in log


# (id, text, log record, other settings: vmoptions, jars, loader)
START_FAILURES = [
    ("option the JVM does not know", "No se puede cargar una instancia de Java.",
     "Error llamando a JNI_CreateJavaVM ", {"vmoptions": ["-Xzelvo-desconocida"]}),
    ("message class missing", "No se encontró la clase para el intercambio de mensajes (%s)." % MESSAGE_CLASS,
     "No se encontró la clase ", {"jars": [TESTS]}),
    ("message class without natives",
     "Ocurrió una excepción registrando los métodos nativos para el intercambio de mensajes.",
     "Excepción registrando los métodos nativos para el intercambio de mensajes", {"jars": [NONATIVES, SDK, TESTS]}),
    ("loader class missing", "No se encontró la clase para cargar la aplicación "
     "(tavrel/zelvo/tests/NoSuchLoader).", "No se puede cargar la clase tavrel/zelvo/tests/NoSuchLoader",
     {"loader": "NoSuchLoader"}),
    ("run with another signature", "No se encontró el método para cargar la aplicación "
     "(tavrel/zelvo/tests/NoRunLoader.run())", "No se encontró el método run de la clase tavrel/zelvo/tests/NoRunLoader",
     {"loader": "NoRunLoader"}),
    ("run throws with a message", "No se ejecutó la aplicación. La aplicación de prueba no arranca",
     "Obtenido mensaje de la excepción", {"loader": "ThrowingLoader"}),
    ("run throws without a message",
     "Excepción ejecutando la aplicación. No se puede obtener el mensaje de la excepción.",
     "Excepción ejecutando método run", {"loader": "SilentThrowingLoader"}),
    ("run returns null", "No se ejecutó la aplicación. Ha ocurrido un error desconocido.",
     "La llamada al método run de la clase tavrel/zelvo/tests/NullLoader devolvió un objeto nulo",
     {"loader": "NullLoader"}),
]


@real_jvm
@pytest.mark.parametrize("case, text, record, other", START_FAILURES, ids=[c[0] for c in START_FAILURES])
def test_each_start_failure_of_the_real_jvm_is_shown_refused_and_exits_1(java, tmp_path, case, text, record, other):
    l = java(TEST_PACKAGE + other.get("loader", "ReportLoader"), classpath(*other.get("jars", [SDK, TESTS])),
             vmoptions=other.get("vmoptions"), registry=java_registry(tmp_path / "r.reg"))
    log = refused_start(l, text, record)
    if "vmoptions" not in other:  # the JVM still goes down in order after a failed start
        assert "Se terminó de descargar la JVM" in log


# ---- messages ----

@real_jvm
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


@real_jvm
def test_malformed_utf8_in_the_request_reaches_the_loader_as_replacement_characters(java):
    # Raw bytes in the JSON: a stray byte, a cut 3-byte sequence, an encoded surrogate, an overlong '/'.
    payload = (b'{"type":"java","name":"javatest","archive":["a\xffb"],'
               b'"code":"x\xe2\x82y\xed\xa0\x80z\xc0\xaf"}')
    l = java(REPORT, classpath(SDK, TESTS)).serve("zelvo://run/" + base64.b64encode(payload).decode())
    assert json.loads(talk(l.port, "informe")[0]) == {"archive": ["a\ufffdb"], "code": "x\ufffdy\ufffdz\ufffd"}
    l.ended()


@real_jvm
def test_the_echo_sample_answers_text_and_binary_and_ends_with_the_page(java):
    l = java(ECHO_LOADER, classpath(SDK, ECHO)).serve(java_request())
    binary = bytes(range(256)) * 40 + b"\x00"
    messages = ["hola", "a\x00cortado", "€ y 𝄞 fuera del plano básico", "", binary, b""]
    assert talk(l.port, *messages) == ["hola", "a", "€ y 𝄞 fuera del plano básico", "", binary, b""]
    # The page closed: the application's thread ended, then the JVM and the launcher.
    log = l.ended()
    assert log.index("Descargando la JVM") < log.index("Se terminó de descargar la JVM")


@real_jvm
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


@real_jvm
def test_an_application_without_threads_ends_at_once_and_closes_the_page(java):
    l = java(TEST_PACKAGE + "NoCloseLoader", classpath(SDK, TESTS)).serve(java_request())
    assert session(l.port)[0] == []
    assert "Método onClose() no encontrado en objeto desktopApplication" in l.ended()


@real_jvm
def test_a_stop_signal_ends_a_running_java_application_in_order(java):
    l = java(ECHO_LOADER, classpath(SDK, ECHO)).serve(java_request())
    assert stopped_while_talking(l, "antes")[0] == "antes"
    # The launcher's own handler stopped the server, not the JVM's shutdown.
    assert "Se terminó de descargar la JVM" in l.ended()


@real_jvm
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
