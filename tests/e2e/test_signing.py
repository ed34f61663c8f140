"""The signing plug-in through the real launcher and a real java child running the stand-in
wrapper (on Windows the stand-in javaw.exe); and its Java native method from a real JVM
(Linux only: no Windows Java runtime can be had here)."""
import asyncio
import base64
import hashlib
import json
import os
import re
import signal
import stat
import subprocess
import time
from pathlib import Path

import pytest

from signing_support import (JAVA, MARKER, PLUGIN, WRAPPER_JAR, day_log, day_log_name, install_plugin,
                             make_quillet_jar, read_only_available, read_only_prefix, running_signers, sample_pdf,
                             sanitizer_preload, search_path_env, write_properties)
from zelvo_harness import (SANITIZE, STAGE, WAIT, WINDOWS, closed_code, connect, escaped, host_path, linux_only,
                           run_async, run_request, wait_for)

KEEP_FILES = "[config]\ndeleteFilesAfterSigning=0\n"


def signed_parts(replies, document):
    """The one binary reply split into the original document and the stand-in's marker."""
    assert len(replies) == 1 and isinstance(replies[0], bytes), replies
    signed = replies[0]
    assert signed[:len(document)] == document
    marker = signed[len(document):].decode("utf-8")
    assert MARKER.decode() in marker
    return dict(re.findall(r"^% (\w+)=(.*)$", marker, re.M))


@pytest.mark.parametrize("order", ["text-first", "file-first"])
def test_both_orders_bring_back_the_signed_file_and_clean_up(signer_factory, order):
    s = signer_factory()
    stamp = b"\xff\xd8\xff\xe0stamp-image" * 10
    document = sample_pdf()
    replies = s.sign(document, {"reason": "Conforme", "stampImageBase64": base64.b64encode(stamp).decode(),
                                "pageNumber": 1}, order)
    fields = signed_parts(replies, document)
    assert fields["reason"] == "Conforme"
    assert fields["stampImageBytes"] == str(len(stamp))
    # The document and stamp files are gone, and the signed output once sent.
    assert sorted(p.name for p in s.files.iterdir() if p.suffix in (".pdf", ".jpg")) == []
    log = s.log()
    for line in ("<< registerSendMessageFunction", "<< onConnect", "quilletInput:{\"inputFile\":\"%d bytes\"" % len(document),
                 "writing files", "child.exitCode:0", "cleaning files", ">> [binary] %d bytes sent" % len(replies[0])):
        assert line in log, line
    waiting = "waiting for the file part" if order == "text-first" else "waiting for the text part"
    assert waiting in log
    assert "dllDirectory:" not in log, "debug records stay out at the plug-in's level"
    assert re.search(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \d{6,} INFO << onConnect\r$", log, re.M)


def test_files_are_kept_with_delete_0_and_readable_by_their_owner_only(signer_factory):
    stamp = bytes(range(256)) * 3 + b"ab"  # length not a multiple of 3: padding
    encoded = base64.b64encode(stamp).decode()
    # Split over lines, with padding: decoded as without.
    wrapped = "\r\n".join(encoded[i:i + 76] for i in range(0, len(encoded), 76)) + "\n"
    s = signer_factory(config_ini=KEEP_FILES)
    document = sample_pdf()
    signed_parts(s.sign(document, {"stampImageBase64": wrapped}), document)
    pdfs = [p for p in s.files.glob("*.pdf") if not p.name.endswith("-firmado.pdf")]
    jpgs = list(s.files.glob("*.jpg"))
    assert len(pdfs) == 1 and len(jpgs) == 1
    assert re.fullmatch(r"[0-9A-Za-z]{9}\.pdf", pdfs[0].name) and re.fullmatch(r"[0-9A-Za-z]{8}\.jpg", jpgs[0].name)
    assert pdfs[0].read_bytes() == document and jpgs[0].read_bytes() == stamp
    if not WINDOWS:  # Windows: a private DACL, proved by the plug-in's unit tests
        assert [stat.S_IMODE(f.stat().st_mode) for f in pdfs + jpgs] == [0o600, 0o600]
    assert "cleaning files" not in s.log()


def test_a_20_mib_document_from_a_folder_with_blanks_and_the_childs_standard_error(signer_factory, tmp_path):
    folder = tmp_path / "mis plugins (x86)" / "firmá"
    s = signer_factory(plugin_dir=folder)
    document = sample_pdf(padding=os.urandom(20 * 1024 * 1024))
    replies = s.sign(document, {"reason": "stderr:primera línea\r\nsegunda línea\nsin salto"})
    assert hashlib.sha256(replies[0][:len(document)]).digest() == hashlib.sha256(document).digest()
    # The work folder reaches the child as one argument (on Windows it is the
    # user's, without blanks; the plug-in's folder with them is in the class path).
    assert signed_parts(replies, document)["log4jpath"] == s.files_spelled
    log = s.log()
    option = "-Dlog4jpath=" + s.files_spelled
    assert escaped((('"%s"' % option) if " " in option else option) + ' -cp "') in log
    assert escaped(host_path(folder / WRAPPER_JAR) + '" tavrel.quillet.wrapper.StandaloneMain') in log
    for line in ("primera línea", "segunda línea", "sin salto"):  # logged line by line
        assert " INFO [stderr] %s\r\n" % line in log, line


def error_of(replies):
    assert len(replies) == 1 and isinstance(replies[0], str), replies
    reply = json.loads(replies[0])
    assert list(reply) == ["message"], reply
    return reply["message"]


QUILLET = "Verifique la instalación del software Quillet. "
JAVA_MISSING = "no java"


# A java that cannot be started: Linux a script whose interpreter is missing,
# Windows a javaw.exe that is no program.
@pytest.mark.parametrize("case, java, properties, messages, expected", [
    ("not JSON", "", "", ["{esto no es JSON"], "message is not a valid JSON string"),
    ("a JSON array", "", "", ['["reason"]'], "message is not a JSON object"),
    ("missing properties", "", None, [], QUILLET + "No se encuentra archivo de propiedades"),
    ("corrupt properties", "", "QUILLET_JAR\nOTRA=1\n", [], QUILLET + "El archivo de propiedades está corrupto"),
    ("jar path that does not open", "", "QUILLET_JAR={tmp}/no-existe.jar\n", [],
     QUILLET + "Path no válido para QUILLET_JAR"),
    ("no java on PATH", JAVA_MISSING, "", [], "Verifique la instalación de Java"),
    ("child cannot be created", "#!/nonexistent/interpreter\n", "", [],
     "Verifique su instalación de Java (7 o superior)"),
    ("exit code not 0", "", "", ["salir:3"], "Ha ocurrido un error al ejecutar Quillet"),
    ("error text", "", "", ['error:Certificado "caducado" en C:\\firmas\nintente de nuevo'],
     "Certificado 'caducado' en C:\\firmas\nintente de nuevo"),
    ("signed file gone", "", "", ["desaparecer"], "signed file was modified from another process"),
    ("no answer", "", "", ["silencio"], "Quillet terminó sin indicar el archivo firmado"),
])
def test_each_failure_gets_its_reply_and_ends_the_connection(signer_factory, tmp_path, case, java, properties,
                                                             messages, expected):
    env = None
    if java:  # a search path holding the locator (`which`; Windows: the system's) and maybe a java of our own
        (tmp_path / "bin").mkdir()
        if not WINDOWS:
            os.symlink("/usr/bin/which", tmp_path / "bin" / "which")
        if java != JAVA_MISSING:
            (tmp_path / "bin" / JAVA).write_text(java)
            (tmp_path / "bin" / JAVA).chmod(0o755)
        env = search_path_env(tmp_path / "bin")
    s = signer_factory(env=env, properties=properties is not None)
    if properties:
        write_properties(s.home, properties.format(tmp=host_path(tmp_path)))
    document = sample_pdf()
    if not messages:
        sent = [document, json.dumps({"reason": "x"})]
    elif messages[0].startswith(("{", "[")):
        sent = messages
    else:
        sent = [json.dumps({"reason": messages[0]}), document]
    assert error_of(s.exchange(*sent)) == expected
    assert "postErrorMessage: " in s.log()
    left = [p.name for p in s.files.glob("*.pdf")] if s.files.exists() else []
    if messages or case == "child cannot be created":  # only the wrapper's own output may remain
        left = [name for name in left if not name.endswith("-firmado.pdf")]
    assert left == [], "discovery failures write no file at all"


@linux_only("a read-only plug-in folder; on Windows the plug-in never writes there")
@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_with_nowhere_to_write_the_page_is_told_and_nothing_is_left(signer_factory):
    s = signer_factory(read_only=True, env={"XDG_STATE_HOME": "/dev/null/state"})
    before = sorted(p.name for p in s.plugins.iterdir())
    replies = s.exchange(json.dumps({"reason": "x"}), sample_pdf())
    assert error_of(replies) == "No se puede crear la carpeta de trabajo del usuario (/dev/null/state/zelvo/signing)"
    assert sorted(p.name for p in s.plugins.iterdir()) == before


def test_an_end_before_onconnect_never_hangs_the_connection(signer_factory):
    """Answers that are complete before the plug-in's onConnect has begun to wait."""
    for round_ in range(12):
        s = signer_factory(name="r%d" % round_)
        replies = s.exchange(*(["no JSON"] if round_ % 2 == 0 else ["[]", "[]"]))
        assert error_of(replies).startswith("message is not"), round_
        s.stop()


# ---- the Java native method, from a real JVM ----

PROBE = STAGE / "java" / "quillet-jni-probe.jar"


JNI = linux_only("no Windows Java runtime can be had on these machines")


def probe(plugins, home, *extra, prefix=(), state=None):
    """Runs the probe's JVM on the plug-in in `plugins`; returns (kind, text):
    ("path", ...) or ("exception:<class>", ...)."""
    assert PROBE.exists(), "build the java folder first"
    env = dict(os.environ, HOME=str(home), XDG_STATE_HOME=str(state or Path(home) / "state"))
    env.update(sanitizer_preload(Path(plugins) / PLUGIN))
    cp = "%s:%s" % (PROBE, STAGE / "java" / WRAPPER_JAR)
    proc = subprocess.Popen(list(prefix) + ["java", "-cp", cp, "QuilletJarProbe", str(Path(plugins) / PLUGIN), *extra],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=WAIT * 2)
    finally:
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
            proc.communicate()
    assert proc.returncode == 0, err.decode("utf-8", "replace")
    kind, _, data = out.decode().strip().splitlines()[-1].rpartition(":")
    return kind, bytes.fromhex(data).decode("utf-8") if data != "null" else None


@pytest.fixture
def jni(tmp_path):
    """(plug-in folder, HOME) for the probe."""
    (tmp_path / "home").mkdir()
    return install_plugin(tmp_path / "plugins"), tmp_path / "home"


@JNI
def test_setpath_receives_the_jar_path_with_its_non_ascii_characters_intact(jni, tmp_path):
    plugins, home = jni
    jar = make_quillet_jar(tmp_path / "Programas Año" / "Quillet señal €.jar")
    write_properties(home, "# Quillet\nQUILLET_JAR = %s \n" % jar)
    assert probe(plugins, home) == ("path", str(jar))
    log = day_log(plugins, "quillet.jni")
    assert " INFO quilletJarPath:%s\r\n" % jar in log and " INFO {path=%s} jni object written\r\n" % jar in log
    assert [f.name for f in (plugins / "logs").iterdir()] == [day_log_name("quillet.jni")]


@pytest.mark.parametrize("properties, extra, expected", [
    (None, (), QUILLET + "No se encuentra archivo de propiedades"),
    ("QUILLET_JAR=a=b\nQUILLET_JAR\n", (), QUILLET + "El archivo de propiedades está corrupto"),
    ("QUILLET_JAR={tmp}/no-existe.jar\n", (), QUILLET + "Path no válido para QUILLET_JAR"),
    ("QUILLET_JAR={jar}\n", ("sin-setPath",), "jni method 'setPath' doesn't exists in object"),
], ids=["missing properties", "corrupt properties", "jar path that does not open", "object without setPath"])
@JNI
def test_each_failure_raises_java_lang_exception_with_its_text(jni, tmp_path, properties, extra, expected):
    plugins, home = jni
    if properties:
        write_properties(home, properties.format(tmp=tmp_path, jar=make_quillet_jar(tmp_path / "q.jar")))
    assert probe(plugins, home, *extra) == ("exception:java.lang.Exception", expected)
    assert " ERROR %s\r\n" % expected in day_log(plugins, "quillet.jni")


@JNI
@pytest.mark.skipif(not read_only_available(), reason="no mount namespace for a read-only plug-in folder")
def test_from_a_read_only_folder_the_log_goes_to_the_users_state_folder(jni, tmp_path):
    plugins, home = jni
    jar = make_quillet_jar(tmp_path / "q.jar")
    write_properties(home, "QUILLET_JAR=%s\n" % jar)
    before = sorted(p.name for p in plugins.iterdir())
    assert probe(plugins, home, prefix=read_only_prefix(plugins), state=tmp_path / "state") == ("path", str(jar))
    folder = tmp_path / "state" / "zelvo" / "signing"
    assert (folder.stat().st_mode & 0o777) == 0o700 and "jni object written" in day_log(folder, "quillet.jni")
    # With nowhere to write there is no log, but the answer still comes.
    assert probe(plugins, home, prefix=read_only_prefix(plugins), state="/dev/null/state") == ("path", str(jar))
    assert sorted(p.name for p in plugins.iterdir()) == before


# ---- a signer that never ends ----

@pytest.mark.parametrize("how, reply", [("time limit", "El proceso de firma no terminó a tiempo."),
                                        ("stop signal", None), ("page closes", None)])
def test_a_signer_that_never_ends_is_ended_with_the_run(signer_factory, how, reply):
    """The page is told of a time limit, a stop ends the launcher within seconds; the signer
    and (Windows) its own child are gone and no file of the run is left."""
    s = signer_factory(config_ini="[config]\nsigningTimeoutSeconds=2\n" if reply else None)
    s.serve(run_request("quillet"))
    pids, asked, seen = [], [], []  # the hanging stand-in writes its process id on standard error

    async def page():
        async with connect(s.port) as ws:
            await ws.send(json.dumps({"reason": "colgar"}))
            await ws.send(sample_pdf())
            await asyncio.get_running_loop().run_in_executor(
                None, wait_for, lambda: pids.extend(re.findall(r"\[stderr\] pid (\d+)", s.log())) or pids)
            seen.extend(running_signers(pids))  # the check below sees a running signer
            asked.append(time.monotonic())
            if how == "stop signal":
                s.terminate()
            return how != "page closes" and await (ws.recv() if reply else closed_code(ws))

    got = run_async(page())
    s.ended()
    assert pids and time.monotonic() - asked[0] < (20 if SANITIZE or WINDOWS else 8)
    if WINDOWS:
        assert "[stderr] nieto pid " in s.log(), "the stand-in's own child was started"
    assert seen and running_signers(pids) == []
    assert not [p for p in s.files.iterdir() if p.suffix in (".pdf", ".jpg")]
    assert error_of([got]) == reply if reply else "El proceso de firma fue cancelado." in s.log()
